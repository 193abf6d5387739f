// jarseal: the window. A package named on the command line is processed
// before the window is shown, and the program then ends after the run.
#include "app/Intake.h"
#include "app/StartUp.h"
#include "app/qt/MinimalWindow.h"
#include "app/qt/QtUi.h"
#include "common/FileSystem.h"
#include "settings/IniSettings.h"
#include "settings/PermissionPreferences.h"

#include <QApplication>

int main(int argc, char** argv) {
    using namespace jarseal;
    const std::string commandLine = CommandLineText(argc, argv);
    QApplication app(argc, argv);
    InstallRussianTranslation();

    QtUi ui;
    const std::string programFolder = ExecutableFolder();
    IniSettings settings(programFolder);
    PermissionPreferences permissions(settings);
    Context ctx{ui, settings, permissions, programFolder, commandLine};
    MinimalWindow window(ctx);
    ui.SetParent(&window);
    try {
        StartUp(ctx, permissions, {{}, [&] { window.show(); }});
    } catch (const ProgramExit& exit) {
        return exit.status;
    }
    return QApplication::exec();
}
