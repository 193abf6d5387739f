#pragma once

#include "common/PermissionChoice.h"
#include "common/SettingsAccess.h"

#include <array>
#include <map>
#include <string>

namespace jarseal::test {

// Settings held in memory; keys compare as given.
class MemorySettings : public SettingsAccess {
  public:
    std::map<std::pair<std::string, std::string>, std::string> values;
    std::string Read(const std::string& section, const std::string& key) const override {
        const auto it = values.find({section, key});
        return it == values.end() ? std::string() : it->second;
    }
    bool Write(const std::string& section, const std::string& key, const std::string& value) override {
        values[{section, key}] = value;
        return true;
    }
};

// A permission choice fixed by the test.
class FixedPermissions : public PermissionChoice {
  public:
    PermissionMode mode = PermissionMode::Automatic;
    std::array<int, kPermissionGroupCount> boxes{};
    PermissionMode Mode() const override { return mode; }
    int BoxState(std::size_t index) const override { return boxes.at(index); }
};

} // namespace jarseal::test
