#include "app/UserFolders.h"

#include "common/FileSystem.h"
#include "process/Quoting.h"
#include "process/RunAndWait.h"
#include "settings/SigningEditors.h"

#include <cstdio>
#include <unistd.h>

namespace jarseal {

namespace {

// Runs a tool that writes fresh (and, for two files, fresh2), and renames
// what it wrote to the final names only when it succeeded.
void MakeFiles(const std::string& command, const std::string& fresh, const std::string& target,
               const std::string& fresh2 = {}, const std::string& target2 = {}) {
    const bool ok = RunAndWaitCapture(command).exitCode == 0;
    if (ok && !fresh2.empty())
        std::rename(fresh2.c_str(), target2.c_str());
    if (ok)
        std::rename(fresh.c_str(), target.c_str());
    ::unlink(fresh.c_str());
    if (!fresh2.empty())
        ::unlink(fresh2.c_str());
}

// The Symbian certificate and key of a new program folder, in the user's
// data folder: a self-signed RSA 2048 SHA1withRSA certificate of twenty
// years, the key as encrypted PKCS#8. The folder ends in a separator.
void MakeSymbianKey(Context& ctx, const std::string& folder) {
    const std::string cer = folder + "symbian.cer";
    const std::string key = folder + "symbian.key";
    if (KindOfPath(cer) == PathKind::Missing && KindOfPath(key) == PathKind::Missing)
        MakeFiles("openssl req -x509 -newkey rsa:2048 -sha1 -days 7300 -subj /CN=Jarseal/O=Jarseal -keyout " +
                      QuotedArgument(key + ".new") + " -out " + QuotedArgument(cer + ".new") +
                      " -passout pass:" + kDefaultPassword,
                  cer + ".new", cer, key + ".new", key);
    ctx.settings.Write("Symbian", "certificate", cer);
    ctx.settings.Write("Symbian", "key", key);
    ctx.settings.Write("Symbian", "passphrase", kDefaultPassword);
}

} // namespace

void PrepareUserFolders(Context& ctx) {
    const Places where = ctx.Where();
    if (!where.userFolders)
        return;
    if (KindOfPath(where.settingsFile) == PathKind::Missing) {
        RestoreJavaDefaults(ctx);
        MakeSymbianKey(ctx, FolderOf(where.defaultKeystore));
    }
    if (KindOfPath(where.defaultKeystore) != PathKind::Missing)
        return;
    // RSA 2048 and SHA1withRSA, JKS, twenty years: what phones of that era
    // verify and what older signing tools read. A CA certificate that may sign
    // certificates, because several phones accept a root for applications only
    // in that form. The build's data/key is made alike (cmake/MakeKeystore.cmake).
    // Written beside and renamed.
    const std::string fresh = where.defaultKeystore + ".new";
    ::unlink(fresh.c_str());
    const std::string command = std::string("keytool -genkeypair -noprompt -storetype JKS -keystore ") +
                                QuotedArgument(fresh) + " -storepass " + kDefaultPassword + " -alias " +
                                kDefaultAlias + " -keypass " + kDefaultPassword +
                                " -keyalg RSA -keysize 2048 -sigalg SHA1withRSA -validity 7300 -dname " +
                                QuotedArgument("CN=Jarseal, OU=MIDlet signing, O=Jarseal") +
                                " -ext BasicConstraints:critical=ca:true"
                                " -ext KeyUsage:critical=digitalSignature,keyCertSign";
    MakeFiles(command, fresh, where.defaultKeystore);
}

} // namespace jarseal
