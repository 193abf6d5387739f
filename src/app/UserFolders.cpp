#include "app/UserFolders.h"

#include "common/FileSystem.h"
#include "process/Quoting.h"
#include "process/RunAndWait.h"
#include "settings/SigningEditors.h"

#include <cstdio>
#include <unistd.h>

namespace jarseal {

void PrepareUserFolders(Context& ctx) {
    const Places where = ctx.Where();
    if (!where.userFolders)
        return;
    if (KindOfPath(where.settingsFile) == PathKind::Missing)
        RestoreJavaDefaults(ctx);
    if (KindOfPath(where.defaultKeystore) != PathKind::Missing)
        return;
    // RSA 2048 and SHA1withRSA, JKS, twenty years: what phones of that era
    // verify and what older signing tools read; written beside and renamed.
    const std::string fresh = where.defaultKeystore + ".new";
    ::unlink(fresh.c_str());
    const std::string command = std::string("keytool -genkeypair -noprompt -storetype JKS -keystore ") +
                                QuotedArgument(fresh) + " -storepass " + kDefaultPassword + " -alias " +
                                kDefaultAlias + " -keypass " + kDefaultPassword +
                                " -keyalg RSA -keysize 2048 -sigalg SHA1withRSA -validity 7300 -dname " +
                                QuotedArgument("CN=Jarseal, OU=MIDlet signing, O=Jarseal");
    if (RunAndWaitCapture(command).exitCode == 0)
        std::rename(fresh.c_str(), where.defaultKeystore.c_str());
    else
        ::unlink(fresh.c_str());
}

} // namespace jarseal
