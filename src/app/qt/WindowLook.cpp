#include "app/qt/WindowLook.h"

#include <QApplication>
#include <QFontInfo>
#include <QPainter>
#include <QPointer>
#include <QStyleOption>

namespace jarseal {

const std::vector<WindowFontCandidate>& WindowFontCandidates() {
    // Liberation Sans Narrow has Arial Narrow's widths: at the nominal
    // 11 pixels every caption fits with room to spare. DejaVu Sans Condensed
    // runs wider and fits only one pixel size smaller.
    static const std::vector<WindowFontCandidate> candidates = {
        {"Liberation Sans Narrow", 11, "fonts-liberation"},
        {"DejaVu Sans Condensed", 10, "fonts-dejavu-extra"},
    };
    return candidates;
}

bool FontFamilyInstalled(const QString& family) {
    QFont font(family);
    font.setStyleHint(QFont::SansSerif);
    return QFontInfo(font).family().compare(family, Qt::CaseInsensitive) == 0;
}

QFont CandidateFont(const WindowFontCandidate& candidate) {
    QFont font(QString::fromLatin1(candidate.family));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(candidate.pixelSize);
    return font;
}

QFont ChooseWindowFont(const std::function<bool(const QString&)>& installed) {
    for (const WindowFontCandidate& c : WindowFontCandidates())
        if (installed(QString::fromLatin1(c.family)))
            return CandidateFont(c);
    QFont font = QApplication::font();
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(10);
    font.setStretch(QFont::SemiCondensed);
    return font;
}

QFont WindowFont() {
    return ChooseWindowFont(FontFamilyInstalled);
}

int TextWidth(const QFontMetrics& metrics, const QString& text) {
    const QRect ink = metrics.boundingRect(text);
    return std::max(metrics.horizontalAdvance(text), ink.x() + ink.width());
}

WindowStyle::WindowStyle() = default;

WindowStyle* WindowStyle::Instance() {
    // The widgets refer to their style without owning it, so the style lives
    // as long as the application object.
    static QPointer<WindowStyle> style;
    if (!style) {
        style = new WindowStyle;
        style->setParent(QCoreApplication::instance());
    }
    return style;
}

int WindowStyle::pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const {
    switch (metric) {
    case PM_IndicatorWidth:
    case PM_IndicatorHeight:
    case PM_ExclusiveIndicatorWidth:
    case PM_ExclusiveIndicatorHeight:
        return kIndicatorSize;
    default:
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
}

namespace {

// A plain group panel: captioned or not, without a check box of its own.
const QStyleOptionGroupBox* PlainGroupBox(const QStyleOptionComplex* option) {
    const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
    if (!box || (box->subControls & QStyle::SC_GroupBoxCheckBox))
        return nullptr;
    return box;
}

} // namespace

QRect WindowStyle::subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl sub,
                                  const QWidget* widget) const {
    const QStyleOptionGroupBox* box = control == CC_GroupBox ? PlainGroupBox(option) : nullptr;
    if (!box)
        return QProxyStyle::subControlRect(control, option, sub, widget);
    const QRect& r = box->rect;
    const int captionHeight = box->text.isEmpty() ? 0 : box->fontMetrics.height();
    const int lineTop = captionHeight / 2;
    switch (sub) {
    case SC_GroupBoxFrame:
        return QRect(r.left(), r.top() + lineTop, r.width(), r.height() - lineTop);
    case SC_GroupBoxLabel: {
        if (box->text.isEmpty())
            return {};
        const int left = kCaptionLeft + kCaptionPadding;
        const int room = std::max(0, r.width() - 2 * left);
        const int width = std::min(TextWidth(box->fontMetrics, box->text), room);
        return QRect(r.left() + left, r.top(), width, captionHeight);
    }
    case SC_GroupBoxContents:
        return r.adjusted(3, std::max(captionHeight, 3), -3, -3);
    default:
        return QProxyStyle::subControlRect(control, option, sub, widget);
    }
}

void WindowStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                     QPainter* painter, const QWidget* widget) const {
    const QStyleOptionGroupBox* box = control == CC_GroupBox ? PlainGroupBox(option) : nullptr;
    if (!box) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    painter->save();
    const QRect label = subControlRect(CC_GroupBox, box, SC_GroupBoxLabel, widget);
    if (box->subControls & SC_GroupBoxFrame) {
        QRegion clip(box->rect);
        if (!label.isEmpty())
            clip -= label.adjusted(-kCaptionPadding, 0, kCaptionPadding, 0);
        painter->setClipRegion(clip);
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(box->palette.window().color().darker(140));
        painter->setBrush(Qt::NoBrush);
        const QRectF frame = QRectF(subControlRect(CC_GroupBox, box, SC_GroupBoxFrame, widget));
        painter->drawRoundedRect(frame.adjusted(0.5, 0.5, -0.5, -0.5), 2, 2);
        painter->setClipping(false);
    }
    if (!label.isEmpty() && (box->subControls & SC_GroupBoxLabel))
        drawItemText(painter, label, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic, box->palette,
                     box->state & State_Enabled, box->text, QPalette::WindowText);
    painter->restore();
}

} // namespace jarseal
