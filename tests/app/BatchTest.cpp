#include "app/Batch.h"
#include "app/BatchReport.h"
#include "app/CertificateExport.h"
#include "app/ConsoleUi.h"
#include "app/UserFolders.h"
#include "common/FileSystem.h"
#include "process/Quoting.h"
#include "process/RunAndWait.h"
#include "support/CliFixture.h"
#include "support/FakeSettings.h"
#include "support/JavaFixture.h"
#include "support/ScriptedUi.h"
#include "support/Signature.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <openssl/x509v3.h>
#include <regex>
#include <set>
#include <sstream>
#include <sys/stat.h>
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

    parsed = ParseBatchArguments({"--version"}, error);
    ASSERT_TRUE(parsed) << error;
    EXPECT_TRUE(parsed->version);
    EXPECT_FALSE(parsed->help);
    EXPECT_FALSE(parsed->keepDescriptorAttributes);
    EXPECT_TRUE(parsed->paths.empty());
    EXPECT_FALSE(ParseBatchArguments({"--version=1"}, error));

    parsed = ParseBatchArguments({"--jobs=3", "--report", "r.tsv", "a.jar"}, error);
    ASSERT_TRUE(parsed) << error;
    EXPECT_EQ(parsed->jobs, 3u);
    EXPECT_EQ(parsed->reportFile, "r.tsv");

    parsed = ParseBatchArguments({"--keep-jad-attributes", "a.jar"}, error);
    ASSERT_TRUE(parsed) << error;
    EXPECT_TRUE(parsed->keepDescriptorAttributes);
    EXPECT_FALSE(parsed->exportCertificate);
    EXPECT_EQ(parsed->paths, std::vector<std::string>{"a.jar"});

    // The certificate's file: "=FILE" or the one PATH, before or after --symbian.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--export-certificate", "--symbian", "x.cer"},
          {"--symbian", "--export-certificate=x.cer"},
          {"x.cer", "--export-certificate", "--symbian"}}) {
        parsed = ParseBatchArguments(args, error);
        ASSERT_TRUE(parsed) << error;
        EXPECT_TRUE(parsed->exportCertificate && parsed->symbian);
        EXPECT_EQ(parsed->exportFile, "x.cer");
        EXPECT_TRUE(parsed->paths.empty());
    }
    parsed = ParseBatchArguments({"--export-certificate", "--", "-x.cer"}, error);
    ASSERT_TRUE(parsed) << error;
    EXPECT_FALSE(parsed->symbian || parsed->force);
    EXPECT_EQ(parsed->exportFile, "-x.cer");
    parsed = ParseBatchArguments({"--force", "--export-certificate", "x.cer"}, error);
    ASSERT_TRUE(parsed) << error;
    EXPECT_TRUE(parsed->force);
    for (const std::vector<std::string>& wrong : {std::vector<std::string>{"--symbian", "x.cer"},
                                                  {"--force", "x.jar"},
                                                  {"--export-certificate"},
                                                  {"--export-certificate="},
                                                  {"--export-certificate", "a.cer", "b.cer"},
                                                  {"--export-certificate=a.cer", "b.jar"},
                                                  {"--export-certificate", "--check", "x.cer"},
                                                  {"--keep-jad-attributes=1"}})
        EXPECT_FALSE(ParseBatchArguments(wrong, error)) << wrong[0];
}

TEST(BatchArguments, RunKeysComeFromEverySourceAndNeverFromTheSettingsFile) {
    TempDir dir;
    WriteFile(dir / "pw", "from file\r\nsecond line\r\n");
    ::setenv("JARSEAL_TEST_STOREPASS", "from env", 1);
    ::unsetenv("JARSEAL_TEST_UNSET");
    std::string error;
    const auto parsed = ParseBatchArguments(
        {"--keystore", "k.jks", "--alias=me", "--storepass", "env:JARSEAL_TEST_STOREPASS", "--keypass",
         "file:" + dir / "pw", "--certificate", "/c.pem", "--key", "/k.pem", "--passphrase=stdin", "a.jar"},
        error);
    ASSERT_TRUE(parsed) << error;
    std::istringstream input("from input\nnot read\n");
    const auto keys = RunKeysOf(*parsed, input, error);
    ASSERT_TRUE(keys) << error;
    MemorySettings stored;
    stored.Write("Java", "storepass", "stored");
    stored.Write("Java", "other", "kept");
    RunKeySettings settings(stored, *keys);
    EXPECT_EQ(settings.Read("Java", "keystore"), AbsolutePath("k.jks"));
    EXPECT_EQ(settings.Read("Java", "alias1"), "me");
    EXPECT_EQ(settings.Read("Java", "alias2"), "me");
    EXPECT_EQ(settings.Read("Java", "storepass"), "from env");
    EXPECT_EQ(settings.Read("Java", "keypass"), "from file");
    EXPECT_EQ(settings.Read("Symbian", "certificate"), "/c.pem");
    EXPECT_EQ(settings.Read("Symbian", "key"), "/k.pem");
    EXPECT_EQ(settings.Read("Symbian", "passphrase"), "from input");
    EXPECT_EQ(settings.Read("Java", "other"), "kept");
    EXPECT_EQ(stored.Read("Java", "storepass"), "stored");

    // pass:, and the key's password is the store's unless given.
    auto only = ParseBatchArguments({"--storepass", "pass:a b:c"}, error);
    ASSERT_TRUE(only) << error;
    const auto passKeys = RunKeysOf(*only, input, error);
    ASSERT_TRUE(passKeys) << error;
    EXPECT_EQ(RunKeySettings(stored, *passKeys).Read("Java", "keypass"), "a b:c");
    EXPECT_EQ(RunKeySettings(stored, *passKeys).Read("Java", "keystore"), "");

    // A source that gives nothing is an error that names it, never a password.
    for (const std::string& source : {std::string("env:JARSEAL_TEST_UNSET"), "file:" + dir / "none"}) {
        only = ParseBatchArguments({"--storepass", source}, error);
        ASSERT_TRUE(only) << error;
        error.clear();
        EXPECT_FALSE(RunKeysOf(*only, input, error)) << source;
        EXPECT_NE(error.find(source.substr(source.find(':') + 1)), std::string::npos) << error;
    }
    // Forms it does not know, two readers of standard input, options that
    // do not go together.
    for (const std::vector<std::string>& wrong : {std::vector<std::string>{"--storepass", "secret"},
                                                  {"--keypass", "env:"},
                                                  {"--passphrase"},
                                                  {"--keystore="},
                                                  {"--storepass", "stdin", "--keypass", "stdin"},
                                                  {"--check", "--keystore", "k", "a.jar"},
                                                  {"--check", "--out", "o", "a.jar"},
                                                  {"--out="},
                                                  {"--unsigned", "--skip-signed", "a.jar"}})
        EXPECT_FALSE(ParseBatchArguments(wrong, error))
            << wrong[0] << " " << (wrong.size() > 1 ? wrong[1] : "");
}

namespace {

// Letters (UTF-8 code points) in a text.
std::size_t Letters(const std::string& text) {
    std::size_t n = 0;
    for (const char c : text)
        n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

// The letter column at which a result line's seconds end.
std::size_t SecondsColumn(const std::string& line) {
    const auto at = line.find(" s  ");
    return at == std::string::npos ? 0 : Letters(line.substr(0, at));
}

// The version of the project() line of the top CMakeLists.txt.
std::string ProjectVersion() {
    const std::string text = ReadFile(JARSEAL_SOURCE_DIR "/CMakeLists.txt");
    std::smatch m;
    return std::regex_search(text, m, std::regex(R"(project\(Jarseal VERSION ([0-9.]+))")) ? m[1].str() : "";
}

// Everything written to a stream in memory.
struct MemoryStream {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* file = ::open_memstream(&buffer, &size);
    ~MemoryStream() {
        std::fclose(file);
        std::free(buffer);
    }
    std::string Text() {
        std::fflush(file);
        return std::string(buffer, size);
    }
};

int EndStatus(ConsoleUi& ui, int status) {
    try {
        ui.EndProgram(status);
    } catch (const ProgramExit& e) {
        return e.status;
    }
    return -1;
}

} // namespace

TEST(BatchResultLines, ColumnsLineUpByLettersNotBytes) {
    EXPECT_EQ(ResultLine(kExitSuccess, 1.5, "/a.jar"), "готово           1.5 s  /a.jar");
    EXPECT_EQ(ResultLine(kExitFailure, 12.0, "/b.jar"), "не выполнено    12.0 s  /b.jar");
    EXPECT_EQ(ResultLine(kExitUnforeseen, 0.04, "/в.sis"), "сбой             0.0 s  /в.sis");
    const std::size_t column = SecondsColumn(ResultLine(kExitSuccess, 1.5, "x"));
    EXPECT_EQ(column, 20u);
    for (const int status : {kExitFailure, kExitUnforeseen, 7})
        EXPECT_EQ(SecondsColumn(ResultLine(status, 1234.5, "x")), column) << status;

    // A name's control characters cannot start a line or reach the terminal.
    EXPECT_EQ(ResultLine(kExitFailure, 0, "/a\rготово\x1b[2K\x7f\xC2\x9B\t.jar"),
              "не выполнено     0.0 s  /a\\rготово\\x1b[2K\\x7f\\u009b\\t.jar");

    EXPECT_EQ(PadToLetters("ёж", 4), "ёж  ");
    EXPECT_EQ(PadToLetters("ab", 2), "ab");
    EXPECT_EQ(PadToLetters("длинное", 3), "длинное");
}

// A hostile name reaches a report's reader as the name, and the report
// stays one record per package: JSON escapes quotes, backslashes and
// control characters and has no byte that is not UTF-8; TSV keeps its
// fields and lines.
TEST(BatchReport, AHostileNameKeepsTheReportWellFormed) {
    PackageRecord r;
    r.path = std::string("/a/\"q\"\\b\tc\nd\x01\x7f\xff\xd0\xb8\xe2\x82.jar");
    r.kind = "java";
    r.result = "refused";
    r.installerCode = 907;
    r.reasonKey = "phone-refuses-jar";
    r.reason = "line one\r\nline two";
    r.written = {"/a/x.jad"};
    const std::string json = ReportText({r, r}, ReportForm::Json);
    EXPECT_NE(json.find(R"("path": "/a/\"q\"\\b\tc\nd\u0001\u007f\ufffd)"
                        "\xd0\xb8"
                        R"(\ufffd\ufffd.jar")"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"path_hex\": \"2f612f22712"), std::string::npos) << json;
    EXPECT_NE(json.find(R"("reason": "line one\nline two")"), std::string::npos) << json;
    EXPECT_NE(json.find(R"("installer_code": 907)"), std::string::npos) << json;
    for (const char c : json)
        EXPECT_TRUE(static_cast<unsigned char>(c) >= 0x20 || c == '\n') << int(c);
    TempDir dir;
    WriteReport(dir / "r.json", {r, r});
    EXPECT_EQ(ReadFile(dir / "r.json"), json);
    WriteFile(dir / "load.py", "import json, sys\nsys.exit(len(json.load(open(sys.argv[1]))) != 2)\n");
    EXPECT_EQ(
        RunAndWaitCapture("python3 " + QuotedArgument(dir / "load.py") + " " + QuotedArgument(dir / "r.json"))
            .exitCode,
        0);

    const std::string tsv = ReportText({r}, ReportForm::Tsv);
    const std::string body = tsv.substr(tsv.find('\n') + 1);
    EXPECT_EQ(std::count(tsv.begin(), tsv.end(), '\n'), 2);
    EXPECT_EQ(std::count(body.begin(), body.end(), '\t'), 9);
    EXPECT_EQ(body.rfind("/a/\"q\"\\\\b\\tc\\nd", 0), 0u) << body;
    EXPECT_NE(body.find("\tline one\\nline two\t"), std::string::npos) << body;
}

TEST(WindowCommandLine, OnlyTheExactSingleArgumentsAreOptions) {
    ASSERT_FALSE(ProjectVersion().empty());
    EXPECT_EQ(VersionText(), "Jarseal " + ProjectVersion());

    const char* version[] = {"jarseal", "--version"};
    EXPECT_EQ(WindowInfoText(2, version), VersionText() + "\n");
    for (const char* option : {"--help", "-h"}) {
        const char* argv[] = {"jarseal", option};
        EXPECT_EQ(WindowInfoText(2, argv), WindowHelpText()) << option;
    }
    const std::string help = WindowHelpText();
    EXPECT_NE(help.find("--version"), std::string::npos);
    EXPECT_NE(help.find("jarseal-cli --help"), std::string::npos);

    // Anything else is one package path as a whole: the window decides.
    const char* none[] = {"jarseal"};
    EXPECT_FALSE(WindowInfoText(1, none));
    for (const char* arg :
         {" --version", "--version ", "--Version", "-v", "--help=1", "\"--help\"", "game.jar"}) {
        const char* argv[] = {"jarseal", arg};
        EXPECT_FALSE(WindowInfoText(2, argv)) << arg;
    }
    const char* two[] = {"jarseal", "--help", "game.jar"};
    EXPECT_FALSE(WindowInfoText(3, two));
    const char* named[] = {"jarseal", "My", "--version"};
    EXPECT_FALSE(WindowInfoText(3, named));
}

TEST(ConsoleMessages, TheSuccessMessageIsDroppedAndEverythingElseShown) {
    {
        // A note on the way, then success: the note only, as it was shown.
        MemoryStream err;
        ConsoleUi console(err.file);
        UserInterface& ui = console; // the job's view of it
        ui.ShowMessage("Архив\r\nс ошибками", MessageIcon::None);
        ui.ShowMessage("Готово!", MessageIcon::None);
        EXPECT_EQ(EndStatus(console, kExitSuccess), kExitSuccess);
        console.PrintHeldMessage();
        EXPECT_EQ(err.Text(), "Jarseal: Архив\nс ошибками\n");
    }
    {
        // Lines break at CR LF only: a CR, LF or ESC of a name in the text
        // is shown escaped.
        MemoryStream err;
        ConsoleUi console(err.file);
        UserInterface& ui = console; // the job's view of it
        ui.ShowMessage("a\rготово\n\x1b[1A.jar:\r\nповреждён", MessageIcon::Stop);
        ui.Note("b\r.jad: заметка");
        EXPECT_EQ(err.Text(), "Jarseal: a\\rготово\\n\\x1b[1A.jar:\nповреждён\nJarseal: b\\r.jad: заметка\n");
    }
    for (const int status : {kExitFailure, kExitUnforeseen}) {
        // A failure says why.
        MemoryStream err;
        ConsoleUi console(err.file);
        UserInterface& ui = console; // the job's view of it
        ui.ShowMessage("Примечание", MessageIcon::None);
        ui.ShowMessage("jar файл отсутствует.", MessageIcon::Stop, "Заголовок");
        EXPECT_EQ(EndStatus(console, status), status);
        console.PrintHeldMessage();
        EXPECT_EQ(err.Text(), "Jarseal: Примечание\nЗаголовок: jar файл отсутствует.\n") << status;
    }
    {
        // Other output comes after the message held back, and at once; a job
        // that ends without EndProgram still shows its message, once.
        MemoryStream err;
        ConsoleUi console(err.file);
        UserInterface& ui = console; // the job's view of it
        ui.ShowMessage("Первое", MessageIcon::None);
        ui.NoteWaitingForOtherRun();
        const std::string waiting = err.Text();
        EXPECT_EQ(waiting.rfind("Jarseal: Первое\nJarseal: ждёт", 0), 0u) << waiting;
        ui.ShowMessage("Второе", MessageIcon::None);
        EXPECT_EQ(ui.AskYesNo("Вопрос?", MessageIcon::None), Answer::No);
        EXPECT_EQ(err.Text(), waiting + "Jarseal: Второе\nJarseal: Вопрос? -> Нет\n");
        ui.ShowMessage("Последнее", MessageIcon::None);
        console.PrintHeldMessage();
        console.PrintHeldMessage();
        EXPECT_EQ(err.Text(), waiting + "Jarseal: Второе\nJarseal: Вопрос? -> Нет\nJarseal: Последнее\n");
    }
    {
        MemoryStream err;
        ConsoleUi console(err.file);
        UserInterface& ui = console; // the job's view of it
        // Quiet: no note, no question, no message of a success; but a
        // failure's reason, naming its package.
        console.SetQuiet(true);
        console.SetPackage("/apps/a.jar");
        ui.Note("заметка");
        EXPECT_EQ(ui.AskYesNo("Вопрос?", MessageIcon::None), Answer::No);
        ui.ShowMessage("Готово!", MessageIcon::None);
        EXPECT_EQ(EndStatus(console, kExitSuccess), kExitSuccess);
        EXPECT_EQ(err.Text(), "");
        ui.ShowMessage("Сбой", MessageIcon::Stop);
        EXPECT_EQ(EndStatus(console, kExitFailure), kExitFailure);
        EXPECT_EQ(err.Text(), "Jarseal: /apps/a.jar: Сбой\n");
    }
}

TEST(BatchPackages, FoldersAreSearchedAndPairsProcessedOnce) {
    TempDir dir;
    MakeDir(dir / "suites/deeper");
    MakeDir(dir / "suites/.hidden");
    for (const char* name :
         {"suites/b.jar", "suites/a.jar", "suites/a.jad", "suites/deeper/c.sisx", "suites/notes.txt",
          "suites/.hidden/d.jar", "suites/e.sis", "suites/deeper/lone.jad"})
        WriteFile(dir / name, "x");
    // A descriptor without its archive is listed, for its job to fail with
    // its reason; one with its archive is the archive's.
    const auto packages = CollectPackages({dir / "suites", dir / "suites/a.jad", dir / "missing.jar"});
    EXPECT_EQ(packages, (std::vector<std::string>{
                            dir / "suites/a.jar", dir / "suites/b.jar", dir / "suites/deeper/c.sisx",
                            dir / "suites/deeper/lone.jad", dir / "suites/e.sis", dir / "missing.jar"}));
}

namespace {

const std::string kManifest = "MIDlet-1: Game, /i.png, game.Main\r\nMIDlet-Name: Game\r\n"
                              "MIDlet-Vendor: Acme\r\nMIDlet-Version: 1.0\r\n"
                              "MicroEdition-Profile: MIDP-2.0\r\nMicroEdition-Configuration: CLDC-1.1\r\n"
                              "MIDlet-Permissions: javax.microedition.io.Connector.sms\r\n";

struct SplitOutput {
    int exitCode = -1;
    std::string out; // standard output
    std::string err; // standard error
};

// Runs a program with standard output and standard error in files of their
// own, in the folder dir.
SplitOutput RunSplit(const std::string& exe, const std::vector<std::string>& args, const std::string& dir) {
    const std::string outPath = dir + "/stdout.txt";
    const std::string errPath = dir + "/stderr.txt";
    std::vector<char*> argv{const_cast<char*>(exe.c_str())};
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0)
            ::_exit(127);
        ::execv(exe.c_str(), argv.data());
        ::_exit(127);
    }
    SplitOutput result;
    result.exitCode = WaitForExit(pid, 300);
    result.out = ReadFile(outPath);
    result.err = ReadFile(errPath);
    return result;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

} // namespace

TEST_F(CliFixture, OneLinePerPackageAndFailuresSayWhyOnStandardError) {
    MakeDir(root / "suites");
    WriteZip(root / "suites/a.jar", {{"META-INF/MANIFEST.MF", kManifest}, {"game/Main.class", "CAFEBABE"}});
    WriteFile(root / "suites/b.jar", "not an archive");
    WriteZip(root / "suites/c.jar", {{"META-INF/MANIFEST.MF", kManifest}, {"game/Main.class", "CAFEBABE"}});
    // A Symbian package with no certificate set: the signing tool says why it fails.
    ::symlink(JARSEAL_SIGNSIS, (program + "/data/signsis").c_str());
    WriteFile(root / "suites/d.sis", ReadFile(JARSEAL_BUILD_DIR "/sample/sample.sis"));
    const SplitOutput run =
        RunSplit(program + "/jarseal-cli",
                 {"--jobs", "1", root / "suites", root / "none.jar", root / "no-folder"}, root.path());
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;

    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 8u) << run.out;
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"готово", root / "suites/a.jar"},   {"не выполнено", root / "suites/b.jar"},
        {"готово", root / "suites/c.jar"},   {"не выполнено", root / "suites/d.sis"},
        {"не выполнено", root / "none.jar"}, {"не выполнено", root / "no-folder"}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(lines[i].rfind(expected[i].first + " ", 0), 0u) << lines[i];
        EXPECT_EQ(lines[i].substr(lines[i].size() - expected[i].second.size()), expected[i].second);
        EXPECT_EQ(SecondsColumn(lines[i]), SecondsColumn(lines[0])) << run.out;
    }
    EXPECT_EQ(lines[6], "Итого: 6, готово 2, не выполнено 4, сбой 0");
    // The root both signed suites need, once, with their number.
    EXPECT_EQ(lines[7].rfind("  a phone installs this suite only if it holds", 0), 0u) << lines[7];
    EXPECT_EQ(lines[7].substr(lines[7].size() - 11), "(suites: 2)") << lines[7];
    EXPECT_EQ(run.err.find("a phone installs this suite"), run.err.rfind("a phone installs this suite"))
        << run.err;

    // The failures' messages, not the success message; a failed tool's words once.
    EXPECT_EQ(run.err.find("Готово"), std::string::npos) << run.err;
    const std::string reason = "Cannot open the certificate file";
    const auto first = run.err.find(reason);
    EXPECT_NE(first, std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(reason, first + 1), std::string::npos) << run.err;
    // Each reason names its package; a name that is nothing is said not to exist.
    EXPECT_NE(run.err.find("Jarseal: " + root / "none.jar" + ": jar файл отсутствует."), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("Jarseal: " + root / "no-folder" + ": Файл или папка не существует."),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("Jarseal: "), std::string::npos) << run.err;

    // Names with control characters are printed escaped, in the result
    // lines, the messages and the check's report alike.
    MakeDir(root / "odd");
    const std::string odd = root / "odd/a\rготово\x1b[2K.jar";
    WriteZip(odd, {{"META-INF/MANIFEST.MF", kManifest}, {"game/Main.class", "CAFEBABE"}});
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{root / "odd"}, std::vector<std::string>{"--check", root / "odd"}}) {
        const SplitOutput printed = RunSplit(program + "/jarseal-cli", args, root.path());
        EXPECT_EQ((printed.out + printed.err).find_first_of("\r\x1b"), std::string::npos)
            << printed.out << printed.err;
        EXPECT_NE(printed.out.find("odd/a\\rготово\\x1b[2K.jar"), std::string::npos) << printed.out;
    }

    // One package that succeeds: its result line, and on standard error only
    // the note naming the root a phone must hold.
    const SplitOutput one = RunSplit(program + "/jarseal-cli", {root / "suites/a.jad"}, root.path());
    EXPECT_EQ(one.exitCode, 0) << one.err;
    ASSERT_EQ(Lines(one.err).size(), 1u) << one.err;
    EXPECT_EQ(Lines(one.err)[0].rfind("Jarseal: a.jad: a phone installs this suite only if it holds", 0), 0u);
    ASSERT_EQ(Lines(one.out).size(), 3u) << one.out; // with the root in the summary
    EXPECT_EQ(Lines(one.out)[0].rfind("готово ", 0), 0u) << one.out;
}

TEST_F(CliFixture, TwentySuitesSomeBrokenInOneCall) {
    MakeDir(root / "suites");
    for (int i = 0; i < 20; ++i) {
        const std::string path = root / ("suites/game" + std::to_string(i) + ".jar");
        if (i % 7 == 3)
            WriteFile(path, "not an archive"); // 3, 10, 17
        else
            WriteZip(path, {{"META-INF/MANIFEST.MF", kManifest}, {"game/Main.class", "CAFEBABE"}});
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
    WriteZip(root / "apps/game.jar", {{"META-INF/MANIFEST.MF", kManifest}, {"game/Main.class", "CAFEBABE"}});
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

TEST_F(CliFixture, TheFirstRunKeepsTheUsersOwnKeyStoreAndAFolderWithoutItsWorkingFolderStaysPortable) {
    // The user's own PKCS12 store, named in the new folder's settings file
    // before its first start, as the README tells.
    const std::string store = root / "mine.p12";
    ASSERT_EQ(
        RunAndWaitCapture("keytool -genkeypair -noprompt -storetype PKCS12 -keystore \"" + store +
                          "\" -storepass secret1 -keypass secret1 -alias mine -keyalg RSA -keysize 2048 "
                          "-sigalg SHA1withRSA -validity 365 -dname CN=Mine")
            .exitCode,
        0);
    const std::string ini = "[Java]\r\nkeystore=" + store +
                            "\r\nstorepass=secret1\r\nkeypass=secret1\r\nalias1=mine\r\nalias2=mine\r\n";
    WriteFile(program + "/Jarseal.ini", ini);
    MakeDir(root / "apps");
    WriteZip(root / "apps/game.jar", {{"META-INF/MANIFEST.MF", kManifest}, {"game/Main.class", "CAFEBABE"}});
    RunOutput out = Cli("\"" + root / "apps/game.jar" + "\"");
    EXPECT_EQ(out.exitCode, 0) << out.output;
    EXPECT_NE(ReadFile(program + "/Jarseal.ini").find("keystore=" + store + "\r\n"), std::string::npos);
    EXPECT_NE(out.output.find("/CN=Mine"), std::string::npos) << out.output; // the root note

    // Without data/temp the folder keeps its own settings and gets it back.
    std::filesystem::remove_all(program + "/data/temp");
    out = Cli("\"" + root / "apps/game.jar" + "\"");
    EXPECT_EQ(out.exitCode, 0) << out.output;
    EXPECT_NE(out.output.find("/CN=Mine"), std::string::npos) << out.output;
    EXPECT_TRUE(std::filesystem::is_directory(program + "/data/temp"));
    EXPECT_NE(ReadFile(program + "/Jarseal.ini").find("keystore=" + store + "\r\n"), std::string::npos);
}

TEST_F(CliFixture, UsageErrorsAndHelp) {
    const RunOutput help = Cli("--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("--permissions auto|none|GROUP"), std::string::npos);
    EXPECT_NE(help.output.find("Example:"), std::string::npos);
    EXPECT_NE(help.output.find("--version"), std::string::npos);
    const std::string exits = help.output.substr(help.output.find("Exit status"));
    for (const char* said : {"64", "a suite a phone would refuse", "changed during the job", "2 (an"})
        EXPECT_NE(exits.find(said), std::string::npos) << said;

    // A wrong command line: 64, and nothing done.
    WriteZip(root / "game.jar", {{"META-INF/MANIFEST.MF", kManifest}, {"game/Main.class", "CAFEBABE"}});
    const std::string jar = " \"" + root / "game.jar" + "\"";
    const std::vector<std::string> wrong = {"--nonsense" + jar,
                                            "",
                                            "--quiet",
                                            "--check",
                                            "--version=2",
                                            "--permissions" + jar,
                                            "--permissions nosuch" + jar,
                                            "--zip-password",
                                            jar + " --frobnicate",
                                            "--jobs 0" + jar,
                                            "--jobs 2x" + jar,
                                            "--report r.txt" + jar,
                                            "--report" + jar,
                                            "--check --report r.json" + jar};
    for (const std::string& args : wrong)
        EXPECT_EQ(Cli(args).exitCode, kExitUsage) << args;
    const std::string cer = " \"" + root / "x.cer" + "\"";
    for (const std::string& args :
         {"--symbian" + cer, std::string("--export-certificate"), "--export-certificate" + cer + jar})
        EXPECT_EQ(Cli(args).exitCode, kExitUsage) << args;
    EXPECT_FALSE(Exists(root / "x.cer"));
    EXPECT_FALSE(Exists(root / "game.jad"));
    // No package in a folder is not a usage error.
    MakeDir(root / "empty");
    EXPECT_EQ(Cli("\"" + root / "empty" + "\"").exitCode, 1);

    // The version on standard output alone.
    const SplitOutput version = RunSplit(program + "/jarseal-cli", {"--version"}, root.path());
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "Jarseal " + ProjectVersion() + "\n");
    EXPECT_EQ(version.err, "");
}

namespace {

bool HasCyrillic(const std::string& text) {
    return std::regex_search(text, std::regex("\xD0[\x80-\xBF]|\xD1[\x80-\xBF]"));
}

// The words of a Russian run's output that are English: Latin words other
// than paths, options, attribute names, codes, quoted texts and the names
// the Russian texts keep (file kinds, programs, formats).
std::vector<std::string> EnglishWords(const std::string& text) {
    static const std::set<std::string> names = {"jar",
                                                "jad",
                                                "sis",
                                                "sisx",
                                                "Java",
                                                "JAD",
                                                "Jarseal",
                                                "ReadMe",
                                                "JRE",
                                                "JDK",
                                                "SHA",
                                                "UTF",
                                                "JKS",
                                                "PKCS12",
                                                "DER",
                                                "PEM",
                                                "RSA",
                                                "storepass",
                                                "keypass",
                                                "keystore",
                                                "alias1",
                                                "alias2",
                                                "SignSIS",
                                                "jadtool",
                                                "PATH",
                                                "FILE",
                                                "GROUP",
                                                "auto",
                                                "none",
                                                "zip",
                                                "CRC",
                                                "NUL",
                                                "Symbian",
                                                "ME",
                                                "Debian",
                                                "s",
                                                "LANG",
                                                "read",
                                                "write",
                                                "socket",
                                                "http",
                                                "https",
                                                "ssl",
                                                "socketserver",
                                                "PushRegestry",
                                                "bluetoothclient",
                                                "bluetoothserver",
                                                "SMS",
                                                "MMS",
                                                "PIM",
                                                "camera",
                                                "TEXT",
                                                "base64",
                                                "NAME",
                                                "SRC",
                                                "DIR",
                                                "N",
                                                "pass:TEXT",
                                                "env:VAR",
                                                "file:PATH",
                                                "stdin",
                                                "original",
                                                "me",
                                                "env:PW"};
    const std::string unquoted = std::regex_replace(text, std::regex("\"[^\"\n]*\""), " ");
    std::vector<std::string> english;
    std::istringstream words(unquoted);
    for (std::string word; words >> word;) {
        word = std::regex_replace(word, std::regex("^[(\\[«'.,;:]+|[)\\]».,;:'!?]+$"), "");
        if (word.empty() || HasCyrillic(word) || names.count(word) ||
            std::regex_search(word, std::regex("[/0-9_=$~*.,|-]|^\\[|\\]$")))
            continue;
        if (std::regex_search(word, std::regex("[A-Za-z]")))
            english.push_back(word);
    }
    return english;
}

} // namespace

TEST_F(CliFixture, EachRunPrintsItsLinesInOneLanguage) {
    ASSERT_EQ(::symlink(JARSEAL_BUILD_DIR "/data/locale", (program + "/data/locale").c_str()), 0);
    MakeDir(root / "apps");
    WriteZip(root / "apps/good.jar", {{"META-INF/MANIFEST.MF", kManifest}, {"game/Main.class", "CAFEBABE"}});
    MakeDir(root / "broken");
    WriteZip(root / "broken/noclass.jar",
             {{"META-INF/MANIFEST.MF", kManifest}, {"other/A.class", "CAFEBABE"}});
    MakeDir(root / "damaged");
    WriteFile(root / "damaged/bad.jar", "not an archive");
    // A Symbian package with no certificate set: the signing tool's reason.
    ::symlink(JARSEAL_SIGNSIS, (program + "/data/signsis").c_str());
    WriteFile(root / "damaged/d.sis", ReadFile(JARSEAL_BUILD_DIR "/sample/sample.sis"));
    const std::string ini = ReadFile(program + "/Jarseal.ini");
    const struct {
        const char* what;
        std::string args;
        bool wrongStorePassword;
        const char* english; // a part of the English run's output
        const char* russian; // and the same of the Russian run's
    } cases[] = {
        {"success", "\"" + root / "apps/good.jar" + "\"", false, "done ", "готово "},
        {"refusal", "\"" + root / "broken/noclass.jar" + "\"", false, "907 invalid jar file (MIDlet-1 names",
         "907 неверный jar файл (MIDlet-1 называет"},
        {"damaged archive", "\"" + root / "damaged/bad.jar" + "\"", false, "End-of-central-directory",
         "Не найдена подпись конца центрального каталога"},
        {"Symbian tool", "\"" + root / "damaged/d.sis" + "\"", false,
         "Error: Cannot open the certificate file", "Ошибка: Не удалось открыть файл сертификата"},
        {"key store fault", "\"" + root / "apps/good.jar" + "\"", true, "Wrong key store password",
         "Неверный пароль хранилища ключей"},
        {"usage error", "--permissions nosuch \"" + root / "apps/good.jar" + "\"", false,
         "unknown permission group", "неизвестная группа разрешений"},
        {"check", "--check \"" + root / "apps" + "\" \"" + root / "broken" + "\"", false,
         "a phone would refuse it (907)", "телефон откажет в установке (907)"},
        {"help", "--help", false, "Options:", "Параметры:"},
    };
    for (const auto& c : cases) {
        WriteFile(program + "/Jarseal.ini",
                  c.wrongStorePassword
                      ? std::regex_replace(ini, std::regex("storepass=[^\r]*"), "storepass=nope")
                      : ini);
        const auto run = [&](const char* lang) {
            return RunAndWaitCapture("env LC_ALL= LC_MESSAGES= LANG=" + std::string(lang) + " " +
                                     QuotedArgument(program + "/jarseal-cli") + " " + c.args)
                .output;
        };
        const std::string english = run("C");
        EXPECT_NE(english.find(c.english), std::string::npos) << c.what << "\n" << english;
        EXPECT_FALSE(HasCyrillic(english)) << c.what << "\n" << english;
        const std::string russian = run("ru_RU.UTF-8");
        EXPECT_NE(russian.find(c.russian), std::string::npos) << c.what << "\n" << russian;
        EXPECT_EQ(EnglishWords(russian), std::vector<std::string>{}) << c.what << "\n" << russian;
    }

    // Asking for Russian by a locale this system may not have installed
    // leaves the tools able to read a Cyrillic file name.
    WriteFile(program + "/Jarseal.ini", ini);
    WriteZip(root / "apps/игра.jar", {{"META-INF/MANIFEST.MF", kManifest}, {"game/Main.class", "CAFEBABE"}});
    const RunOutput named = RunAndWaitCapture("env LC_ALL= LC_MESSAGES= LANG=ru_RU.UTF-8 " +
                                              QuotedArgument(program + "/jarseal-cli") + " " +
                                              QuotedArgument(root / "apps/игра.jar"));
    EXPECT_EQ(named.exitCode, 0) << named.output;
}

TEST_F(CliFixture, ExportedCertificatesAreThoseTheJobsSignWith) {
    // The Java certificate is the one a suite signed with the same settings carries.
    const std::string cer = root / "jarseal.cer";
    const RunOutput out = Cli("--export-certificate " + QuotedArgument(cer));
    ASSERT_EQ(out.exitCode, 0) << out.output;
    EXPECT_EQ(RunAndWaitCapture("openssl x509 -inform DER -noout -in " + QuotedArgument(cer)).exitCode, 0);
    WriteZip(root / "game.jar", {{"META-INF/MANIFEST.MF", kManifest}, {"game/Main.class", "CAFEBABE"}});
    ASSERT_EQ(Cli(QuotedArgument(root / "game.jar")).exitCode, 0);
    const auto jad = DescriptorAttributes(ReadFile(root / "game.jad"));
    ASSERT_TRUE(jad.count("MIDlet-Certificate-1-1"));
    EXPECT_EQ(Base64Decode(jad.at("MIDlet-Certificate-1-1")), ReadFile(cer));

    // The Symbian certificate of a PEM file, as DER.
    const std::string good = ReadFile(program + "/Jarseal.ini");
    const std::string pem = JARSEAL_BUILD_DIR "/data/symbian.cer";
    WriteFile(program + "/Jarseal.ini",
              ReadFile(program + "/Jarseal.ini") + "[Symbian]\r\ncertificate=" + pem + "\r\n");
    ASSERT_EQ(Cli("--export-certificate --symbian " + QuotedArgument(root / "symbian.cer")).exitCode, 0);
    ASSERT_EQ(RunAndWaitCapture("openssl x509 -in " + QuotedArgument(pem) + " -outform DER -out " +
                                QuotedArgument(root / "expected.der"))
                  .exitCode,
              0);
    EXPECT_EQ(ReadFile(root / "symbian.cer"), ReadFile(root / "expected.der"));

    // A file that is there stays as it is without --force, and is replaced
    // with it; a link is never written through, nor the key store itself
    // replaced.
    const std::string exported = ReadFile(cer);
    WriteFile(root / "user.jar", "the user's own jar");
    ASSERT_EQ(::symlink((root / "user.jar").c_str(), (root / "link.cer").c_str()), 0);
    const struct {
        std::string target, force, said;
    } refusals[] = {
        {root / "user.jar", "", "already exists and is left as it is (--force replaces it)"},
        {root / "link.cer", "", "is a symbolic link"},
        {root / "link.cer", "--force ", "is a symbolic link"},
        {program + "/data/key", "--force ", "is the file the certificate comes from"},
    };
    // The program folder's key store as a file of its own, not the build's link.
    ASSERT_EQ(::unlink((program + "/data/key").c_str()), 0);
    std::filesystem::copy_file(JARSEAL_BUILD_DIR "/data/key", program + "/data/key");
    const std::string keyStore = ReadFile(program + "/data/key");
    for (const auto& r : refusals) {
        const SplitOutput run =
            RunSplit(program + "/jarseal-cli",
                     r.force.empty() ? std::vector<std::string>{"--export-certificate", r.target}
                                     : std::vector<std::string>{"--force", "--export-certificate", r.target},
                     root.path());
        EXPECT_EQ(run.exitCode, 1) << r.force << r.target;
        EXPECT_NE(run.err.find(r.said), std::string::npos) << run.err;
        EXPECT_EQ(ReadFile(root / "user.jar"), "the user's own jar");
        EXPECT_EQ(ReadFile(program + "/data/key"), keyStore);
    }
    struct stat link {};
    EXPECT_TRUE(::lstat((root / "link.cer").c_str(), &link) == 0 && S_ISLNK(link.st_mode));
    const RunOutput forced = Cli("--force --export-certificate " + QuotedArgument(root / "user.jar"));
    EXPECT_EQ(forced.exitCode, 0) << forced.output;
    EXPECT_EQ(ReadFile(root / "user.jar"), exported);

    // A Symbian certificate file far larger than any is not read whole.
    WriteFile(root / "huge.cer", std::string(2 * 1024 * 1024, 'A'));
    WriteFile(program + "/Jarseal.ini", good + "[Symbian]\r\ncertificate=" + root / "huge.cer" + "\r\n");
    const SplitOutput huge = RunSplit(
        program + "/jarseal-cli", {"--export-certificate", "--symbian", root / "huge-out.cer"}, root.path());
    EXPECT_EQ(huge.exitCode, 1);
    EXPECT_NE(huge.err.find("is larger than 1024 KiB"), std::string::npos) << huge.err;
    EXPECT_FALSE(Exists(root / "huge-out.cer"));

    // A wrong password or a missing key store: 1, the reason in one line,
    // and no file, not even a half-written one beside.
    for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
             {"storepass=52039871", "storepass=wrong"}, {"/data/key\r\n", "/data/nokey\r\n"}}) {
        std::string ini = good;
        ini.replace(ini.find(from), from.size(), to);
        WriteFile(program + "/Jarseal.ini", ini);
        const SplitOutput run =
            RunSplit(program + "/jarseal-cli", {"--export-certificate", root / "no.cer"}, root.path());
        EXPECT_EQ(run.exitCode, 1) << to;
        EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
        EXPECT_NE(run.err.find(to == "storepass=wrong" ? "wrong password" : "not found"), std::string::npos)
            << run.err;
        for (const std::string& name : ListDir(root.path()))
            EXPECT_TRUE(name != "no.cer" && name.find(kTempMark) == std::string::npos) << name;
    }
}

TEST(DefaultKeyStores, HoldACaCertificateThatPhonesAcceptAsARoot) {
    if (!JavaAvailable())
        GTEST_SKIP() << "java is not on the search path";
    TempDir dir;
    // The key store the build and an installation make...
    ASSERT_EQ(RunAndWaitCapture("cmake -DKEYTOOL=keytool -DOUT=" + QuotedArgument(dir / "build-key") +
                                " -P " + QuotedArgument(JARSEAL_SOURCE_DIR "/cmake/MakeKeystore.cmake"))
                  .exitCode,
              0);
    // ...and the one a user of a read-only installation gets.
    WriteFile(dir / "Jarseal.ini", "");
    ScriptedUi ui;
    MemorySettings settings;
    FixedPermissions permissions;
    Places places;
    places.userFolders = true;
    places.settingsFile = dir / "Jarseal.ini";
    places.defaultKeystore = dir / "user-key";
    Context ctx{ui, settings, permissions, dir.path(), "", nullptr, places};
    PrepareUserFolders(ctx);

    settings.Write("Java", "storepass", "52039871");
    settings.Write("Java", "alias1", "jsk");
    for (const char* store : {"build-key", "user-key"}) {
        settings.Write("Java", "keystore", dir / store);
        ASSERT_EQ(ExportJavaCertificate(settings, dir / "root.cer", true), std::nullopt) << store;
        const std::string der = ReadFile(dir / "root.cer");
        const auto* p = reinterpret_cast<const unsigned char*>(der.data());
        X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())), X509_free);
        ASSERT_TRUE(cert) << store;
        auto critical = [&](int nid) {
            const int at = X509_get_ext_by_NID(cert.get(), nid, -1);
            return at >= 0 && X509_EXTENSION_get_critical(X509_get_ext(cert.get(), at)) == 1;
        };
        EXPECT_EQ(X509_get_version(cert.get()), 2) << store; // v3
        EXPECT_EQ(X509_check_ca(cert.get()), 1) << store;    // CA:TRUE with keyCertSign
        EXPECT_TRUE(critical(NID_basic_constraints) && critical(NID_key_usage)) << store;
        EXPECT_EQ(X509_get_key_usage(cert.get()),
                  static_cast<uint32_t>(KU_DIGITAL_SIGNATURE | KU_KEY_CERT_SIGN));
        EXPECT_EQ(X509_get_ext_by_NID(cert.get(), NID_ext_key_usage, -1), -1) << store;
        EXPECT_EQ(X509_get_signature_nid(cert.get()), NID_sha1WithRSAEncryption) << store;
        EXPECT_EQ(EVP_PKEY_get_bits(X509_get0_pubkey(cert.get())), 2048) << store;
        std::tm end{};
        ASSERT_EQ(ASN1_TIME_to_tm(X509_get0_notAfter(cert.get()), &end), 1);
        EXPECT_LT(end.tm_year + 1900, 2050) << store;
    }
}
