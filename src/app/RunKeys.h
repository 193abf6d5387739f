#pragma once

#include "common/SettingsAccess.h"

#include <istream>
#include <map>
#include <optional>
#include <string>
#include <utility>

namespace jarseal {

// Where a password of the run comes from, as apksigner writes it:
// "pass:TEXT" (the text itself), "env:VAR" (an environment variable),
// "file:PATH" (the first line of a file) or "stdin" (one line of standard
// input). False for anything else.
bool ValidSecretSource(const std::string& source);

// True when the source reads standard input.
bool ReadsStandardInput(const std::string& source);

// The password a source gives: the text, the variable's value, or the first
// line of the file or of input (without its line end). nullopt, with error
// set (naming the variable or file, never a password), when the variable is
// not set or the file cannot be read.
std::optional<std::string> ReadSecret(const std::string& option, const std::string& source,
                                      std::istream& input, std::string& error);

// The signing values one run uses instead of the settings file's: section
// and key to value. Nothing of them is ever written to the file.
using RunKeyValues = std::map<std::pair<std::string, std::string>, std::string>;

// The settings with the run's signing values in place of the stored ones.
// Every other key is read from and written to the settings as they are; a
// write to a key the run gives goes to the settings too, while reads keep
// answering the run's value.
class RunKeySettings : public SettingsAccess {
  public:
    RunKeySettings(SettingsAccess& stored, RunKeyValues values)
        : stored_(stored), values_(std::move(values)) {}
    std::string Read(const std::string& section, const std::string& key) const override;
    bool Write(const std::string& section, const std::string& key, const std::string& value) override {
        return stored_.Write(section, key, value);
    }
    bool GivenForTheRun(const std::string& section, const std::string& key) const override {
        return values_.count({section, key}) != 0;
    }

  private:
    SettingsAccess& stored_;
    RunKeyValues values_;
};

} // namespace jarseal
