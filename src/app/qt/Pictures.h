#pragma once

#include <QAbstractButton>
#include <QIcon>
#include <QPixmap>

namespace jarseal {

// The pictures of the window, drawn by the program itself.
// A grey rounded button of 80 x 25 pixels with a white label.
QPixmap DrawTopButtonPicture(const QString& label);
// A red button of 40 x 25 pixels with a white cross.
QPixmap DrawExitButtonPicture();
// The window icon: one 48 x 48 image.
QIcon DrawWindowIcon();

// A button that shows a fixed picture instead of a caption, centred; it is
// drawn one pixel lower and to the right while pressed.
class PictureButton : public QAbstractButton {
  public:
    PictureButton(const QPixmap& picture, QWidget* parent);
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QPixmap picture_;
};

} // namespace jarseal
