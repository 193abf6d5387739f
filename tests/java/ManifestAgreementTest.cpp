#include "java/ManifestAgreement.h"
#include "check/SuiteCheck.h"
#include "common/Manifest.h"
#include "support/JavaFixture.h"
#include "support/Signature.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <tuple>
#include <zip.h>

using namespace jarseal;
using namespace jarseal::test;

namespace {

const std::string kHead = "Manifest-Version: 1.0\r\n"
                          "MIDlet-1: Game, /i.png, game.Main\r\n"
                          "MIDlet-Name: Game\r\n"
                          "MIDlet-Vendor: Acme\r\n"
                          "MIDlet-Version: 1.0\r\n"
                          "MicroEdition-Profile: MIDP-2.0\r\n"
                          "MicroEdition-Configuration: CLDC-1.1\r\n";
const std::string kFoldedPermissions =
    "MIDlet-Permissions: javax.microedition.io.Connector.http, javax.microed\r\n"
    " ition.io.Connector.socket, javax.microedition.io.Connector.sms, javax.\r\n"
    " microedition.io.PushRegistry\r\n";
const std::string kFoldedOptional =
    "MIDlet-Permissions-Opt: javax.microedition.io.Connector.file.read, java\r\n"
    " x.microedition.io.Connector.file.write\r\n";
const std::string kTail = "Created-By: hand\r\n\r\nName: game/Main.class\r\nX-Digest: x\r\n\r\n";

const std::string kHttp = "javax.microedition.io.Connector.http";
const std::string kLongValue =
    "javax.microedition.io.Connector.file.read, javax.microedition.io.Connector.http, "
    "javax.microedition.io.Connector.bluetooth.client";

// The physical lines of a text, each with its CR LF.
std::vector<std::string> ManifestLinesKeepingEnds(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find("\r\n", start);
        end = end == std::string::npos ? text.size() : end + 2;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

// The main-section attributes of a manifest, unfolded, as name: value lines.
std::vector<std::string> MainSection(const std::string& manifest) {
    std::vector<std::string> lines;
    for (const auto& line : ManifestLines(manifest)) {
        if (line.empty())
            break;
        lines.push_back(line);
    }
    return lines;
}

} // namespace

TEST(AgreeingManifest, ValuesAreReplacedOrDroppedAndEveryOtherByteStays) {
    const std::string manifest = kHead + kFoldedPermissions + kFoldedOptional + kTail;

    // A new value for MIDlet-Permissions, none for -Opt.
    const auto updated = AgreeingManifest(manifest, {kLongValue, std::nullopt});
    ASSERT_TRUE(updated);
    EXPECT_EQ(updated->substr(0, kHead.size()), kHead);
    EXPECT_EQ(updated->substr(updated->size() - kTail.size()), kTail); // per-entry sections untouched
    auto main = MainSection(*updated);
    EXPECT_EQ(main.back(), "Created-By: hand");
    EXPECT_EQ(main[main.size() - 2], "MIDlet-Permissions: " + kLongValue);
    EXPECT_EQ(updated->find("MIDlet-Permissions-Opt"), std::string::npos);
    for (const auto& line : ManifestLinesKeepingEnds(*updated))
        EXPECT_LE(line.size(), 72u + 2) << line; // 72 bytes and CR LF

    // The other way round: -Opt kept with another value, MIDlet-Permissions dropped.
    const auto other = AgreeingManifest(manifest, {std::nullopt, kHttp});
    ASSERT_TRUE(other);
    EXPECT_EQ(*other, kHead + "MIDlet-Permissions-Opt: " + kHttp + "\r\n" + kTail);

    // Line ends as the manifest has them.
    const std::string lf = "MIDlet-Name: G\nMIDlet-Permissions: a\n b\nX: y\n";
    EXPECT_EQ(AgreeingManifest(lf, {kHttp, std::nullopt}),
              "MIDlet-Name: G\nMIDlet-Permissions: " + kHttp + "\nX: y\n");
    EXPECT_EQ(AgreeingManifest("MIDlet-Permissions: a", {"b", std::nullopt}), "MIDlet-Permissions: b");
}

TEST(AgreeingManifest, AManifestThatAgreesIsLeftAlone) {
    const std::string manifest = kHead + kFoldedPermissions + kFoldedOptional + kTail;
    const PermissionAttributes same =
        PermissionAttributesOf("MIDlet-Permissions: javax.microedition.io.Connector.http, "
                               "javax.microedition.io.Connector.socket, javax.microedition.io.Connector.sms, "
                               "javax.microedition.io.PushRegistry\r\n"
                               "MIDlet-Permissions-Opt:  javax.microedition.io.Connector.file.read, "
                               "javax.microedition.io.Connector.file.write \r\n");
    EXPECT_EQ(AgreeingManifest(manifest, same), std::nullopt); // folded differently, blanks trimmed
    // Attributes the manifest does not carry never make a difference.
    EXPECT_EQ(AgreeingManifest(kHead + kTail, {kHttp, kHttp}), std::nullopt);
    EXPECT_EQ(AgreeingManifest(kHead + kTail, {}), std::nullopt);
    // A repeated attribute that disagrees goes.
    EXPECT_EQ(AgreeingManifest("MIDlet-Permissions: a\r\nMIDlet-Permissions: b\r\n", {"a", std::nullopt}),
              "MIDlet-Permissions: a\r\n");
}

TEST(AgreeingManifest, FoldingNeverSplitsAUtf8Sequence) {
    const std::string value =
        std::string(60, 'a') + "\xD0\xB6\xD0\xB6\xD0\xB6\xD0\xB6\xD0\xB6\xD0\xB6\xD0\xB6";
    const auto updated = AgreeingManifest("MIDlet-Permissions: x\r\n", {value, std::nullopt});
    ASSERT_TRUE(updated);
    for (const auto& line : ManifestLinesKeepingEnds(*updated)) {
        ASSERT_LE(line.size(), 74u);
        const std::size_t start = line[0] == ' ' ? 1 : 0;
        EXPECT_NE(static_cast<unsigned char>(line[start]) & 0xC0, 0x80) << "starts inside a sequence";
    }
    EXPECT_EQ(MainSection(*updated), std::vector<std::string>{"MIDlet-Permissions: " + value});
}

namespace {

// Each entry of a jar: name, CRC, compressed size and content.
using Entry = std::tuple<std::string, zip_uint32_t, zip_uint64_t, std::string>;
std::vector<Entry> Entries(const std::string& path) {
    std::vector<Entry> entries;
    int error = 0;
    std::unique_ptr<zip_t, decltype(&zip_discard)> archive(zip_open(path.c_str(), ZIP_RDONLY, &error),
                                                           zip_discard);
    if (!archive)
        return entries;
    for (zip_int64_t i = 0; i < zip_get_num_entries(archive.get(), 0); ++i) {
        zip_stat_t st;
        zip_stat_index(archive.get(), static_cast<zip_uint64_t>(i), 0, &st);
        std::string data(static_cast<std::size_t>(st.size), '\0');
        zip_file_t* file = zip_fopen_index(archive.get(), static_cast<zip_uint64_t>(i), 0);
        zip_fread(file, data.data(), st.size);
        zip_fclose(file);
        entries.emplace_back(st.name, st.crc, st.comp_size, data);
    }
    return entries;
}

enum class Mode { UserOtherGroups, UserNoGroup, Automatic };

// The Java job on suites whose manifests carry different permission
// attributes, in each permission mode, with the build's JAD tool.
TEST(JarManifestSnapshot, ASnapshotCountsOnlyWhileTheJarIsAsItWas) {
    TempDir dir;
    const std::string jar = dir / "game.jar";
    const std::string backup = jar + ".original";
    const PermissionAttributes http{kHttp, std::nullopt};
    WriteZip(jar, {{"META-INF/MANIFEST.MF", kHead + "MIDlet-Permissions: " + kHttp + "\r\n"}});
    const auto agreeing = SnapshotJarManifest(jar);
    ASSERT_TRUE(agreeing);
    EXPECT_EQ(agreeing->manifest, kHead + "MIDlet-Permissions: " + kHttp + "\r\n");
    EXPECT_FALSE(BringJarIntoAgreement(jar, backup, http, agreeing));

    // Replaced since: the stale snapshot must not keep the new jar from
    // being brought into agreement.
    WriteZip(jar + ".new", {{"META-INF/MANIFEST.MF", kHead + kFoldedPermissions}});
    ASSERT_EQ(std::rename((jar + ".new").c_str(), jar.c_str()), 0);
    EXPECT_TRUE(BringJarIntoAgreement(jar, backup, http, agreeing));
    const std::vector<Entry> entries = Entries(jar);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(MainSection(std::get<3>(entries[0])).back(), "MIDlet-Permissions: " + kHttp);
    EXPECT_TRUE(Exists(backup));

    // A jar without a manifest, or no archive at all.
    WriteZip(jar, {{"a.class", "x"}});
    const auto none = SnapshotJarManifest(jar);
    ASSERT_TRUE(none);
    EXPECT_FALSE(none->manifest);
    WriteFile(jar, "no archive");
    EXPECT_FALSE(SnapshotJarManifest(jar));
    EXPECT_FALSE(SnapshotJarManifest(dir / "missing.jar"));
}

struct AgreementJob : ProgramFolderFixture, ::testing::WithParamInterface<std::tuple<std::string, Mode>> {
    std::string jar = apps + "/game.jar";
    void SetUp() override {
        if (!JavaAvailable())
            GTEST_SKIP() << "java is not on the search path";
        ProgramFolderFixture::SetUp();
        UseBuildSigningTools();
        std::string junk;
        for (int i = 0; i < 3000; ++i)
            junk += static_cast<char>((i * 7919) % 251);
        WriteZip(jar, {{"META-INF/MANIFEST.MF", kHead + std::get<0>(GetParam()) + kTail},
                       {"game/Main.class", "CAFEBABE"},
                       {"res/data.bin", junk}});
        switch (std::get<1>(GetParam())) {
        case Mode::UserOtherGroups:
            permissions.mode = PermissionMode::User;
            permissions.boxes[0] = kBoxChecked; // read
            permissions.boxes[3] = kBoxChecked; // http
            permissions.boxes[8] = kBoxChecked; // bluetooth client
            break;
        case Mode::UserNoGroup:
            permissions.mode = PermissionMode::User;
            break;
        case Mode::Automatic:
            permissions.mode = PermissionMode::Automatic;
            break;
        }
        ctx.commandLine = jar;
    }
};

} // namespace

TEST_P(AgreementJob, TheSignedSuiteInstallsAndASecondRunChangesNothing) {
    const std::string original = ReadFile(jar);
    const std::vector<Entry> before = Entries(jar);
    ASSERT_EQ(RunJava(jar), kExitSuccess) << (ui.Messages().empty() ? "" : ui.Messages().back());
    EXPECT_EQ(ui.Messages().back(), "Готово!");

    const std::string jad = ReadFile(apps + "/game.jad");
    const CheckReport report = CheckJavaSuite(apps + "/game.jad", jar);
    EXPECT_FALSE(report.Refused()) << (report.findings.empty() ? "" : report.findings[0].text);
    const auto attrs = DescriptorAttributes(jad);
    EXPECT_TRUE(VerifySha1RsaSignature(ReadFile(jar), attrs.at("MIDlet-Certificate-1-1"),
                                       attrs.at("MIDlet-Jar-RSA-SHA1")));
    EXPECT_EQ(attrs.at("MIDlet-Jar-Size"), std::to_string(ReadFile(jar).size()));

    // Every entry but the manifest as it was; the manifest's main section
    // carries exactly the descriptor's permission attributes.
    const std::vector<Entry> after = Entries(jar);
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t i = 1; i < after.size(); ++i)
        EXPECT_EQ(after[i], before[i]) << std::get<0>(before[i]);
    const std::string manifest = std::get<3>(after[0]);
    const PermissionAttributes inManifest = PermissionAttributesOf([&] {
        std::string text;
        for (const auto& line : MainSection(manifest))
            text += line + "\r\n";
        return text;
    }());
    const PermissionAttributes inDescriptor = PermissionAttributesOf(jad);
    if (inManifest.permissions) {
        EXPECT_EQ(inManifest.permissions, inDescriptor.permissions);
    }
    if (inManifest.optional) {
        EXPECT_EQ(inManifest.optional, inDescriptor.optional);
    }
    EXPECT_EQ(manifest.substr(manifest.size() - kTail.size()), kTail);

    // The backup holds the original bytes, only when the jar was rewritten.
    const bool rewritten = ReadFile(jar) != original;
    EXPECT_EQ(Exists(jar + ".original"), rewritten);
    if (rewritten) {
        EXPECT_EQ(ReadFile(jar + ".original"), original);
    }

    // A second run finds the jar in agreement and leaves it byte for byte.
    const std::string signedJar = ReadFile(jar);
    ASSERT_EQ(RunJava(jar), kExitSuccess);
    EXPECT_EQ(ReadFile(jar), signedJar);
    EXPECT_EQ(ReadFile(apps + "/game.jad"), jad);
    if (rewritten) {
        EXPECT_EQ(ReadFile(jar + ".original"), original);
    }
    EXPECT_TRUE(ListDir(work).empty());
}

INSTANTIATE_TEST_SUITE_P(
    ManifestsAndModes, AgreementJob,
    ::testing::Combine(::testing::Values(kFoldedPermissions, kFoldedOptional,
                                         kFoldedPermissions + kFoldedOptional, std::string()),
                       ::testing::Values(Mode::UserOtherGroups, Mode::UserNoGroup, Mode::Automatic)),
    [](const ::testing::TestParamInfo<std::tuple<std::string, Mode>>& info) {
        const std::string& manifest = std::get<0>(info.param);
        const bool permissions = manifest.find("MIDlet-Permissions:") != std::string::npos;
        const bool optional = manifest.find("MIDlet-Permissions-Opt:") != std::string::npos;
        const std::string which = permissions && optional ? "Both"
                                  : permissions           ? "Permissions"
                                  : optional              ? "Optional"
                                                          : "Neither";
        const Mode mode = std::get<1>(info.param);
        return which + (mode == Mode::UserOtherGroups ? "_UserOtherGroups"
                        : mode == Mode::UserNoGroup   ? "_UserNoGroup"
                                                      : "_Automatic");
    });
