#pragma once

#include <stdexcept>
#include <string>

namespace jarseal {

// Failure numbers shown after "Ошибка№: ". The numbers follow the classic
// BASIC run-time error numbers that users and older notes know:
//   5  invalid procedure call (a path without a folder separator)
//  52  bad file name (a name too long or otherwise unusable)
//  53  file not found (stepped over by the pipelines)
//  61  disk full (or quota exceeded)
//  70  permission denied (also a read-only file system)
//  75  path/file access error (anything else the system reports)
//  76  path not found (a folder on the way is missing or not a folder)
inline constexpr int kErrInvalidCall = 5;
inline constexpr int kErrBadFileName = 52;
inline constexpr int kErrFileNotFound = 53;
inline constexpr int kErrDiskFull = 61;
inline constexpr int kErrPermissionDenied = 70;
inline constexpr int kErrAccess = 75;
inline constexpr int kErrPathNotFound = 76;

// A failure of a step, carrying its number and a description.
class RunError : public std::runtime_error {
  public:
    RunError(int number, const std::string& description, std::string source = {})
        : std::runtime_error(description), number_(number), source_(std::move(source)) {}
    int Number() const { return number_; }
    const std::string& Source() const { return source_; }

  private:
    int number_;
    std::string source_;
};

// Maps a system error (errno value) to the failure number shown to the user.
int ErrorNumberFromErrno(int err);

// Throws RunError for the errno value, naming the operation and the path.
[[noreturn]] void ThrowSystemError(int err, const std::string& what, const std::string& path);

// The text of the unforeseen-failure message for a failure number.
std::string UnforeseenFailureText(int number);

} // namespace jarseal
