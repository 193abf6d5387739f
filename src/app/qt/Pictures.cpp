#include "app/qt/Pictures.h"

#include "app/qt/WindowLook.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace jarseal {

namespace {

// A transparent picture of the given logical size, its pixels at the given
// ratio; a painter on it works in logical pixels.
QPixmap Blank(QSize size, qreal devicePixelRatio) {
    QPixmap pixmap(size * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
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

QPixmap DrawWindowIconAt(qreal devicePixelRatio) {
    QPixmap pixmap = Blank(QSize(kWindowIconSize, kWindowIconSize), devicePixelRatio);
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
    return pixmap;
}

} // namespace

QFont TopButtonLabelFont() {
    QFont font = WindowFont();
    font.setPixelSize(font.pixelSize() + 1);
    font.setBold(true);
    return font;
}

QRect TopButtonLabelRect() {
    return QRect(QPoint(0, 0), kTopButtonPictureSize).adjusted(4, 2, -4, -2);
}

QPixmap DrawTopButtonPicture(const QString& label, qreal devicePixelRatio) {
    const QSize size = kTopButtonPictureSize;
    QPixmap pixmap = Blank(size, devicePixelRatio);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    DrawRoundedFace(p, QRectF(0.5, 0.5, size.width() - 1, size.height() - 1), QColor(0xa8, 0xa8, 0xa8),
                    QColor(0x58, 0x58, 0x58));
    p.setFont(TopButtonLabelFont());
    p.setPen(Qt::white);
    p.drawText(TopButtonLabelRect(), Qt::AlignCenter, label);
    return pixmap;
}

QPixmap DrawExitButtonPicture(qreal devicePixelRatio) {
    const QSize size = kExitButtonPictureSize;
    QPixmap pixmap = Blank(size, devicePixelRatio);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    DrawRoundedFace(p, QRectF(0.5, 0.5, size.width() - 1, size.height() - 1), QColor(0xe8, 0x40, 0x30),
                    QColor(0x98, 0x10, 0x08));
    p.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(14, 6.5), QPointF(26, 18.5));
    p.drawLine(QPointF(26, 6.5), QPointF(14, 18.5));
    return pixmap;
}

QIcon DrawWindowIcon() {
    QIcon icon;
    icon.addPixmap(DrawWindowIconAt(1));
    icon.addPixmap(DrawWindowIconAt(2));
    return icon;
}

PictureButton::PictureButton(const QString& text, PictureDrawer draw, QWidget* parent)
    : QAbstractButton(parent), draw_(std::move(draw)), picture_(draw_(1)) {
    setText(text);
    // Clicks only: a button that kept the focus after a click would let a
    // stray Space or Enter run its command, and open a dialog, once more.
    setFocusPolicy(Qt::NoFocus);
}

QSize PictureButton::sizeHint() const {
    return picture_.deviceIndependentSize().toSize();
}

void PictureButton::paintEvent(QPaintEvent*) {
    // Drawn anew for the screen it is on rather than scaled, which would blur.
    const qreal ratio = devicePixelRatioF();
    if (!qFuzzyCompare(picture_.devicePixelRatio(), ratio))
        picture_ = draw_(ratio);
    QPainter p(this);
    const QSize size = picture_.deviceIndependentSize().toSize();
    const int shift = isDown() ? 1 : 0;
    const QPoint at((width() - size.width()) / 2 + shift, (height() - size.height()) / 2 + shift);
    p.drawPixmap(at, picture_);
}

} // namespace jarseal
