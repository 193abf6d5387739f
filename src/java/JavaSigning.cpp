#include "java/JavaSigning.h"

#include "common/ErrorPolicy.h"
#include "common/FileSystem.h"
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

} // namespace

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

void SignJavaPackage(Context& ctx, const JavaRun& run) {
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
        std::string text = kMissingJava;
        if (first.exitCode != -1 && !first.output.empty())
            text += "\r\n\r\n" + OutputForMessage(first.output);
        ctx.ui.ShowMessage(text, MessageIcon::Information);
        ClearWorkDir(run.workDir);
        ctx.EndIfStartedWithArgument(kExitFailure);
        return;
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
        std::string text = "Не удалось подписать jar файл: JAD-инструмент завершился с ошибкой";
        text += second.exitCode == -1 ? std::string(" (не запущен).")
                                      : " (код " + std::to_string(second.exitCode) + ").";
        if (!second.output.empty())
            text += "\r\n\r\n" + OutputForMessage(second.output);
        ctx.ui.ShowMessage(text, MessageIcon::Stop);
        ctx.EndIfStartedWithArgument(kExitFailure);
        return;
    }

    StepOverMissing([&] {
        const PermissionMode mode = ctx.permissions.Mode();
        if (mode == PermissionMode::Neither)
            return;
        const std::string signedText = WithCrLf(ReadWholeFile(p.descriptor));
        std::string permissions;
        if (mode == PermissionMode::User) {
            const std::string line = BuildPermissionsLine(ctx.permissions);
            // With no group granted there is nothing to ask for: no line at all.
            if (line.size() > kPermissionsPrefix.size())
                permissions = line.substr(0, line.size() - 2) + "\r\n";
        } else {
            permissions = run.permissionText + "\r\n";
        }
        WriteFileReplacing(p.descriptor, signedText + permissions);
    });

    StepOverMissing([&] { RemoveFile(tempJad); });
    ctx.ui.ShowMessage("Готово!", MessageIcon::None);
    ctx.EndIfStartedWithArgument(kExitSuccess);
}

} // namespace jarseal
