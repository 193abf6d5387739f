#pragma once

#include "common/Context.h"
#include "settings/PathChoosers.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string>

namespace jarseal {

// The passwords and the alias of the default key store.
inline constexpr const char* kDefaultPassword = "52039871";
inline constexpr const char* kDefaultAlias = "jsk";

// The five settings text boxes: 0 storepass, 1 keypass, 2 alias1, 3 alias2
// (section "Java"), 4 passphrase (section "Symbian").
inline constexpr std::size_t kSettingsTextCount = 5;
// The four of them that have an input-box editor in the menu.
inline constexpr std::size_t kInputBoxEditorCount = 4;

struct SettingKey {
    const char* section;
    const char* key;
};

// The key a settings text box edits; index below kSettingsTextCount.
const SettingKey& TextSetting(std::size_t index);

// The index of the label that shows a path setting (5, 10, 11, 12).
int PathLabelIndex(PathSetting setting);

// What the settings view shows right after start-up: the five text boxes
// and the four path labels (each label's tool-tip repeats its caption).
struct SettingsView {
    std::array<std::string, kSettingsTextCount> texts;
    std::string keystore;    // Label 5
    std::string signSis;     // Label 10
    std::string certificate; // Label 11
    std::string key;         // Label 12
};
SettingsView ReadSettingsView(const SettingsAccess& settings);

// The change of a settings text box: its whole text goes to its key at once.
// An index outside the five boxes is ignored.
void StoreSettingsText(SettingsAccess& settings, std::size_t index, const std::string& text);

// The input-box editor of box index (0 to 3): asks for a new value with the
// current one as default. An empty answer changes nothing and gives nullopt;
// otherwise the answer is stored and the value the file now holds returned,
// for the box.
std::optional<std::string> EditSettingWithInputBox(Context& ctx, std::size_t index);

// The values restore-defaults leaves in the file: the four Java boxes and
// the key store label.
struct JavaDefaults {
    std::array<std::string, kInputBoxEditorCount> texts;
    std::string keystore;
};
// Writes the default key store, the two passwords "52039871" and the two
// aliases "jsk" to section "Java", without asking; returns what the file
// holds afterwards. The Symbian settings and the permissions are untouched.
JavaDefaults RestoreJavaDefaults(Context& ctx);

} // namespace jarseal
