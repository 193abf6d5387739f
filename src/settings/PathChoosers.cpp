#include "settings/PathChoosers.h"

#include "common/FileSystem.h"
#include "common/OpenDialog.h"

namespace jarseal {

namespace {

const PathChooser kChoosers[] = {
    {"Выберите файл keystore", "Все файлы", "*.*", "Java", "keystore"},
    {"Выберите signsis.exe", "signsis.exe", "signsis.exe; signsis", "Symbian", "SignSIS"},
    {"Выберите Файл сертификата", "Все файлы", "*.*", "Symbian", "certificate"},
    {"Выберите Файл ключа сертификата", "Все файлы", "*.*", "Symbian", "key"},
};

} // namespace

const PathChooser& PathChooserFor(PathSetting setting) {
    return kChoosers[static_cast<int>(setting)];
}

std::string ChoosePath(Context& ctx, PathSetting setting) {
    const PathChooser& c = PathChooserFor(setting);
    const std::string chosen =
        ShowOpenDialog(ctx.ui, c.title, MakeFilterText({{c.filterDescription, c.filterPattern}}));
    if (!chosen.empty())
        ctx.settings.Write(c.section, c.key, chosen);
    return ctx.settings.Read(c.section, c.key);
}

} // namespace jarseal
