#pragma once

#include <functional>
#include <sys/resource.h>

namespace jarseal::test {

// How a forked child runs the body.
struct ChildLimits {
    bool unprivileged = false;            // drop to user and group "nobody" (65534) when root
    rlim_t fileSizeLimit = RLIM_INFINITY; // writes past this many bytes fail with EFBIG
};

// Runs body in a forked child and returns the number it returned (0 to 255),
// or -1 when the child ended abnormally. The child's failures cannot disturb
// this process: it ends with _exit, so no test state leaks back.
int RunInChild(const std::function<int()>& body, const ChildLimits& limits = {});

} // namespace jarseal::test
