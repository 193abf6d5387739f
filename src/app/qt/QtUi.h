#pragma once

#include "common/UserInterface.h"

#include <string>
#include <vector>

class QWidget;
class QString;
class QFontMetrics;

namespace jarseal {

// Texts of the core are bytes in the locale's encoding; the window shows
// QStrings. These convert at the window's edge.
QString FromBytes(const std::string& text);
std::string ToBytes(const QString& text);

// The window's user interface: modal Qt message boxes, input boxes and the
// open-file dialog, all in Russian. EndProgram throws ProgramExit, which the
// window's event handlers catch to leave the event loop.
class QtUi : public UserInterface {
  public:
    // Dialogs are owned by the parent widget when one is set.
    void SetParent(QWidget* parent) { parent_ = parent; }

    void ShowMessage(const std::string& text, MessageIcon icon, const std::string& title) override;
    Answer AskYesNo(const std::string& text, MessageIcon icon, const std::string& title) override;
    Answer AskYesNoCancel(const std::string& text, MessageIcon icon, const std::string& title) override;
    std::string InputBox(const std::string& prompt, const std::string& title,
                         const std::string& defaultText) override;
    std::string OpenFileDialog(const std::string& title, const std::vector<FileFilter>& filters) override;
    // Kept for the run's success box, which shows them as its details.
    void Note(const std::string& text) override;
    [[noreturn]] void EndProgram(int status) override;

    // The Qt name filter for a (description, pattern) pair: patterns separated
    // by blanks, "*.*" meaning every file as it does on Windows.
    static QString NameFilter(const FileFilter& filter);

  private:
    QWidget* parent_ = nullptr;
    std::vector<std::string> notes_; // told since the last message box
};

// Breaks each line of text wider than width pixels into lines that fit,
// after a path separator where one fits, else between letters; nothing is
// left out.
QString WrapToWidth(const QString& text, const QFontMetrics& metrics, int width);

// The modal save-file dialog, which asks before replacing an existing file;
// the chosen path, or the empty text on cancel.
std::string ShowSaveDialog(QWidget* parent, const QString& title, const QString& suggestedName);

// Loads Qt's own Russian texts for standard buttons and dialogs, when the
// system has them.
void InstallRussianTranslation();

} // namespace jarseal
