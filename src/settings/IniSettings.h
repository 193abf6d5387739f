#pragma once

#include "common/SettingsAccess.h"

#include <string>

namespace jarseal {

// The settings file of a portable program folder: "Jarseal.ini" in it.
std::string SettingsFilePath(const std::string& programFolder);

// Settings access through ReadIni and WriteIni. The file path is built anew
// for every call, and nothing is cached.
class IniSettings : public SettingsAccess {
  public:
    // The settings kept in the file settingsFile.
    explicit IniSettings(std::string settingsFile);

    std::string Read(const std::string& section, const std::string& key) const override;
    bool Write(const std::string& section, const std::string& key, const std::string& value) override;

  private:
    std::string file_;
};

} // namespace jarseal
