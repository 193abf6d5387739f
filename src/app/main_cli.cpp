// jarseal-cli: processes packages without a window, one after another, with
// the settings of the program folder; one line per package and a summary go
// to standard output, the messages of failed packages (and notes on the way)
// to standard error, and the exit status tells the worst outcome.
#include "app/Batch.h"
#include "app/BatchReport.h"
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
#include <mutex>
#include <optional>
#include <set>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace jarseal;

// Runs one package through its job; the job ends "the program" at its end,
// which here ends only this package. Messages go to err; why gets the text
// of a failure the job did not tell in a message.
int ProcessOne(Context& ctx, ConsoleUi& ui, std::FILE* err, const std::string& path, std::string& why) {
    // A name that is nothing, and has no package's extension (a folder's,
    // mistyped): say that it does not exist, rather than refuse the
    // extension; a missing package's own job says what is missing.
    std::error_code ec;
    const std::string ext = std::filesystem::path(path).extension().string();
    if (ext != ".jar" && ext != ".jad" && ext != ".sis" && ext != ".sisx" &&
        !std::filesystem::exists(std::filesystem::symlink_status(path, ec))) {
        if (ctx.outcome)
            ctx.outcome->reason = "missing-path";
        ui.ShowMessage("Файл или папка не существует.", MessageIcon::Information, kAppTitle);
        ui.PrintHeldMessage();
        return kExitFailure;
    }
    try {
        OpenPackage(ctx, path);
        ui.PrintHeldMessage();
        return kExitSuccess;
    } catch (const ProgramExit& exit) {
        return exit.status;
    } catch (const std::exception& e) {
        ui.PrintHeldMessage();
        why = Tr(e.what());
        std::fprintf(err, "Jarseal: %s: %s\n", EscapeControlCharacters(path).c_str(),
                     EscapeControlCharacters(why).c_str());
        return kExitUnforeseen;
    }
}

// Runs one package's job in place, or, with an output path, on a copy whose
// signed files go there.
int ProcessPackage(Context& ctx, ConsoleUi& ui, std::FILE* err, const std::string& path,
                   const std::string& outputPath, std::string& why) {
    if (outputPath.empty())
        return ProcessOne(ctx, ui, err, path, why);
    std::string error;
    const int status = ProcessIntoOutput(
        path, outputPath,
        [&](const std::string& copy) {
            ctx.commandLine = copy;
            return ProcessOne(ctx, ui, err, copy, why);
        },
        error);
    if (!error.empty()) {
        why = error;
        if (ctx.outcome)
            ctx.outcome->reason = "output-not-written";
        std::fprintf(err, "Jarseal: %s: %s\n", EscapeControlCharacters(path).c_str(),
                     EscapeControlCharacters(error).c_str());
    }
    return status;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool IsSuite(const std::string& path) {
    return EndsWith(path, ".jar") || EndsWith(path, ".jad");
}

// The files whose stamps tell what a package's job wrote: a suite's jar and
// descriptor with their backups, a Symbian package with its backup.
std::vector<std::string> FilesOf(const std::string& where) {
    if (!IsSuite(where))
        return {where, where + ".original"};
    const std::string stem = where.substr(0, where.size() - 1);
    return {stem + "r", stem + "d", stem + "d.original", stem + "r.original"};
}

std::vector<std::optional<FileStamp>> StampsOf(const std::vector<std::string>& files) {
    std::vector<std::optional<FileStamp>> stamps;
    for (const std::string& file : files)
        stamps.push_back(StampOfFile(file));
    return stamps;
}

// The jar of a suite, or the Symbian package itself.
std::string SignedFileOf(const std::string& where) {
    return IsSuite(where) ? where.substr(0, where.size() - 1) + "r" : where;
}

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

// One worker's own: its console, where its messages go, its places and its
// JAD tool.
struct Worker {
    ConsoleUi& ui;
    std::FILE* err;
    const Places& places;
    ToolRunner* tool;
};

// A finished package: its record, exit status, and whether it was left out.
struct Finished {
    PackageRecord record;
    int status = kExitSuccess;
    bool skipped = false;
};

const char* KindOf(const std::string& path) {
    if (IsSuite(path))
        return "java";
    return EndsWith(path, ".sis") || EndsWith(path, ".sisx") ? "symbian" : "other";
}

// What a signed package is: its jar's (or its own) SHA-1 and its signer's.
void NameSigned(PackageRecord& record, const std::string& where) {
    record.sha1 = FileSha1Hex(SignedFileOf(where));
    const std::string signer = SignerCertificateOf(where);
    if (!signer.empty())
        record.certificate = Sha1Hex(signer);
}

Finished RunPackage(Batch& batch, Worker& worker, std::size_t index) {
    const std::string& path = batch.packages[index];
    const std::string& where = batch.outputs[index].empty() ? path : batch.outputs[index];
    Finished done;
    done.record.path = path;
    done.record.kind = KindOf(path);
    if (batch.alreadySigned && batch.alreadySigned->AlreadySigned(path, where)) {
        done.skipped = true;
        done.record.result = ResultKey(kExitSuccess);
        done.record.reasonKey = "already-signed";
        NameSigned(done.record, where);
        return done;
    }
    const std::vector<std::string> files = FilesOf(where);
    const auto before = StampsOf(files);
    worker.ui.SetNextInput(batch.options.zipPassword);
    worker.ui.SetPackage(path);
    worker.ui.TakeLastMessage();
    JobOutcome outcome;
    Context ctx{worker.ui, batch.settings, batch.permissions, batch.programFolder,
                path,      nullptr,        worker.places};
    ctx.keepDescriptorAttributes = batch.options.keepDescriptorAttributes;
    ctx.resignSymbian = batch.options.resignSymbian;
    ctx.unsignedSuite = batch.options.unsignedSuites;
    ctx.tools = worker.tool;
    ctx.outcome = &outcome;
    std::string why;
    const auto start = std::chrono::steady_clock::now();
    done.status = ProcessPackage(ctx, worker.ui, worker.err, path, batch.outputs[index], why);
    done.record.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const auto after = StampsOf(files);
    for (std::size_t i = 0; i < files.size(); ++i)
        if (after[i] && after[i] != before[i])
            done.record.written.push_back(files[i]);
    const std::string message = worker.ui.TakeLastMessage();
    done.record.result = done.status == kExitSuccess   ? ResultKey(kExitSuccess)
                         : done.status != kExitFailure ? ResultKey(kExitUnforeseen)
                         : outcome.installerCode != 0  ? "refused"
                                                       : ResultKey(kExitFailure);
    if (done.status == kExitSuccess) {
        NameSigned(done.record, where);
        return done;
    }
    done.record.installerCode = outcome.installerCode;
    done.record.reasonKey = !outcome.reason.empty()       ? outcome.reason
                            : done.status == kExitFailure ? "failed"
                                                          : "unforeseen";
    done.record.reason = why.empty() ? message : why;
    return done;
}

// Counts a finished package and prints its line; under the output lock.
void Tell(Batch& batch, std::size_t index, const Finished& done) {
    batch.records[index] = done.record;
    const std::string& path = batch.packages[index];
    if (done.skipped) {
        ++batch.skipped;
        if (!batch.options.quiet)
            std::printf("%s\n", SkippedLine(path).c_str());
        std::fflush(stdout);
        return;
    }
    const int status = done.status;
    const int slot = status == kExitSuccess ? 0 : status == kExitFailure ? 1 : 2;
    ++batch.counts[slot];
    batch.worst = std::max(batch.worst, slot == 0                ? kExitSuccess
                                        : status == kExitFailure ? kExitFailure
                                                                 : kExitUnforeseen);
    if (!batch.options.quiet || status != kExitSuccess)
        std::printf("%s\n", ResultLine(status, done.record.seconds, path).c_str());
    std::fflush(stdout);
}

// The packages in the order workers take them: the first one waiting whose
// folder no other worker is busy in, so that runs on one folder (which take
// turns) do not keep a worker idle while others wait.
class PackageQueue {
  public:
    explicit PackageQueue(const std::vector<std::string>& packages) : taken_(packages.size(), false) {
        for (const std::string& path : packages)
            folders_.push_back(FolderOf(path));
    }

    std::optional<std::size_t> Next() {
        const std::lock_guard<std::mutex> hold(mutex_);
        while (first_ < taken_.size() && taken_[first_])
            ++first_;
        if (first_ == taken_.size())
            return std::nullopt;
        std::size_t chosen = first_;
        for (std::size_t i = first_; i < taken_.size(); ++i)
            if (!taken_[i] && !busy_.contains(folders_[i])) {
                chosen = i;
                break;
            }
        taken_[chosen] = true;
        busy_.insert(folders_[chosen]);
        return chosen;
    }

    void Done(std::size_t index) {
        const std::lock_guard<std::mutex> hold(mutex_);
        busy_.erase(busy_.find(folders_[index]));
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> folders_;
    std::vector<bool> taken_;
    std::size_t first_ = 0;
    std::multiset<std::string> busy_;
};

// Takes packages from the queue until none is left. Buffered, each
// package's messages are printed whole with its result line when it ends;
// else as they come, as a run of one worker always did.
void RunWorker(Batch& batch, PackageQueue& queue, Worker& worker, std::string* buffer) {
    while (const std::optional<std::size_t> index = queue.Next()) {
        if (batch.progress) {
            const std::lock_guard<std::mutex> hold(batch.output);
            std::fprintf(stderr, "[%zu/%zu] %s\n", ++batch.started, batch.packages.size(),
                         EscapeControlCharacters(batch.packages[*index]).c_str());
        }
        Finished done;
        try {
            done = RunPackage(batch, worker, *index);
        } catch (const std::exception& e) {
            done.record.path = batch.packages[*index];
            done.record.kind = KindOf(done.record.path);
            done.record.result = ResultKey(kExitUnforeseen);
            done.record.reasonKey = "unforeseen";
            done.record.reason = e.what();
            done.status = kExitUnforeseen;
            std::fprintf(worker.err, "Jarseal: %s: %s\n", EscapeControlCharacters(done.record.path).c_str(),
                         EscapeControlCharacters(e.what()).c_str());
        }
        {
            const std::lock_guard<std::mutex> hold(batch.output);
            if (buffer) {
                std::fflush(worker.err);
                std::fputs(buffer->c_str(), stderr);
                std::fflush(stderr);
                buffer->clear();
            }
            Tell(batch, *index, done);
        }
        queue.Done(*index);
    }
}

// A stream whose bytes gather in a string.
std::FILE* StringStream(std::string& into) {
    cookie_io_functions_t io{};
    io.write = [](void* cookie, const char* data, std::size_t size) -> ssize_t {
        static_cast<std::string*>(cookie)->append(data, size);
        return static_cast<ssize_t>(size);
    };
    return ::fopencookie(&into, "w", io);
}

// One worker of several: a working folder, a console and a JAD tool of its
// own; its package folders' locks are its own working folder and the folder
// of each package.
void RunOwnWorker(Batch& batch, PackageQueue& queue, const Places& shared, bool warm, ConsoleUi& runUi,
                  std::mutex& roots) {
    const WorkFolder folder;
    Places places = shared;
    if (!folder.Path().empty())
        places.workDir = places.lockFolder = folder.Path();
    std::optional<WarmJadTool> tool;
    if (warm)
        tool.emplace(batch.programFolder + kSep + "data" + kSep + "jadtool.jar");
    std::string buffer;
    std::FILE* err = StringStream(buffer);
    ConsoleUi ui(err != nullptr ? err : stderr);
    ui.SetQuiet(batch.options.quiet);
    ui.CountRootsIn(runUi, roots);
    Worker worker{ui, err != nullptr ? err : stderr, places, tool ? &*tool : nullptr};
    RunWorker(batch, queue, worker, err != nullptr ? &buffer : nullptr);
    if (err != nullptr)
        std::fclose(err);
}

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
        std::fprintf(stderr, "jarseal-cli: %s\nTry 'jarseal-cli --help'.\n",
                     EscapeControlCharacters(error).c_str());
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
    PackageQueue queue(packages);
    // Packages in different folders run at once on as many workers as
    // asked for (the machine's cores by default), each with a working
    // folder, a console and a JAD tool of its own. One worker runs as a
    // batch always ran, with the run's places and console.
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t workers =
        std::min<std::size_t>(options->jobs != 0 ? options->jobs : cores, packages.size());
    if (workers <= 1) {
        Worker worker{ui, stderr, places.Get(), warmTool ? &*warmTool : nullptr};
        RunWorker(batch, queue, worker, nullptr);
    } else {
        warmTool.reset(); // each worker starts its own
        RemoveLeftWorkFolders();
        const bool warm = true;
        std::mutex roots; // the run's console counts the roots of every worker's suites
        std::vector<std::thread> threads;
        for (std::size_t i = 1; i < workers; ++i) {
            try {
                threads.emplace_back([&] { RunOwnWorker(batch, queue, places.Get(), warm, ui, roots); });
            } catch (const std::system_error&) {
                break; // no more threads to be had: fewer workers
            }
        }
        RunOwnWorker(batch, queue, places.Get(), warm, ui, roots);
        for (std::thread& thread : threads)
            thread.join();
    }
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
