#pragma once

// The packages of a console run, worked through by one worker or by
// several at once.

#include "app/Batch.h"
#include "app/BatchReport.h"
#include "app/ConsoleUi.h"
#include "app/SkipSigned.h"
#include "common/Places.h"
#include "process/WarmJadTool.h"
#include "settings/PermissionPreferences.h"

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace jarseal {

// What every worker of a batch shares: the run's choices and packages, and
// what the finished packages gave (changed under the output lock only).
struct Batch {
    const BatchOptions& options;
    const std::vector<std::string>& packages;
    const std::vector<std::string>& outputs;
    SettingsAccess& settings;
    const PermissionChoice& permissions;
    std::string programFolder;
    std::optional<SignedPackages>& alreadySigned;
    bool progress = false;
    std::mutex output{}; // one package's lines at a time
    std::size_t started = 0;
    std::vector<PackageRecord> records{};
    int worst = kExitSuccess;
    int counts[3] = {0, 0, 0};
    int skipped = 0;
};

// Runs every package of batch. One worker (workers <= 1) runs as a batch
// always ran, with the run's places, console and warmTool; more take
// packages of different folders at once, each with a working folder, a
// console and a JAD tool of its own (warmTool is then not used), and print
// each package's lines whole when it ends.
void RunPackages(Batch& batch, const Places& shared, ConsoleUi& runUi, std::optional<WarmJadTool>& warmTool,
                 std::size_t workers);

} // namespace jarseal
