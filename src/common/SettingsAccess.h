#pragma once

#include <string>

namespace jarseal {

// Reads and writes one value of the settings file. Every call goes to the
// file itself: nothing is cached, so a change made elsewhere is seen at once.
class SettingsAccess {
  public:
    virtual ~SettingsAccess() = default;
    // The stored value, or the empty text when the file, section or key is missing.
    virtual std::string Read(const std::string& section, const std::string& key) const = 0;
    // Stores the value; false when the file could not be written (silently).
    virtual bool Write(const std::string& section, const std::string& key, const std::string& value) = 0;
    // True when the value Read gives was given for this run only (on the
    // command line), not stored: a fault in it is corrected there.
    virtual bool GivenForTheRun(const std::string& /*section*/, const std::string& /*key*/) const {
        return false;
    }
};

} // namespace jarseal
