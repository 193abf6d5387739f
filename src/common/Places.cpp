#include "common/Places.h"

#include "common/Errors.h"
#include "common/FileSystem.h"
#include "common/Translate.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace jarseal {

namespace {

// $NAME when it is an absolute path, else $HOME followed by fallback.
std::string BaseDirectory(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] == '/')
        return value;
    const char* home = std::getenv("HOME");
    std::string base = home != nullptr && home[0] == '/' ? home : "";
    if (base.empty()) {
        if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr)
            base = pw->pw_dir;
    }
    return base + fallback;
}

// Makes the folder and the folders on its way; the last one only for this
// user. Throws RunError naming the folder when it cannot be had.
void MakeFolders(const std::string& path, const char* purpose) {
    for (std::size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos == path.size() || path[pos] == kSep)
            ::mkdir(path.substr(0, pos).c_str(), pos == path.size() ? 0700 : 0755);
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || ::access(path.c_str(), W_OK | X_OK) != 0)
        ThrowSystemError(errno == 0 ? EACCES : errno, std::string("make the folder for ") + purpose + " at",
                         path);
}

// True when this user may change the program folder's settings file, or
// make it: the program folder is then a portable one.
bool SettingsWritable(const std::string& settingsFile, const std::string& programFolder) {
    if (::access(settingsFile.c_str(), W_OK) == 0)
        return true;
    return errno == ENOENT && ::access(programFolder.c_str(), W_OK | X_OK) == 0;
}

// Removes the ordinary files of a folder, then the folder.
void RemoveFolder(const std::string& path) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(path.c_str()), ::closedir);
    if (dir) {
        std::vector<std::string> names;
        while (const dirent* entry = ::readdir(dir.get())) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        for (const auto& name : names)
            ::unlink((path + kSep + name).c_str());
    }
    ::rmdir(path.c_str());
}

// A run's private working folder: its name's beginning, and the file in it
// that the run holds locked for as long as it lives.
const char* const kWorkFolderPrefix = "jarseal-";
const char* const kHeldName = ".held";

// Removes the private working folders of this user's runs that ended
// without clearing up (killed, or the power gone): those whose held file
// nobody holds any more. A folder a starting run has just made, before it
// holds its file, has none yet and stays.
void RemoveLeftWorkFolders(const std::string& tmpFolder) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(tmpFolder.c_str()), ::closedir);
    if (!dir)
        return;
    std::vector<std::string> left;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name.size() != std::strlen(kWorkFolderPrefix) + 6 || name.rfind(kWorkFolderPrefix, 0) != 0)
            continue;
        const std::string path = tmpFolder + kSep + name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
            continue;
        const int held = ::open((path + kSep + kHeldName).c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        if (held < 0)
            continue;
        if (::flock(held, LOCK_EX | LOCK_NB) == 0)
            left.push_back(path);
        ::close(held);
    }
    for (const auto& path : left)
        RemoveFolder(path);
}

// Where private working folders are made: $TMPDIR when it is an absolute
// path, else /tmp.
std::string TemporaryFolder() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
}

// A settings file that is a link to nothing: written through, it would
// become a file of a few keys and every job would fail for want of the
// rest, so the run stops and names it.
void RefuseDanglingSettingsLink(const std::string& settingsFile) {
    struct stat st {};
    if (::lstat(settingsFile.c_str(), &st) != 0 || !S_ISLNK(st.st_mode) ||
        ::stat(settingsFile.c_str(), &st) == 0)
        return;
    std::vector<char> target(4096);
    const ssize_t n = ::readlink(settingsFile.c_str(), target.data(), target.size() - 1);
    throw RunError(
        kErrFileNotFound,
        TrFormat("the settings file {1} is a link to {2}, which cannot be found; put the file there or "
                 "remove the link",
                 {settingsFile, n > 0 ? std::string(target.data(), static_cast<std::size_t>(n)) : "?"}));
}

} // namespace

Places PortablePlaces(const std::string& programFolder) {
    Places p;
    p.programFolder = programFolder;
    p.settingsFile = programFolder + kSep + "Jarseal.ini";
    p.defaultKeystore = programFolder + kSep + "data" + kSep + "key";
    p.workDir = programFolder + kSep + "data" + kSep + "temp";
    p.lockFolder = programFolder + kSep + "data";
    return p;
}

RunPlaces::RunPlaces(const std::string& programFolder) : places_(PortablePlaces(programFolder)) {
    if (SettingsWritable(places_.settingsFile, programFolder)) {
        RefuseDanglingSettingsLink(places_.settingsFile);
        // A portable folder keeps its own settings even without its working
        // folder, which is made again.
        ::mkdir(places_.lockFolder.c_str(), 0755);
        MakeFolders(places_.workDir, "unpacking");
        return;
    }
    places_.userFolders = true;
    const std::string config = BaseDirectory("XDG_CONFIG_HOME", "/.config") + kSep + "jarseal";
    const std::string data = BaseDirectory("XDG_DATA_HOME", "/.local/share") + kSep + "jarseal";
    MakeFolders(config, "the settings");
    MakeFolders(data, "the key store");
    places_.settingsFile = config + kSep + "Jarseal.ini";
    RefuseDanglingSettingsLink(places_.settingsFile);
    places_.defaultKeystore = data + kSep + "key";
    places_.lockFolder = data;
    RemoveLeftWorkFolders(TemporaryFolder());
    private_.emplace();
    if (!private_->Path().empty())
        places_.workDir = private_->Path();
    else {
        private_.reset();
        places_.workDir = data + kSep + "temp"; // no temporary folder to be had: one of the user's own
        MakeFolders(places_.workDir, "unpacking");
    }
}

RunPlaces::~RunPlaces() = default;

void RemoveLeftWorkFolders() {
    RemoveLeftWorkFolders(TemporaryFolder());
}

WorkFolder::WorkFolder() {
    std::string pattern = TemporaryFolder() + kSep + kWorkFolderPrefix + "XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        return;
    path_ = pattern; // mkdtemp makes it with mode 0700
    held_ = ::open((pattern + kSep + kHeldName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (held_ >= 0)
        ::flock(held_, LOCK_EX);
}

WorkFolder::~WorkFolder() {
    if (!path_.empty())
        RemoveFolder(path_);
    if (held_ >= 0)
        ::close(held_);
}

} // namespace jarseal
