#include "settings/PermissionPreferences.h"

#include "java/PermissionCatalogue.h"

#include <string>

namespace jarseal {

namespace {

constexpr const char* kByUserKey = "byuser";

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool EqualsIgnoringCase(std::string_view text, std::string_view word) {
    if (text.size() != word.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != word[i])
            return false;
    }
    return true;
}

} // namespace

// Truth texts: after dropping blanks and tabs at the ends, "true" or "false"
// in any letter case, or a decimal number: an optional sign, digits, and an
// optional decimal point with more digits ("1", "-1", "+0", "0.0", "2.5",
// ".5", "5."); at least one digit. The number is false when every digit is
// zero. Exponents, hexadecimal forms, thousands separators, words such as
// "yes" and the empty text are not truth texts.
std::optional<bool> ParseTruthText(std::string_view text) {
    text = TrimBlanks(text);
    if (EqualsIgnoringCase(text, "true"))
        return true;
    if (EqualsIgnoringCase(text, "false"))
        return false;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    bool anyDigit = false;
    bool nonZero = false;
    bool point = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (IsDigit(c)) {
            anyDigit = true;
            nonZero = nonZero || c != '0';
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return std::nullopt;
        }
    }
    if (!anyDigit)
        return std::nullopt;
    return nonZero;
}

// Box states: after dropping blanks and tabs at the ends, decimal digits
// only, with a value from 0 to 2 ("0", "1", "2", also "01"). No sign, no
// decimal point ("1.0" is refused), no exponent; anything else, the empty
// text included, is not a state.
std::optional<int> ParseBoxStateText(std::string_view text) {
    text = TrimBlanks(text);
    if (text.empty())
        return std::nullopt;
    int value = 0;
    for (const char c : text) {
        if (!IsDigit(c))
            return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > kBoxGreyed)
            return std::nullopt;
    }
    return value;
}

const std::array<std::size_t, kPermissionGroupCount> PermissionPreferences::kLoadOrder = {
    0, 1, 2, 3, 4, 5, 6, 7, 10, 11, 8, 9, 12, 13};

PermissionPreferences::PermissionPreferences(SettingsAccess& settings) : settings_(settings) {}

PermissionMode PermissionPreferences::Mode() const {
    return userSelected_ ? PermissionMode::User : PermissionMode::Automatic;
}

int PermissionPreferences::BoxState(std::size_t index) const {
    return index < boxes_.size() ? boxes_[index] : kBoxUnchecked;
}

bool PermissionPreferences::PanelEnabled(int frameIndex) const {
    if (frameIndex < kFirstPermissionPanel || frameIndex > kLastPermissionPanel)
        return false;
    return panelsEnabled_[static_cast<std::size_t>(frameIndex - kFirstPermissionPanel)];
}

bool PermissionPreferences::ClickBox(std::size_t index, int newState) {
    if (index >= boxes_.size() || newState < kBoxUnchecked || newState > kBoxGreyed ||
        !PanelEnabled(PermissionSet[index].panelIndex))
        return false;
    boxes_[index] = newState;
    StoreBox(index);
    Notify();
    return true;
}

void PermissionPreferences::ClickAutomatic() {
    userSelected_ = false;
    settings_.Write(std::string(kPermissionsSection), kByUserKey, "False");
    SetPanels(false);
    Notify();
}

void PermissionPreferences::ClickUser() {
    userSelected_ = true;
    settings_.Write(std::string(kPermissionsSection), kByUserKey, "True");
    SetPanels(true);
    Notify();
}

void PermissionPreferences::LoadPermissionSettings() {
    loading_ = true; // the clicks of a load notify once, at its end
    LoadStoredState();
    loading_ = false;
    Notify();
}

void PermissionPreferences::LoadStoredState() {
    const std::string section(kPermissionsSection);
    const std::optional<bool> byUser = ParseTruthText(settings_.Read(section, kByUserKey));
    if (!byUser)
        return;
    if (*byUser && !userSelected_)
        ClickUser(); // selecting the option counts as clicking it
    if (!userSelected_)
        SetPanels(false);

    for (const std::size_t index : kLoadOrder) {
        const PermissionGroup& group = PermissionSet[index];
        const std::optional<int> state =
            ParseBoxStateText(settings_.Read(section, std::string(group.keyRead)));
        if (!state)
            return;
        if (*state != boxes_[index]) {
            boxes_[index] = *state; // a change counts as a click on the box
            StoreBox(index);
        }
    }
}

void PermissionPreferences::SetPanels(bool enabled) {
    panelsEnabled_.fill(enabled);
}

void PermissionPreferences::StoreBox(std::size_t index) {
    settings_.Write(std::string(kPermissionsSection), std::string(PermissionSet[index].keyWritten),
                    std::to_string(boxes_[index]));
}

void PermissionPreferences::Notify() {
    if (observer_ && !loading_)
        observer_();
}

} // namespace jarseal
