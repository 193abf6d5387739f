#pragma once

namespace jarseal {

// While TZ is unset, the C library looks up /etc/localtime again for every
// conversion to local time, and the zip library converts the time of every
// entry of an archive it opens: 5,000 lookups for a suite of 5,000 entries,
// each time it is opened. Pinning TZ to that same file, once at start, makes
// the library read it once. A TZ the user set is left as it is.
void PinLocalTimeZone();

// The environment for the programs this one starts: the one it was started
// with, without the pinned TZ.
char** ChildEnvironment();

} // namespace jarseal
