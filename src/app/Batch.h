#pragma once

#include "common/PermissionChoice.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace jarseal {

// A permission choice for one run of the console program, leaving the stored
// preferences alone.
class PermissionOverride : public PermissionChoice {
  public:
    PermissionOverride(PermissionMode mode, std::array<int, kPermissionGroupCount> boxes)
        : mode_(mode), boxes_(boxes) {}
    PermissionMode Mode() const override { return mode_; }
    int BoxState(std::size_t index) const override { return index < boxes_.size() ? boxes_[index] : 0; }

  private:
    PermissionMode mode_;
    std::array<int, kPermissionGroupCount> boxes_;
};

// Reads "auto", "none" or a comma-separated list of group names (the settings
// keys, in any letter case). nullopt, with error set, for anything else.
std::optional<PermissionOverride> ParsePermissionsOption(const std::string& text, std::string& error);

// What the console program was asked to do.
struct BatchOptions {
    bool help = false;
    bool quiet = false;
    bool check = false;
    bool defaultKeystore = false; // answer Yes to "Назачить по умолчанию?" after a move
    std::string zipPassword;      // for encrypted archives; asked for once per package
    std::optional<PermissionOverride> permissions;
    std::vector<std::string> paths;
};

// Parses the arguments after the program's name. nullopt, with error set,
// for an unknown option or a missing value.
std::optional<BatchOptions> ParseBatchArguments(const std::vector<std::string>& args, std::string& error);

// The packages to process for the given paths, in order and each once: a
// folder gives the .jar, .sis and .sisx files below it (sorted, hidden names
// skipped); a .jad stands for its .jar, so a pair is processed once. A path
// that is neither file nor folder is kept, for its job to report.
std::vector<std::string> CollectPackages(const std::vector<std::string>& paths);

// The help text of the console program.
std::string BatchHelpText();

} // namespace jarseal
