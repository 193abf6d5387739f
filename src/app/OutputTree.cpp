#include "app/OutputTree.h"

#include "common/Errors.h"
#include "common/Fd.h"
#include "common/FileSystem.h"
#include "common/Text.h"
#include "common/Translate.h"
#include "common/UserInterface.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace jarseal {

namespace fs = std::filesystem;

namespace {

bool IsJavaName(const std::string& path) {
    return EndsWith(path, ".jar") || EndsWith(path, ".jad");
}

std::string NameOf(const std::string& path) {
    return fs::path(path).filename().string();
}

// The files a package's job signs, by the package's path: a suite's jar and
// descriptor, or the one Symbian package.
std::vector<std::string> FilesOf(const std::string& path) {
    if (!IsJavaName(path))
        return {path};
    const std::string stem = path.substr(0, path.size() - 1);
    return {stem + "r", stem + "d"};
}

// Makes the folder and those above it that are missing; adds each one made
// to made (the outermost first).
void MakeFolders(const fs::path& folder, std::vector<fs::path>& made) {
    std::vector<fs::path> missing;
    std::error_code ec;
    for (fs::path at = folder; !at.empty() && !fs::exists(at, ec); at = at.parent_path()) {
        missing.push_back(at);
        if (at == at.parent_path())
            break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (!fs::create_directory(*it, ec) && ec)
            throw std::runtime_error(
                TrFormat("cannot make the folder {1}: {2}", {it->string(), Tr(ec.message())}));
        made.push_back(*it);
    }
}

// A run's hidden folder in an output folder. While the run lives it holds
// a lock on a file in it; the names it puts in place are listed in kPlacing
// before the first one moves, and kPlaced tells they all are in place.
const char* const kStagingPrefix = ".jarseal-out.";
const char* const kPlacing = ".placing";
const char* const kPlaced = ".placed";
const char* const kStagingLock = ".lock"; // not the folder itself: the job locks its package folder

bool IsThere(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// Undoes what a run killed while putting its files in place left half done:
// each file it moved aside goes back, and each file it put where there was
// none goes, so that the output folder holds the earlier files as a whole.
void PutBackHalfPlaced(const std::string& staging, const std::string& folder) {
    if (!IsThere(staging + "/" + kPlacing) || IsThere(staging + "/" + kPlaced))
        return;
    std::string names;
    try {
        names = ReadWholeFile(staging + "/" + kPlacing);
    } catch (const std::exception&) {
        return;
    }
    for (std::size_t at = 0, end; (end = names.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string name = names.substr(at, end - at);
        if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..")
            continue;
        const std::string old = staging + "/.old-" + name;
        if (IsThere(old))
            ::rename(old.c_str(), (folder + "/" + name).c_str());
        else if (!IsThere(staging + "/" + name))
            ::unlink((folder + "/" + name).c_str());
    }
    FlushFolderOf(folder + "/" + kPlacing);
}

// Removes the hidden folders that runs killed meanwhile left in folder,
// after putting back what they left half placed; a living run's stays.
void RemoveLeftStaging(const std::string& folder) {
    std::error_code ec;
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        if (entry.path().filename().string().rfind(kStagingPrefix, 0) == 0)
            left.push_back(entry.path().string());
    for (const std::string& staging : left) {
        if (!fs::is_directory(fs::symlink_status(staging, ec)))
            continue;
        const Fd lock(::open((staging + "/" + kStagingLock).c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
        if (lock.get() >= 0 ? ::flock(lock.get(), LOCK_EX | LOCK_NB) != 0 : errno != ENOENT)
            continue;
        PutBackHalfPlaced(staging, folder);
        // The dead run's JAD tool may still be finishing its last request
        // into the folder, adding a file while it goes.
        constexpr int kTries = 3;
        for (int i = 0; i < kTries && fs::exists(fs::symlink_status(staging, ec)); ++i)
            fs::remove_all(staging, ec);
    }
}

// Makes this run's hidden folder in folder and locks it (held), after
// removing those killed runs left. The output folder's own lock, held
// meanwhile, keeps another run from taking the new folder for a left one
// before it is locked. Where the file system has no locks, no folder with
// a lock file is taken for a left one.
std::string MakeStaging(const std::string& folder, Fd& held) {
    const Fd outputFolder(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (outputFolder.get() >= 0)
        ::flock(outputFolder.get(), LOCK_EX);
    RemoveLeftStaging(folder);
    std::string pattern = folder + "/" + kStagingPrefix + "XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error(TrFormat("cannot write in {1}: {2}", {folder, Tr(std::strerror(errno))}));
    held.reset(::open((pattern + "/" + kStagingLock).c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (held.get() >= 0)
        ::flock(held.get(), LOCK_EX);
    return pattern;
}

// The signed files, one by one, take the places of their names in folder;
// a file that was there waits in the hidden folder until all are in place,
// and goes back when one cannot be put in place (or, should the run be
// killed meanwhile, when the next run finds the hidden folder).
void PutInPlace(const std::string& staging, const std::string& folder,
                const std::vector<std::string>& names) {
    std::string listed;
    for (const std::string& name : names)
        listed += name + "\n";
    WriteFileReplacing(staging + "/" + kPlacing, listed);
    struct Moved {
        std::string target, old;
    };
    std::vector<Moved> moved;
    auto undo = [&] {
        for (auto it = moved.rbegin(); it != moved.rend(); ++it) {
            ::rename(it->target.c_str(), (staging + "/" + NameOf(it->target)).c_str());
            if (!it->old.empty())
                ::rename(it->old.c_str(), it->target.c_str());
        }
    };
    for (const std::string& name : names) {
        const std::string target = folder + "/" + name;
        const std::string old = staging + "/.old-" + name;
        Moved m{target, ""};
        if (::rename(target.c_str(), old.c_str()) == 0)
            m.old = old;
        else if (errno != ENOENT) {
            const int err = errno;
            undo();
            throw std::runtime_error(TrFormat("cannot replace {1}: {2}", {target, Tr(std::strerror(err))}));
        }
        if (::rename((staging + "/" + name).c_str(), target.c_str()) != 0) {
            const int err = errno;
            if (!m.old.empty())
                ::rename(old.c_str(), target.c_str());
            undo();
            throw std::runtime_error(TrFormat("cannot write {1}: {2}", {target, Tr(std::strerror(err))}));
        }
        moved.push_back(m);
    }
    FlushFolderOf(folder + "/" + names.front());
    WriteFileReplacing(staging + "/" + kPlaced, "");
}

} // namespace

std::string OutputPathOf(const std::string& package, const std::vector<std::string>& givenPaths,
                         const std::string& outDir) {
    const fs::path out = fs::path(AbsolutePath(outDir));
    for (const std::string& given : givenPaths) {
        const std::string path = AbsolutePath(given);
        std::error_code ec;
        if (fs::is_directory(path, ec)) {
            const std::string folder = EndsWith(path, "/") ? path : path + "/";
            if (package.rfind(folder, 0) == 0)
                return (out / package.substr(folder.size())).string();
        } else if (path == package) {
            break;
        }
    }
    return (out / NameOf(package)).string();
}

std::optional<std::string> OutputOverInput(const std::string& package, const std::string& outputPath) {
    std::error_code ec;
    const fs::path in = fs::weakly_canonical(fs::path(package).parent_path(), ec);
    const fs::path out = fs::weakly_canonical(fs::path(outputPath).parent_path(), ec);
    if (!ec && in == out)
        return TrFormat("--out would write {1} over the package itself; name another folder", {outputPath});
    return std::nullopt;
}

std::vector<std::string> OutputPathsOf(const std::vector<std::string>& packages,
                                       const std::vector<std::string>& givenPaths, const std::string& outDir,
                                       std::string& error) {
    std::vector<std::string> outputs;
    std::map<std::string, std::string> taken; // output, without a suite's last letter, to its package
    for (const std::string& package : packages) {
        outputs.push_back(OutputPathOf(package, givenPaths, outDir));
        if (const auto over = OutputOverInput(package, outputs.back())) {
            error = *over;
            return {};
        }
        const std::string& out = outputs.back();
        const std::string key = IsJavaName(out) ? out.substr(0, out.size() - 1) : out;
        const auto [at, added] = taken.emplace(key, package);
        if (!added) {
            error = TrFormat("--out would write {1} and {2} to the same {3}; name them in separate runs",
                             {package, at->second, out});
            return {};
        }
    }
    return outputs;
}

int ProcessIntoOutput(const std::string& package, const std::string& outputPath,
                      const std::function<int(const std::string& copy)>& job, std::string& error) {
    const fs::path folder = fs::path(outputPath).parent_path();
    std::vector<fs::path> made;
    std::string staging;
    Fd held;
    int status = kExitFailure;
    try {
        MakeFolders(folder, made);
        staging = MakeStaging(folder.string(), held);
        std::vector<std::string> names;
        for (const std::string& file : FilesOf(package)) {
            names.push_back(NameOf(file));
            if (KindOfPath(file) == PathKind::Ordinary)
                CopyWholeFile(file, staging + "/" + names.back());
        }
        status = job(staging + "/" + NameOf(package));
        if (status == kExitSuccess)
            PutInPlace(staging, folder.string(), names);
    } catch (const std::exception& e) {
        error = e.what();
        status = kExitFailure;
    }
    std::error_code ec;
    if (!staging.empty())
        fs::remove_all(staging, ec);
    if (status != kExitSuccess)
        for (auto it = made.rbegin(); it != made.rend(); ++it)
            fs::remove(*it, ec); // only while empty
    return status;
}

} // namespace jarseal
