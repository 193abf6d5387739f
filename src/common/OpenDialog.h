#pragma once

#include "common/UserInterface.h"

#include <string>
#include <vector>

namespace jarseal {

// The longest path the open-file dialog hands back; a longer choice does not
// fit its name buffer and counts as a cancel.
inline constexpr std::size_t kOpenDialogMaxPath = 254;

// Writes (description, pattern) pairs in the platform's filter form: every
// description and every pattern followed by one NUL character.
std::string MakeFilterText(const std::vector<FileFilter>& pairs);
// Reads that form back into pairs; an incomplete last pair is dropped.
std::vector<FileFilter> ParseFilterText(const std::string& filter);

// Shows the modal open-file dialog with the title and the filter (platform
// form); returns the chosen path, or the empty text on cancel or failure.
std::string ShowOpenDialog(UserInterface& ui, const std::string& title, const std::string& filter);

} // namespace jarseal
