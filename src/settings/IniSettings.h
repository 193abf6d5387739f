#pragma once

#include "common/SettingsAccess.h"

#include <string>

namespace jarseal {

// The settings file of the program: "Jarseal.ini" in the program folder.
std::string SettingsFilePath(const std::string& programFolder);

// Settings access through ReadIni and WriteIni. The file path is built anew
// for every call, and nothing is cached.
class IniSettings : public SettingsAccess {
  public:
    explicit IniSettings(std::string programFolder);

    std::string Read(const std::string& section, const std::string& key) const override;
    bool Write(const std::string& section, const std::string& key, const std::string& value) override;

    const std::string& ProgramFolder() const { return programFolder_; }

  private:
    std::string programFolder_;
};

} // namespace jarseal
