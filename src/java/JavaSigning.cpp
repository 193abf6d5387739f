#include "java/JavaSigning.h"

#include "check/SuiteCheck.h"
#include "common/ErrorPolicy.h"
#include "common/FileSystem.h"
#include "common/ToolReasons.h"
#include "common/Translate.h"
#include "java/PermissionCatalogue.h"
#include "process/Quoting.h"
#include "process/RunAndWait.h"
#include "process/ToolOutput.h"

namespace jarseal {

namespace {

const char* const kMissingJava = "Не устанвлен дистрибутив Java.\r\n"
                                 "Повторите попытку после установки JRE или JDK.\r\n"
                                 "Или стоят неправильные настройки Java\r\n"
                                 "За подробностями в ReadMe";

std::string JadToolStart(const Context& ctx) {
    return "java.exe -jar " + QuotedArgument(ctx.programFolder + kSep + "data" + kSep + "jadtool.jar");
}

RunOutput RunTool(const Context& ctx, const std::string& commandLine) {
    return ctx.tools ? ctx.tools->Run(commandLine) : RunAndWaitCapture(commandLine);
}

std::string ReadJava(const Context& ctx, const char* key) {
    return ctx.settings.Read("Java", key);
}

// The exit statuses by which the JAD tool names a fault of the key store
// settings (any other failure exits with 1).
enum KeyStoreFault { kStoreUnreadable = 2, kStorePassword = 3, kNoSuchAlias = 4, kKeyPassword = 5 };

// The message for a key store fault the tool reported, or nullopt for any
// other end of the run.
std::optional<std::string> KeyStoreFaultText(const Context& ctx, int exitCode, const char* aliasKey) {
    std::string what;
    const char* key = exitCode == kStoreUnreadable ? "keystore"
                      : exitCode == kStorePassword ? "storepass"
                      : exitCode == kNoSuchAlias   ? aliasKey
                                                   : "keypass";
    switch (exitCode) {
    case kStoreUnreadable:
        what = TrFormat(
            "Файл хранилища ключей не найден или не является хранилищем ключей (JKS или PKCS12):\r\n{1}",
            {ReadJava(ctx, "keystore")});
        break;
    case kStorePassword:
        what = Tr("Неверный пароль хранилища ключей (storepass).");
        break;
    case kNoSuchAlias:
        what = TrFormat("В хранилище ключей нет ключа с псевдонимом ({1}) \"{2}\".",
                        {aliasKey, ReadJava(ctx, aliasKey)});
        break;
    case kKeyPassword:
        what = TrFormat("Неверный пароль ключа (keypass) для псевдонима \"{1}\".", {ReadJava(ctx, aliasKey)});
        break;
    default:
        return std::nullopt;
    }
    if (ctx.settings.GivenForTheRun("Java", key))
        return what + Tr("\r\nИсправьте ключи этого запуска (--keystore, --alias, --storepass, --keypass).");
    return what +
           Tr("\r\nИсправьте настройки Java на странице \"Настройки\" (раздел [Java] файла Jarseal.ini)."
              "\r\nЗа подробностями в ReadMe, раздел \"Java signing: what it needs\".");
}

// The stable key of a key store fault's reason; "java-missing" for any other
// failure of the first run.
const char* KeyStoreFaultReason(int exitCode) {
    switch (exitCode) {
    case kStoreUnreadable:
        return "keystore-unreadable";
    case kStorePassword:
        return "storepass-wrong";
    case kNoSuchAlias:
        return "alias-missing";
    case kKeyPassword:
        return "keypass-wrong";
    default:
        return "java-missing";
    }
}

// The message of a failed tool run: its own text, then what the tool said.
std::string WithToolOutput(std::string text, const RunOutput& run) {
    if (run.exitCode != -1 && !run.output.empty())
        text += "\r\n\r\n" + OutputForMessage(TranslatedToolOutput(run.output));
    return text;
}

// The descriptor of an unsigned suite: the first descriptor without its
// closing empty line, then the permission line, as a signed one ends.
void AddPermissionsUnsigned(const JavaRun& run) {
    StepOverMissing([&] {
        if (!run.permissions)
            return;
        std::string text = ReadWholeFile(run.paths.descriptor);
        while (text.size() >= 4 && text.compare(text.size() - 4, 4, "\r\n\r\n") == 0)
            text.resize(text.size() - 2);
        WriteFileReplacing(run.paths.descriptor, text + *run.permissions);
    });
}

} // namespace

std::string RefusalText(const std::string& heading, const CheckReport& report) {
    std::string text = Tr(heading);
    for (const Finding& f : report.findings)
        if (f.code != InstallerStatus::None)
            text += "\r\n" + std::to_string(Number(f.code)) + " " + Tr(Meaning(f.code)) + " (" + f.text + ")";
    return text;
}

std::string AddCertCommandLine(const Context& ctx, const JavaPaths& paths) {
    return JadToolStart(ctx) + " -addcert -alias " + CommandLineArgument(ReadJava(ctx, "alias1")) +
           " -keystore " + QuotedArgument(ReadJava(ctx, "keystore")) + " -storepass " +
           CommandLineArgument(ReadJava(ctx, "storepass")) + " -inputjad " +
           QuotedArgument(paths.descriptor) + " -outputjad " +
           QuotedArgument(paths.packageFolder + kTempJadName);
}

std::string AddJarSigCommandLine(const Context& ctx, const JavaPaths& paths) {
    return JadToolStart(ctx) + " -addjarsig -alias " + CommandLineArgument(ReadJava(ctx, "alias2")) +
           " -keystore " + QuotedArgument(ReadJava(ctx, "keystore")) + " -storepass " +
           CommandLineArgument(ReadJava(ctx, "storepass")) + " -keypass " +
           CommandLineArgument(ReadJava(ctx, "keypass")) + " -inputjad " +
           QuotedArgument(paths.packageFolder + kTempJadName) + " -outputjad " +
           QuotedArgument(paths.descriptor) + " -jarfile " + QuotedArgument(paths.archive);
}

std::optional<std::string> PermissionAppendix(const Context& ctx, const std::string& manifestPermissionText) {
    switch (ctx.permissions.Mode()) {
    case PermissionMode::Neither:
        return std::nullopt;
    case PermissionMode::User: {
        const std::string line = BuildPermissionsLine(ctx.permissions);
        // With no group granted there is nothing to ask for: no line at all.
        if (line.size() > kPermissionsPrefix.size())
            return line.substr(0, line.size() - 2) + "\r\n";
        return std::string();
    }
    case PermissionMode::Automatic:
        break;
    }
    return manifestPermissionText + "\r\n";
}

std::optional<JobFailure> SignJavaPackage(Context& ctx, const JavaRun& run) {
    if (ctx.unsignedSuite) {
        AddPermissionsUnsigned(run);
        return std::nullopt;
    }
    const JavaPaths& p = run.paths;
    const std::string tempJad = p.packageFolder + kTempJadName;

    // A temp.jad left by an interrupted run must never pass for this run's.
    StepOverMissing([&] { RemoveFile(tempJad); });

    const RunOutput first = RunTool(ctx, AddCertCommandLine(ctx, p));
    // A run that failed or was killed may have left part of its file behind;
    // that part must not be signed as if it were a descriptor.
    if (first.exitCode != 0)
        StepOverMissing([&] { RemoveFile(tempJad); });
    if (!FileExist(tempJad)) {
        ClearWorkDir(run.workDir);
        const std::optional<std::string> fault = KeyStoreFaultText(ctx, first.exitCode, "alias1");
        return JobFailure{WithToolOutput(fault ? *fault : Tr(kMissingJava), first), MessageIcon::Information,
                          kExitFailure, KeyStoreFaultReason(first.exitCode)};
    }

    // The first stage's descriptor, to put back should the signing run fail
    // after touching it.
    std::string firstStage;
    StepOverMissing([&] { firstStage = ReadWholeFile(p.descriptor); });

    const RunOutput second = RunTool(ctx, AddJarSigCommandLine(ctx, p));
    if (second.exitCode != 0) {
        StepOverMissing([&] {
            if (ReadWholeFile(p.descriptor) != firstStage)
                WriteFileReplacing(p.descriptor, firstStage);
        });
        StepOverMissing([&] { RemoveFile(tempJad); });
        if (const std::optional<std::string> fault = KeyStoreFaultText(ctx, second.exitCode, "alias2"))
            return JobFailure{WithToolOutput(*fault, second), MessageIcon::Information, kExitFailure,
                              KeyStoreFaultReason(second.exitCode)};
        std::string text = Tr("Не удалось подписать jar файл: JAD-инструмент завершился с ошибкой");
        text += second.exitCode == -1 ? std::string(Tr(" (не запущен)."))
                                      : TrFormat(" (код {1}).", {std::to_string(second.exitCode)});
        return JobFailure{WithToolOutput(text, second), MessageIcon::Stop, kExitFailure, "jad-tool-failed"};
    }

    StepOverMissing([&] {
        const std::optional<std::string>& permissions = run.permissions;
        if (permissions)
            WriteFileReplacing(p.descriptor, WithCrLf(ReadWholeFile(p.descriptor)) + *permissions);
    });
    StepOverMissing([&] { RemoveFile(tempJad); });
    return std::nullopt;
}

std::optional<JobFailure> CheckSignedSuite(UserInterface& ui, const JavaPaths& paths,
                                           const std::vector<std::string>& damagedEntries,
                                           std::string* jarSha1) {
    const CheckReport report = CheckJavaSuite(paths.descriptor, paths.archive, damagedEntries);
    if (jarSha1)
        *jarSha1 = report.jarSha1;
    if (report.Refused())
        return JobFailure{RefusalText("Подписанный набор не будет установлен на телефон:", report),
                          MessageIcon::Stop, kExitFailure, "phone-refuses-suite",
                          Number(report.FirstRefusal())};
    for (const Finding& note : report.findings) {
        if (note.text == report.rootNote)
            ui.RootNote(paths.fileName, note.text);
        else
            ui.Note(paths.fileName + ": " + note.text);
    }
    return std::nullopt;
}

} // namespace jarseal
