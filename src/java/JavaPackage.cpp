#include "java/JavaPackage.h"

#include "common/ErrorPolicy.h"
#include "common/Errors.h"
#include "common/FileSystem.h"
#include "common/RunLock.h"
#include "java/JavaSigning.h"
#include "java/ManifestAgreement.h"
#include "unzip/CGUnzipFiles.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace jarseal {

namespace {

const char* const kCrLf = "\r\n";

// The manifest attributes the descriptor takes over, tested in this order;
// the first text a line contains decides.
enum class Effect { Permission, Body };
struct ScanRule {
    const char* text;
    Effect effect;
};
constexpr ScanRule kScanRules[] = {
    {"MIDlet-Permissions:", Effect::Permission},
    {"MIDlet-Name:", Effect::Body},
    {"MIDlet-1:", Effect::Body},
    {"MIDlet-Vendor:", Effect::Body},
    {"MIDlet-Version:", Effect::Body},
    {"MIDlet-Description:", Effect::Body},
    {"MicroEdition-Profile:", Effect::Body},
    {"MicroEdition-Configuration:", Effect::Body},
    {"MIDlet-Permissions-Opt:", Effect::Permission},
    {"MIDlet-Info-URL:", Effect::Body},
};

// The hidden files of the working folder, which ClearWorkDir leaves alone.
std::set<std::string> HiddenFiles(const std::string& dir) {
    std::set<std::string> names;
    std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(dir.c_str()), ::closedir);
    if (!d)
        return names;
    while (const dirent* entry = ::readdir(d.get())) {
        const std::string name = entry->d_name;
        if (name.size() > 1 && name[0] == '.' && name != "..")
            names.insert(name);
    }
    return names;
}

// Removes the hidden files an archive brought into the working folder (an
// entry such as "META-INF/.x" lands there as ".x"), and the unpacker's own
// part-written files a killed run may have left; hidden files that were
// there before the run stay, as ClearWorkDir leaves them.
void RemoveUnpackedHiddenFiles(const std::string& workDir, const std::set<std::string>& before) {
    for (const auto& name : HiddenFiles(workDir)) {
        const bool leftPart = name.rfind(".unzip-", 0) == 0 && name.size() > 5 &&
                              name.compare(name.size() - 5, 5, ".part") == 0;
        if (before.count(name) && !leftPart)
            continue;
        const std::string full = workDir + kSep + name;
        struct stat st {};
        if (::lstat(full.c_str(), &st) == 0 && (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)))
            ::unlink(full.c_str());
    }
}

// Why the jar's manifest could not be brought into agreement.
std::string AgreementFailureText(const RunError& e) {
    std::string why;
    switch (e.Number()) {
    case kErrPermissionDenied:
        why = "нет прав на запись в папку или в jar файл";
        break;
    case kErrDiskFull:
        why = "на диске нет места";
        break;
    default:
        why = std::string(e.what()) + " (Ошибка№: " + std::to_string(e.Number()) + ")";
        break;
    }
    return "Не удалось записать в манифест jar файла разрешения дескриптора:\r\n" + why +
           ".\r\nБез этого телефон не установит подписанный набор. Файлы не изменены.";
}

// Passes everything on to another interface, after running an action once,
// before the first call: the end of the unzip job's tests is reported before
// anything else the job shows, as if they had ended before it went on.
class ReportingFirstUi : public UserInterface {
  public:
    ReportingFirstUi(UserInterface& inner, std::function<void()> first)
        : inner_(inner), first_(std::move(first)) {}
    void ShowMessage(const std::string& text, MessageIcon icon, const std::string& title) override {
        First();
        inner_.ShowMessage(text, icon, title);
    }
    Answer AskYesNo(const std::string& text, MessageIcon icon, const std::string& title) override {
        First();
        return inner_.AskYesNo(text, icon, title);
    }
    Answer AskYesNoCancel(const std::string& text, MessageIcon icon, const std::string& title) override {
        First();
        return inner_.AskYesNoCancel(text, icon, title);
    }
    std::string InputBox(const std::string& prompt, const std::string& title,
                         const std::string& defaultText) override {
        First();
        return inner_.InputBox(prompt, title, defaultText);
    }
    std::string OpenFileDialog(const std::string& title, const std::vector<FileFilter>& filters) override {
        First();
        return inner_.OpenFileDialog(title, filters);
    }
    void NoteWaitingForOtherRun() override { inner_.NoteWaitingForOtherRun(); }
    [[noreturn]] void EndProgram(int status) override {
        First();
        inner_.EndProgram(status);
        std::abort(); // EndProgram never returns
    }
    // Runs the action now, unless it ran already.
    void First() {
        if (const std::function<void()> first = std::exchange(first_, nullptr))
            first();
    }

  private:
    UserInterface& inner_;
    std::function<void()> first_;
};

// The Java job after unpacking: the manifest read, the jar brought into
// agreement with the descriptor, the first descriptor written and signed.
void GoOnAfterUnpacking(Context& ctx, JavaRun& run, const std::function<void()>& emptyWorkDir,
                        std::future<std::optional<JarManifestSnapshot>>& jarManifest) {
    const JavaPaths& p = run.paths;
    const std::string manifestPath = run.workDir + kSep + "MANIFEST.MF";

    bool manifestMissing = false;
    StepOverMissing([&] { manifestMissing = !FileExist(manifestPath); });
    // A manifest far larger than any real suite's is taken for a damaged
    // archive instead of being read into memory and scanned.
    StepOverMissing(
        [&] { manifestMissing = manifestMissing || FileLength(manifestPath) > kMaxManifestBytes; });
    if (manifestMissing) {
        ctx.ui.ShowMessage("jar файл поврежден, или\r\nне является Java приложеним.",
                           MessageIcon::Information);
        emptyWorkDir();
        ctx.EndIfStartedWithArgument(kExitFailure);
        return;
    }

    // The manifest text; should it vanish in between, the descriptor as it
    // stands is read instead, as a copy that failed would have left it.
    std::string manifest;
    try {
        manifest = ReadWholeFile(manifestPath);
    } catch (const RunError& e) {
        if (e.Number() != kErrFileNotFound)
            throw;
        StepOverMissing([&] { manifest = ReadWholeFile(p.descriptor); });
    }
    emptyWorkDir();

    const ManifestScan scan = ScanManifest(ManifestLines(manifest));
    run.permissionText = scan.permissionText;

    // A signed suite whose manifest asks for other permissions than its
    // descriptor is refused by phones: the jar's manifest is made to
    // carry the descriptor's permission attributes first.
    if (const auto permissions = PermissionAppendix(ctx, run.permissionText)) {
        try {
            StepOverMissing([&] {
                BringJarIntoAgreement(p.archive, p.archiveBackup, PermissionAttributesOf(*permissions),
                                      jarManifest.valid() ? jarManifest.get() : std::nullopt);
            });
        } catch (const RunError& e) {
            ctx.ui.ShowMessage(AgreementFailureText(e), MessageIcon::Stop);
            ctx.EndIfStartedWithArgument(kExitFailure);
            return;
        }
    }

    StepOverMissing([&] {
        const std::uint64_t size = FileLength(p.archive);
        WriteFileReplacing(p.descriptor, FirstDescriptor(p.archiveFileName, size, scan.body));
    });

    // The jar no longer changes: the check after signing gets its facts
    // read while the JAD tool runs.
    run.jarFacts = std::make_shared<JarFactsAhead>(p.archive);

    SignJavaPackage(ctx, run);
}

} // namespace

JavaPaths DeriveJavaPaths(const std::string& path) {
    const auto sep = path.find_last_of(kSep);
    if (sep == std::string::npos || path.empty())
        throw RunError(kErrInvalidCall, "no folder in the path " + path);
    JavaPaths p;
    const std::string stem = path.substr(0, path.size() - 1);
    p.archive = stem + "r";
    p.descriptor = stem + "d";
    p.backup = p.descriptor + ".original";
    p.archiveBackup = p.archive + ".original";
    p.fileName = path.substr(sep + 1);
    if (p.fileName.empty())
        throw RunError(kErrInvalidCall, "no file name in the path " + path);
    const std::string nameStem = p.fileName.substr(0, p.fileName.size() - 1);
    p.archiveFileName = nameStem + "r";
    p.descriptorFileName = nameStem + "d";
    p.packageFolder = path.substr(0, path.size() - p.descriptorFileName.size());
    return p;
}

std::string WorkDirOf(const std::string& programFolder) {
    return programFolder + kSep + "data" + kSep + "temp";
}

ManifestScan ScanManifest(const std::vector<std::string>& lines) {
    ManifestScan scan;
    bool permissionFlag = false;
    for (const auto& line : lines) {
        // A continuation line left after unfolding (one with nothing before it)
        // belongs to the permission text only while a permission attribute runs.
        if (line.find("MIDlet-Permissions:") == std::string::npos && !line.empty() && line[0] == ' ') {
            if (permissionFlag)
                scan.permissionText += line + kCrLf;
            continue;
        }
        for (const auto& rule : kScanRules) {
            if (line.find(rule.text) == std::string::npos)
                continue;
            if (rule.effect == Effect::Permission) {
                scan.permissionText += line + kCrLf;
                permissionFlag = true;
            } else {
                scan.body += line + kCrLf;
                permissionFlag = false;
            }
            break;
        }
    }
    return scan;
}

std::string FirstDescriptor(const std::string& archiveFileName, std::uint64_t archiveSize,
                            const std::string& body) {
    return "MIDlet-Jar-URL: " + archiveFileName + kCrLf + "MIDlet-Jar-Size: " + std::to_string(archiveSize) +
           kCrLf + body + kCrLf;
}

void ClearWorkDir(const std::string& workDir) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(workDir.c_str()), ::closedir);
    if (!dir)
        return;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name.empty() || name[0] == '.')
            continue; // hidden files stay
        names.push_back(name);
    }
    for (const auto& name : names) {
        const std::string full = workDir + kSep + name;
        struct stat st {};
        if (::lstat(full.c_str(), &st) != 0)
            continue;
        const bool link = S_ISLNK(st.st_mode);
        const bool readOnly = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
        if (link || (S_ISREG(st.st_mode) && !readOnly))
            ::unlink(full.c_str()); // a failure leaves the file and goes on
    }
}

void ProcessJavaPackage(Context& ctx, const std::string& path) {
    RunWithFailurePolicy(ctx.ui, [&] {
        // Held to the end of the job, signing included.
        const RunLock lock(ctx.programFolder, [&] { ctx.ui.NoteWaitingForOtherRun(); });
        JavaRun run;
        run.paths = DeriveJavaPaths(path);
        run.workDir = WorkDirOf(ctx.programFolder);
        const JavaPaths& p = run.paths;

        // A one-time backup keeps the descriptor as it was before the program
        // first touched it.
        StepOverMissing([&] {
            if (!FileExist(p.backup))
                CopyWholeFile(p.descriptor, p.backup);
        });

        bool archiveMissing = false;
        StepOverMissing([&] { archiveMissing = !FileExist(p.archive); });
        if (archiveMissing) {
            ctx.ui.ShowMessage("jar файл отсутствует.", MessageIcon::Information);
            ctx.EndIfStartedWithArgument(kExitFailure);
            return;
        }

        // A manifest left behind by an earlier failed run must never be taken
        // for this archive's, so the working folder is emptied first.
        ClearWorkDir(run.workDir);
        const std::set<std::string> hiddenBefore = HiddenFiles(run.workDir);
        const auto emptyWorkDir = [&] {
            ClearWorkDir(run.workDir);
            RemoveUnpackedHiddenFiles(run.workDir, hiddenBefore);
        };
        // The jar's own manifest, which the agreement step compares, is read
        // on the other core while the archive is unpacked.
        std::future<std::optional<JarManifestSnapshot>> jarManifest;
        try {
            jarManifest =
                std::async(std::launch::async, [jar = p.archive] { return SnapshotJarManifest(jar); });
        } catch (const std::system_error&) {
            // No thread to be had: the agreement step reads it itself.
        }
        CGUnzipFiles job(ctx.ui);
        StepOverMissing([&] {
            job.LetZipFileName(p.archive);
            job.LetExtractDir(run.workDir);
            job.LetHonorDirectories(false);
            // Only the manifest is read from the working folder; every other
            // entry is checked in memory, so that a damaged archive is still
            // reported, without writing and deleting each file.
            job.LetWrittenNames({"MANIFEST.MF"});
            // The entries after the manifest are checked while the job goes
            // on (on idle cores, mostly while the JAD tool runs); their
            // verdict is shown before anything else the job shows.
            job.LetTestLater(true);
            std::int32_t result = 0;
            try {
                result = job.Unzip("", "");
            } catch (const RunError& e) {
                if (e.Number() != kErrFileNotFound)
                    throw;
                result = -1; // the library is missing: show the (empty) message
            }
            // A problem found already is shown at once, with the rest tested.
            if (result != 0) {
                job.FinishTests(result);
                ctx.ui.ShowMessage(job.GetLastMessage(), MessageIcon::None);
            }
        });
        ReportingFirstUi ui(ctx.ui, [&] {
            if (job.FinishTests(0) != 0)
                ctx.ui.ShowMessage(job.GetLastMessage(), MessageIcon::None);
        });
        Context jobCtx{ui, ctx.settings, ctx.permissions, ctx.programFolder, ctx.commandLine, ctx.tools};
        try {
            GoOnAfterUnpacking(jobCtx, run, emptyWorkDir, jarManifest);
        } catch (...) {
            ui.First();
            throw;
        }
        ui.First();
    });
}

} // namespace jarseal
