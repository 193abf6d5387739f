#pragma once

#include "common/PermissionChoice.h"
#include "common/SettingsAccess.h"

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>

namespace jarseal {

// Reads the stored "byuser" value as a truth value: "True" or "False" in any
// letter case, or a decimal number (zero is false, any other number true).
// nullopt when the text is neither.
std::optional<bool> ParseTruthText(std::string_view text);

// Reads a stored check box state: a whole number from 0 to 2; nullopt for
// anything else.
std::optional<int> ParseBoxStateText(std::string_view text);

// The permission page without its widgets: the mode option, the fourteen
// check boxes (catalogue order, as BoxState indexes them) and the enabled
// state of the five group panels (Frame1 1 to 5). Every click reaction writes
// its key of section "Permissions" at once; LoadPermissionSettings fills the
// page from the file at start-up. A window shows this state and passes its
// clicks here.
class PermissionPreferences : public PermissionChoice {
  public:
    explicit PermissionPreferences(SettingsAccess& settings);

    // User when the user option is selected, otherwise Automatic.
    PermissionMode Mode() const override;
    // State of the box at catalogue position index: 0, 1 or 2 (0 for an
    // index outside the catalogue).
    int BoxState(std::size_t index) const override;

    bool UserSelected() const { return userSelected_; }
    // Whether the group panel with that Frame1 index (1 to 5) is enabled;
    // false for any other index.
    bool PanelEnabled(int frameIndex) const;

    // A click on a check box that leaves it in newState (0 or 1; a greyed
    // box only comes from the file): stores the state under the box's key.
    // Ignored, returning false, for an index outside the catalogue, a state
    // outside 0 to 2 or a box whose panel is disabled.
    bool ClickBox(std::size_t index, int newState);
    // A click on "Создавать автоматически": writes byuser "False" and
    // disables the five group panels; the boxes keep their states.
    void ClickAutomatic();
    // A click on "Назначать следующие:": writes byuser "True" and enables
    // the five group panels.
    void ClickUser();

    // Loads the page from the settings file. Loading stops, silently, at the
    // first key that is absent, empty or not convertible; that control and
    // all later ones keep their state. Selecting the user option and
    // changing a box count as clicks and so write their keys again.
    void LoadPermissionSettings();

    // Called after every change of the page's state (once per load).
    void SetObserver(std::function<void()> observer) { observer_ = std::move(observer); }

    // Catalogue positions in the order LoadPermissionSettings reads them:
    // the catalogue order, except that the two Bluetooth groups come before
    // SMS and MMS.
    static const std::array<std::size_t, kPermissionGroupCount> kLoadOrder;

  private:
    void LoadStoredState();
    void SetPanels(bool enabled);
    void StoreBox(std::size_t index);
    void Notify();

    SettingsAccess& settings_;
    bool userSelected_ = false;
    std::array<int, kPermissionGroupCount> boxes_{};
    std::array<bool, 5> panelsEnabled_{true, true, true, true, true};
    std::function<void()> observer_;
    bool loading_ = false;
};

} // namespace jarseal
