#include "symbian/SymbianPackage.h"

#include "SignSis.h"
#include "SisCrypto.h"
#include "SisFormat.h"
#include "common/ErrorPolicy.h"
#include "common/Errors.h"
#include "common/Fd.h"
#include "common/FileSystem.h"
#include "common/RefusalTexts.h"
#include "common/RunLock.h"
#include "common/Text.h"
#include "common/ToolReasons.h"
#include "common/Translate.h"
#include "process/Quoting.h"
#include "process/RunAndWait.h"
#include "process/ToolOutput.h"
#include "symbian/SisCheck.h"

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace jarseal {

namespace {

std::string ReadSymbian(const Context& ctx, const char* key) {
    return ctx.settings.Read("Symbian", key);
}

// A program name with a blank in it would otherwise be cut at the blank.
std::string ProgramName(const std::string& value) {
    return value.find_first_of(" \t") == std::string::npos ? value : "\"" + value + "\"";
}

// The program to run: the "SignSIS" setting, or the signing program that ships
// in the program folder's data/ when the setting is empty. The setting itself
// is left empty, so a moved program folder keeps finding its own tool.
std::string SignSisProgram(const Context& ctx) {
    const std::string setting = ReadSymbian(ctx, "SignSIS");
    if (!setting.empty())
        return setting;
    return ctx.programFolder + kSep + "data" + kSep + "signsis";
}

// How a Symbian job ends that does not end in "Готово"; its reason's stable
// key and the installer's code go to Context::outcome.
struct Refusal {
    std::string text;
    MessageIcon icon = MessageIcon::Stop;
    std::string reason{};
    int installerCode = 0;
};

// The first of the certificates as DER: the signer's.
std::string SignerDer(const std::vector<signsis::CertPtr>& certs) {
    if (certs.empty())
        return {};
    std::vector<signsis::CertPtr> signer;
    signer.emplace_back(X509_dup(certs.front().get()));
    return signsis::ToDer(signer);
}

// The signer's certificate of the settings, as DER; empty when it cannot be
// read (the signing program then says why).
std::string SigningCertificate(const Context& ctx) {
    try {
        return SignerDer(signsis::LoadCertificates(ReadWholeFile(ReadSymbian(ctx, "certificate"))));
    } catch (const std::exception&) {
        return {};
    }
}

// True when the chain's signer is the certificate given as DER.
bool SignedWith(const signsis::ChainView& chain, const std::string& signer) {
    try {
        return SignerDer(signsis::ParseDerCertificates(chain.certificates)) == signer;
    } catch (const std::exception&) {
        return false;
    }
}

// What signing does to the chains a package already has.
struct EarlierChains {
    std::size_t before = 0;  // chains in the package
    std::size_t removed = 0; // taken out before signing
    std::string input;       // the package without them; empty when none was taken out
};

// The chains to take out: every one when re-signing; else the last ones when
// they were made with this run's certificate, so that signing again replaces
// its own signature instead of stacking another. A package that cannot be
// read is left to the signing program, which says why.
EarlierChains TakeOutChains(const Context& ctx, const std::string& path) {
    EarlierChains earlier;
    std::optional<signsis::Package> pkg;
    try {
        pkg = signsis::ParsePackage(ReadWholeFile(path));
    } catch (const std::exception&) {
        return earlier;
    }
    earlier.before = pkg->chains.size();
    if (ctx.resignSymbian) {
        earlier.removed = earlier.before;
    } else {
        const std::string signer = SigningCertificate(ctx);
        while (!signer.empty() && earlier.removed < earlier.before &&
               SignedWith(pkg->chains[earlier.before - 1 - earlier.removed], signer))
            ++earlier.removed;
    }
    for (std::size_t i = 0; i < earlier.removed; ++i)
        signsis::RemoveLastChain(*pkg);
    if (earlier.removed > 0)
        earlier.input = signsis::SerializePackage(*pkg);
    return earlier;
}

// The line of the final message on the package's earlier signatures.
std::string EarlierChainsNote(const Context& ctx, const EarlierChains& earlier) {
    const std::size_t kept = earlier.before - earlier.removed;
    if (ctx.resignSymbian && earlier.removed > 0)
        return TrFormat("Прежние подписи пакета удалены (цепочек подписей: {1}), пакет подписан заново.",
                        {std::to_string(earlier.removed)});
    if (kept > 0)
        return TrFormat("Пакет был подписан раньше другим сертификатом: новая подпись добавлена к прежней, "
                        "теперь в нём цепочек подписей: {1}. --resign (jarseal-cli) подписывает его заново.",
                        {std::to_string(kept + 1)});
    if (earlier.removed > 0)
        return Tr("Пакет был подписан раньше этим же сертификатом: прежняя подпись заменена новой.");
    return {};
}

void WriteInput(TempFile& file, const std::string& package, const std::string& bytes, std::string& name) {
    const Fd fd(file.CreateBeside(package));
    name = file.path();
    if (const int err = WriteFully(fd.get(), bytes.data(), bytes.size()))
        ThrowSystemError(err, "write", name);
}

// Makes the signed file durable with the package's permissions before it
// takes the package's place; a file system without permissions refuses
// chmod and keeps its mount's mode.
void PrepareForRename(const std::string& signedFile, const std::string& package) {
    struct stat st {};
    if (::stat(package.c_str(), &st) == 0 && ::chmod(signedFile.c_str(), st.st_mode & 07777) != 0 &&
        errno != EPERM && errno != ENOSYS && errno != EOPNOTSUPP)
        ThrowSystemError(errno, "write", package);
    const Fd fd(::open(signedFile.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0 || ::fsync(fd.get()) != 0)
        ThrowSystemError(errno, "write", package);
}

void SyncFolder(const std::string& folder) {
    const Fd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0)
        ::fsync(fd.get()); // a folder that cannot be synced still holds the renamed file
}

Refusal ToolFailed(const RunOutput& run) {
    std::string text = run.exitCode == -1
                           ? Tr("Не удалось запустить программу подписи sis файлов.\r\n"
                                "Проверьте настройку SignSIS.")
                           : TrFormat("Программа подписи sis файлов завершилась с ошибкой (код "
                                      "{1}).\r\nФайл не подписан.",
                                      {std::to_string(run.exitCode)});
    if (!run.output.empty())
        text += "\r\n\r\n" + OutputForMessage(TranslatedToolOutput(run.output));
    return {text, MessageIcon::Stop, run.exitCode == -1 ? "signsis-not-started" : "signsis-failed"};
}

Refusal PhoneRefuses(const CheckReport& report) {
    std::string text = Tr("Подписанный пакет не будет установлен на телефон:");
    for (const Finding& f : report.findings)
        if (f.code != InstallerStatus::None)
            text += "\r\n" + f.text;
    return {text + Tr("\r\nФайл не изменён."), MessageIcon::Stop, "phone-refuses-package",
            Number(report.FirstRefusal())};
}

// The job's steps after the name and the lock: the package is signed into a
// file beside it, checked as a phone would check it, and only then put in
// its place (after the one-time backup). Whatever fails, the package and its
// backup stay as they were.
std::optional<Refusal> RunSymbianJob(Context& ctx, const std::string& path, std::string& note) {
    const std::string backup = path + ".original";
    if (KindOfPath(backup) == PathKind::Other)
        return Refusal{NotABackupText(backup), MessageIcon::Stop, "backup-not-a-file"};
    const std::optional<FileStamp> stamp = StampOfFile(path);

    // The job's files beside the package, removed however the job ends: the
    // package with chains taken out (the tool's input) and the tool's output.
    TempFile inputFile;
    TempFile outputFile;
    const EarlierChains earlier = TakeOutChains(ctx, path);
    std::string input = path;
    if (!earlier.input.empty())
        WriteInput(inputFile, path, earlier.input, input);
    ::close(outputFile.CreateBeside(path)); // the tool writes it
    const std::string output = outputFile.path();

    const RunOutput run = RunAndWaitCapture(SignSisCommandLine(ctx, input, output));
    if (run.exitCode != 0)
        return ToolFailed(run);
    // A package a phone would refuse is no success, whatever the tool said.
    const CheckReport report = CheckPackageOtherThanJava(output);
    if (report.Refused())
        return PhoneRefuses(report);
    if (!stamp || StampOfFile(path) != stamp)
        return Refusal{"sis файл изменился во время работы Jarseal: его заменили или записали заново.\r\n"
                       "Файл не изменён. Повторите попытку, когда он перестанет меняться.",
                       MessageIcon::Stop, "sis-changed"};

    PrepareForRename(output, path);
    bool madeBackup = false;
    if (KindOfPath(backup) == PathKind::Missing) {
        CopyWholeFile(path, backup);
        madeBackup = true;
    }
    if (::rename(output.c_str(), path.c_str()) != 0) {
        const int err = errno;
        if (madeBackup)
            ::unlink(backup.c_str());
        ThrowSystemError(err, "replace", path);
    }
    SyncFolder(FolderOf(path));
    note = EarlierChainsNote(ctx, earlier);
    return std::nullopt;
}

} // namespace

std::string SignSisCommandLine(const Context& ctx, const std::string& input, const std::string& output) {
    const std::string passphrase = ReadSymbian(ctx, "passphrase");
    return ProgramName(SignSisProgram(ctx)) + " " + QuotedArgument(input) + " " + QuotedArgument(output) +
           " " + QuotedArgument(ReadSymbian(ctx, "certificate")) + " " +
           QuotedArgument(ReadSymbian(ctx, "key")) + " " +
           (passphrase.empty() ? std::string() : CommandLineArgument(passphrase));
}

void SignSymbianPackage(Context& ctx, const std::string& path) {
    RunWithFailurePolicy(ctx.ui, [&] {
        std::optional<Refusal> refusal;
        std::string note;
        // A control character in a name (a line break above all) would be
        // carried into the messages and the command line as it is.
        if (HasControlCharacter(path)) {
            refusal = Refusal{ControlCharacterNameText(), MessageIcon::Stop, "control-character-in-name"};
        } else {
            // Held while the job changes files, released before its final message.
            const RunLock lock(ctx.Where().lockFolder, FolderOf(path),
                               [&] { ctx.ui.NoteWaitingForOtherRun(); });
            RemoveLeftoverTempFiles(FolderOf(path));
            refusal = RunSymbianJob(ctx, path, note);
        }
        if (refusal) {
            if (ctx.outcome)
                *ctx.outcome = {refusal->reason, refusal->installerCode, {}};
            ctx.ui.ShowMessage(refusal->text, refusal->icon);
            ctx.EndIfStartedWithArgument(kExitFailure);
            return;
        }
        // The window shows the note in its message; the console, which drops
        // a success message, prints it as a note.
        if (!note.empty())
            ctx.ui.Note(note);
        ctx.ui.ShowMessage(note.empty() ? std::string("Готово") : Tr("Готово") + std::string("\r\n") + note,
                           MessageIcon::None);
        ctx.EndIfStartedWithArgument(kExitSuccess);
    });
}

} // namespace jarseal
