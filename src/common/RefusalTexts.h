#pragma once

// The refusals the Java and the Symbian job share, in the same words.

#include "common/Translate.h"
#include <string>

namespace jarseal {

// A package name with a control character in it (a line break above all),
// which would carry the text after it into a descriptor or a message.
inline std::string ControlCharacterNameText() {
    return Tr("Имя файла содержит управляющие символы (например, перевод строки).\r\n"
              "Переименуйте файл и повторите попытку.");
}

// A backup name taken by something that is no ordinary file.
inline std::string NotABackupText(const std::string& path) {
    return TrFormat("Файл {1}\r\nне является обычным файлом (это ссылка, папка или устройство) и не может "
                    "служить резервной копией.\r\nПереименуйте или удалите его и повторите попытку.",
                    {path});
}

} // namespace jarseal
