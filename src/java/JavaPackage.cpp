#include "java/JavaPackage.h"

#include "check/Attributes.h"
#include "check/SuiteCheck.h"
#include "common/ErrorPolicy.h"
#include "common/Errors.h"
#include "common/Fd.h"
#include "common/FileSystem.h"
#include "common/Manifest.h"
#include "common/RefusalTexts.h"
#include "common/RunLock.h"
#include "common/Text.h"
#include "common/ToolReasons.h"
#include "common/Translate.h"
#include "java/JavaSigning.h"
#include "java/ManifestAgreement.h"
#include "java/SuiteFiles.h"
#include "unzip/CGUnzipFiles.h"
#include "zip/EntryReader.h"
#include "zip/ZipLimits.h"
#include "zip/ZipRewrite.h"

#include <algorithm>
#include <cctype>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace jarseal {

namespace {

const char* const kCrLf = "\r\n";

const char* const kDamagedArchive = "jar файл поврежден, или\r\nне является Java приложеним.";

JobFailure JarChanged() {
    return {"jar файл изменился во время работы Jarseal: его заменили или записали заново.\r\n"
            "jar файл не изменён. Повторите попытку, когда он перестанет меняться.",
            MessageIcon::Stop, kExitFailure, "jar-changed"};
}

JobFailure NotABackup(const std::string& path) {
    return {NotABackupText(path), MessageIcon::Stop, kExitFailure, "backup-not-a-file"};
}

// Why the jar's manifest could not be brought into agreement.
std::string AgreementFailureText(const RunError& e) {
    std::string why;
    switch (e.Number()) {
    case kErrPermissionDenied:
        why = Tr("нет прав на запись в папку или в jar файл");
        break;
    case kErrDiskFull:
        why = Tr("на диске нет места");
        break;
    default:
        why = TrFormat("{1} (Ошибка№: {2})", {Tr(e.what()), std::to_string(e.Number())});
        break;
    }
    return TrFormat("Не удалось записать в манифест jar файла разрешения дескриптора:\r\n{1}"
                    ".\r\nБез этого телефон не установит подписанный набор. Файлы не изменены.",
                    {why});
}

// Step: the one-time backup keeps the descriptor as it was before the
// program first touched it. A backup name taken by anything but an ordinary
// file is no backup.
std::optional<JobFailure> KeepDescriptorBackup(const JavaPaths& p) {
    switch (KindOfPath(p.backup)) {
    case PathKind::Other:
        return NotABackup(p.backup);
    case PathKind::Ordinary:
        return std::nullopt;
    case PathKind::Missing:
        break;
    }
    StepOverMissing([&] { CopyWholeFile(p.descriptor, p.backup); });
    return std::nullopt;
}

// What unpacking the suite gave.
struct Unpacked {
    std::optional<std::string> manifest; // none: the archive holds no (readable) manifest
    std::vector<std::string> damaged;    // entries whose data is damaged
};

// The text of the jar's manifest entry, the one the check and the agreement
// read (zip::FindManifest); none for a jar without a sound one.
std::optional<std::string> ManifestEntryText(const std::string& archive) {
    const Fd in(::open(archive.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (in.get() < 0 || ::fstat(in.get(), &st) != 0)
        return std::nullopt;
    const ZipFileBytes bytes(in.get(), static_cast<std::uint64_t>(st.st_size));
    ZipLayout layout;
    std::string why;
    if (ReadZipLayout(bytes, zip::kMaxEntries, layout, why) != ZipLayoutStatus::Sound)
        return std::nullopt;
    const ZipEntryLayout* entry = zip::FindManifest(layout);
    if (entry == nullptr)
        return std::nullopt;
    try {
        return zip::ManifestText(bytes, *entry, kMaxManifestBytes);
    } catch (const JarDamagedError&) {
        return std::nullopt;
    } catch (const RunError&) {
        return std::nullopt;
    }
}

// Step: the unzip job unpacks the manifest into the working folder (every
// other entry is checked in memory) and shows its message when it has one;
// the working folder is empty again afterwards.
Unpacked UnpackManifest(Context& ctx, const JavaRun& run) {
    // A manifest left behind by an earlier failed run must never be taken
    // for this archive's, so the working folder is emptied first.
    ClearWorkDir(run.workDir);
    const std::set<std::string> hiddenBefore = HiddenFiles(run.workDir);
    Unpacked unpacked;
    StepOverMissing([&] {
        CGUnzipFiles job(ctx.ui);
        job.LetZipFileName(run.paths.archive);
        job.LetExtractDir(run.workDir);
        job.LetHonorDirectories(false);
        // Only the manifest is read from the working folder; every other
        // entry is checked in memory, so that a damaged archive is still
        // reported, without writing and deleting each file.
        job.LetWrittenNames({"MANIFEST.MF"});
        std::int32_t result = 0;
        try {
            result = job.Unzip("", "");
        } catch (const RunError& e) {
            if (e.Number() != kErrFileNotFound)
                throw;
            result = -1; // the library is missing: show the (empty) message
        }
        if (result != 0)
            ctx.ui.ShowMessage(TranslatedToolOutput(job.GetLastMessage()), MessageIcon::None);
        unpacked.damaged = job.GetDamagedEntries();
    });

    const std::string manifestPath = run.workDir + kSep + "MANIFEST.MF";
    StepOverMissing([&] {
        // Without a manifest unpacked, or with one far larger than any real
        // suite's, the archive counts as damaged. The text is the entry the
        // check and the agreement read, so that all three judge the same
        // manifest; a jar whose only manifest lies in another folder goes on
        // with none, for the check to refuse by name.
        if (FileExist(manifestPath) && FileLength(manifestPath) <= kMaxManifestBytes)
            unpacked.manifest = ManifestEntryText(run.paths.archive).value_or("");
    });
    ClearWorkDir(run.workDir);
    RemoveUnpackedHiddenFiles(run.workDir, hiddenBefore);
    return unpacked;
}

// Step: a signed suite whose manifest asks for other permissions than its
// descriptor is refused by phones, so the jar's manifest gets the
// descriptor's permission attributes first (an undoable change).
std::optional<JobFailure> AgreeJar(const JavaRun& run, const FileIdentity& jar,
                                   std::optional<JarAgreement>& agreement) {
    const std::optional<std::string>& permissions = run.permissions;
    if (!permissions)
        return std::nullopt;
    try {
        agreement.emplace(run.paths.archive, run.paths.archiveBackup, jar,
                          PermissionAttributesOf(*permissions));
    } catch (const JarChangedError&) {
        return JarChanged();
    } catch (const JarDamagedError&) {
        return JobFailure{kDamagedArchive, MessageIcon::Information, kExitFailure, "jar-damaged"};
    } catch (const RunError& e) {
        return JobFailure{AgreementFailureText(e), MessageIcon::Stop, kExitFailure, "manifest-not-written"};
    }
    return std::nullopt;
}

// An attribute's name and value, as a descriptor line holds them.
using Attribute = std::pair<std::string, std::string>;

// The attributes of a descriptor text, read as lenient tools write them.
check::Attributes DescriptorAttributes(const std::string& text) {
    return check::ParseLeniently(text, check::Lenient::Descriptor);
}

// An attribute name in lower case: phones and tools that read descriptors
// leniently take names in any letter case as the same.
std::string NameKey(std::string name) {
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return name;
}

// True for the attributes the job writes itself (in any letter case): the
// jar's URL and size, certificates, the signature and the permissions.
bool WrittenByTheJob(const std::string& name) {
    const std::string key = NameKey(name);
    return key.rfind("midlet-jar-", 0) == 0 || key.rfind("midlet-certificate-", 0) == 0 ||
           key == "midlet-permissions" || key == "midlet-permissions-opt";
}

// The attributes of the user's own descriptor (as its backup keeps it) that
// a first descriptor of this body would not carry: an unlock key, an install
// notification address and the like, which some suites keep only there.
// Those the manifest has are not among them: a phone reads them from the
// manifest, and a signed suite's descriptor may not give them other values.
std::vector<Attribute> AttributesLeftOut(UserInterface& ui, const JavaPaths& p, const std::string& body,
                                         const std::string& manifest) {
    std::string usersText;
    StepOverMissing([&] {
        if (!FileExist(p.backup))
            return;
        if (FileLength(p.backup) <= kMaxManifestBytes)
            usersText = ReadWholeFile(p.backup);
        else
            ui.Note(TrFormat("{1}.original больше 8 МБ: атрибуты прежнего дескриптора не прочитаны",
                             {p.descriptorFileName}));
    });
    std::set<std::string> carried; // by NameKey
    for (const auto& [name, value] : DescriptorAttributes(body))
        carried.insert(NameKey(name));
    for (const auto& [name, value] : check::ParseManifest(manifest))
        carried.insert(NameKey(name));
    std::vector<Attribute> left;
    for (auto& attribute : DescriptorAttributes(usersText))
        if (ValidAttributeName(attribute.first) && !HasControlCharacter(attribute.second, true) &&
            !WrittenByTheJob(attribute.first) && carried.insert(NameKey(attribute.first)).second)
            left.push_back(std::move(attribute));
    return left;
}

// Step: the body of the first descriptor. The attributes of the user's own
// descriptor that it would lack are carried over when the run asks for it,
// and named in a note otherwise.
std::string FirstDescriptorBody(Context& ctx, const JavaPaths& p, const std::string& body,
                                const std::string& manifest) {
    const std::vector<Attribute> left = AttributesLeftOut(ctx.ui, p, body, manifest);
    if (left.empty())
        return body;
    std::string carried = body;
    std::string names;
    constexpr std::size_t kNamesShown = 12;
    for (std::size_t i = 0; i < left.size(); ++i) {
        carried += left[i].first + ": " + left[i].second + kCrLf;
        if (i < kNamesShown)
            names += (i == 0 ? "" : ", ") + left[i].first;
    }
    if (left.size() > kNamesShown)
        names += TrFormat(" и ещё {1}", {std::to_string(left.size() - kNamesShown)});
    if (ctx.keepDescriptorAttributes)
        return carried;
    // On a copy for --out the backup stays behind with the copy: the
    // attributes are in the user's own descriptor, which is not changed.
    if (ctx.onCopy)
        ctx.ui.Note(TrFormat("{1}: атрибуты прежнего дескриптора не перенесены в новый: {2}"
                             " (они остались в исходном дескрипторе; --keep-jad-attributes переносит их)",
                             {p.descriptorFileName, names}));
    else
        ctx.ui.Note(TrFormat("{1}: атрибуты прежнего дескриптора не перенесены в новый: {2}"
                             " (они сохранены в {3}; --keep-jad-attributes переносит их)",
                             {p.descriptorFileName, names, p.descriptorFileName + ".original"}));
    return body;
}

// Step: the first descriptor, naming the jar as it is now.
void WriteFirstDescriptor(const JavaPaths& p, const std::string& body) {
    StepOverMissing([&] {
        const std::uint64_t size = FileLength(p.archive);
        WriteFileReplacing(p.descriptor, FirstDescriptor(p.archiveFileName, size, body));
    });
}

JobFailure DescriptorNotKept(const JavaPaths& p) {
    JobFailure failure{
        TrFormat("Дескриптор {1} принадлежит другому пользователю, и в этой папке Jarseal не может "
                 "сохранить его так, чтобы при ошибке вернуть в точности.\r\nФайлы не изменены. Скопируйте "
                 "набор в свою папку и повторите попытку.",
                 {p.descriptorFileName})};
    failure.reason = "descriptor-not-kept";
    return failure;
}

// Step: what a phone would refuse that the jar alone already shows (a
// damaged archive or entry, a manifest without the suite's name, version
// or vendor, a MIDlet whose class is missing) ends the job before anything
// is written.
std::optional<JobFailure> RefusalBeforeWriting(const JavaPaths& p, const std::vector<std::string>& damaged) {
    const CheckReport report = CheckJarBeforeSigning(p.archive, damaged);
    if (!report.Refused())
        return std::nullopt;
    return JobFailure{RefusalText("Набор не подписан: телефон его не установит.", report), MessageIcon::Stop,
                      kExitFailure, "phone-refuses-jar", Number(report.FirstRefusal())};
}

void Tell(const Context& ctx, Context::JavaStep step) {
    if (ctx.onJavaStep)
        ctx.onJavaStep(step);
}

// The job's steps after the paths; nullopt when it succeeded.
std::optional<JobFailure> RunJavaJob(Context& ctx, JavaRun& run) {
    const JavaPaths& p = run.paths;
    for (const std::string& backup : {p.backup, p.archiveBackup})
        if (KindOfPath(backup) == PathKind::Other)
            return NotABackup(backup);
    bool archiveMissing = false;
    StepOverMissing([&] { archiveMissing = !FileExist(p.archive); });
    const std::optional<FileIdentity> jar = archiveMissing ? std::nullopt : IdentityOfFile(p.archive);
    if (!jar) {
        KeepDescriptorBackup(p);
        return JobFailure{"jar файл отсутствует.", MessageIcon::Information, kExitFailure, "jar-missing"};
    }

    Tell(ctx, Context::JavaStep::Unpacking);
    const Unpacked unpacked = UnpackManifest(ctx, run);
    if (!unpacked.manifest)
        return JobFailure{kDamagedArchive, MessageIcon::Information, kExitFailure, "jar-damaged"};
    if (!IsStill(p.archive, *jar))
        return JarChanged();
    if (auto refusal = RefusalBeforeWriting(p, unpacked.damaged))
        return refusal;
    if (auto failure = KeepDescriptorBackup(p))
        return failure;
    const ManifestScan scan = ScanManifest(ManifestLines(*unpacked.manifest));
    run.permissions = PermissionAppendix(ctx, scan.permissionText);

    // While the job may still fail, the descriptor as the user had it waits
    // to go back: a failed job never leaves an unsigned descriptor, or none,
    // in place of the user's.
    Tell(ctx, Context::JavaStep::RewritingJar);
    std::optional<JarAgreement> agreement;
    if (auto failure = AgreeJar(run, *jar, agreement))
        return failure;
    std::optional<KeptFile> usersDescriptor;
    try {
        usersDescriptor.emplace(p.descriptor);
    } catch (const NotKeptError&) {
        return DescriptorNotKept(p);
    }
    std::string body;
    const auto undo = [&](bool jarChanged) {
        const JarAgreement::Restore restored =
            agreement ? agreement->Undo() : JarAgreement::Restore::NothingToDo;
        // Without a descriptor of the user's, the first stage's one stays, as
        // after a missing Java, while it names the jar that is there.
        if (usersDescriptor->Existed() || jarChanged || restored != JarAgreement::Restore::NothingToDo ||
            body.empty())
            usersDescriptor->PutBack();
        else
            StepOverMissing([&] { WriteFirstDescriptor(p, body); });
    };
    try {
        const std::string firstBody = FirstDescriptorBody(ctx, p, scan.body, *unpacked.manifest);
        WriteFirstDescriptor(p, firstBody);
        body = firstBody;
        std::optional<JobFailure> failure = SignJavaPackage(ctx, run);
        // A jar written while the tool ran is reported as such, not as what
        // the check would find wrong with the mixture.
        const FileIdentity& expected = agreement ? agreement->Identity() : *jar;
        bool jarChanged = !IsStill(p.archive, expected);
        if (!failure && !jarChanged) {
            Tell(ctx, Context::JavaStep::Checking);
            failure =
                CheckSignedSuite(ctx.ui, p, unpacked.damaged, ctx.outcome ? &ctx.outcome->jarSha1 : nullptr);
            jarChanged = !IsStill(p.archive, expected);
        }
        if (jarChanged)
            failure = JarChanged();
        if (failure) {
            undo(jarChanged);
            return failure;
        }
    } catch (...) {
        body.clear();
        undo(false);
        throw;
    }
    if (agreement)
        agreement->Keep();
    return std::nullopt;
}

} // namespace

void ProcessJavaPackage(Context& ctx, const std::string& path) {
    RunWithFailurePolicy(ctx.ui, [&] {
        JavaRun run;
        run.paths = DeriveJavaPaths(path);
        run.workDir = ctx.Where().workDir;
        std::optional<JobFailure> failure;
        // A control character in a name (a line break above all) would carry
        // the text after it into the descriptor as an attribute of its own.
        if (HasControlCharacter(path)) {
            failure = JobFailure{ControlCharacterNameText(), MessageIcon::Stop, kExitFailure,
                                 "control-character-in-name"};
        } else {
            // Held while the job changes files, released before its final message.
            const RunLock lock(ctx.Where().lockFolder, run.paths.packageFolder,
                               [&] { ctx.ui.NoteWaitingForOtherRun(); });
            RemoveLeftoverTempFiles(run.paths.packageFolder);
            try {
                failure = RunJavaJob(ctx, run);
            } catch (const RunError& e) {
                // A full disk is foreseen, whichever file it stopped: the job
                // has put everything back by now.
                if (e.Number() != kErrDiskFull)
                    throw;
                ::unlink((run.paths.packageFolder + kTempJadName).c_str());
                failure = JobFailure{"Не удалось записать файлы набора: на диске нет места.\r\n"
                                     "Файлы не изменены. Освободите место и повторите попытку.",
                                     MessageIcon::Information, kExitFailure, "disk-full"};
            }
        }
        if (failure) {
            if (ctx.outcome)
                *ctx.outcome = {failure->reason, failure->installerCode, {}};
            ctx.ui.ShowMessage(failure->text, failure->icon);
            ctx.EndIfStartedWithArgument(failure->status);
            return;
        }
        ctx.ui.ShowMessage("Готово!", MessageIcon::None);
        ctx.EndIfStartedWithArgument(kExitSuccess);
    });
}

} // namespace jarseal
