// A stand-in for a file system without permissions (vfat, exFAT mounted
// without them), preloaded into a program: every chmod fails with EPERM.
#include <cerrno>
#include <sys/stat.h>

extern "C" {

int chmod(const char*, mode_t) {
    errno = EPERM;
    return -1;
}

int fchmod(int, mode_t) {
    errno = EPERM;
    return -1;
}

int fchmodat(int, const char*, mode_t, int) {
    errno = EPERM;
    return -1;
}
}
