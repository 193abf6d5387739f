#include "settings/Ini.h"

#include "settings/ProfileFile.h"

namespace jarseal {

std::string ReadIni(const std::string& section, const std::string& key, const std::string& file) {
    return ProfileGetString(section, key, file, kMaxIniValueBytes);
}

long WriteIni(const std::string& section, const std::string& key, const std::string& value,
              const std::string& file) {
    // Settings are written one at a time as the user changes them, up to one
    // write per keystroke, so the new file is not forced to the disk: the
    // rename over the old file already guarantees that a program that dies
    // mid-write leaves the old or the new file whole, and the file system
    // writes the data out within seconds.
    return ProfileWriteString(section, key, value.empty() ? std::string(" ") : value, file,
                              /*flushToDisk=*/false)
               ? 1
               : 0;
}

} // namespace jarseal
