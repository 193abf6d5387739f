#include "support/JavaFixture.h"

#include "java/JavaPackage.h"

#include <cstdlib>
#include <unistd.h>

namespace jarseal::test {

bool JavaAvailable() {
    return std::system("java -version >/dev/null 2>&1") == 0;
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
