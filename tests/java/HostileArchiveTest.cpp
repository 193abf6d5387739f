#include "java/JavaPackage.h"
#include "support/JavaFixture.h"
#include "unzip/HostileArchives.h"
#include "unzip/RawZip.h"
#include "unzip/zipdll/UnzipDll.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace jarseal;
using namespace jarseal::test;

namespace {

const std::string kDamaged = "jar файл поврежден, или\r\nне является Java приложеним.";
const std::string kNoJava = "Не устанвлен дистрибутив Java.";
const std::string kNotSigned = "Набор не подписан: телефон его не установит.";

// A program folder without a JAD tool, a package folder and a sibling folder
// that nothing may touch.
struct HostileJava : ProgramFolderFixture {
    std::string sibling = root / "sibling";

    void SetUp() override {
        ProgramFolderFixture::SetUp();
        MakeDir(sibling);
        WriteFile(sibling + "/secret.txt", "secret");
    }
};

} // namespace

TEST_F(HostileJava, EveryHostileArchiveEndsWithAMessageAndLeavesNothingBehind) {
    for (const auto& archive : HostileArchives(sibling)) {
        const std::string& what = archive.name;
        WriteFile(apps + "/game.jar", archive.build());
        ui.shown.clear();
        try {
            ProcessJavaPackage(ctx, apps + "/game.jar");
        } catch (const ProgramEnded& e) {
            ADD_FAILURE() << what << ": the program was ended with " << e.status;
        }

        // One of the pipeline's own final messages: the damaged archive, the
        // refusal of what a phone would not install, or, since there is no
        // JAD tool, the missing Java.
        const auto messages = ui.Messages();
        ASSERT_FALSE(messages.empty()) << what;
        const bool refused = messages.back().rfind(kNotSigned, 0) == 0;
        if (archive.damaged)
            EXPECT_EQ(messages.back(), kDamaged) << what;
        else
            EXPECT_TRUE(refused || messages.back().rfind(kNoJava, 0) == 0) << what << ": " << messages.back();
        // The unzip messages, if any, are bounded.
        for (const auto& m : messages)
            EXPECT_LE(m.size(), unzipdll::kMaxMessageBytes + 200) << what;

        // Nothing written outside the working folder, and that folder empty.
        EXPECT_EQ(ListDir(root.path()), (std::vector<std::string>{"apps", "prog", "sibling"})) << what;
        EXPECT_EQ(ListDir(sibling), std::vector<std::string>{"secret.txt"}) << what;
        EXPECT_EQ(ReadFile(sibling + "/secret.txt"), "secret") << what;
        EXPECT_EQ(ListDir(program), std::vector<std::string>{"data"}) << what;
        EXPECT_EQ(ListDir(program + "/data"), std::vector<std::string>{"temp"}) << what;
        EXPECT_EQ(ListDir(work), std::vector<std::string>{}) << what;
        const auto left = ListDir(apps);
        EXPECT_TRUE(left == std::vector<std::string>{"game.jar"} ||
                    (!refused && left == std::vector<std::string>{"game.jad", "game.jar"}))
            << what;
        if (!archive.damaged && !refused) {
            // The descriptor comes from the archive's own small manifest.
            const std::string jad = ReadFile(apps + "/game.jad");
            EXPECT_EQ(jad.rfind("MIDlet-Jar-URL: game.jar\r\n", 0), 0u) << what;
            EXPECT_LE(jad.size(), kMaxManifestBytes) << what;
        }
        std::filesystem::remove(apps + "/game.jad");
    }
}

TEST_F(HostileJava, LimitsAreNamedInTheUnzipMessage) {
    for (const auto& archive : HostileArchives(sibling)) {
        if (archive.name != "bomb-of-large-entries" && archive.name != "too-many-entries")
            continue;
        WriteFile(apps + "/game.jar", archive.build());
        ui.shown.clear();
        ProcessJavaPackage(ctx, apps + "/game.jar");
        const auto messages = ui.Messages();
        ASSERT_EQ(messages.size(), 2u) << archive.name;
        EXPECT_NE(messages[0].find(archive.name == "too-many-entries"
                                       ? "more than 65536; Jarseal unpacks none of them"
                                       : "archive unpacks to more than 256 MiB; Jarseal stops there"),
                  std::string::npos)
            << messages[0];
    }
}

TEST_F(HostileJava, ADamagedEntryAfterTheManifestIsShownAndFailsTheJob) {
    // Many sound entries after the manifest, one of them damaged: the unzip
    // message comes first, then the refusal naming the entry, before
    // anything is written or signed.
    rawzip::Builder b;
    b.AddDeflated("META-INF/MANIFEST.MF",
                  "Manifest-Version: 1.0\r\nMIDlet-Name: Game\r\nMIDlet-Vendor: Acme\r\n"
                  "MIDlet-Version: 1.0\r\nMIDlet-1: Game, , game.Main\r\n"
                  "MicroEdition-Profile: MIDP-2.0\r\n"
                  "MicroEdition-Configuration: CLDC-1.1\r\n\r\n");
    std::string body;
    for (int i = 0; i < 300; ++i) {
        body = "class body " + std::to_string(i) + std::string(static_cast<std::size_t>(400 + i), 'x');
        b.AddDeflated("game/C" + std::to_string(i) + ".class", body);
    }
    const std::string packed = rawzip::Deflate(body);
    b.Add({"game/Bad.class", rawzip::kDeflated, rawzip::Crc(body) ^ 1u, packed.size(), body.size()}, packed);
    b.AddDeflated("game/Last.class", body);
    WriteFile(apps + "/game.jar", b.Finish());
    const std::string expected = "  error:  invalid compressed data or bad CRC in game/Bad.class\n";

    UseBuildSigningTools();
    ctx.commandLine = "x";
    EXPECT_EQ(RunJava(apps + "/game.jar"), kExitFailure);
    const auto messages = ui.Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], expected);
    EXPECT_EQ(messages[1].rfind(kNotSigned + "\r\n907 ", 0), 0u) << messages[1];
    EXPECT_NE(messages[1].find("game/Bad.class"), std::string::npos) << messages[1];
    EXPECT_TRUE(ListDir(work).empty());
    EXPECT_EQ(ListDir(apps), std::vector<std::string>{"game.jar"});
}
