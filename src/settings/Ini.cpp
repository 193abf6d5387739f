#include "settings/Ini.h"

#include "settings/ProfileFile.h"

namespace jarseal {

std::string ReadIni(const std::string& section, const std::string& key, const std::string& file) {
    return ProfileGetString(section, key, file, kMaxIniValueBytes);
}

long WriteIni(const std::string& section, const std::string& key, const std::string& value,
              const std::string& file) {
    // The new file is not forced to the disk before it replaces the old one.
    // Settings are written as the user changes them, up to once per
    // keystroke, and a forced flush costs several milliseconds per write on
    // an ordinary disk. The rename alone guarantees that a program that dies
    // mid-write leaves the old or the new file whole; against a system crash,
    // ext4 and btrfs write out the data of a file renamed over another before
    // the rename becomes permanent, so a power loss at worst costs the last
    // change, not the file.
    return ProfileWriteString(section, key, value.empty() ? std::string(" ") : value, file,
                              /*flushToDisk=*/false)
               ? 1
               : 0;
}

} // namespace jarseal
