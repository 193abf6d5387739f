#pragma once

#include "common/Context.h"

namespace jarseal {

// Gives a user of a read-only program folder what a new portable program
// folder comes with: a settings file holding the Java signing values of the
// default key store and the Symbian ones, that key store, made with the Java
// runtime's keytool as the build makes data/key, and a Symbian certificate
// and key made with openssl. Does nothing for a portable program
// folder; never replaces a settings file or key store that is there. A
// missing keytool leaves the key store missing: the Java job then reports
// the missing Java installation.
void PrepareUserFolders(Context& ctx);

} // namespace jarseal
