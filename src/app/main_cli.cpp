// jarseal-cli: processes packages without a window, one after another, with
// the settings of the program folder; one line per package and a summary go
// to standard output, the messages of failed packages (and notes on the way)
// to standard error, and the exit status tells the worst outcome.
#include "app/Batch.h"
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
#include "process/RunAndWait.h"
#include "process/WarmJadTool.h"
#include "settings/IniSettings.h"
#include "settings/PermissionPreferences.h"

#include <chrono>
#include <cstdio>
#include <iostream>
#include <optional>
#include <unistd.h>

namespace {

using namespace jarseal;

// Runs one package through its job; the job ends "the program" at its end,
// which here ends only this package.
int ProcessOne(Context& ctx, ConsoleUi& ui, const std::string& path) {
    try {
        OpenPackage(ctx, path);
        ui.PrintHeldMessage();
        return kExitSuccess;
    } catch (const ProgramExit& exit) {
        return exit.status;
    } catch (const std::exception& e) {
        ui.PrintHeldMessage();
        std::fprintf(stderr, "Jarseal: %s: %s\n", EscapeControlCharacters(path).c_str(),
                     EscapeControlCharacters(e.what()).c_str());
        return kExitUnforeseen;
    }
}

// Runs one package's job in place, or, with an output path, on a copy whose
// signed files go there.
int ProcessPackage(Context& ctx, ConsoleUi& ui, const std::string& path, const std::string& outputPath) {
    if (outputPath.empty())
        return ProcessOne(ctx, ui, path);
    std::string error;
    const int status = ProcessIntoOutput(
        path, outputPath,
        [&](const std::string& copy) {
            ctx.commandLine = copy;
            return ProcessOne(ctx, ui, copy);
        },
        error);
    if (!error.empty())
        std::fprintf(stderr, "Jarseal: %s: %s\n", EscapeControlCharacters(path).c_str(),
                     EscapeControlCharacters(error).c_str());
    return status;
}

// Reports what a phone's installer would refuse in each package; changes
// nothing. Returns 0 when no package would be refused.
int CheckPackages(const std::vector<std::string>& packages, bool quiet) {
    int refused = 0;
    for (const std::string& path : packages) {
        const CheckReport report = CheckPackage(path);
        if (report.Refused())
            ++refused;
        if (quiet && !report.Refused())
            continue;
        std::printf("%s: %s\n", EscapeControlCharacters(path).c_str(), report.Verdict().c_str());
        for (const Finding& f : report.findings) {
            if (f.code == InstallerStatus::SymbianRefused)
                std::printf("  refused  %s\n", EscapeControlCharacters(f.text).c_str());
            else if (f.code != InstallerStatus::None)
                std::printf("  %d  %s\n", Number(f.code), EscapeControlCharacters(f.text).c_str());
            else
                std::printf("  note %s\n", EscapeControlCharacters(f.text).c_str());
        }
    }
    std::printf("Checked %zu, refused %d\n", packages.size(), refused);
    return refused == 0 ? kExitSuccess : kExitFailure;
}

} // namespace

int main(int argc, char** argv) {
    PinLocalTimeZone(); // archives of thousands of entries are opened several times a job
    // A failed tool's words reach standard error in the job's own message.
    PassCapturedOutputThrough(false);
    std::string error;
    const auto options = ParseBatchArguments(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::fprintf(stderr, "jarseal-cli: %s\nTry 'jarseal-cli --help'.\n",
                     EscapeControlCharacters(error).c_str());
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
        std::fprintf(stderr, "jarseal-cli: %s\nTry 'jarseal-cli --help'.\n",
                     EscapeControlCharacters(error).c_str());
        return kExitUsage;
    }

    if (options->check) {
        const auto packages = CollectPackages(options->paths);
        if (packages.empty()) {
            std::fprintf(stderr, "jarseal-cli: no package found\n");
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
        std::fprintf(stderr, "jarseal-cli: %s\n", e.what());
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
            std::fprintf(stderr, "jarseal-cli: %s\n", e.what());
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
    const bool progress = !options->quiet && ::isatty(STDERR_FILENO);
    int worst = kExitSuccess;
    int counts[3] = {0, 0, 0};
    std::optional<SignedPackages> alreadySigned;
    if (options->skipSigned)
        alreadySigned.emplace(runSettings);
    int skipped = 0;
    for (std::size_t i = 0; i < packages.size(); ++i) {
        const std::string& path = packages[i];
        if (progress)
            std::fprintf(stderr, "[%zu/%zu] %s\n", i + 1, packages.size(),
                         EscapeControlCharacters(path).c_str());
        if (alreadySigned && alreadySigned->AlreadySigned(path, outputs[i].empty() ? path : outputs[i])) {
            ++skipped;
            if (!options->quiet)
                std::printf("%s\n", SkippedLine(path).c_str());
            std::fflush(stdout);
            continue;
        }
        ui.SetNextInput(options->zipPassword);
        Context ctx{ui, runSettings, permissions, programFolder, path, nullptr, places.Get()};
        ctx.keepDescriptorAttributes = options->keepDescriptorAttributes;
        ctx.resignSymbian = options->resignSymbian;
        ctx.unsignedSuite = options->unsignedSuites;
        if (warmTool)
            ctx.tools = &*warmTool;
        const auto start = std::chrono::steady_clock::now();
        const int status = ProcessPackage(ctx, ui, path, outputs[i]);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const int slot = status == kExitSuccess ? 0 : status == kExitFailure ? 1 : 2;
        ++counts[slot];
        worst = std::max(worst, slot == 0                ? kExitSuccess
                                : status == kExitFailure ? kExitFailure
                                                         : kExitUnforeseen);
        if (!options->quiet || status != kExitSuccess)
            std::printf("%s\n", ResultLine(status, seconds, path).c_str());
        std::fflush(stdout);
    }
    if (packages.empty()) {
        std::fprintf(stderr, "jarseal-cli: no package found\n");
        return kExitFailure;
    }
    std::printf("Итого: %zu, %s %d, %s %d, %s %d%s\n", packages.size(), ResultWord(kExitSuccess), counts[0],
                ResultWord(kExitFailure), counts[1], ResultWord(kExitUnforeseen), counts[2],
                SkippedCount(skipped).c_str());
    return worst;
}
