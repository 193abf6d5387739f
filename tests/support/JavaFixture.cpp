#include "support/JavaFixture.h"

#include "java/JavaPackage.h"

#include <cstdlib>
#include <unistd.h>

namespace jarseal::test {

bool JavaAvailable() {
    return std::system("java -version >/dev/null 2>&1") == 0;
}

bool Utf8Locale() {
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            const std::string v = value;
            return v.find("UTF-8") != std::string::npos || v.find("utf8") != std::string::npos;
        }
    }
    return false;
}

void ProgramFolderFixture::SetUp() {
    MakeDir(work);
    MakeDir(apps);
}

void ProgramFolderFixture::UseBuildSigningTools() {
    ASSERT_EQ(::symlink(JARSEAL_BUILD_DIR "/data/jadtool.jar", (program + "/data/jadtool.jar").c_str()), 0);
    settings.Write("Java", "keystore", JARSEAL_BUILD_DIR "/data/key");
    for (const char* key : {"storepass", "keypass"})
        settings.Write("Java", key, "52039871");
    for (const char* key : {"alias1", "alias2"})
        settings.Write("Java", key, "jsk");
}

int ProgramFolderFixture::RunJava(const std::string& path) {
    try {
        ProcessJavaPackage(ctx, path);
    } catch (const ProgramEnded& e) {
        return e.status;
    }
    return -1;
}

} // namespace jarseal::test
