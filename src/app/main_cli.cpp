// jarseal-cli: processes packages without a window, one after another, with
// the settings of the program folder; one line per package and a summary go
// to standard output, the messages of failed packages (and notes on the way)
// to standard error, and the exit status tells the worst outcome.
#include "app/Batch.h"
#include "app/BatchReport.h"
#include "app/BatchRun.h"
#include "app/CertificateExport.h"
#include "app/ConsoleUi.h"
#include "app/Intake.h"
#include "app/OutputTree.h"
#include "app/SkipSigned.h"
#include "app/StartUp.h"
#include "app/UserFolders.h"
#include "check/SuiteCheck.h"
#include "common/Errors.h"
#include "common/FileSystem.h"
#include "common/LocalTime.h"
#include "common/Text.h"
#include "common/Translate.h"
#include "process/RunAndWait.h"
#include "process/WarmJadTool.h"
#include "settings/IniSettings.h"
#include "settings/PermissionPreferences.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <locale.h>
#include <malloc.h>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace jarseal;

// The summary's lines on the roots the packages need.
void PrintRootNeeds(const std::vector<ConsoleUi::RootNeed>& roots) {
    for (const ConsoleUi::RootNeed& root : roots)
        std::printf("%s\n", TrFormat("  {1} (suites: {2})",
                                     {EscapeControlCharacters(root.text), std::to_string(root.suites)})
                                .c_str());
}

// The tools (the JAD tool's Java above all) read file names in their
// locale's encoding; a locale that is named but not installed, as
// LANG=ru_RU.UTF-8 on a fresh system, would leave them plain ASCII and
// unable to open a Cyrillic name, so they get C.UTF-8 instead.
void GiveToolsAUsableLocale() {
    const locale_t wanted = ::newlocale(LC_ALL_MASK, "", locale_t{});
    if (wanted != locale_t{}) {
        ::freelocale(wanted);
        return;
    }
    ::setenv("LC_ALL", "C.UTF-8", 1);
}

// A batch reads every package into buffers of the same few sizes (whole
// archives, pieces of files, entries). By default glibc hands freed memory at
// the top of the heap back to the system, and maps large buffers afresh each
// time, so each package paid a page fault for every page it touched again
// (a sixth of this program's time in a batch). Freed memory is kept for the
// next package instead: the peak stays as it was, it is only not given back.
void KeepFreedMemory() {
    ::mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    ::mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
}

// Reports what a phone's installer would refuse in each package; changes
// nothing. Returns 0 when no package would be refused.
int CheckPackages(const std::vector<std::string>& packages, bool quiet) {
    int refused = 0;
    // The note on a root is printed at the first suite that needs it, and
    // with the number of suites in the summary.
    std::vector<ConsoleUi::RootNeed> roots;
    for (const std::string& path : packages) {
        const CheckReport report = CheckPackage(path);
        if (report.Refused())
            ++refused;
        bool rootMet = false;
        for (ConsoleUi::RootNeed& root : roots)
            if (!report.rootNote.empty() && root.text == report.rootNote) {
                ++root.suites;
                rootMet = true;
            }
        if (!report.rootNote.empty() && !rootMet)
            roots.push_back({report.rootNote, 1});
        if (quiet && !report.Refused())
            continue;
        std::printf("%s: %s\n", EscapeControlCharacters(path).c_str(), report.Verdict().c_str());
        for (const Finding& f : report.findings) {
            if (rootMet && f.text == report.rootNote)
                continue;
            if (f.code == InstallerStatus::SymbianRefused)
                std::printf("  %s  %s\n", Tr("refused"), EscapeControlCharacters(f.text).c_str());
            else if (f.code != InstallerStatus::None)
                std::printf("  %d  %s\n", Number(f.code), EscapeControlCharacters(f.text).c_str());
            else
                std::printf("  %s %s\n", Tr("note"), EscapeControlCharacters(f.text).c_str());
        }
    }
    std::printf("%s\n", TrFormat("Checked {1}, refused {2}",
                                 {std::to_string(packages.size()), std::to_string(refused)})
                            .c_str());
    PrintRootNeeds(roots);
    return refused == 0 ? kExitSuccess : kExitFailure;
}

} // namespace

int main(int argc, char** argv) {
    PinLocalTimeZone(); // archives of thousands of entries are opened several times a job
    KeepFreedMemory();
    // Every line of the run in the language the locale asks for.
    UseCatalogue(LanguageOfLocale(), ExecutableFolder() + kSep + "data" + kSep + "locale");
    GiveToolsAUsableLocale();
    // A failed tool's words reach standard error in the job's own message.
    PassCapturedOutputThrough(false);
    std::string error;
    const auto options = ParseBatchArguments(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::fprintf(stderr, "jarseal-cli: %s\n%s\n", EscapeControlCharacters(error).c_str(),
                     Tr("Try 'jarseal-cli --help'."));
        return kExitUsage;
    }
    if (options->help) {
        std::fputs(BatchHelpText().c_str(), stdout);
        return kExitSuccess;
    }
    if (options->version) {
        std::printf("%s\n", VersionText().c_str());
        return kExitSuccess;
    }
    if (options->paths.empty() && !options->exportCertificate) {
        std::fputs(BatchHelpText().c_str(), stderr);
        return kExitUsage;
    }

    // The run's passwords are read now, once: a source that gives none is a
    // wrong command line, before anything is done.
    const auto runKeys = RunKeysOf(*options, std::cin, error);
    if (!runKeys) {
        std::fprintf(stderr, "jarseal-cli: %s\n%s\n", EscapeControlCharacters(error).c_str(),
                     Tr("Try 'jarseal-cli --help'."));
        return kExitUsage;
    }

    if (options->check) {
        const auto packages = CollectPackages(options->paths);
        if (packages.empty()) {
            std::fprintf(stderr, "jarseal-cli: %s\n", Tr("no package found"));
            return kExitFailure;
        }
        return CheckPackages(packages, options->quiet);
    }

    ConsoleUi ui;
    ui.SetQuiet(options->quiet);
    const std::string programFolder = ExecutableFolder();
    // A folder the run needs that cannot be had (a HOME the user may not
    // enter, say) ends the run with its name, before anything is done.
    std::optional<RunPlaces> placesOfRun;
    try {
        placesOfRun.emplace(programFolder);
    } catch (const RunError& e) {
        std::fprintf(stderr, "jarseal-cli: %s\n", Tr(e.what()));
        return kExitFailure;
    }
    const RunPlaces& places = *placesOfRun;
    IniSettings settings(places.Get().settingsFile);
    PermissionPreferences preferences(settings);
    {
        // The start-up steps that need no window: first-run set-up, the
        // relocation check and, unless this run chooses its own permissions,
        // the stored permission preferences.
        ui.SetYesNoAnswer(options->defaultKeystore ? Answer::Yes : Answer::No);
        Context startCtx{ui, settings, preferences, programFolder, "", nullptr, places.Get()};
        try {
            PrepareUserFolders(startCtx);
        } catch (const RunError& e) {
            std::fprintf(stderr, "jarseal-cli: %s\n", Tr(e.what()));
            return kExitFailure;
        }
        StartUpHooks hooks;
        hooks.loadPermissionPreferences = !options->permissions.has_value() && !options->exportCertificate;
        StartUp(startCtx, preferences, hooks);
        ui.SetYesNoAnswer(Answer::No);
    }
    // The jobs read the run's signing values where the options give them,
    // and the settings file for the rest; the file is not changed by them.
    RunKeySettings runSettings(settings, *runKeys);
    if (options->exportCertificate) {
        // The certificate of the settings as they stand after start-up, so a
        // first run exports the default key store's.
        const auto failure = options->symbian
                                 ? ExportSymbianCertificate(runSettings, options->exportFile, options->force)
                                 : ExportJavaCertificate(runSettings, options->exportFile, options->force);
        if (!failure)
            return kExitSuccess;
        std::fprintf(stderr, "jarseal-cli: %s\n", EscapeControlCharacters(*failure).c_str());
        return kExitFailure;
    }
    const PermissionChoice& permissions =
        options->permissions ? static_cast<const PermissionChoice&>(*options->permissions) : preferences;

    const std::vector<std::string> packages = CollectPackages(options->paths);
    // With --out, where each package's signed files go; none may fall on
    // the package's own folder, nor on another package's output.
    std::vector<std::string> outputs(packages.size());
    if (!options->outDir.empty()) {
        outputs = OutputPathsOf(packages, options->paths, options->outDir, error);
        if (outputs.empty() && !packages.empty()) {
            std::fprintf(stderr, "jarseal-cli: %s\n", EscapeControlCharacters(error).c_str());
            return kExitUsage;
        }
    }
    // With more than one package the JAD tool runs in one process for the
    // whole batch (started at the first suite); one package keeps the two
    // separate runs, unless the run gives passwords: those then reach the
    // tool over its pipe, never on a command line other users can list.
    std::optional<WarmJadTool> warmTool;
    if (packages.size() > 1 || options->storepass || options->keypass)
        warmTool.emplace(programFolder + kSep + "data" + kSep + "jadtool.jar");
    std::optional<SignedPackages> alreadySigned;
    if (options->skipSigned)
        alreadySigned.emplace(runSettings);
    Batch batch{*options, packages, outputs, runSettings, permissions, programFolder, alreadySigned};
    batch.progress = !options->quiet && ::isatty(STDERR_FILENO);
    batch.records.resize(packages.size());
    // Packages in different folders run at once on as many workers as
    // asked for (the machine's cores by default).
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t workers =
        std::min<std::size_t>(options->jobs != 0 ? options->jobs : cores, packages.size());
    RunPackages(batch, places.Get(), ui, warmTool, workers);
    if (packages.empty()) {
        std::fprintf(stderr, "jarseal-cli: %s\n", Tr("no package found"));
        return kExitFailure;
    }
    std::printf("%s %zu, %s %d, %s %d, %s %d%s\n", Tr("Итого:"), packages.size(), ResultWord(kExitSuccess),
                batch.counts[0], ResultWord(kExitFailure), batch.counts[1], ResultWord(kExitUnforeseen),
                batch.counts[2], SkippedCount(batch.skipped).c_str());
    PrintRootNeeds(ui.RootNeeds());
    if (!options->reportFile.empty()) {
        try {
            WriteReport(options->reportFile, batch.records);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "jarseal-cli: %s\n", EscapeControlCharacters(Tr(e.what())).c_str());
            batch.worst = std::max(batch.worst, kExitFailure);
        }
    }
    return batch.worst;
}
