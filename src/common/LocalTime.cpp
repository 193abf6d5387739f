#include "common/LocalTime.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

extern char** environ;

namespace jarseal {

namespace {

bool pinned = false;

} // namespace

void PinLocalTimeZone() {
    if (pinned || std::getenv("TZ") != nullptr)
        return;
    if (::setenv("TZ", ":/etc/localtime", 0) == 0) {
        pinned = true;
        ::tzset();
    }
}

char** ChildEnvironment() {
    if (!pinned)
        return environ;
    // One per thread: workers starting tools at once each fill their own.
    thread_local std::vector<char*> without;
    without.clear();
    for (char** e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, "TZ=", 3) != 0)
            without.push_back(*e);
    without.push_back(nullptr);
    return without.data();
}

} // namespace jarseal
