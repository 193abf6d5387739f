// jarseal: the window. A package named on the command line is processed
// before the window is shown, and the program then ends after the run.
// --version, --help and -h, each as the only argument, print their text and
// end before anything needs a display or the settings.
#include "app/Batch.h"
#include "app/Intake.h"
#include "app/StartUp.h"
#include "app/UserFolders.h"
#include "app/qt/Form1.h"
#include "app/qt/QtUi.h"
#include "common/Errors.h"
#include "common/FileSystem.h"
#include "settings/IniSettings.h"
#include "settings/PermissionPreferences.h"

#include <QApplication>
#include <cstdio>
#include <optional>

int main(int argc, char** argv) {
    using namespace jarseal;
    if (const auto info = WindowInfoText(argc, argv)) {
        std::fputs(info->c_str(), stdout);
        return kExitSuccess;
    }
    const std::string commandLine = CommandLineText(argc, argv);
    QApplication app(argc, argv);
    InstallRussianTranslation();

    QtUi ui;
    const std::string programFolder = ExecutableFolder();
    std::optional<RunPlaces> placesOfRun;
    try {
        placesOfRun.emplace(programFolder);
    } catch (const RunError& e) {
        ui.ShowMessage(std::string("Jarseal не может начать работу: ") + e.what(), MessageIcon::Stop, "Jarseal");
        return kExitFailure;
    }
    const RunPlaces& places = *placesOfRun;
    IniSettings settings(places.Get().settingsFile);
    PermissionPreferences permissions(settings);
    Context ctx{ui, settings, permissions, programFolder, commandLine, nullptr, places.Get()};
    try {
        PrepareUserFolders(ctx);
    } catch (const RunError& e) {
        ui.ShowMessage(std::string("Jarseal не может начать работу: ") + e.what(), MessageIcon::Stop, "Jarseal");
        return kExitFailure;
    }
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
