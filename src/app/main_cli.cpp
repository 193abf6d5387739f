// jarseal-cli: processes the package named on the command line without a
// window; messages go to standard error, the exit status tells the outcome.
#include "app/ConsoleUi.h"
#include "app/Intake.h"
#include "app/StartUp.h"
#include "common/FileSystem.h"
#include "settings/IniSettings.h"
#include "settings/PermissionPreferences.h"

#include <cstdio>

int main(int argc, char** argv) {
    using namespace jarseal;
    ConsoleUi ui;
    const std::string programFolder = ExecutableFolder();
    IniSettings settings(programFolder);
    PermissionPreferences permissions(settings);
    Context ctx{ui, settings, permissions, programFolder, CommandLineText(argc, argv)};
    if (ctx.commandLine.empty()) {
        std::fprintf(stderr,
                     "Usage: jarseal-cli PACKAGE\n"
                     "  PACKAGE  a .jar or .jad (Java ME suite) or a .sis or .sisx (Symbian package)\n");
        return kExitFailure;
    }
    try {
        // The start-up steps that need no window: first-run set-up, the
        // relocation check (answered by the console), the permission
        // preferences, then the package.
        StartUp(ctx, permissions, {});
    } catch (const ProgramExit& exit) {
        return exit.status;
    }
    // Every run and every refusal ends the program; only a command line that
    // names no package at all gets here.
    std::fprintf(stderr, "Jarseal: no package named on the command line\n");
    return kExitFailure;
}
