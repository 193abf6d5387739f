#pragma once

#include "common/UserInterface.h"

#include <string>
#include <vector>

namespace jarseal {

// The longest path the open-file dialog hands back, in letters (UTF-8 code
// points, not bytes); a longer choice does not fit its name buffer, is told
// to the user and then counts as a cancel.
inline constexpr std::size_t kOpenDialogMaxPath = 254;

// The message for a chosen path longer than kOpenDialogMaxPath.
std::string LongPathMessage(const std::string& path);

// Writes (description, pattern) pairs in the platform's filter form: every
// description and every pattern followed by one NUL character.
std::string MakeFilterText(const std::vector<FileFilter>& pairs);
// Reads that form back into pairs; an incomplete last pair is dropped.
std::vector<FileFilter> ParseFilterText(const std::string& filter);

// Shows the modal open-file dialog with the title and the filter (platform
// form); returns the chosen path, or the empty text on cancel or failure. A
// path too long to hand back gets LongPathMessage and counts as a cancel.
std::string ShowOpenDialog(UserInterface& ui, const std::string& title, const std::string& filter);

} // namespace jarseal
