#pragma once

#include "common/Context.h"

#include <string>

namespace jarseal {

// The settings that hold a path chosen in the open-file dialog.
enum class PathSetting { Keystore, SignSis, Certificate, Key };

// What a path chooser shows and where it stores the choice.
struct PathChooser {
    const char* title;
    const char* filterDescription;
    const char* filterPattern;
    const char* section;
    const char* key;
};
const PathChooser& PathChooserFor(PathSetting setting);

// Shows the open-file dialog for the setting; a chosen path is stored at
// once, a cancelled dialog stores nothing. Returns the value the settings
// file holds afterwards, for the label that shows it.
std::string ChoosePath(Context& ctx, PathSetting setting);


} // namespace jarseal
