#pragma once

#include "common/UserInterface.h"

#include <cstdio>
#include <string>
#include <utility>

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
    // Messages are not printed while quiet.
    void SetQuiet(bool quiet) { quiet_ = quiet; }

    void ShowMessage(const std::string& text, MessageIcon icon, const std::string& title) override;
    Answer AskYesNo(const std::string& text, MessageIcon icon, const std::string& title) override;
    Answer AskYesNoCancel(const std::string& text, MessageIcon icon, const std::string& title) override;
    std::string InputBox(const std::string& prompt, const std::string& title,
                         const std::string& defaultText) override;
    std::string OpenFileDialog(const std::string& title, const std::vector<FileFilter>& filters) override;
    void NoteWaitingForOtherRun() override;
    void Note(const std::string& text) override;
    [[noreturn]] void EndProgram(int status) override;

    // Prints the message held back, if any; for a job that ended without
    // EndProgram (or by an exception).
    void PrintHeldMessage();

    // The text of the last message shown (printed or not), which a failed
    // job's says why; empty after this.
    std::string TakeLastMessage() { return std::exchange(lastText_, std::string()); }

  private:
    void Print(const std::string& title, const std::string& text, const char* suffix);
    std::FILE* out_;
    std::string held_;     // the last message, a whole line; empty when none
    std::string lastText_; // the last message's text
    Answer yesNo_ = Answer::No;
    std::string nextInput_;
    bool quiet_ = false;
};

} // namespace jarseal
