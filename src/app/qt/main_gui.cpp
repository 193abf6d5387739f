// jarseal: the window. A package named on the command line is processed
// before the window is shown, and the program then ends after the run.
#include "app/Intake.h"
#include "app/StartUp.h"
#include "app/qt/Form1.h"
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
    Form1 window(ctx, permissions);
    ui.SetParent(&window);
    StartUpHooks hooks;
    hooks.chooseKeystore = [&] { window.ChooseKeystore(); };
    hooks.loadSettingsView = [&] { window.LoadSettingsView(); };
    try {
        StartUp(ctx, permissions, hooks);
    } catch (const ProgramExit& exit) {
        return exit.status;
    }
    if (!window.isVisible())
        return kExitSuccess; // nothing left to show: the window never came up
    return QApplication::exec();
}
