#include "app/Intake.h"

#include "check/SuiteCheck.h"
#include "common/FileSystem.h"
#include "common/OpenDialog.h"
#include "java/JavaPackage.h"
#include "symbian/SisCheck.h"
#include "symbian/SymbianPackage.h"

namespace jarseal {

namespace {

const std::vector<FileFilter> kOpenFilter = {
    {"Java приложения (*.jad; *.jar)", "*.jad; *.jar"},
    {"Symbian приложения (*.sis; *.sisx)", "*.sis; *.sisx"},
    {"Все файлы", "*.*"},
};
const char* const kOpenTitle = "Выберите java приложение";

std::string TrimBlanks(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

} // namespace

std::string PackageExtension(const std::string& path) {
    const auto dot = path.rfind('.');
    return dot == std::string::npos ? std::string() : path.substr(dot);
}

void OpenPackage(Context& ctx, const std::string& path) {
    const std::string ext = PackageExtension(path);
    if (ext == ".jar" || ext == ".jad") {
        ProcessJavaPackage(ctx, path);
    } else if (ext == ".sis" || ext == ".sisx") {
        SignSymbianPackage(ctx, path);
    } else {
        if (ctx.outcome)
            ctx.outcome->reason = "not-a-package";
        ctx.ui.ShowMessage("Только jar, jad\r\nsis или sisx файлы", MessageIcon::Stop);
        ctx.EndIfStartedWithArgument(kExitFailure);
    }
}

CheckReport CheckPackage(const std::string& path) {
    const std::string ext = path.size() > 4 ? path.substr(path.size() - 4) : std::string();
    if (ext != ".jar" && ext != ".jad")
        return CheckPackageOtherThanJava(path);
    const std::string stem = path.substr(0, path.size() - 1);
    if (ext == ".jar" && KindOfPath(stem + "d") == PathKind::Missing)
        return CheckJarOnlySuite(path);
    return CheckJavaSuite(stem + "d", stem + "r");
}

void OpenCommand(Context& ctx) {
    const std::string chosen = ShowOpenDialog(ctx.ui, kOpenTitle, MakeFilterText(kOpenFilter));
    if (!chosen.empty())
        OpenPackage(ctx, chosen);
}

void DropFiles(Context& ctx, const std::vector<std::string>& files) {
    if (!files.empty())
        OpenPackage(ctx, files.front());
}

std::string CommandLineText(int argc, const char* const* argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            text += ' ';
        text += argv[i];
    }
    return text;
}

void OpenCommandLinePackage(Context& ctx) {
    if (ctx.commandLine.empty())
        return;
    const std::string path = TrimBlanks(ctx.commandLine);
    if (path.find('.') == std::string::npos)
        return; // nothing that names a package: start-up goes on
    OpenPackage(ctx, AbsolutePath(path));
}

} // namespace jarseal
