// The packages of a console run, worked through by one worker or by
// several at once: each package's job, its lines and its report record.
#include "app/BatchRun.h"

#include "app/Intake.h"
#include "app/OutputTree.h"
#include "common/Errors.h"
#include "common/FileSystem.h"
#include "common/Text.h"
#include "common/Translate.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <set>
#include <system_error>
#include <thread>

namespace jarseal {

namespace {

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
            ctx.onCopy = true;
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

// What a signed package is: its jar's (or its own) SHA-1, taken anew unless
// given, and its signer's.
void NameSigned(PackageRecord& record, const std::string& where, const std::string& sha1 = {}) {
    record.sha1 = sha1.empty() ? FileSha1Hex(SignedFileOf(where)) : Hex(sha1);
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
    std::string jarSha1;
    if (batch.alreadySigned && batch.alreadySigned->AlreadySigned(path, where, &jarSha1)) {
        done.skipped = true;
        done.record.result = ResultKey(kExitSuccess);
        done.record.reasonKey = "already-signed";
        NameSigned(done.record, where, jarSha1);
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
        NameSigned(done.record, where, outcome.jarSha1);
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

// One worker of several: a working folder, a console and a channel of the
// shared JAD tool process of its own; its package folders' locks are its own
// working folder and the folder of each package.
void RunOwnWorker(Batch& batch, PackageQueue& queue, const Places& shared, JadToolProcess& toolProcess,
                  std::size_t channel, ConsoleUi& runUi, std::mutex& roots) {
    const WorkFolder folder;
    Places places = shared;
    if (!folder.Path().empty())
        places.workDir = places.lockFolder = folder.Path();
    WarmJadTool tool(toolProcess, channel);
    std::string buffer;
    std::FILE* err = StringStream(buffer);
    ConsoleUi ui(err != nullptr ? err : stderr);
    ui.SetQuiet(batch.options.quiet);
    ui.CountRootsIn(runUi, roots);
    Worker worker{ui, err != nullptr ? err : stderr, places, &tool};
    RunWorker(batch, queue, worker, err != nullptr ? &buffer : nullptr);
    if (err != nullptr)
        std::fclose(err);
}

} // namespace

void RunPackages(Batch& batch, const Places& shared, ConsoleUi& runUi, std::optional<WarmJadTool>& warmTool,
                 std::size_t workers) {
    PackageQueue queue(batch.packages);
    if (workers <= 1) {
        Worker worker{runUi, stderr, shared, warmTool ? &*warmTool : nullptr};
        RunWorker(batch, queue, worker, nullptr);
        return;
    }
    // The workers share one tool process, each on a channel of its own: one
    // Java runtime compiles the tool once for all of them.
    warmTool.reset();
    JadToolProcess toolProcess(batch.programFolder + kSep + "data" + kSep + "jadtool.jar", workers);
    RemoveLeftWorkFolders();
    std::mutex roots; // the run's console counts the roots of every worker's suites
    std::vector<std::thread> threads;
    for (std::size_t i = 1; i < workers; ++i) {
        try {
            threads.emplace_back(
                [&, i] { RunOwnWorker(batch, queue, shared, toolProcess, i, runUi, roots); });
        } catch (const std::system_error&) {
            break; // no more threads to be had: fewer workers
        }
    }
    RunOwnWorker(batch, queue, shared, toolProcess, 0, runUi, roots);
    for (std::thread& thread : threads)
        thread.join();
}

} // namespace jarseal
