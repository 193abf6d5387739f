#pragma once

#include "common/Context.h"
#include "settings/PermissionPreferences.h"

#include <functional>
#include <string>

namespace jarseal {

// What the window adds to start-up; the console leaves both empty.
struct StartUpHooks {
    // Runs the key store chooser (the window also refreshes its label);
    // when empty, the chooser runs without a label to refresh.
    std::function<void()> chooseKeystore;
    // Lays out, shows and fills the window; the last step.
    std::function<void()> loadSettingsView;
    // Off when a run chooses its permissions itself: the stored preferences
    // are then neither loaded nor written back.
    bool loadPermissionPreferences = true;
};

// True when the stored "FirstRun" text asks for the first-run set-up: it is
// the number 1, or not a number at all (absent, empty, "abc").
bool FirstRunSetUpNeeded(const std::string& firstRun);

// Start-up, in its order: first-run set-up, the relocation check with its two
// questions, loading the permission preferences, a package named on the
// command line, and the window. A step that fails is abandoned and start-up
// goes on with the next; ending the program passes through.
void StartUp(Context& ctx, PermissionPreferences& preferences, const StartUpHooks& hooks);

} // namespace jarseal
