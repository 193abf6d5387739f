#include "app/UserFolders.h"

#include "common/Errors.h"
#include "common/Fd.h"
#include "common/FileSystem.h"
#include "common/RunLock.h"
#include "process/Quoting.h"
#include "process/RunAndWait.h"
#include "settings/SigningEditors.h"

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace jarseal {

namespace {

// A file a tool writes under a name no other run can have, put in place once
// the tool succeeded; the name goes again otherwise.
struct MadeFile {
    std::string target;
    TempFile temp;
};

// Takes a name beside the file's target for a tool to write. The tool writes
// into the empty file of that name, or, with fresh set, makes the file itself
// (keytool refuses an empty key store): the file is then removed, the name
// stays this run's. mode is the file's, for a tool that writes into it.
// Throws RunError when the folder takes no new file.
void Beside(MadeFile& file, bool fresh, mode_t mode = 0600) {
    const Fd fd(file.temp.CreateBeside(file.target));
    (void)!::fchmod(fd.get(), mode); // a file system without modes keeps its own
    if (fresh)
        ::unlink(file.temp.path().c_str());
}

// Runs a tool that writes the files under their temporary names, and renames
// them to their places, in order, only when it succeeded. No temporary name
// is left behind.
void MakeFiles(const std::string& command, const std::vector<MadeFile*>& files) {
    const bool ok = RunAndWaitCapture(command).exitCode == 0;
    for (MadeFile* file : files)
        if (ok && std::rename(file->temp.path().c_str(), file->target.c_str()) == 0)
            file->temp.Keep();
}

// The Symbian certificate and key of a new program folder, in the user's
// data folder: a self-signed RSA 2048 SHA1withRSA certificate of twenty
// years, the key as encrypted PKCS#8. The folder ends in a separator.
void MakeSymbianKey(Context& ctx, const std::string& folder) {
    const std::string cer = folder + "symbian.cer";
    const std::string key = folder + "symbian.key";
    if (KindOfPath(cer) == PathKind::Missing && KindOfPath(key) == PathKind::Missing) {
        try {
            MadeFile newKey{key, {}};
            MadeFile newCer{cer, {}};
            Beside(newKey, false);
            Beside(newCer, false, NewFileMode());
            MakeFiles("openssl req -x509 -newkey rsa:2048 -sha1 -days 7300 -subj /CN=Jarseal/O=Jarseal "
                      "-keyout " +
                          QuotedArgument(newKey.temp.path()) + " -out " + QuotedArgument(newCer.temp.path()) +
                          " -passout pass:" + kDefaultPassword,
                      {&newKey, &newCer});
        } catch (const RunError&) {
            // A folder that takes no new file: the pair stays missing, and
            // the Symbian job says so.
        }
    }
    ctx.settings.Write("Symbian", "certificate", cer);
    ctx.settings.Write("Symbian", "key", key);
    ctx.settings.Write("Symbian", "passphrase", kDefaultPassword);
}

// True when the settings file and the key store are there: nothing to make.
bool Prepared(const Places& where) {
    return KindOfPath(where.settingsFile) != PathKind::Missing &&
           KindOfPath(where.defaultKeystore) != PathKind::Missing;
}

void MakeKeystore(const std::string& keystore) {
    // RSA 2048 and SHA1withRSA, JKS, twenty years: what phones of that era
    // verify and what older signing tools read. A CA certificate that may sign
    // certificates, because several phones accept a root for applications only
    // in that form. The build's data/key is made alike (cmake/MakeKeystore.cmake).
    try {
        MadeFile fresh{keystore, {}};
        Beside(fresh, true);
        MakeFiles(std::string("keytool -genkeypair -noprompt -storetype JKS -keystore ") +
                      QuotedArgument(fresh.temp.path()) + " -storepass " + kDefaultPassword + " -alias " +
                      kDefaultAlias + " -keypass " + kDefaultPassword +
                      " -keyalg RSA -keysize 2048 -sigalg SHA1withRSA -validity 7300 -dname " +
                      QuotedArgument("CN=Jarseal, OU=MIDlet signing, O=Jarseal") +
                      " -ext BasicConstraints:critical=ca:true"
                      " -ext KeyUsage:critical=digitalSignature,keyCertSign",
                  {&fresh});
    } catch (const RunError&) {
        // A folder that takes no new file: the key store stays missing, and
        // the Java job says so.
    }
}

} // namespace

void PrepareUserFolders(Context& ctx) {
    const Places where = ctx.Where();
    if (!where.userFolders || Prepared(where))
        return;
    // First runs started at once (a file manager opening two files on first
    // use) take turns: the first makes the files, the next waits and finds
    // them made, so every run signs with the key store that stays. It is the
    // lock the jobs of these folders hold, so no job runs meanwhile either.
    const FolderLock lock(where.lockFolder, [&] { ctx.ui.NoteWaitingForOtherRun(); });
    RemoveLeftoverTempFiles(FolderOf(where.defaultKeystore)); // of a set-up that was ended halfway
    if (KindOfPath(where.settingsFile) == PathKind::Missing) {
        RestoreJavaDefaults(ctx);
        MakeSymbianKey(ctx, FolderOf(where.defaultKeystore));
    }
    if (KindOfPath(where.defaultKeystore) == PathKind::Missing)
        MakeKeystore(where.defaultKeystore);
}

} // namespace jarseal
