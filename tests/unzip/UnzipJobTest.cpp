#include "common/Errors.h"
#include "support/ScriptedUi.h"
#include "unzip/CGUnzipFiles.h"
#include "unzip/CodeModule.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

using namespace jarseal;
using namespace jarseal::test;
using namespace jarseal::unzipdll;

namespace {

// A stand-in library that records what the bridge hands over and plays a
// scripted part with the callbacks.
struct Fake {
    static inline UnzipOptions options{};
    static inline std::string zipFileName;
    static inline std::string extractDir;
    static inline UnzipVersion version{};
    static inline int versionCalls = 0;
    static inline int includeCount = -1;
    static inline int excludeCount = -1;
    static inline bool listsAllNull = false;
    static inline std::vector<std::string> writtenNames;
    static inline std::function<int(UnzipUserFunctions&)> body;

    static void Reset() {
        options = {};
        zipFileName.clear();
        extractDir.clear();
        version = {};
        versionCalls = 0;
        includeCount = excludeCount = -1;
        listsAllNull = false;
        writtenNames.clear();
        body = nullptr;
    }
    static void Version(UnzipVersion* v) {
        version = *v;
        ++versionCalls;
    }
    static int Unzip(int ic, const char* const* il, int ec, const char* const* el, const UnzipOptions* o,
                     UnzipUserFunctions* uf) {
        options = *o;
        zipFileName = o->zipFileName;
        extractDir = o->extractDir;
        includeCount = ic;
        excludeCount = ec;
        writtenNames.clear();
        for (int i = 0; i < o->writtenNameCount; ++i)
            writtenNames.emplace_back(o->writtenNames[i]);
        listsAllNull = true;
        for (int i = 0; i < 100; ++i)
            listsAllNull = listsAllNull && il[i] == nullptr && el[i] == nullptr;
        return body ? body(*uf) : 0;
    }
};

const UnzipLibrary kFake{&Fake::Version, &Fake::Unzip};

class UnzipBridge : public ::testing::Test {
  protected:
    void SetUp() override {
        Fake::Reset();
        CodeModule::SetLibrary(&kFake);
    }
    void TearDown() override { CodeModule::SetLibrary(&CodeModule::DefaultLibrary()); }

    ScriptedUi ui;
    CGUnzipFiles job{ui};
};

// Prints the text as one piece of the given length.
int PrintPiece(UnzipUserFunctions& uf, const char* text, unsigned long length) {
    return uf.print(text, length);
}

} // namespace

TEST_F(UnzipBridge, FreshJobHasDefaultsAndHandsThemToTheLibrary) {
    EXPECT_FALSE(job.GetExtractNewer());
    EXPECT_FALSE(job.GetSpaceToUnderScore());
    EXPECT_FALSE(job.GetPromptOverwrite());
    EXPECT_EQ(job.GetMessageLevel(), 2);
    EXPECT_FALSE(job.GetWriteToStdOut());
    EXPECT_FALSE(job.GetTestZip());
    EXPECT_EQ(job.GetExtractList(), 0);
    EXPECT_FALSE(job.GetExtractOnlyNewer());
    EXPECT_FALSE(job.GetDisplayComment());
    EXPECT_TRUE(job.GetHonorDirectories());
    EXPECT_TRUE(job.GetOverWriteFiles());
    EXPECT_FALSE(job.GetConvertCRtoCRLF());
    EXPECT_FALSE(job.GetVerbose());
    EXPECT_TRUE(job.GetCaseSensitive());
    EXPECT_EQ(job.GetPrivilege(), 0);
    EXPECT_EQ(job.GetZipFileName(), "");
    EXPECT_EQ(job.GetExtractDir(), "");

    EXPECT_EQ(job.Unzip("a.jar", "out"), 0);
    const UnzipOptions& o = Fake::options;
    const int fields[15] = {o.extractOnlyNewer, o.spaceToUnderscore, o.promptToOverwrite, o.messageLevel,
                            o.writeToStdOut,    o.testZip,           o.extractList,       o.extractNewer,
                            o.displayComment,   o.honorDirectories,  o.overwriteFiles,    o.convertCRtoCRLF,
                            o.verbose,          o.caseSensitive,     o.privilege};
    const int expected[15] = {0, 0, 0, 2, 0, 0, 0, 0, 0, 1, 1, 0, 0, 1, 0};
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(fields[i], expected[i]) << "field " << i + 1;
    EXPECT_EQ(Fake::zipFileName, "a.jar");
    EXPECT_EQ(Fake::extractDir, "out");
    EXPECT_EQ(Fake::includeCount, 0);
    EXPECT_EQ(Fake::excludeCount, 0);
    EXPECT_TRUE(Fake::listsAllNull);

    // The version record is prepared before the query.
    EXPECT_EQ(Fake::versionCalls, 1);
    EXPECT_EQ(Fake::version.structLength, 64u);
    EXPECT_EQ(std::string(Fake::version.betaLevel), std::string(9, ' '));
    EXPECT_EQ(std::string(Fake::version.date), std::string(19, ' '));
    EXPECT_EQ(std::string(Fake::version.engineVersion), std::string(9, ' '));
    EXPECT_EQ(Fake::version.flag, 0u);
}

TEST_F(UnzipBridge, EachSwitchFillsItsOwnFieldWithExactlyOne) {
    struct Case {
        const char* name;
        std::function<void(CGUnzipFiles&, bool)> let;
        std::function<bool(CGUnzipFiles&)> get;
        int UnzipOptions::*field;
    };
    const Case cases[] = {
        {"ExtractNewer", &CGUnzipFiles::LetExtractNewer, &CGUnzipFiles::GetExtractNewer,
         &UnzipOptions::extractNewer},
        {"SpaceToUnderScore", &CGUnzipFiles::LetSpaceToUnderScore, &CGUnzipFiles::GetSpaceToUnderScore,
         &UnzipOptions::spaceToUnderscore},
        {"PromptOverwrite", &CGUnzipFiles::LetPromptOverwrite, &CGUnzipFiles::GetPromptOverwrite,
         &UnzipOptions::promptToOverwrite},
        {"WriteToStdOut", &CGUnzipFiles::LetWriteToStdOut, &CGUnzipFiles::GetWriteToStdOut,
         &UnzipOptions::writeToStdOut},
        {"TestZip", &CGUnzipFiles::LetTestZip, &CGUnzipFiles::GetTestZip, &UnzipOptions::testZip},
        {"ExtractOnlyNewer", &CGUnzipFiles::LetExtractOnlyNewer, &CGUnzipFiles::GetExtractOnlyNewer,
         &UnzipOptions::extractOnlyNewer},
        {"DisplayComment", &CGUnzipFiles::LetDisplayComment, &CGUnzipFiles::GetDisplayComment,
         &UnzipOptions::displayComment},
        {"HonorDirectories", &CGUnzipFiles::LetHonorDirectories, &CGUnzipFiles::GetHonorDirectories,
         &UnzipOptions::honorDirectories},
        {"OverWriteFiles", &CGUnzipFiles::LetOverWriteFiles, &CGUnzipFiles::GetOverWriteFiles,
         &UnzipOptions::overwriteFiles},
        {"ConvertCRtoCRLF", &CGUnzipFiles::LetConvertCRtoCRLF, &CGUnzipFiles::GetConvertCRtoCRLF,
         &UnzipOptions::convertCRtoCRLF},
        {"Verbose", &CGUnzipFiles::LetVerbose, &CGUnzipFiles::GetVerbose, &UnzipOptions::verbose},
        {"CaseSensitive", &CGUnzipFiles::LetCaseSensitive, &CGUnzipFiles::GetCaseSensitive,
         &UnzipOptions::caseSensitive},
    };
    for (const auto& c : cases) {
        for (const bool on : {false, true}) {
            CGUnzipFiles fresh(ui);
            const UnzipOptions before = [&] {
                fresh.Unzip("a.jar", "out");
                return Fake::options;
            }();
            c.let(fresh, on);
            EXPECT_EQ(c.get(fresh), on) << c.name;
            fresh.Unzip("", "");
            EXPECT_EQ(Fake::options.*(c.field), on ? 1 : 0) << c.name;
            // No other field moved (the integer fields only: the padding before
            // the two texts holds whatever was on the stack).
            UnzipOptions other = Fake::options;
            other.*(c.field) = before.*(c.field);
            EXPECT_EQ(std::memcmp(&other, &before, offsetof(UnzipOptions, privilege) + sizeof(int)), 0)
                << c.name;
        }
    }
}

TEST_F(UnzipBridge, IntegersTravelAsTheirLow16BitsWithSign) {
    job.LetMessageLevel(65535);
    job.LetExtractList(0x10005);
    job.LetPrivilege(70000);
    EXPECT_EQ(job.GetMessageLevel(), 65535); // stored unchanged
    job.Unzip("a.jar", "out");
    EXPECT_EQ(Fake::options.messageLevel, -1);
    EXPECT_EQ(Fake::options.extractList, 5);
    EXPECT_EQ(Fake::options.privilege, 70000 - 65536);

    job.LetMessageLevel(2);
    job.LetExtractList(-2);
    job.LetPrivilege(32768);
    job.Unzip("", "");
    EXPECT_EQ(Fake::options.messageLevel, 2);
    EXPECT_EQ(Fake::options.extractList, -2);
    EXPECT_EQ(Fake::options.privilege, -32768);
}

TEST_F(UnzipBridge, NonEmptyArgumentsReplaceTheStoredTexts) {
    job.LetZipFileName("stored.jar");
    job.LetExtractDir("stored-dir");
    job.Unzip("", "");
    EXPECT_EQ(Fake::zipFileName, "stored.jar");
    EXPECT_EQ(Fake::extractDir, "stored-dir");

    job.Unzip("other.jar", "");
    EXPECT_EQ(Fake::zipFileName, "other.jar");
    EXPECT_EQ(Fake::extractDir, "stored-dir");
    EXPECT_EQ(job.GetZipFileName(), "other.jar");

    job.Unzip("", "other-dir");
    EXPECT_EQ(Fake::zipFileName, "other.jar");
    EXPECT_EQ(job.GetExtractDir(), "other-dir");
}

TEST_F(UnzipBridge, WrittenNamesReachTheLibraryAsACountedList) {
    EXPECT_TRUE(job.GetWrittenNames().empty());
    job.Unzip("a.jar", "out");
    EXPECT_EQ(Fake::options.writtenNameCount, 0);
    EXPECT_EQ(Fake::options.writtenNames, nullptr);

    job.LetWrittenNames({"MANIFEST.MF", "icon.png"});
    job.Unzip("", "");
    EXPECT_EQ(Fake::writtenNames, (std::vector<std::string>{"MANIFEST.MF", "icon.png"}));
    // The include and exclude lists stay empty: every entry is still worked on.
    EXPECT_EQ(Fake::includeCount, 0);
    EXPECT_EQ(Fake::excludeCount, 0);
    EXPECT_TRUE(Fake::listsAllNull);
}

TEST_F(UnzipBridge, ResultCodeIsReturnedUnchanged) {
    Fake::body = [](UnzipUserFunctions&) { return 82; };
    EXPECT_EQ(job.Unzip("a.jar", "out"), 82);
}

TEST_F(UnzipBridge, MissingLibraryRaisesWithBothSourcesBeforeAnyCallback) {
    Fake::body = [](UnzipUserFunctions& uf) { return PrintPiece(uf, "old text", 8); };
    job.Unzip("a.jar", "out");
    ASSERT_EQ(job.GetLastMessage(), "old text");

    CodeModule::SetLibrary(nullptr);
    try {
        job.Unzip("b.jar", "");
        FAIL() << "no error";
    } catch (const RunError& e) {
        EXPECT_EQ(e.Number(), kErrLoadingLibrary);
        EXPECT_EQ(e.Source(), "CGUnZipFiles::Unzip");
        EXPECT_NE(std::string(e.what()), "");
    }
    EXPECT_EQ(job.GetZipFileName(), "b.jar"); // replaced before the call
    EXPECT_EQ(job.GetLastMessage(), "");      // the state was reset first
    EXPECT_TRUE(ui.shown.empty());

    try {
        CodeModule::VBUnzip(ui, "a.jar", "out", 0, 0, 0, 2, 0, 0, 0, 0, 0, 1, 1, 0, 0, 1, 0);
        FAIL() << "no error";
    } catch (const RunError& e) {
        EXPECT_EQ(e.Number(), kErrLoadingLibrary);
        EXPECT_EQ(e.Source(), "CodeModule::VBUnzip");
    }
}

TEST_F(UnzipBridge, PrintedPiecesBecomeTheLastMessageOfTheRun) {
    Fake::body = [](UnzipUserFunctions& uf) {
        EXPECT_EQ(PrintPiece(uf, "Archive:  a.jar", 15), 0);
        PrintPiece(uf, "\n  inflating: x", 15); // a leading line feed leaves only CR LF
        PrintPiece(uf, "ab\0cd", 5);            // stops before the zero byte
        PrintPiece(uf, "xyz", 2);               // stops at the length
        PrintPiece(uf, "\n", 1);
        return 0;
    };
    job.Unzip("a.jar", "out");
    EXPECT_EQ(job.GetLastMessage(), "Archive:  a.jar\r\nabxy\r\n");
    CGUnzipFiles other(ui);
    EXPECT_EQ(other.GetLastMessage(), job.GetLastMessage()); // one text per process

    // A long piece is read up to its limit only.
    Fake::body = [](UnzipUserFunctions& uf) {
        const std::string big(40000, 'a');
        return PrintPiece(uf, big.c_str(), big.size());
    };
    job.Unzip("", "");
    EXPECT_EQ(job.GetLastMessage().size(), 32801u);

    // A run that prints nothing leaves nothing of the previous run.
    Fake::body = nullptr;
    job.Unzip("", "");
    EXPECT_EQ(job.GetLastMessage(), "");
}

TEST_F(UnzipBridge, RefusedPasswordLastsForOneRun) {
    std::vector<int> answers;
    Fake::body = [&answers](UnzipUserFunctions& uf) {
        char buffer[16];
        answers.push_back(uf.password(buffer, sizeof buffer, "prompt", "entry"));
        answers.push_back(uf.password(buffer, sizeof buffer, "prompt", "entry"));
        return 0;
    };
    ui.inputs = {""};
    job.Unzip("a.jar", "out");
    EXPECT_EQ(answers, (std::vector<int>{1, 1}));
    ASSERT_EQ(ui.shown.size(), 1u); // the second request asked nothing
    EXPECT_EQ(ui.shown[0].kind, "input");
    EXPECT_EQ(ui.shown[0].text, "Please Enter The Password!");
    EXPECT_EQ(ui.shown[0].title, "Jarseal");
    EXPECT_EQ(ui.shown[0].defaultText, "");

    // The next run asks again.
    answers.clear();
    ui.inputs = {"secret", ""};
    job.Unzip("", "");
    EXPECT_EQ(answers, (std::vector<int>{0, 1}));
    EXPECT_EQ(ui.shown.size(), 3u);
}

TEST_F(UnzipBridge, PasswordIsWrittenIntoTheBufferWithoutOverrun) {
    char area[24];
    Fake::body = [&area](UnzipUserFunctions& uf) {
        std::memset(area, 'X', sizeof area);
        // The library offers the 16 bytes in the middle; the guards stay untouched.
        return uf.password(area + 4, 16, "prompt", "entry");
    };
    ui.inputs = {"pw"};
    EXPECT_EQ(job.Unzip("a.jar", "out"), 0);
    EXPECT_EQ(std::string(area + 4), "pw");
    EXPECT_EQ(std::string(area + 4, 16), std::string("pw") + std::string(14, '\0'));

    ui.inputs = {std::string(40, 'p')};
    job.Unzip("", "");
    EXPECT_EQ(std::string(area, 4), "XXXX");
    EXPECT_EQ(std::string(area + 20, 4), "XXXX");
    EXPECT_EQ(std::string(area + 4), std::string(15, 'p'));
}

TEST_F(UnzipBridge, OverwriteQuestionAnswersWithLibraryCodes) {
    std::vector<int> answers;
    Fake::body = [&answers](UnzipUserFunctions& uf) {
        for (int i = 0; i < 3; ++i)
            answers.push_back(uf.replace("out/game.txt"));
        return 0;
    };
    ui.answers = {Answer::Yes, Answer::No, Answer::Cancel};
    job.Unzip("a.jar", "out");
    EXPECT_EQ(answers, (std::vector<int>{102, 100, 104}));
    ASSERT_EQ(ui.shown.size(), 3u);
    EXPECT_EQ(ui.shown[0].kind, "yesnocancel");
    EXPECT_EQ(ui.shown[0].text, "Overwrite out/game.txt?");
    EXPECT_EQ(ui.shown[0].title, "VBUnZip32 - File Already Exists!");
    EXPECT_EQ(ui.shown[0].icon, MessageIcon::Exclamation);
}

TEST_F(UnzipBridge, ListingLinesKeepTheirColumns) {
    Fake::body = [](UnzipUserFunctions& uf) {
        const std::string longName = std::string(49, 'n') + "XYZ";
        uf.entryMessage(1234567, 0, 0, 3, 7, 2024, 9, 5, ' ', "META-INF/MANIFEST.MF", "Defl:N", 0, ' ');
        uf.entryMessage(12345678, 0, 0, 12, 31, 2009, 23, 59, ' ', longName.c_str(), "Stored", 0, ' ');
        uf.entryMessage(42, 0, 0, 1, 1, 1980, 0, 0, ' ', "a", "Stored", 0, ' ');
        EXPECT_EQ(uf.service("a", 42), 0);
        return 0;
    };
    job.Unzip("a.jar", "out");
    const std::string header = "Filename:" + std::string(43, ' ') + "Size" + std::string(5, ' ') + "Date" +
                               std::string(5, ' ') + "Time" + std::string(6, ' ');
    const std::string line1 = "META-INF/MANIFEST.MF" + std::string(30, ' ') + "1234567" + "  03/07/24" +
                              "   9:05" + std::string(6, ' ');
    const std::string line2 =
        std::string(49, 'n') + "X" + "2345678" + "  12/31/09" + "  23:59" + std::string(6, ' ');
    const std::string line3 =
        "a" + std::string(49, ' ') + "     42" + "  01/01/80" + "   0:00" + std::string(6, ' ');
    ASSERT_EQ(header.size(), 80u);
    ASSERT_EQ(line1.size(), 80u);
    EXPECT_EQ(CodeModule::ListingText(), header + "\r\n" + line1 + "\r\n" + line2 + "\r\n" + line3 + "\r\n");

    // A later run starts with the header again.
    Fake::body = [](UnzipUserFunctions& uf) {
        uf.entryMessage(42, 0, 0, 1, 1, 1980, 0, 0, ' ', "a", "Stored", 0, ' ');
        return 0;
    };
    job.Unzip("", "");
    EXPECT_EQ(CodeModule::ListingText(), header + "\r\n" + line3 + "\r\n");
}
