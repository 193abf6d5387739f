#include "java/SuiteFiles.h"

#include "common/Errors.h"
#include "common/FileSystem.h"
#include "java/JavaPackage.h"

#include <dirent.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace jarseal {

namespace {

const char* const kCrLf = "\r\n";

// The manifest attributes the descriptor takes over, tested in this order;
// the first text a line contains decides.
enum class Effect { Permission, Body };
struct ScanRule {
    const char* text;
    Effect effect;
};
constexpr ScanRule kScanRules[] = {
    {"MIDlet-Permissions:", Effect::Permission},
    {"MIDlet-Name:", Effect::Body},
    {"MIDlet-1:", Effect::Body},
    {"MIDlet-Vendor:", Effect::Body},
    {"MIDlet-Version:", Effect::Body},
    {"MIDlet-Description:", Effect::Body},
    {"MicroEdition-Profile:", Effect::Body},
    {"MicroEdition-Configuration:", Effect::Body},
    {"MIDlet-Permissions-Opt:", Effect::Permission},
    {"MIDlet-Info-URL:", Effect::Body},
};

} // namespace

// The hidden files of the working folder, which ClearWorkDir leaves alone.
std::set<std::string> HiddenFiles(const std::string& dir) {
    std::set<std::string> names;
    std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(dir.c_str()), ::closedir);
    if (!d)
        return names;
    while (const dirent* entry = ::readdir(d.get())) {
        const std::string name = entry->d_name;
        if (name.size() > 1 && name[0] == '.' && name != "..")
            names.insert(name);
    }
    return names;
}

// Removes the hidden files an archive brought into the working folder (an
// entry such as "META-INF/.x" lands there as ".x"), and the unpacker's own
// part-written files a killed run may have left; hidden files that were
// there before the run stay, as ClearWorkDir leaves them.
void RemoveUnpackedHiddenFiles(const std::string& workDir, const std::set<std::string>& before) {
    for (const auto& name : HiddenFiles(workDir)) {
        const bool leftPart = name.rfind(".unzip-", 0) == 0 && name.size() > 5 &&
                              name.compare(name.size() - 5, 5, ".part") == 0;
        if (before.count(name) && !leftPart)
            continue;
        const std::string full = workDir + kSep + name;
        struct stat st {};
        if (::lstat(full.c_str(), &st) == 0 && (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)))
            ::unlink(full.c_str());
    }
}

JavaPaths DeriveJavaPaths(const std::string& path) {
    const auto sep = path.find_last_of(kSep);
    if (sep == std::string::npos || path.empty())
        throw RunError(kErrInvalidCall, "no folder in the path " + path);
    JavaPaths p;
    const std::string stem = path.substr(0, path.size() - 1);
    p.archive = stem + "r";
    p.descriptor = stem + "d";
    p.backup = p.descriptor + ".original";
    p.archiveBackup = p.archive + ".original";
    p.fileName = path.substr(sep + 1);
    if (p.fileName.empty())
        throw RunError(kErrInvalidCall, "no file name in the path " + path);
    const std::string nameStem = p.fileName.substr(0, p.fileName.size() - 1);
    p.archiveFileName = nameStem + "r";
    p.descriptorFileName = nameStem + "d";
    p.packageFolder = path.substr(0, path.size() - p.descriptorFileName.size());
    return p;
}

ManifestScan ScanManifest(const std::vector<std::string>& lines) {
    ManifestScan scan;
    bool permissionFlag = false;
    for (const auto& line : lines) {
        // A continuation line left after unfolding (one with nothing before it)
        // belongs to the permission text only while a permission attribute runs.
        if (line.find("MIDlet-Permissions:") == std::string::npos && !line.empty() && line[0] == ' ') {
            if (permissionFlag)
                scan.permissionText += line + kCrLf;
            continue;
        }
        for (const auto& rule : kScanRules) {
            if (line.find(rule.text) == std::string::npos)
                continue;
            if (rule.effect == Effect::Permission) {
                scan.permissionText += line + kCrLf;
                permissionFlag = true;
            } else {
                scan.body += line + kCrLf;
                permissionFlag = false;
            }
            break;
        }
    }
    return scan;
}

std::string FirstDescriptor(const std::string& archiveFileName, std::uint64_t archiveSize,
                            const std::string& body) {
    return "MIDlet-Jar-URL: " + archiveFileName + kCrLf + "MIDlet-Jar-Size: " + std::to_string(archiveSize) +
           kCrLf + body + kCrLf;
}

void ClearWorkDir(const std::string& workDir) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(workDir.c_str()), ::closedir);
    if (!dir)
        return;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name.empty() || name[0] == '.')
            continue; // hidden files stay
        names.push_back(name);
    }
    for (const auto& name : names) {
        const std::string full = workDir + kSep + name;
        struct stat st {};
        if (::lstat(full.c_str(), &st) != 0)
            continue;
        const bool link = S_ISLNK(st.st_mode);
        const bool readOnly = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
        if (link || (S_ISREG(st.st_mode) && !readOnly))
            ::unlink(full.c_str()); // a failure leaves the file and goes on
    }
}

} // namespace jarseal
