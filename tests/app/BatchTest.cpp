#include "app/Batch.h"
#include "process/RunAndWait.h"
#include "support/CliFixture.h"
#include "support/JavaFixture.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace jarseal;
using namespace jarseal::test;

TEST(BatchArguments, OptionsPermissionsAndPaths) {
    std::string error;
    auto parsed = ParseBatchArguments(
        {"--quiet", "--permissions=http,PUSHREGESTRY", "a.jar", "--", "--odd.jar"}, error);
    ASSERT_TRUE(parsed) << error;
    EXPECT_TRUE(parsed->quiet);
    EXPECT_EQ(parsed->paths, (std::vector<std::string>{"a.jar", "--odd.jar"}));
    ASSERT_TRUE(parsed->permissions);
    EXPECT_EQ(parsed->permissions->Mode(), PermissionMode::User);
    EXPECT_EQ(parsed->permissions->BoxState(3), kBoxChecked); // http
    EXPECT_EQ(parsed->permissions->BoxState(7), kBoxChecked); // PushRegistry
    EXPECT_EQ(parsed->permissions->BoxState(0), kBoxUnchecked);

    parsed = ParseBatchArguments({"--permissions", "auto", "--zip-password", "p w"}, error);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->permissions->Mode(), PermissionMode::Automatic);
    EXPECT_EQ(parsed->zipPassword, "p w");
    EXPECT_EQ(ParseBatchArguments({"--permissions", "none"}, error)->permissions->Mode(),
              PermissionMode::User);

    EXPECT_FALSE(ParseBatchArguments({"--permissions", "http,nosuch"}, error));
    EXPECT_NE(error.find("nosuch"), std::string::npos);
    EXPECT_FALSE(ParseBatchArguments({"--permissions"}, error));
    EXPECT_FALSE(ParseBatchArguments({"--frobnicate"}, error));
}

TEST(BatchPackages, FoldersAreSearchedAndPairsProcessedOnce) {
    TempDir dir;
    MakeDir(dir / "suites/deeper");
    MakeDir(dir / "suites/.hidden");
    for (const char* name : {"suites/b.jar", "suites/a.jar", "suites/a.jad", "suites/deeper/c.sisx",
                             "suites/notes.txt", "suites/.hidden/d.jar", "suites/e.sis"})
        WriteFile(dir / name, "x");
    const auto packages = CollectPackages({dir / "suites", dir / "suites/a.jad", dir / "missing.jar"});
    EXPECT_EQ(packages, (std::vector<std::string>{dir / "suites/a.jar", dir / "suites/b.jar",
                                                  dir / "suites/deeper/c.sisx", dir / "suites/e.sis",
                                                  dir / "missing.jar"}));
}

namespace {

const std::string kManifest = "MIDlet-1: Game, /i.png, game.Main\r\nMIDlet-Name: Game\r\n"
                              "MIDlet-Vendor: Acme\r\nMIDlet-Version: 1.0\r\n"
                              "MicroEdition-Profile: MIDP-2.0\r\nMicroEdition-Configuration: CLDC-1.1\r\n"
                              "MIDlet-Permissions: javax.microedition.io.Connector.sms\r\n";

} // namespace

TEST_F(CliFixture, TwentySuitesSomeBrokenInOneCall) {
    MakeDir(root / "suites");
    for (int i = 0; i < 20; ++i) {
        const std::string path = root / ("suites/game" + std::to_string(i) + ".jar");
        if (i % 7 == 3)
            WriteFile(path, "not an archive"); // 3, 10, 17
        else
            WriteZip(path, {{"META-INF/MANIFEST.MF", kManifest}});
    }
    const RunOutput out = Cli("--quiet \"" + root / "suites" + "\"");
    EXPECT_EQ(out.exitCode, 1) << out.output;
    EXPECT_NE(out.output.find("Итого: 20, готово 17, не выполнено 3, сбой 0"), std::string::npos)
        << out.output;
    for (int i = 0; i < 20; ++i) {
        const std::string jad = root / ("suites/game" + std::to_string(i) + ".jad");
        if (i % 7 == 3)
            EXPECT_FALSE(Exists(jad)) << i;
        else
            EXPECT_NE(ReadFile(jad).find("MIDlet-Jar-RSA-SHA1: "), std::string::npos) << i;
    }
    EXPECT_TRUE(ListDir(program + "/data/temp").empty());

    // The checker passes every suite Jarseal signed and refuses the broken ones.
    const RunOutput check = Cli("--check --quiet \"" + root / "suites" + "\"");
    EXPECT_EQ(check.exitCode, 1) << check.output;
    EXPECT_NE(check.output.find("Checked 20, refused 3"), std::string::npos) << check.output;
    EXPECT_EQ(Cli("--check \"" + root / "suites/game0.jad" + "\"").exitCode, 0);
}

TEST_F(CliFixture, PermissionsOptionLeavesTheSettingsFileAsItWas) {
    MakeDir(root / "apps");
    WriteZip(root / "apps/game.jar", {{"META-INF/MANIFEST.MF", kManifest}});
    ASSERT_EQ(Cli("\"" + root / "apps/game.jar" + "\"").exitCode, 0); // first run sets the folder up
    std::string ini = ReadFile(program + "/Jarseal.ini");
    ini += "[Permissions]\r\nbyuser=1\r\nread=1\r\n";
    WriteFile(program + "/Jarseal.ini", ini);

    const RunOutput out = Cli("--permissions http,ssl \"" + root / "apps/game.jad" + "\"");
    EXPECT_EQ(out.exitCode, 0) << out.output;
    EXPECT_EQ(ReadFile(program + "/Jarseal.ini"), ini);
    const std::string jad = ReadFile(root / "apps/game.jad");
    EXPECT_NE(jad.find("\r\nMIDlet-Permissions: javax.microedition.io.Connector.http, "
                       "javax.microedition.io.Connector.ssl\r\n"),
              std::string::npos)
        << jad;

    EXPECT_EQ(Cli("--permissions none \"" + root / "apps/game.jar" + "\"").exitCode, 0);
    EXPECT_EQ(ReadFile(root / "apps/game.jad").find("MIDlet-Permissions"), std::string::npos);
    EXPECT_EQ(ReadFile(program + "/Jarseal.ini"), ini);
}

TEST_F(CliFixture, UsageErrorsAndHelp) {
    const RunOutput help = Cli("--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("--permissions auto|none|GROUP"), std::string::npos);
    EXPECT_NE(help.output.find("Example:"), std::string::npos);
    EXPECT_EQ(Cli("--nonsense").exitCode, 1);
    EXPECT_EQ(Cli("").exitCode, 1);
}
