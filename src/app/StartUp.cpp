#include "app/StartUp.h"

#include "app/Intake.h"
#include "common/Errors.h"
#include "common/FileSystem.h"
#include "settings/PathChoosers.h"

#include <cmath>
#include <cstdlib>

namespace jarseal {

namespace {

// Runs one step; any failure abandons just that step. ProgramExit is no
// std::exception and so passes through.
template <class Step> void Guarded(Step&& step) {
    try {
        step();
    } catch (const std::exception&) {
    }
}

} // namespace

bool FirstRunSetUpNeeded(const std::string& firstRun) {
    // A number is an optional sign, digits with an optional fraction and
    // exponent, nothing else (the settings layer has already removed blanks
    // at its ends).
    const char* begin = firstRun.c_str();
    char* end = nullptr;
    const double value = std::strtod(begin, &end);
    const bool number = !firstRun.empty() && end == begin + firstRun.size() && std::isfinite(value) &&
                        firstRun.find_first_of("xXnN") == std::string::npos; // no hex, inf or nan
    return !number || value == 1.0;
}

void StartUp(Context& ctx, PermissionPreferences& preferences, const StartUpHooks& hooks) {
    const std::string keystore = ctx.Where().defaultKeystore;

    Guarded([&] {
        const std::string firstRun = ctx.settings.Read("Jarseal", "FirstRun");
        if (FirstRunSetUpNeeded(firstRun)) {
            // A settings file that never went through a first run but names a
            // key store that is there was written by the user: it stays.
            const std::string usersKeystore = ctx.settings.Read("Java", "keystore");
            const bool keep = firstRun.empty() && !usersKeystore.empty() && FileExist(usersKeystore);
            ctx.settings.Write("Jarseal", "FirstRun", "0");
            if (!keep)
                ctx.settings.Write("Java", "keystore", keystore);
            ctx.settings.Write("Jarseal", "AppPath", ctx.programFolder);
        }
    });

    Guarded([&] {
        if (ctx.settings.Read("Jarseal", "AppPath") == ctx.programFolder)
            return;
        const Answer useDefault = ctx.ui.AskYesNo("Изменено место положения программы\r\n"
                                                  "Значение kestore возможно было потерянно\r\n"
                                                  "Назачить по умолчанию?",
                                                  MessageIcon::None);
        if (useDefault == Answer::Yes) {
            ctx.settings.Write("Java", "keystore", keystore);
        } else if (ctx.ui.AskYesNo("Выбрать keystore самостоятельно?\r\n"
                                   "Если нет, то останется прошлое значение.",
                                   MessageIcon::None) == Answer::Yes) {
            if (hooks.chooseKeystore)
                hooks.chooseKeystore();
            else
                ChoosePath(ctx, PathSetting::Keystore);
        }
        ctx.settings.Write("Jarseal", "AppPath", ctx.programFolder);
    });

    Guarded([&] {
        if (hooks.loadPermissionPreferences)
            preferences.LoadPermissionSettings();
    });
    Guarded([&] { OpenCommandLinePackage(ctx); });
    Guarded([&] {
        if (hooks.loadSettingsView)
            hooks.loadSettingsView();
    });
}

} // namespace jarseal
