#include "java/PermissionCatalogue.h"

#include "check/PermissionRules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <set>

using namespace jarseal;

namespace {

class Boxes : public PermissionChoice {
  public:
    std::array<int, kPermissionGroupCount> states{};
    PermissionMode mode = PermissionMode::Automatic;
    PermissionMode Mode() const override { return mode; }
    int BoxState(std::size_t index) const override { return states.at(index); }
};

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + what.size()))
        ++n;
    return n;
}

} // namespace

TEST(PermissionCatalogue, RowsAreConsistent) {
    std::set<std::string_view> boxes;
    std::set<std::string> keys;
    for (const auto& g : PermissionSet) {
        boxes.insert(g.checkBox);
        std::string lower(g.keyWritten);
        for (auto& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        keys.insert(lower);
        // Written and read forms name one entry of a case-blind file.
        EXPECT_EQ(lower.size(), g.keyRead.size());
        EXPECT_TRUE(std::equal(lower.begin(), lower.end(), g.keyRead.begin(), [](char a, char b) {
            return a == std::tolower(static_cast<unsigned char>(b));
        })) << g.keyWritten;
        EXPECT_TRUE(g.fragment.ends_with(", ")) << g.checkBox;
        // Every name the job may ask for is one a phone grants.
        CheckReport granted;
        check::CheckPermissions({{"MIDlet-Permissions", std::string(g.fragment)}}, "", granted);
        EXPECT_TRUE(granted.findings.empty()) << g.checkBox << ": " << granted.findings.front().text;
        EXPECT_GE(g.panelIndex, kFirstPermissionPanel);
        EXPECT_LE(g.panelIndex, kLastPermissionPanel);
    }
    EXPECT_EQ(boxes.size(), kPermissionGroupCount);
    EXPECT_EQ(keys.size(), kPermissionGroupCount);
    EXPECT_EQ(PermissionSet[7].keyWritten, "PushRegestry");
    EXPECT_EQ(PermissionSet[7].keyRead, "pushregestry");
    EXPECT_EQ(PermissionSet[PermissionGroupIndex("chkSocSer")].toolTip, "");
    EXPECT_EQ(PermissionSet[PermissionGroupIndex("chkPush")].toolTip, "");
    EXPECT_EQ(PermissionSet[PermissionGroupIndex("chkBTC")].panelCaption, "BlueTooth");
    EXPECT_EQ(PermissionSet[PermissionGroupIndex("chkBTC")].panelIndex, 1);
    EXPECT_EQ(PermissionSet[PermissionGroupIndex("chkCam")].caption, "Камера");
    EXPECT_EQ(PermissionGroupIndex("chkNone"), kPermissionGroupCount);
}

TEST(BuildPermissionsLine, NoneOneAndAll) {
    Boxes boxes;
    EXPECT_EQ(BuildPermissionsLine(boxes), "MIDlet-Permissions: ");
    EXPECT_EQ(kPermissionsPrefix.size(), 20u);

    boxes.states[PermissionGroupIndex("chkHttp")] = kBoxChecked;
    EXPECT_EQ(BuildPermissionsLine(boxes), "MIDlet-Permissions: javax.microedition.io.Connector.http, ");

    boxes.states.fill(kBoxChecked);
    const std::string all = BuildPermissionsLine(boxes);
    EXPECT_EQ(Count(all, ", "), 20u); // twenty permission names
    EXPECT_TRUE(all.starts_with("MIDlet-Permissions: javax.microedition.io.Connector.file.read, "));
    EXPECT_TRUE(all.ends_with("javax.microedition.media.control.VideoControl.getSnapshot, "));
    EXPECT_EQ(all.find('\n'), std::string::npos);
    EXPECT_NE(all.find("javax.microedition.io.Connector.sms, javax.wireless.messaging.sms.receive, "
                       "javax.wireless.messaging.sms.send, javax.microedition.io.Connector.mms, "
                       "javax.wireless.messaging.mms.send, javax.wireless.messaging.mms.receive, "
                       "javax.microedition.io.Connector.bluetooth.client, "),
              std::string::npos);
    EXPECT_NE(all.find("Connector.serversocket, javax.microedition.io.PushRegistry, "), std::string::npos);

    // The mode plays no part; only the checked state counts.
    boxes.mode = PermissionMode::User;
    EXPECT_EQ(BuildPermissionsLine(boxes), all);
    boxes.states.fill(kBoxGreyed);
    EXPECT_EQ(BuildPermissionsLine(boxes), "MIDlet-Permissions: ");
}

TEST(BuildPermissionsLine, FragmentsFollowCatalogueOrder) {
    Boxes boxes;
    boxes.states[PermissionGroupIndex("chkCam")] = kBoxChecked;
    boxes.states[PermissionGroupIndex("chkSms")] = kBoxGreyed;
    boxes.states[PermissionGroupIndex("chkRead")] = kBoxChecked;
    EXPECT_EQ(BuildPermissionsLine(boxes), "MIDlet-Permissions: javax.microedition.io.Connector.file.read, "
                                           "javax.microedition.media.control.RecordControl, "
                                           "javax.microedition.media.control.VideoControl.getSnapshot, ");
}
