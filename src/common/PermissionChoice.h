#pragma once

#include <cstddef>

namespace jarseal {

// Which permission line the Java job writes after signing.
enum class PermissionMode {
    User,      // the line composed from the granted groups
    Automatic, // the permission lines of the suite's own manifest
    Neither,   // the descriptor is left as the JAD tool wrote it
};

// Box states of a permission group: 0 unchecked, 1 checked, 2 greyed.
inline constexpr int kBoxUnchecked = 0;
inline constexpr int kBoxChecked = 1;
inline constexpr int kBoxGreyed = 2;

inline constexpr std::size_t kPermissionGroupCount = 14;

// The user's permission choice as the permission page shows it right now.
class PermissionChoice {
  public:
    virtual ~PermissionChoice() = default;
    virtual PermissionMode Mode() const = 0;
    // State of the group at catalogue position index (0 to 13).
    virtual int BoxState(std::size_t index) const = 0;
};

} // namespace jarseal
