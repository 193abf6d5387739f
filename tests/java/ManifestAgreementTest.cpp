#include "java/ManifestAgreement.h"
#include "check/SuiteCheck.h"
#include "common/Manifest.h"
#include "support/JavaFixture.h"
#include "support/Signature.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"
#include "unzip/RawZip.h"
#include "zip/ZipLayout.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <tuple>
#include <zip.h>

using namespace jarseal;
using namespace jarseal::test;

namespace {

const std::string kHead = "Manifest-Version: 1.0\r\n"
                          "MIDlet-1: Game, /i.png, game.\xD0\x9A"
                          "0\r\n" // a class of the tool's layout
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

TEST(AgreeingManifest, ValuesAreReplacedOrAddedAndEveryOtherByteStays) {
    const std::string manifest = kHead + kFoldedPermissions + kFoldedOptional + kTail;

    // A new value for MIDlet-Permissions; -Opt, which the descriptor does not
    // carry, stays as it is.
    const auto updated = AgreeingManifest(manifest, {kLongValue, std::nullopt});
    ASSERT_TRUE(updated);
    EXPECT_EQ(*updated, kHead +
                            "MIDlet-Permissions: javax.microedition.io.Connector.file.read, javax.mic\r\n"
                            " roedition.io.Connector.http, javax.microedition.io.Connector.bluetooth.\r\n"
                            " client\r\n" +
                            kFoldedOptional + kTail);
    for (const auto& line : ManifestLinesKeepingEnds(*updated))
        EXPECT_LE(line.size(), 72u + 2) << line; // 72 bytes and CR LF

    // Attributes the manifest lacks end its main section, before the
    // per-entry sections.
    const auto added = AgreeingManifest(kHead + kTail, {kHttp, kHttp});
    ASSERT_TRUE(added);
    EXPECT_EQ(*added, kHead + "Created-By: hand\r\nMIDlet-Permissions: " + kHttp +
                          "\r\nMIDlet-Permissions-Opt: " + kHttp +
                          "\r\n\r\nName: game/Main.class\r\nX-Digest: x\r\n\r\n");
    EXPECT_EQ(AgreeingManifest("MIDlet-Name: G", {"a", std::nullopt}),
              "MIDlet-Name: G\r\nMIDlet-Permissions: a\r\n");
    EXPECT_EQ(AgreeingManifest("", {"a", std::nullopt}), "MIDlet-Permissions: a\r\n");

    // Line ends as the manifest has them; every copy of a repeated attribute
    // gets the value, none is removed.
    const std::string lf = "MIDlet-Name: G\nMIDlet-Permissions: a\n b\nX: y\n";
    EXPECT_EQ(AgreeingManifest(lf, {kHttp, std::nullopt}),
              "MIDlet-Name: G\nMIDlet-Permissions: " + kHttp + "\nX: y\n");
    EXPECT_EQ(AgreeingManifest("MIDlet-Permissions: a", {"b", std::nullopt}), "MIDlet-Permissions: b");
    EXPECT_EQ(AgreeingManifest("MIDlet-Permissions: a\r\nMIDlet-Permissions: b\r\n", {"a", std::nullopt}),
              "MIDlet-Permissions: a\r\nMIDlet-Permissions: a\r\n");
}

TEST(AgreeingManifest, AManifestThatAgreesOrIsNotAskedIsLeftAlone) {
    const std::string manifest = kHead + kFoldedPermissions + kFoldedOptional + kTail;
    const PermissionAttributes same =
        PermissionAttributesOf("MIDlet-Permissions: javax.microedition.io.Connector.http, "
                               "javax.microedition.io.Connector.socket, javax.microedition.io.Connector.sms, "
                               "javax.microedition.io.PushRegistry\r\n"
                               "MIDlet-Permissions-Opt:  javax.microedition.io.Connector.file.read, "
                               "javax.microedition.io.Connector.file.write \r\n");
    EXPECT_EQ(AgreeingManifest(manifest, same), std::nullopt); // folded differently, blanks trimmed
    // A descriptor without permission attributes never changes a manifest.
    EXPECT_EQ(AgreeingManifest(manifest, {}), std::nullopt);
    EXPECT_EQ(AgreeingManifest(kHead + kTail, {}), std::nullopt);
    // An attribute of a per-entry section is not the suite's.
    EXPECT_EQ(AgreeingManifest(kHead + "\r\nName: x\r\nMIDlet-Permissions: b\r\n", {}), std::nullopt);
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
    std::unique_ptr<zip_t, decltype(&zip_discard)> archive(
        zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error), zip_discard);
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

// The bytes of an entry's records as they lie in the jar: its local header,
// name and data, and its central record (offset field zeroed).
struct RawRecords {
    std::string local;
    std::string central;
    bool operator==(const RawRecords&) const = default;
};
std::map<std::string, RawRecords> RecordsOf(const std::string& jar) {
    std::map<std::string, RawRecords> records;
    ZipLayout layout;
    std::string why;
    const ZipMemoryBytes bytes(jar.data(), jar.size());
    if (ReadZipLayout(bytes, 100000, layout, why) != ZipLayoutStatus::Sound)
        return records;
    for (const auto& e : layout.entries) {
        RawRecords r;
        r.local = jar.substr(e.localOffset, e.DataEnd() - e.localOffset);
        r.central = jar.substr(e.centralOffset, e.centralLength);
        r.central.replace(42, 4, 4, '\0');
        records[e.name] = r;
    }
    return records;
}

enum class Mode { UserOtherGroups, UserNoGroup, Automatic };

// A jar as build tools lay it out that add classes first: fifty entries
// before the manifest, UTF-8 name flags, data descriptors, a stored entry.
std::string ToolLayoutJar(const std::string& manifest) {
    rawzip::Builder b;
    constexpr std::uint16_t kUtf8 = 0x800;
    for (int i = 0; i < 50; ++i)
        b.AddDeflated("game/\xD0\x9A" + std::to_string(i) + ".class", "class " + std::string(100 + i, 'c'),
                      i % 2 ? kUtf8 | 8 : kUtf8);
    b.AddStored("res/raw.bin", std::string(300, '\x01'));
    b.AddDeflated("META-INF/MANIFEST.MF", manifest, kUtf8 | 8);
    for (int i = 0; i < 8; ++i)
        b.AddDeflated("z/after" + std::to_string(i), std::string(50, 'z'), kUtf8);
    return b.Finish();
}

} // namespace

TEST(JarAgreement, ARewriteCopiesEveryOtherRecordAndCanBeUndone) {
    TempDir dir;
    const std::string jar = dir / "game.jar";
    const std::string backup = jar + ".original";
    const std::string original = ToolLayoutJar(kHead + kFoldedOptional + kTail);
    WriteFile(jar, original);
    const PermissionAttributes http{kHttp, std::nullopt};

    // Kept: every other record byte for byte, the manifest entry's flags and
    // name in both records, the new manifest, one backup, nothing else.
    {
        JarAgreement agreement(jar, backup, *IdentityOfFile(jar), http);
        ASSERT_TRUE(agreement.Changed());
        agreement.Keep();
    }
    const std::string rewritten = ReadFile(jar);
    EXPECT_EQ(ReadFile(backup), original);
    const auto before = RecordsOf(original);
    const auto after = RecordsOf(rewritten);
    ASSERT_EQ(after.size(), before.size());
    for (const auto& [name, records] : before) {
        if (name == "META-INF/MANIFEST.MF") {
            EXPECT_EQ(after.at(name).local.substr(6, 2), records.local.substr(6, 2)); // flags
            EXPECT_EQ(after.at(name).central.substr(8, 2), records.central.substr(8, 2));
            continue;
        }
        EXPECT_EQ(after.at(name), records) << name;
    }
    const std::vector<Entry> entries = Entries(jar); // libzip checks the archive's consistency
    ASSERT_EQ(entries.size(), 60u);
    EXPECT_EQ(std::get<3>(entries[51]), kHead + kFoldedOptional + "Created-By: hand\r\nMIDlet-Permissions: " +
                                            kHttp + "\r\n\r\nName: game/Main.class\r\nX-Digest: x\r\n\r\n");
    EXPECT_LE(rewritten.size(), original.size() + 64); // the manifest's growth only
    EXPECT_EQ(ListDir(dir.path()).size(), 2u);

    // Undone: the jar as it was, and the backup this change made is gone.
    RemoveFile(backup);
    WriteFile(jar, original);
    {
        JarAgreement agreement(jar, backup, *IdentityOfFile(jar), {kLongValue, kHttp});
        ASSERT_TRUE(agreement.Changed());
        EXPECT_NE(ReadFile(jar), original);
    }
    EXPECT_EQ(ReadFile(jar), original);
    EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"game.jar"});

    // A jar that agrees, or has no manifest, is not touched.
    JarAgreement none(jar, backup, *IdentityOfFile(jar), {});
    EXPECT_FALSE(none.Changed());
    WriteZip(jar, {{"a.class", "x"}});
    JarAgreement noManifest(jar, backup, *IdentityOfFile(jar), http);
    EXPECT_FALSE(noManifest.Changed());
    EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"game.jar"});
}

TEST(JarAgreement, ADamagedOrChangedJarIsRefusedAndNothingIsWritten) {
    TempDir dir;
    const std::string jar = dir / "game.jar";
    const std::string backup = jar + ".original";
    const PermissionAttributes http{kHttp, std::nullopt};

    // Four thousand records pointing into one stream of 256 MiB of zeros.
    rawzip::Builder bomb;
    const std::string manifest = kHead + "MIDlet-Permissions: a\r\n";
    bomb.AddDeflated("META-INF/MANIFEST.MF", manifest);
    bomb.AddOverlapping("zeros", 256ull << 20, 4000);
    // A manifest whose data fails its CRC.
    rawzip::Builder badCrc;
    const std::string deflated = rawzip::Deflate(manifest);
    badCrc.Add({"META-INF/MANIFEST.MF", rawzip::kDeflated, rawzip::Crc(manifest) ^ 1u, deflated.size(),
                manifest.size()},
               deflated);
    for (const std::string& damaged : {bomb.Finish(), badCrc.Finish(), std::string("not a zip")}) {
        WriteFile(jar, damaged);
        EXPECT_THROW(JarAgreement(jar, backup, *IdentityOfFile(jar), http), JarDamagedError);
        EXPECT_EQ(ReadFile(jar), damaged);
        EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"game.jar"});
    }

    // The stamp the job took is no longer the jar's.
    WriteZip(jar, {{"META-INF/MANIFEST.MF", manifest}});
    const FileIdentity stamp = *IdentityOfFile(jar);
    WriteZip(jar + ".new", {{"META-INF/MANIFEST.MF", manifest}, {"b", "b"}});
    ASSERT_EQ(std::rename((jar + ".new").c_str(), jar.c_str()), 0);
    const std::string replaced = ReadFile(jar);
    EXPECT_THROW(JarAgreement(jar, backup, stamp, http), JarChangedError);
    EXPECT_EQ(ReadFile(jar), replaced);
    EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"game.jar"});
}

namespace {

// The Java job on suites whose manifests carry different permission
// attributes, in each permission mode, with the build's JAD tool.
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
                       {"game/\xD0\x9A"
                        "0.class",
                        "CAFEBABE"},
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
    if (inDescriptor.permissions) {
        EXPECT_EQ(inManifest.permissions, inDescriptor.permissions);
    }
    if (inDescriptor.optional) {
        EXPECT_EQ(inManifest.optional, inDescriptor.optional);
    }
    // A descriptor that asks for nothing never changes the jar.
    if (!inDescriptor.permissions && !inDescriptor.optional) {
        EXPECT_EQ(ReadFile(jar), original);
    }
    const std::string sections = "\r\nName: game/Main.class\r\nX-Digest: x\r\n\r\n"; // per-entry sections
    EXPECT_EQ(manifest.substr(manifest.size() - sections.size()), sections);

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

namespace {

struct FieldSuites : ProgramFolderFixture {
    void SetUp() override {
        if (!JavaAvailable())
            GTEST_SKIP() << "java is not on the search path";
        ProgramFolderFixture::SetUp();
        UseBuildSigningTools();
        ctx.commandLine = "x";
    }
};

} // namespace

TEST_F(FieldSuites, SuitesAsTheFieldHoldsThemSignAndInstall) {
    const std::string koi8Name = "MIDlet-Name: \xE9\xC7\xD2\xC1 \xF0\xD2\xCF\r\n"; // KOI8-R, not UTF-8
    struct Case {
        const char* what;
        std::string jar;
        PermissionMode mode;
    };
    const std::vector<Case> cases = {
        {"the manifest after fifty entries, UTF-8 names, data descriptors",
         ToolLayoutJar(kHead + kFoldedPermissions + kTail), PermissionMode::User},
        {"a manifest without permission attributes", ToolLayoutJar(kHead + kTail), PermissionMode::User},
        {"a KOI8-R manifest",
         ToolLayoutJar(std::string(kHead).replace(kHead.find("MIDlet-Name: Game\r\n"), 19, koi8Name) + kTail),
         PermissionMode::Automatic},
    };
    permissions.boxes[3] = kBoxChecked; // http
    const std::string jar = apps + "/game.jar";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& name : ListDir(apps))
            ::unlink((apps + "/" + name).c_str());
        WriteFile(jar, c.jar);
        permissions.mode = c.mode;
        ui.shown.clear();
        ASSERT_EQ(RunJava(jar), kExitSuccess) << ui.Messages().back();
        const std::string jad = ReadFile(apps + "/game.jad");
        const CheckReport report = CheckJavaSuite(apps + "/game.jad", jar);
        EXPECT_FALSE(report.Refused()) << report.findings[0].text;
        const auto attrs = DescriptorAttributes(jad);
        EXPECT_TRUE(VerifySha1RsaSignature(ReadFile(jar), attrs.at("MIDlet-Certificate-1-1"),
                                           attrs.at("MIDlet-Jar-RSA-SHA1")));
        if (c.mode == PermissionMode::User) {
            // The manifest carries exactly the descriptor's line.
            const std::vector<Entry> entries = Entries(jar);
            ASSERT_EQ(entries.size(), 60u);
            EXPECT_EQ(PermissionAttributesOf(std::get<3>(entries[51])).permissions, kHttp);
            EXPECT_NE(jad.find("\r\nMIDlet-Permissions: " + kHttp + "\r\n"), std::string::npos) << jad;
        } else {
            EXPECT_EQ(ReadFile(jar), c.jar); // the automatic mode never changes the jar
            EXPECT_NE(jad.find(koi8Name), std::string::npos) << jad;
        }
    }
}
