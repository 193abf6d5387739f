#include "settings/SigningEditors.h"
#include "support/FakeSettings.h"
#include "support/ScriptedUi.h"

#include <gtest/gtest.h>

using namespace jarseal;
using namespace jarseal::test;

namespace {

struct SigningEditorsFixture : ::testing::Test {
    ScriptedUi ui;
    MemorySettings settings;
    FixedPermissions permissions;
    Context ctx{ui, settings, permissions, "/prog", ""};
    std::string Get(const char* section, const char* key) { return settings.Read(section, key); }
};

} // namespace

TEST_F(SigningEditorsFixture, ViewReadsEveryBoxAndPathLabelFromItsKey) {
    settings.values = {{{"Java", "storepass"}, "sp"},      {{"Java", "keypass"}, "kp"},
                       {{"Java", "alias1"}, "a1"},         {{"Java", "alias2"}, "a2"},
                       {{"Symbian", "passphrase"}, "pp"},  {{"Java", "keystore"}, "/k/store"},
                       {{"Symbian", "SignSIS"}, "/s.exe"}, {{"Symbian", "certificate"}, "/c.cer"},
                       {{"Symbian", "key"}, "/k.key"}};
    const SettingsView view = ReadSettingsView(settings);
    EXPECT_EQ(view.texts, (std::array<std::string, 5>{"sp", "kp", "a1", "a2", "pp"}));
    EXPECT_EQ(view.keystore, "/k/store");
    EXPECT_EQ(view.signSis, "/s.exe");
    EXPECT_EQ(view.certificate, "/c.cer");
    EXPECT_EQ(view.key, "/k.key");
}

TEST_F(SigningEditorsFixture, InputBoxShowsCurrentValueAndStoresOnlyANonEmptyAnswer) {
    settings.values[{"Java", "alias1"}] = "old";
    ui.inputs = {"new alias"};
    EXPECT_EQ(EditSettingWithInputBox(ctx, 2), "new alias");
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0].text, "Введите новое значение для alias1");
    EXPECT_EQ(ui.shown[0].title, "Jarseal");
    EXPECT_EQ(ui.shown[0].defaultText, "old");
    EXPECT_EQ(Get("Java", "alias1"), "new alias");

    ui.inputs = {""}; // cleared field or cancel
    EXPECT_EQ(EditSettingWithInputBox(ctx, 2), std::nullopt);
    EXPECT_EQ(Get("Java", "alias1"), "new alias");
}

TEST_F(SigningEditorsFixture, InputBoxRefreshShowsWhatTheFileHolds) {
    // A settings layer that drops blanks at the ends, as the settings file does.
    struct TrimmingSettings : MemorySettings {
        std::string Read(const std::string& s, const std::string& k) const override {
            std::string v = MemorySettings::Read(s, k);
            const auto first = v.find_first_not_of(' ');
            return first == std::string::npos ? "" : v.substr(first, v.find_last_not_of(' ') - first + 1);
        }
    } trimming;
    Context c{ui, trimming, permissions, "/prog", ""};
    ui.inputs = {"   "};
    EXPECT_EQ(EditSettingWithInputBox(c, 0), "");
    EXPECT_EQ(trimming.MemorySettings::Read("Java", "storepass"), "   ");
}

TEST_F(SigningEditorsFixture, RestoreDefaultsWritesTheFiveJavaKeysOnly) {
    settings.values[{"Symbian", "passphrase"}] = "keep";
    settings.values[{"Permissions", "read"}] = "1";
    const JavaDefaults d = RestoreJavaDefaults(ctx);
    EXPECT_EQ(d.texts, (std::array<std::string, 4>{"52039871", "52039871", "jsk", "jsk"}));
    EXPECT_EQ(d.keystore, PortablePlaces("/prog").defaultKeystore);
    EXPECT_EQ(Get("Java", "keystore"), PortablePlaces("/prog").defaultKeystore);
    EXPECT_EQ(Get("Java", "storepass"), "52039871");
    EXPECT_EQ(Get("Java", "keypass"), "52039871");
    EXPECT_EQ(Get("Java", "alias1"), "jsk");
    EXPECT_EQ(Get("Java", "alias2"), "jsk");
    EXPECT_EQ(settings.values.size(), 7u);
    EXPECT_TRUE(ui.shown.empty());
}
