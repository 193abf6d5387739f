#pragma once

#include "common/Context.h"
#include "support/FakeSettings.h"
#include "support/ScriptedUi.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <string>

namespace jarseal::test {

// The missing-Java message the Java job shows when the JAD tool wrote nothing.
inline const std::string kMissingJavaText = "Не устанвлен дистрибутив Java.\r\n"
                                            "Повторите попытку после установки JRE или JDK.\r\n"
                                            "Или стоят неправильные настройки Java\r\n"
                                            "За подробностями в ReadMe";

// True when java runs from the search path.
bool JavaAvailable();

// True when the locale is a UTF-8 one: only then does Java read non-ASCII
// file names.
bool Utf8Locale();

// A program folder with its working folder, a package folder beside it, and
// the scripted user interface, settings and permissions of a run.
struct ProgramFolderFixture : ::testing::Test {
    TempDir root;
    std::string program = root / "prog";
    std::string apps = root / "apps";
    std::string work = program + "/data/temp";
    ScriptedUi ui;
    MemorySettings settings;
    FixedPermissions permissions;
    Context ctx{ui, settings, permissions, program, ""};

    void SetUp() override;
    // Puts the build's JAD tool into the program folder and the default key
    // store's values into the settings.
    void UseBuildSigningTools();
    // Runs the Java job on path; the exit status it ended the program with,
    // or -1 when it returned.
    int RunJava(const std::string& path);
};

} // namespace jarseal::test
