#include "settings/IniSettings.h"

#include "common/Places.h"
#include "settings/Ini.h"

namespace jarseal {

std::string SettingsFilePath(const std::string& programFolder) {
    return PortablePlaces(programFolder).settingsFile;
}

IniSettings::IniSettings(std::string settingsFile) : file_(std::move(settingsFile)) {}

std::string IniSettings::Read(const std::string& section, const std::string& key) const {
    return ReadIni(section, key, file_);
}

bool IniSettings::Write(const std::string& section, const std::string& key, const std::string& value) {
    return WriteIni(section, key, value, file_) != 0;
}

} // namespace jarseal
