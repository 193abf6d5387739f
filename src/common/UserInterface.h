#pragma once

#include <string>
#include <vector>

namespace jarseal {

inline constexpr const char* kAppTitle = "Jarseal";

enum class MessageIcon { None, Information, Stop, Exclamation };
enum class Answer { Yes, No, Cancel };

// One (description, pattern) pair of an open-file dialog's filter.
struct FileFilter {
    std::string description;
    std::string pattern;
    bool operator==(const FileFilter&) const = default;
};

// Everything the core shows or asks goes through this interface: the window
// implements it with Qt, the console program on standard error, the tests
// with scripted answers. Texts are byte strings in the locale's encoding.
class UserInterface {
  public:
    virtual ~UserInterface() = default;

    virtual void ShowMessage(const std::string& text, MessageIcon icon,
                             const std::string& title = kAppTitle) = 0;
    // Buttons Yes and No; returns Answer::Yes or Answer::No.
    virtual Answer AskYesNo(const std::string& text, MessageIcon icon,
                            const std::string& title = kAppTitle) = 0;
    // Buttons Yes, No and Cancel.
    virtual Answer AskYesNoCancel(const std::string& text, MessageIcon icon,
                                  const std::string& title = kAppTitle) = 0;
    // The text in the field when OK was pressed, or the empty text on cancel.
    virtual std::string InputBox(const std::string& prompt, const std::string& title,
                                 const std::string& defaultText) = 0;
    // The chosen path, or the empty text when the user cancels.
    virtual std::string OpenFileDialog(const std::string& title, const std::vector<FileFilter>& filters) = 0;
    // Tells that the job waits for another run of the program to end first.
    // The window shows nothing: it cannot repaint while a job runs anyway.
    virtual void NoteWaitingForOtherRun() {}
    // A remark on the finished work that is no failure and no question (what
    // a phone needs to install a signed suite, what was left out of a
    // descriptor). The console prints it; the window keeps to its own
    // messages and shows nothing.
    virtual void Note(const std::string& text) { (void)text; }
    // The note on the root certificate a phone must hold to install the
    // signed suite fileName; a batch repeats it for every suite of one key,
    // so the console prints it once per root.
    virtual void RootNote(const std::string& fileName, const std::string& text) {
        Note(fileName + ": " + text);
    }
    // Ends the program at once with the given exit status; never returns.
    [[noreturn]] virtual void EndProgram(int status) = 0;
};

// Thrown by the console and test implementations of EndProgram and caught at
// the top of the program, so the stack unwinds before the program ends.
struct ProgramExit {
    int status;
};

// Exit statuses of a run, for scripts.
inline constexpr int kExitSuccess = 0;    // the run ended with its success message
inline constexpr int kExitFailure = 1;    // a refusal or a foreseen failure
inline constexpr int kExitUnforeseen = 2; // the unforeseen-failure message

} // namespace jarseal
