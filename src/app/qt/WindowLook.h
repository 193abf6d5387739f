#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QProxyStyle>
#include <functional>
#include <vector>

namespace jarseal {

// The window's geometry is laid out in pixels for an 8-point sans serif at
// 96 dots per inch (about 11 pixels); a common Linux sans of that size is
// too wide for it. The window therefore uses a narrow sans, sized in pixels
// so that font and geometry agree on any screen.
struct WindowFontCandidate {
    const char* family;
    int pixelSize;
    const char* debianPackage; // where the family comes from on Debian
};

// In order of preference; the first one installed is used.
const std::vector<WindowFontCandidate>& WindowFontCandidates();

// True when the font system hands out this very family, not a substitute.
bool FontFamilyInstalled(const QString& family);

QFont CandidateFont(const WindowFontCandidate& candidate);

// The first candidate for which installed(family) holds; without any, the
// system's sans serif at the smaller size, condensed where it can be.
QFont ChooseWindowFont(const std::function<bool(const QString&)>& installed);
QFont WindowFont();

// The width a text needs: its advance, or more where the last glyph's ink
// reaches beyond it.
int TextWidth(const QFontMetrics& metrics, const QString& text);

// The window's look on top of the platform's style: check box and option
// indicators of 13 pixels, so that they fit the 13-pixel rows of the layout,
// and group panels whose frame line runs through the middle of the caption,
// the caption breaking it at the top left, so that the first row of check
// boxes 16 pixels down lies clear below both.
class WindowStyle : public QProxyStyle {
  public:
    WindowStyle();

    int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                    const QWidget* widget = nullptr) const override;
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl sub,
                         const QWidget* widget = nullptr) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget = nullptr) const override;

    // One instance for the whole program, owned by the application object.
    static WindowStyle* Instance();

    static constexpr int kIndicatorSize = 13;
    static constexpr int kCaptionLeft = 6; // where a group caption starts
    static constexpr int kCaptionPadding = 2;
};

} // namespace jarseal
