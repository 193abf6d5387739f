#pragma once

#include "common/Context.h"
#include "settings/PathChoosers.h"
#include "settings/PermissionPreferences.h"

#include <QWidget>
#include <array>
#include <functional>

class QAbstractButton;
class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QRadioButton;

namespace jarseal {

// Twips (1/1440 inch) to pixels at 96 dots per inch: 15 twips a pixel.
int TwipsToPixels(int twips);

// The program's one window: three picture buttons across the top, the
// permission page and the signing settings page beneath them, an exit
// button, and a pop-up menu on the right mouse button. It has no title bar:
// a left-button drag on any panel moves it. Every settings control stores
// its value at once; the window keeps nothing of its own.
class Form1 : public QWidget {
  public:
    static constexpr int kFrameCount = 8; // panels: 0 permission page, 1-5 group panels,
                                          // 6 signing settings page, 7 Symbian panel
    static constexpr int kTextCount = 5;
    static constexpr int kLabelCount = 13;

    Form1(Context& ctx, PermissionPreferences& preferences);

    // The last step of start-up: lays out, shows and raises the window, fills
    // the settings boxes and path labels, and shows the permission page.
    void LoadSettingsView();
    // The key store chooser (menu "keystore", the "Изменить" button beside
    // the key store, and start-up after the program folder moved).
    void ChooseKeystore();
    // Keeps the window above all other windows (on) or among them (off),
    // without moving or resizing it.
    void SetTopMost(bool on);

    QWidget* Frame(int index) const { return frame_[static_cast<std::size_t>(index)]; }
    QLineEdit* Text(int index) const { return text_[static_cast<std::size_t>(index)]; }
    QLabel* Label(int index) const { return label_[static_cast<std::size_t>(index)]; }
    QMenu* PopupMenu() const { return mnuMain_; }

    // The window's outer size after LoadSettingsView, in twips.
    static constexpr int kWindowWidthTwips = 3 * 1258 - 60;
    static constexpr int kWindowHeightTwips = 3372 + 427 + 90;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void BuildTopRow();
    void BuildPermissionPage();
    void BuildSettingsPage();
    void BuildMenu();
    void ExportCertificate();

    // The reactions of the indexed groups; each receives the member's index.
    bool FrameEvent(int index, QEvent* event);
    void TextChanged(int index);

    void ShowPermissionPage(); // Command1
    void ShowSettingsPage();   // Command2
    void EditWithInputBox(int textIndex);
    void ChoosePathSetting(PathSetting setting);
    void RestoreDefaults();
    void SetPathLabel(int index, const std::string& value);
    static void FitLabel(QLabel* label);
    void SetTextQuietly(int index, const std::string& value);
    void SyncPermissionPage();

    // Runs a reaction of the window; a reaction that ends the program leaves
    // the event loop.
    void React(const std::function<void()>& reaction);

    Context& ctx_;
    PermissionPreferences& preferences_;

    std::array<QWidget*, kFrameCount> frame_{};
    std::array<QLineEdit*, kTextCount> text_{};
    std::array<QLabel*, kLabelCount> label_{};
    std::array<QCheckBox*, kPermissionGroupCount> box_{};
    QAbstractButton* btnOpen_ = nullptr;
    QAbstractButton* command1_ = nullptr;
    QAbstractButton* command2_ = nullptr;
    QAbstractButton* btnEnd_ = nullptr;
    QRadioButton* optAut_ = nullptr;
    QRadioButton* optUser_ = nullptr;
    QMenu* mnuMain_ = nullptr;

    // Moving the window by hand where the platform cannot move it itself.
    bool dragStarted_ = false;
    bool dragByHand_ = false;
    QPoint dragOffset_;
};

// Runs a window reaction; when it ends the program, the windows are hidden
// and the event loop is left with the run's exit status.
void RunReaction(const std::function<void()>& reaction);

} // namespace jarseal
