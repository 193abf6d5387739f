#include "symbian/SymbianPackage.h"

#include "check/SuiteCheck.h"
#include "common/ErrorPolicy.h"
#include "common/FileSystem.h"
#include "common/RunLock.h"
#include "process/Quoting.h"
#include "process/RunAndWait.h"
#include "process/ToolOutput.h"

#include <algorithm>

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

} // namespace

std::string SignSisCommandLine(const Context& ctx, const std::string& path) {
    const std::string passphrase = ReadSymbian(ctx, "passphrase");
    return ProgramName(SignSisProgram(ctx)) + " " + QuotedArgument(path) + " " + QuotedArgument(path) + " " +
           QuotedArgument(ReadSymbian(ctx, "certificate")) + " " + QuotedArgument(ReadSymbian(ctx, "key")) +
           " " + (passphrase.empty() ? std::string() : CommandLineArgument(passphrase));
}

void SignSymbianPackage(Context& ctx, const std::string& path) {
    RunWithFailurePolicy(ctx.ui, [&] {
        // The package is rewritten in place: no other run may touch it meanwhile.
        const RunLock lock(ctx.Where().lockFolder, FolderOf(path), [&] { ctx.ui.NoteWaitingForOtherRun(); });
        const std::string backup = path + ".original";
        StepOverMissing([&] {
            if (!FileExist(backup))
                CopyWholeFile(path, backup);
        });

        const RunOutput run = RunAndWaitCapture(SignSisCommandLine(ctx, path));
        if (run.exitCode != 0) {
            std::string text = run.exitCode == -1
                                   ? "Не удалось запустить программу подписи sis файлов.\r\n"
                                     "Проверьте настройку SignSIS."
                                   : "Программа подписи sis файлов завершилась с ошибкой (код " +
                                         std::to_string(run.exitCode) + ").\r\nФайл не подписан.";
            if (!run.output.empty())
                text += "\r\n\r\n" + OutputForMessage(run.output);
            ctx.ui.ShowMessage(text, MessageIcon::Stop);
            ctx.EndIfStartedWithArgument(kExitFailure);
            return;
        }
        // A package a phone would refuse is no success, whatever the tool said.
        const CheckReport report = CheckPackageOtherThanJava(path);
        if (report.Refused()) {
            std::string text = "Подписанный пакет не будет установлен на телефон:";
            for (const Finding& f : report.findings)
                if (f.code != 0)
                    text += "\r\n" + f.text;
            ctx.ui.ShowMessage(text, MessageIcon::Stop);
            ctx.EndIfStartedWithArgument(kExitFailure);
            return;
        }
        const auto chains = std::count_if(report.findings.begin(), report.findings.end(),
                                          [](const Finding& f) { return f.text.rfind("Chain ", 0) == 0; });
        std::string text = "Готово";
        if (chains > 1)
            text +=
                "\r\nПакет был подписан раньше: теперь в нём цепочек подписей: " + std::to_string(chains) +
                ".";
        ctx.ui.ShowMessage(text, MessageIcon::None);
        ctx.EndIfStartedWithArgument(kExitSuccess);
    });
}

} // namespace jarseal
