#pragma once

#include "common/UserInterface.h"

#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace jarseal {

// The console's user interface: messages go to standard error, questions are
// answered No (or Cancel), input boxes and the open dialog give the empty
// text, since nobody may be there to answer. EndProgram throws ProgramExit.
//
// A job's last message is its final one, and the console program's result
// line already tells success; so each message is held back until the next
// output, and a job that ends successfully drops the one it holds. Every
// other end prints it: a failure's message says why.
class ConsoleUi : public UserInterface {
  public:
    explicit ConsoleUi(std::FILE* out = stderr) : out_(out) {}

    // The answer to yes/no questions (No unless an option says otherwise).
    void SetYesNoAnswer(Answer answer) { yesNo_ = answer; }
    // The text the next input box gets, once; later boxes get the empty text,
    // so a wrong answer is never repeated for ever.
    void SetNextInput(std::string text) { nextInput_ = std::move(text); }
    // While quiet, questions and notes are not printed, nor any message of a
    // job that succeeds; a failure's message (which says why) still is.
    void SetQuiet(bool quiet) { quiet_ = quiet; }
    // The package the next messages are about: each message names it, so a
    // reason in a batch's output tells its file. Empty: no name.
    void SetPackage(std::string path) { package_ = std::move(path); }

    void ShowMessage(const std::string& text, MessageIcon icon, const std::string& title) override;
    Answer AskYesNo(const std::string& text, MessageIcon icon, const std::string& title) override;
    Answer AskYesNoCancel(const std::string& text, MessageIcon icon, const std::string& title) override;
    std::string InputBox(const std::string& prompt, const std::string& title,
                         const std::string& defaultText) override;
    std::string OpenFileDialog(const std::string& title, const std::vector<FileFilter>& filters) override;
    void NoteWaitingForOtherRun() override;
    void Note(const std::string& text) override;
    // Printed the first time a run meets this root, counted after that.
    void RootNote(const std::string& fileName, const std::string& text) override;
    [[noreturn]] void EndProgram(int status) override;

    // Prints the message held back, if any; for a job that ended without
    // EndProgram (or by an exception).
    void PrintHeldMessage();

    // The text of the last message shown (printed or not), which a failed
    // job's says why; empty after this.
    std::string TakeLastMessage() { return std::exchange(lastText_, std::string()); }
    // The roots the run's signed suites need, each once in the order first
    // met, with the number of suites that need it.
    struct RootNeed {
        std::string text;
        int suites;
    };
    const std::vector<RootNeed>& RootNeeds() const { return roots_; }
    // A worker's console counts the roots in the run's one, under guard, so
    // that each root's note is printed once a run.
    void CountRootsIn(ConsoleUi& run, std::mutex& guard) {
        rootsOf_ = &run;
        rootsGuard_ = &guard;
    }

  private:
    void Print(const std::string& title, const std::string& text, const char* suffix);
    std::FILE* out_;
    std::string held_;     // the last message, a whole line; empty when none
    std::string lastText_; // the last message's text
    Answer yesNo_ = Answer::No;
    std::string nextInput_;
    bool quiet_ = false;
    std::string package_;
    std::vector<RootNeed> roots_;
    ConsoleUi* rootsOf_ = this;
    std::mutex* rootsGuard_ = nullptr;
};

} // namespace jarseal
