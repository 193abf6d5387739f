#include "common/Errors.h"
#include "common/Translate.h"

#include <cerrno>
#include <cstring>

namespace jarseal {

int ErrorNumberFromErrno(int err) {
    switch (err) {
    case ENOENT:
        return kErrFileNotFound;
    case ENOTDIR:
        return kErrPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
        return kErrPermissionDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return kErrDiskFull;
    case ENAMETOOLONG:
    case EINVAL:
        return kErrBadFileName;
    default:
        return kErrAccess;
    }
}

void ThrowSystemError(int err, const std::string& what, const std::string& path) {
    throw RunError(ErrorNumberFromErrno(err), Tr(what) + " " + path + ": " + Tr(std::strerror(err)));
}

std::string UnforeseenFailureText(int number) {
    return TrFormat("Неизвестая ошибка.\r\nСообщите разработчику.\r\nОшибка№: {1}", {std::to_string(number)});
}

} // namespace jarseal
