#include "settings/PermissionPreferences.h"
#include "java/PermissionCatalogue.h"
#include "settings/IniSettings.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <vector>

using namespace jarseal;
using namespace jarseal::test;

namespace {

// The real settings file in a temporary program folder, with a log of writes.
class RecordingSettings : public SettingsAccess {
  public:
    explicit RecordingSettings(const std::string& folder) : file_(SettingsFilePath(folder)) {}
    std::string Read(const std::string& section, const std::string& key) const override {
        return file_.Read(section, key);
    }
    bool Write(const std::string& section, const std::string& key, const std::string& value) override {
        writes.push_back(section + ":" + key + "=" + value);
        return file_.Write(section, key, value);
    }
    std::vector<std::string> writes;

  private:
    IniSettings file_;
};

using Log = std::vector<std::string>;

// A "Permissions" section with byuser ("<absent>": no such line) and every box key (as loading reads
// it) set to value, except the keys given in other.
std::string PermissionsFile(const std::string& byuser, const std::string& value,
                            const std::vector<std::pair<std::string, std::string>>& other = {}) {
    std::string text = "[Permissions]\r\n";
    if (byuser != "<absent>")
        text += "byuser=" + byuser + "\r\n";
    for (const auto& group : PermissionSet) {
        std::string v = value;
        bool skip = false;
        for (const auto& [k, ov] : other)
            if (k == group.keyRead) {
                v = ov;
                skip = (ov == "<absent>");
            }
        if (!skip)
            text += std::string(group.keyRead) + "=" + v + "\r\n";
    }
    return text;
}

bool AllPanels(const PermissionPreferences& p, bool enabled) {
    for (int i = kFirstPermissionPanel; i <= kLastPermissionPanel; ++i)
        if (p.PanelEnabled(i) != enabled)
            return false;
    return true;
}

const std::size_t kPush = PermissionGroupIndex("chkPush");
const std::size_t kHttp = PermissionGroupIndex("chkHttp");
const std::size_t kSock = PermissionGroupIndex("chkSock");

} // namespace

TEST(PermissionConversions, TruthTexts) {
    for (const char* t :
         {"True", "true", "TRUE", "tRuE", " True ", "1", "-1", "+2", "0.5", "5.", ".5", "007"})
        EXPECT_EQ(ParseTruthText(t), true) << t;
    for (const char* f : {"False", "false", "FALSE", "0", "-0", "+0", "0.0", "000", "\t0 "})
        EXPECT_EQ(ParseTruthText(f), false) << f;
    for (const char* bad : {"", " ", "yes", "no", "T", "1e3", "0x1", "&H1", "1,0", "1.2.3", ".", "-", "+-1",
                            "1 0", "True1", "Truth"})
        EXPECT_EQ(ParseTruthText(bad), std::nullopt) << bad;
}

TEST(PermissionConversions, BoxStates) {
    EXPECT_EQ(ParseBoxStateText("0"), 0);
    EXPECT_EQ(ParseBoxStateText("1"), 1);
    EXPECT_EQ(ParseBoxStateText("2"), 2);
    EXPECT_EQ(ParseBoxStateText(" 1\t"), 1);
    EXPECT_EQ(ParseBoxStateText("01"), 1);
    for (const char* bad :
         {"", " ", "3", "5", "-1", "+1", "1.0", "1e0", "x", "True", "1 1", "99999999999999999999", "2x"})
        EXPECT_EQ(ParseBoxStateText(bad), std::nullopt) << bad;
}

TEST(PermissionPreferences, WithoutSectionNothingChangesAndNothingIsWritten) {
    TempDir dir;
    WriteFile(dir / "Jarseal.ini", "[Jarseal]\r\nFirstRun=0\r\n");
    RecordingSettings settings(dir.path());
    PermissionPreferences page(settings);
    int notified = 0;
    page.SetObserver([&] { ++notified; });
    page.LoadPermissionSettings();
    EXPECT_EQ(page.Mode(), PermissionMode::Automatic);
    EXPECT_TRUE(AllPanels(page, true));
    for (std::size_t i = 0; i < kPermissionGroupCount; ++i)
        EXPECT_EQ(page.BoxState(i), kBoxUnchecked);
    EXPECT_EQ(settings.writes, Log{});
    EXPECT_EQ(ReadFile(dir / "Jarseal.ini"), "[Jarseal]\r\nFirstRun=0\r\n");
    EXPECT_EQ(notified, 1);
}

TEST(PermissionPreferences, LoadSetsModePanelsAndBoxesAndWritesWhatItChanges) {
    TempDir dir;
    {
        WriteFile(dir / "Jarseal.ini", PermissionsFile("False", "0", {{"http", "1"}}));
        RecordingSettings settings(dir.path());
        PermissionPreferences page(settings);
        page.LoadPermissionSettings();
        EXPECT_EQ(page.Mode(), PermissionMode::Automatic);
        EXPECT_TRUE(AllPanels(page, false));
        EXPECT_EQ(page.BoxState(kHttp), kBoxChecked); // checked inside its disabled panel
        EXPECT_EQ(settings.writes, Log{"Permissions:http=1"});
    }
    {
        WriteFile(dir / "Jarseal.ini", PermissionsFile("1", "1", {{"socket", "2"}}));
        RecordingSettings settings(dir.path());
        PermissionPreferences page(settings);
        page.LoadPermissionSettings();
        EXPECT_EQ(page.Mode(), PermissionMode::User);
        EXPECT_TRUE(AllPanels(page, true));
        EXPECT_EQ(page.BoxState(kSock), kBoxGreyed);
        ASSERT_EQ(settings.writes.size(), 15u);
        EXPECT_EQ(settings.writes[0], "Permissions:byuser=True");
        EXPECT_EQ(settings.writes[3], "Permissions:socket=2");
        // Load order: the Bluetooth pair before SMS and MMS, and the push
        // entry written under its written name.
        EXPECT_EQ(settings.writes[8], "Permissions:PushRegestry=1");
        EXPECT_EQ(settings.writes[9], "Permissions:bluetoothclient=1");
        EXPECT_EQ(settings.writes[11], "Permissions:SMS=1");
        EXPECT_EQ(settings.writes[14], "Permissions:camera=1");
        // The file holds the same values, "byuser" now in its written form.
        EXPECT_EQ(ReadFile(dir / "Jarseal.ini"), PermissionsFile("True", "1", {{"socket", "2"}}));
    }
}

TEST(PermissionPreferences, LoadingStopsAtEveryUnusableByUserValue) {
    for (const std::string byuser : {"<absent>", " ", "yes", "1e1"}) {
        TempDir dir;
        const std::string text = PermissionsFile(byuser, "1");
        WriteFile(dir / "Jarseal.ini", text);
        RecordingSettings settings(dir.path());
        PermissionPreferences page(settings);
        page.LoadPermissionSettings();
        EXPECT_EQ(page.Mode(), PermissionMode::Automatic) << byuser;
        EXPECT_TRUE(AllPanels(page, true)) << byuser;
        EXPECT_EQ(page.BoxState(0), kBoxUnchecked) << byuser;
        EXPECT_EQ(settings.writes, Log{}) << byuser;
        EXPECT_EQ(ReadFile(dir / "Jarseal.ini"), text);
    }
}

TEST(PermissionPreferences, LoadingStopsAtEveryBoxKeyThatIsAbsentEmptyOrWrong) {
    const auto& order = PermissionPreferences::kLoadOrder;
    for (std::size_t stop = 0; stop < order.size(); ++stop) {
        const PermissionGroup& bad = PermissionSet[order[stop]];
        for (const std::string value : {"<absent>", "", "x", "5", "1.0", "-1"}) {
            TempDir dir;
            WriteFile(dir / "Jarseal.ini",
                      PermissionsFile("False", "1", {{std::string(bad.keyRead), value}}));
            RecordingSettings settings(dir.path());
            PermissionPreferences page(settings);
            page.LoadPermissionSettings();
            Log expected;
            for (std::size_t i = 0; i < order.size(); ++i) {
                const int want = i < stop ? kBoxChecked : kBoxUnchecked;
                EXPECT_EQ(page.BoxState(order[i]), want) << bad.keyRead << "='" << value << "' box " << i;
                if (i < stop)
                    expected.push_back("Permissions:" + std::string(PermissionSet[order[i]].keyWritten) +
                                       "=1");
            }
            EXPECT_EQ(settings.writes, expected) << bad.keyRead << "='" << value << "'";
            EXPECT_TRUE(AllPanels(page, false)); // the mode was loaded before the stop
        }
    }
}

TEST(PermissionPreferences, BluetoothGroupsAreLoadedBeforeMessages) {
    TempDir dir;
    WriteFile(dir / "Jarseal.ini", PermissionsFile("True", "1", {{"SMS", "x"}}));
    RecordingSettings settings(dir.path());
    PermissionPreferences page(settings);
    page.LoadPermissionSettings();
    EXPECT_EQ(page.BoxState(PermissionGroupIndex("chkBTC")), kBoxChecked);
    EXPECT_EQ(page.BoxState(PermissionGroupIndex("chkBTS")), kBoxChecked);
    for (const char* box : {"chkSms", "chkMms", "chkPIM", "chkCam"})
        EXPECT_EQ(page.BoxState(PermissionGroupIndex(box)), kBoxUnchecked) << box;
}

TEST(PermissionPreferences, ClicksWriteTheirKeysAtOnce) {
    TempDir dir;
    RecordingSettings settings(dir.path());
    PermissionPreferences page(settings);
    int notified = 0;
    page.SetObserver([&] { ++notified; });

    EXPECT_TRUE(page.ClickBox(kPush, kBoxChecked));
    EXPECT_TRUE(page.ClickBox(kPush, kBoxUnchecked));
    EXPECT_TRUE(page.ClickBox(kHttp, kBoxChecked));
    EXPECT_EQ(settings.writes,
              (Log{"Permissions:PushRegestry=1", "Permissions:PushRegestry=0", "Permissions:http=1"}));
    EXPECT_EQ(ReadFile(dir / "Jarseal.ini"), "[Permissions]\r\nPushRegestry=0\r\nhttp=1\r\n");

    settings.writes.clear();
    page.ClickAutomatic();
    EXPECT_EQ(page.Mode(), PermissionMode::Automatic);
    EXPECT_TRUE(AllPanels(page, false));
    EXPECT_FALSE(page.ClickBox(kHttp, kBoxUnchecked)); // its panel is disabled
    page.ClickUser();
    EXPECT_EQ(page.Mode(), PermissionMode::User);
    EXPECT_TRUE(AllPanels(page, true));
    EXPECT_EQ(page.BoxState(kHttp), kBoxChecked); // ticks survive switching
    EXPECT_EQ(settings.writes, (Log{"Permissions:byuser=False", "Permissions:byuser=True"}));
    EXPECT_FALSE(page.ClickBox(kPermissionGroupCount, kBoxChecked));
    EXPECT_FALSE(page.ClickBox(kHttp, 3));
    EXPECT_EQ(page.BoxState(kPermissionGroupCount), kBoxUnchecked);
    EXPECT_FALSE(page.PanelEnabled(0));
    EXPECT_FALSE(page.PanelEnabled(6));
    EXPECT_EQ(notified, 5);

    // The next start reads it all back, the push entry through "pushregestry".
    WriteFile(dir / "Jarseal.ini", PermissionsFile("True", "0"));
    page.ClickBox(kPush, kBoxChecked);
    PermissionPreferences next(settings);
    next.LoadPermissionSettings();
    EXPECT_EQ(next.BoxState(kPush), kBoxChecked);
    EXPECT_EQ(next.Mode(), PermissionMode::User);
}

TEST(PermissionPreferences, GreyedBoxFromTheFileTakesTheClickedState) {
    TempDir dir;
    WriteFile(dir / "Jarseal.ini", PermissionsFile("True", "0", {{"socket", "2"}}));
    RecordingSettings settings(dir.path());
    PermissionPreferences page(settings);
    page.LoadPermissionSettings();
    EXPECT_EQ(page.BoxState(kSock), kBoxGreyed);
    EXPECT_EQ(BuildPermissionsLine(page), "MIDlet-Permissions: ");
    settings.writes.clear();
    EXPECT_TRUE(page.ClickBox(kSock, kBoxChecked));
    EXPECT_EQ(settings.writes, Log{"Permissions:socket=1"});
    EXPECT_EQ(BuildPermissionsLine(page), "MIDlet-Permissions: javax.microedition.io.Connector.socket, ");
}

TEST(PermissionPreferences, LineDoesNotDependOnTheOrderOfTicking) {
    TempDir dir;
    RecordingSettings settings(dir.path());
    PermissionPreferences first(settings);
    PermissionPreferences second(settings);
    first.ClickBox(PermissionGroupIndex("chkCam"), kBoxChecked);
    first.ClickBox(PermissionGroupIndex("chkRead"), kBoxChecked);
    first.ClickBox(kHttp, kBoxChecked);
    second.ClickBox(PermissionGroupIndex("chkRead"), kBoxChecked);
    second.ClickBox(kHttp, kBoxChecked);
    second.ClickBox(PermissionGroupIndex("chkCam"), kBoxChecked);
    EXPECT_EQ(BuildPermissionsLine(first), BuildPermissionsLine(second));
    EXPECT_TRUE(BuildPermissionsLine(first).starts_with(
        "MIDlet-Permissions: javax.microedition.io.Connector.file.read, "
        "javax.microedition.io.Connector.http, "));
}
