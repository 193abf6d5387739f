#include "java/PermissionCatalogue.h"

namespace jarseal {

std::size_t PermissionGroupIndex(std::string_view checkBox) {
    for (std::size_t i = 0; i < PermissionSet.size(); ++i)
        if (PermissionSet[i].checkBox == checkBox)
            return i;
    return PermissionSet.size();
}

std::string BuildPermissionsLine(const PermissionChoice& choice) {
    std::string line(kPermissionsPrefix);
    for (std::size_t i = 0; i < PermissionSet.size(); ++i)
        if (choice.BoxState(i) == kBoxChecked)
            line += PermissionSet[i].fragment;
    return line;
}

} // namespace jarseal
