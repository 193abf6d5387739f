#include "app/OutputTree.h"

#include "common/Errors.h"
#include "common/FileSystem.h"
#include "common/Text.h"
#include "common/Translate.h"
#include "common/UserInterface.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
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

// The signed files, one by one, take the places of their names in folder;
// a file that was there waits in the hidden folder until all are in place,
// and goes back when one cannot be put in place.
void PutInPlace(const std::string& staging, const std::string& folder,
                const std::vector<std::string>& names) {
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
    int status = kExitFailure;
    try {
        MakeFolders(folder, made);
        std::string pattern = (folder / ".jarseal-out.XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error(
                TrFormat("cannot write in {1}: {2}", {folder.string(), Tr(std::strerror(errno))}));
        staging = pattern;
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
