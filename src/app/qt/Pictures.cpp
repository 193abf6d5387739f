#include "app/qt/Pictures.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace jarseal {

namespace {

QPixmap Blank(int width, int height) {
    QPixmap pixmap(width, height);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

void DrawRoundedFace(QPainter& p, const QRectF& rect, const QColor& light, const QColor& dark) {
    QLinearGradient gradient(rect.topLeft(), rect.bottomLeft());
    gradient.setColorAt(0, light);
    gradient.setColorAt(1, dark);
    p.setPen(QPen(dark.darker(140), 1));
    p.setBrush(gradient);
    p.drawRoundedRect(rect, 6, 6);
}

} // namespace

QPixmap DrawTopButtonPicture(const QString& label) {
    QPixmap pixmap = Blank(80, 25);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    DrawRoundedFace(p, QRectF(0.5, 0.5, 79, 24), QColor(0xa8, 0xa8, 0xa8), QColor(0x58, 0x58, 0x58));
    QFont font = p.font();
    font.setPixelSize(11);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRect(0, 0, 80, 25), Qt::AlignCenter, label);
    return pixmap;
}

QPixmap DrawExitButtonPicture() {
    QPixmap pixmap = Blank(40, 25);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    DrawRoundedFace(p, QRectF(0.5, 0.5, 39, 24), QColor(0xe8, 0x40, 0x30), QColor(0x98, 0x10, 0x08));
    p.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(14, 6.5), QPointF(26, 18.5));
    p.drawLine(QPointF(26, 6.5), QPointF(14, 18.5));
    return pixmap;
}

QIcon DrawWindowIcon() {
    QPixmap pixmap = Blank(48, 48);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    // A jar-shaped body with a red seal on it.
    p.setPen(QPen(QColor(0x30, 0x30, 0x30), 2));
    p.setBrush(QColor(0x9a, 0xb8, 0xd8));
    p.drawRoundedRect(QRectF(9, 10, 30, 34), 6, 6);
    p.setBrush(QColor(0x70, 0x70, 0x70));
    p.drawRect(QRectF(13, 4, 22, 7));
    p.setBrush(QColor(0xc8, 0x18, 0x10));
    p.setPen(QPen(QColor(0x70, 0x08, 0x04), 1.5));
    p.drawEllipse(QPointF(24, 29), 10, 10);
    QFont font = p.font();
    font.setPixelSize(13);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(14, 19, 20, 20), Qt::AlignCenter, QStringLiteral("J"));
    return QIcon(pixmap);
}

PictureButton::PictureButton(const QPixmap& picture, QWidget* parent)
    : QAbstractButton(parent), picture_(picture) {
    setFocusPolicy(Qt::TabFocus);
}

QSize PictureButton::sizeHint() const {
    return picture_.size();
}

void PictureButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const int shift = isDown() ? 1 : 0;
    const QPoint at((width() - picture_.width()) / 2 + shift, (height() - picture_.height()) / 2 + shift);
    p.drawPixmap(at, picture_);
    if (hasFocus()) {
        p.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

} // namespace jarseal
