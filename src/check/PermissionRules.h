#pragma once

// 910: the permissions a suite asks for, as a phone's installer grants them.

#include "check/Attributes.h"

#include <string>

namespace jarseal {

// The permission names a MIDP 2.0 phone knows (the standard ones and those of
// the common optional packages).
bool KnownPermissionName(const std::string& name);

namespace check {

// The permission names of MIDlet-Permissions (an unknown one refuses the
// suite) and MIDlet-Permissions-Opt (an unknown one is dropped), found in
// attrs; where starts each finding ("descriptor: ").
void CheckPermissions(const Attributes& attrs, const std::string& where, CheckReport& report);

} // namespace check

} // namespace jarseal
