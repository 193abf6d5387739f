#include "app/StartUp.h"
#include "settings/IniSettings.h"
#include "support/ScriptedUi.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace jarseal;
using namespace jarseal::test;

namespace {

const std::string kFirstQuestion = "Изменено место положения программы\r\n"
                                   "Значение kestore возможно было потерянно\r\n"
                                   "Назачить по умолчанию?";

// Start-up against a real settings file in a fresh program folder.
struct StartUpFixture : ::testing::Test {
    TempDir root;
    std::string program = root / "prog";
    ScriptedUi ui;
    std::unique_ptr<IniSettings> settings;
    std::unique_ptr<PermissionPreferences> prefs;
    std::unique_ptr<Context> ctx;
    std::vector<std::string> steps;

    void SetUp() override {
        MakeDir(program + "/data/temp");
        settings = std::make_unique<IniSettings>(SettingsFilePath(program));
        prefs = std::make_unique<PermissionPreferences>(*settings);
        ctx = std::make_unique<Context>(Context{ui, *settings, *prefs, program, ""});
    }
    int Start() {
        try {
            StartUp(*ctx, *prefs, {{}, [this] { steps.push_back("view"); }});
        } catch (const ProgramEnded& e) {
            return e.status;
        }
        return -1;
    }
    std::string Ini() { return Exists(program + "/Jarseal.ini") ? ReadFile(program + "/Jarseal.ini") : ""; }
};

} // namespace

TEST(FirstRunValue, OneOrNoNumberAtAllAsksForTheSetUp) {
    for (const char* yes : {"", "1", "abc", "1.0", "+1", "1e0", "0x1", "nan", "1 2"})
        EXPECT_TRUE(FirstRunSetUpNeeded(yes)) << yes;
    for (const char* no : {"0", "2", "-1", "0.5", "10"})
        EXPECT_FALSE(FirstRunSetUpNeeded(no)) << no;
}

TEST_F(StartUpFixture, NoSettingsFileWritesExactlyThreeKeysAndAsksNothing) {
    EXPECT_EQ(Start(), -1);
    EXPECT_EQ(Ini(), "[Jarseal]\r\nFirstRun=0\r\nAppPath=" + program + "\r\n[Java]\r\nkeystore=" + program +
                         "/data/key\r\n");
    EXPECT_TRUE(ui.shown.empty());
    EXPECT_EQ(steps, std::vector<std::string>{"view"});
    EXPECT_EQ(prefs->Mode(), PermissionMode::Automatic);
}

TEST_F(StartUpFixture, FirstRunOneResetsTheKeystoreWithoutQuestions) {
    settings->Write("Jarseal", "FirstRun", "1");
    settings->Write("Java", "keystore", "/elsewhere/key");
    settings->Write("Jarseal", "AppPath", "/old/place");
    Start();
    EXPECT_EQ(settings->Read("Java", "keystore"), program + "/data/key");
    EXPECT_EQ(settings->Read("Jarseal", "AppPath"), program);
    EXPECT_TRUE(ui.shown.empty());
}

TEST_F(StartUpFixture, MovedProgramFolderAsksAndEveryAnswerRecordsTheNewFolder) {
    auto prepare = [&](const std::string& appPath) {
        settings->Write("Jarseal", "FirstRun", "0");
        settings->Write("Java", "keystore", "/old/key");
        settings->Write("Jarseal", "AppPath", appPath);
        ui.shown.clear();
    };

    prepare(program + "X");
    ui.answers = {Answer::Yes};
    Start();
    EXPECT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0].text, kFirstQuestion);
    EXPECT_EQ(settings->Read("Java", "keystore"), program + "/data/key");
    EXPECT_EQ(settings->Read("Jarseal", "AppPath"), program);

    // Letter case counts; No, then Yes with the chooser cancelled.
    std::string upper = program;
    upper[1] = static_cast<char>(std::toupper(upper[1]));
    prepare(upper);
    ui.answers = {Answer::No, Answer::Yes};
    Start();
    ASSERT_EQ(ui.shown.size(), 3u);
    EXPECT_EQ(ui.shown[1].text,
              "Выбрать keystore самостоятельно?\r\nЕсли нет, то останется прошлое значение.");
    EXPECT_EQ(ui.shown[2].kind, "open");
    EXPECT_EQ(ui.shown[2].title, "Выберите файл keystore");
    EXPECT_EQ(settings->Read("Java", "keystore"), "/old/key");
    EXPECT_EQ(settings->Read("Jarseal", "AppPath"), program);

    // No, Yes, and a key store chosen.
    prepare("");
    ui.answers = {Answer::No, Answer::Yes};
    ui.openPaths = {"/chosen/store.jks"};
    Start();
    EXPECT_EQ(settings->Read("Java", "keystore"), "/chosen/store.jks");

    // No and No keep the old value.
    prepare("/x");
    Start();
    EXPECT_EQ(settings->Read("Java", "keystore"), "/old/key");
    EXPECT_EQ(settings->Read("Jarseal", "AppPath"), program);
}

TEST_F(StartUpFixture, PreferencesAreLoadedBeforeTheCommandLinePackage) {
    Start(); // first run
    settings->Write("Permissions", "byuser", "1");
    ui.shown.clear();
    steps.clear();
    ctx->commandLine = "   ";
    EXPECT_EQ(Start(), -1); // blanks only: nothing opened, the window comes
    EXPECT_EQ(steps, std::vector<std::string>{"view"});
    EXPECT_EQ(prefs->Mode(), PermissionMode::User);

    ctx->commandLine = root / "notes.txt";
    EXPECT_EQ(Start(), kExitFailure); // refused and ended before the window
    EXPECT_EQ(steps, std::vector<std::string>{"view"});
}
