// Extracts an archive flat into a folder with the program's unzip job, the
// way the Java pipeline does; the exit status is the library's result code.
// Names after the folder are the only entries written, the others are tested
// (as the Java pipeline writes only MANIFEST.MF); without them every entry is
// written.
#include "common/UserInterface.h"
#include "unzip/CGUnzipFiles.h"

#include <cstdio>
#include <cstdlib>

namespace {

// Shows messages on standard error and declines every question.
class ConsoleUi : public jarseal::UserInterface {
  public:
    void ShowMessage(const std::string& text, jarseal::MessageIcon, const std::string&) override {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
    jarseal::Answer AskYesNo(const std::string&, jarseal::MessageIcon, const std::string&) override {
        return jarseal::Answer::No;
    }
    jarseal::Answer AskYesNoCancel(const std::string&, jarseal::MessageIcon, const std::string&) override {
        return jarseal::Answer::Cancel;
    }
    std::string InputBox(const std::string&, const std::string&, const std::string&) override { return {}; }
    std::string OpenFileDialog(const std::string&, const std::vector<jarseal::FileFilter>&) override {
        return {};
    }
    [[noreturn]] void EndProgram(int status) override { std::exit(status); }
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s ARCHIVE FOLDER [WRITTEN_NAME...]\n", argv[0]);
        return 10;
    }
    ConsoleUi ui;
    jarseal::CGUnzipFiles job(ui);
    job.LetZipFileName(argv[1]);
    job.LetExtractDir(argv[2]);
    job.LetHonorDirectories(false);
    job.LetWrittenNames(std::vector<std::string>(argv + 3, argv + argc));
    const int result = job.Unzip("", "");
    if (result != 0)
        std::fprintf(stderr, "%s", job.GetLastMessage().c_str());
    return result;
}
