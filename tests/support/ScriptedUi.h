#pragma once

#include "common/UserInterface.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace jarseal::test {

// Thrown by ScriptedUi::EndProgram so a test can see where the program ended.
using ProgramEnded = jarseal::ProgramExit;

// A user interface for tests: records everything shown and answers questions,
// input boxes and open dialogs from queues filled in advance. An empty queue
// answers No, Cancel or the empty text.
class ScriptedUi : public UserInterface {
  public:
    struct Shown {
        std::string kind; // "message", "yesno", "yesnocancel", "input", "open"
        std::string text;
        MessageIcon icon = MessageIcon::None;
        std::string title;
        std::vector<FileFilter> filters; // for "open"
        std::string defaultText;         // for "input"
    };

    std::deque<Answer> answers;
    std::deque<std::string> inputs;
    std::deque<std::string> openPaths;
    std::vector<Shown> shown;
    std::vector<std::string> notes; // the texts given to Note, in order
    // Runs with the text of each message box as it is shown, to change the
    // world at that moment.
    std::function<void(const std::string&)> onMessage;

    void ShowMessage(const std::string& text, MessageIcon icon, const std::string& title) override;
    Answer AskYesNo(const std::string& text, MessageIcon icon, const std::string& title) override;
    Answer AskYesNoCancel(const std::string& text, MessageIcon icon, const std::string& title) override;
    std::string InputBox(const std::string& prompt, const std::string& title,
                         const std::string& defaultText) override;
    std::string OpenFileDialog(const std::string& title, const std::vector<FileFilter>& filters) override;
    void Note(const std::string& text) override { notes.push_back(text); }
    [[noreturn]] void EndProgram(int status) override;

    // The texts of all message boxes shown, in order.
    std::vector<std::string> Messages() const;
};

} // namespace jarseal::test
