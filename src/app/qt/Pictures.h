#pragma once

#include <QAbstractButton>
#include <QIcon>
#include <QPixmap>
#include <functional>

namespace jarseal {

// The pictures of the window, drawn by the program itself at the device pixel
// ratio of the screen they are shown on, so that they stay sharp on screens
// that scale. Sizes are in logical pixels.
inline constexpr QSize kTopButtonPictureSize{80, 25};
inline constexpr QSize kExitButtonPictureSize{40, 25};
inline constexpr int kWindowIconSize = 48;

// A grey rounded button with a white label.
QPixmap DrawTopButtonPicture(const QString& label, qreal devicePixelRatio = 1);
// The label's font: the window's font, bold and a pixel larger.
QFont TopButtonLabelFont();
// Where the label may go without touching the rounded ends.
QRect TopButtonLabelRect();
// A red button with a white cross.
QPixmap DrawExitButtonPicture(qreal devicePixelRatio = 1);
// The window icon: one 48 x 48 image, with a twice as large copy for screens
// that scale by two.
QIcon DrawWindowIcon();

// Draws a picture at the given device pixel ratio.
using PictureDrawer = std::function<QPixmap(qreal devicePixelRatio)>;

// A button that shows a fixed picture instead of a caption, centred; it is
// drawn one pixel lower and to the right while pressed. Its text is not
// drawn: it names the button for tests and accessibility tools. It takes no
// keyboard focus: it works by mouse clicks only.
class PictureButton : public QAbstractButton {
  public:
    PictureButton(const QString& text, PictureDrawer draw, QWidget* parent);
    QSize sizeHint() const override;
    // The picture as last drawn: at the device pixel ratio of the screen the
    // button was last painted on.
    const QPixmap& Picture() const { return picture_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    PictureDrawer draw_;
    QPixmap picture_;
};

} // namespace jarseal
