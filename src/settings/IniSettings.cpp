#include "settings/IniSettings.h"

#include "common/FileSystem.h"
#include "settings/Ini.h"

namespace jarseal {

std::string SettingsFilePath(const std::string& programFolder) {
    return programFolder + kSep + "Jarseal.ini";
}

IniSettings::IniSettings(std::string programFolder) : programFolder_(std::move(programFolder)) {}

std::string IniSettings::Read(const std::string& section, const std::string& key) const {
    return ReadIni(section, key, SettingsFilePath(programFolder_));
}

bool IniSettings::Write(const std::string& section, const std::string& key, const std::string& value) {
    return WriteIni(section, key, value, SettingsFilePath(programFolder_)) != 0;
}

} // namespace jarseal
