// The window as a person sees it: the font it really gets, every text
// against the room its control gives it, group panels against their check
// boxes, and sharp pictures on screens that scale. Run once as it is and once
// with QT_SCALE_FACTOR=2; renders of the pages go to renders/ in the build
// folder for a person to look at.
#include "app/qt/WindowLook.h"
#include "app/qt/Form1.h"
#include "app/qt/Pictures.h"
#include "app/qt/QtUi.h"
#include "common/OpenDialog.h"
#include "java/PermissionCatalogue.h"
#include "support/FakeSettings.h"
#include "support/ScriptedUi.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFontInfo>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOption>
#include <QTimer>
#include <gtest/gtest.h>

using namespace jarseal;
using namespace jarseal::test;

namespace {

// The screen scale the run was started with.
qreal StartedScale() {
    bool ok = false;
    const double scale = qEnvironmentVariable("QT_SCALE_FACTOR").toDouble(&ok);
    return ok && scale > 0 ? scale : 1.0;
}

QString Describe(const QRect& r) {
    return QStringLiteral("%1 x %2 at %3,%4").arg(r.width()).arg(r.height()).arg(r.x()).arg(r.y());
}

QStyleOptionGroupBox GroupBoxOption(const QGroupBox* box) {
    QStyleOptionGroupBox o;
    o.initFrom(box);
    o.text = box->title();
    o.textAlignment = box->alignment();
    o.lineWidth = 1;
    o.subControls = QStyle::SC_GroupBoxFrame;
    if (!box->title().isEmpty())
        o.subControls |= QStyle::SC_GroupBoxLabel;
    return o;
}

QRect CaptionRect(const QGroupBox* box) {
    const QStyleOptionGroupBox o = GroupBoxOption(box);
    return box->style()->subControlRect(QStyle::CC_GroupBox, &o, QStyle::SC_GroupBoxLabel, box);
}

// Measures each text of the window with its control's font against the room
// the control's style gives it; one line for each misfit, naming the control.
struct FitCheck {
    QStringList misfits;

    void Text(const QWidget* w, const QString& text, const QRect& room) {
        if (text.isEmpty())
            return;
        const QFontMetrics fm = w->fontMetrics();
        const QRect ink = fm.boundingRect(text); // from the text's origin
        const int width = std::max(fm.horizontalAdvance(text), ink.x() + ink.width());
        if (width > room.width() || fm.height() > room.height())
            misfits << QStringLiteral("%1 \"%2\" needs %3 x %4 px, has %5 x %6")
                           .arg(w->objectName(), text)
                           .arg(width)
                           .arg(fm.height())
                           .arg(room.width())
                           .arg(room.height());
        if (!w->rect().contains(room))
            misfits << QStringLiteral("%1: its text room %2 is cut by the control's edge")
                           .arg(w->objectName(), Describe(room));
    }

    void Indicator(const QWidget* w, const QRect& indicator) {
        if (!w->rect().contains(indicator))
            misfits << QStringLiteral("%1: its indicator %2 is cut by the control's %3 x %4")
                           .arg(w->objectName(), Describe(indicator))
                           .arg(w->width())
                           .arg(w->height());
    }

    void Control(const QWidget* w) {
        const QStyle* style = w->style();
        if (const auto* box = qobject_cast<const QCheckBox*>(w)) {
            QStyleOptionButton o;
            o.initFrom(box);
            o.text = box->text();
            Indicator(w, style->subElementRect(QStyle::SE_CheckBoxIndicator, &o, w));
            Text(w, box->text(), style->subElementRect(QStyle::SE_CheckBoxContents, &o, w));
        } else if (const auto* option = qobject_cast<const QRadioButton*>(w)) {
            QStyleOptionButton o;
            o.initFrom(option);
            o.text = option->text();
            Indicator(w, style->subElementRect(QStyle::SE_RadioButtonIndicator, &o, w));
            Text(w, option->text(), style->subElementRect(QStyle::SE_RadioButtonContents, &o, w));
        } else if (const auto* button = qobject_cast<const QPushButton*>(w)) {
            QStyleOptionButton o;
            o.initFrom(button);
            o.text = button->text();
            Text(w, button->text(), style->subElementRect(QStyle::SE_PushButtonContents, &o, w));
        } else if (const auto* label = qobject_cast<const QLabel*>(w)) {
            Text(w, label->text(), label->contentsRect());
        } else if (const auto* panel = qobject_cast<const QGroupBox*>(w)) {
            Text(w, panel->title(), CaptionRect(panel));
        }
    }
};

// The controls of the window itself, not of its pop-up menu.
QList<QWidget*> Controls(const QWidget& form) {
    QList<QWidget*> controls;
    for (QWidget* w : form.findChildren<QWidget*>())
        if (!w->isWindow() && !w->window()->inherits("QMenu"))
            controls << w;
    return controls;
}

// The row of a group panel's top frame line, found in a render of the panel
// alone (without its check boxes) in the given column: the first row that
// differs from the background above it.
int FrameLineRow(QGroupBox* panel, int column) {
    QImage image(panel->size(), QImage::Format_ARGB32);
    image.fill(Qt::magenta);
    panel->render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
    const QRgb background = image.pixel(column, 0);
    for (int y = 1; y < image.height(); ++y)
        if (image.pixel(column, y) != background)
            return y;
    return -1;
}

struct WindowLook : ::testing::Test {
    ScriptedUi ui;
    MemorySettings settings;
    PermissionPreferences prefs{settings};
    Context ctx{ui, settings, prefs, "/prog", ""};
    Form1 form{ctx, prefs};

    WindowLook() {
        // The user's own permissions with a few boxes ticked and one greyed,
        // and paths in the path labels.
        settings.values = {{{"Permissions", "byuser"}, "True"},
                           {{"Java", "keystore"}, "/prog/data/key"},
                           {{"Symbian", "SignSIS"}, "/usr/bin/signsis"},
                           {{"Symbian", "certificate"}, "/keys/me.cer"},
                           {{"Symbian", "key"}, "/keys/me.key"}};
        for (const PermissionGroup& g : PermissionSet)
            settings.values[{"Permissions", std::string(g.keyRead)}] = "0";
        settings.values[{"Permissions", "http"}] = "1";
        settings.values[{"Permissions", "read"}] = "1";
        settings.values[{"Permissions", "camera"}] = "2";
        prefs.LoadPermissionSettings();
        form.LoadSettingsView();
    }
    ~WindowLook() override { form.hide(); }

    QStringList Misfits() {
        FitCheck check;
        for (const QWidget* w : Controls(form))
            check.Control(w);
        return check.misfits;
    }
};

TEST_F(WindowLook, UsesTheNarrowSansAtItsPixelSizeInEveryControl) {
    const WindowFontCandidate& wanted = WindowFontCandidates().front();
    const QString family = QString::fromLatin1(wanted.family);
    ASSERT_TRUE(FontFamilyInstalled(family))
        << wanted.family << " is not installed (Debian package " << wanted.debianPackage
        << ", installed by scripts/deps.sh); the window falls back to "
        << QFontInfo(form.font()).family().toStdString();
    for (const QWidget* w : Controls(form)) {
        const QFontInfo info(w->font());
        EXPECT_EQ(info.family(), family) << w->objectName().toStdString();
        EXPECT_EQ(info.pixelSize(), wanted.pixelSize) << w->objectName().toStdString();
    }

    // Without it, the next narrow family; without any, the system's sans at
    // the smaller size, condensed.
    const QString second = QString::fromLatin1(WindowFontCandidates()[1].family);
    const QFont fallback = ChooseWindowFont([&](const QString& f) { return f == second; });
    EXPECT_EQ(fallback.family(), second);
    EXPECT_EQ(fallback.pixelSize(), WindowFontCandidates()[1].pixelSize);
    const QFont last = ChooseWindowFont([](const QString&) { return false; });
    EXPECT_EQ(last.pixelSize(), 10);
    EXPECT_EQ(last.stretch(), QFont::SemiCondensed);
}

TEST_F(WindowLook, EveryTextFitsItsControlInEachInstalledNarrowFont) {
    int tried = 0;
    for (const WindowFontCandidate& c : WindowFontCandidates()) {
        if (!FontFamilyInstalled(QString::fromLatin1(c.family)))
            continue; // the first one is required by the test above
        ++tried;
        form.setFont(CandidateFont(c));
        const QStringList misfits = Misfits();
        EXPECT_TRUE(misfits.isEmpty()) << c.family << " " << c.pixelSize << " px:\n  "
                                       << misfits.join(QStringLiteral("\n  ")).toStdString();
    }
    EXPECT_GE(tried, 1);

    // The labels drawn into the top row's pictures.
    const QFontMetrics fm(TopButtonLabelFont());
    for (const char* name : {"btnOpen", "Command1", "Command2"}) {
        const auto* button = form.findChild<QAbstractButton*>(QString::fromLatin1(name));
        ASSERT_NE(button, nullptr) << name;
        ASSERT_FALSE(button->text().isEmpty()) << name;
        EXPECT_LE(fm.horizontalAdvance(button->text()), TopButtonLabelRect().width()) << name;
        EXPECT_LE(fm.height(), TopButtonLabelRect().height()) << name;
    }
}

TEST_F(WindowLook, CheckBoxesLieBelowTheirPanelsFrameLineAndCaption) {
    for (int panel = 1; panel <= 5; ++panel) {
        auto* box = qobject_cast<QGroupBox*>(form.Frame(panel));
        ASSERT_NE(box, nullptr) << panel;
        const std::string name = box->title().toStdString();
        const QRect caption = CaptionRect(box);
        const int column = box->width() - 6; // right of the caption, left of the corner
        ASSERT_LT(caption.right(), column - 2) << name;
        const int line = FrameLineRow(box, column);
        ASSERT_GT(line, 0) << name << ": no frame line found";
        EXPECT_LT(line, caption.bottom()) << name << ": the line runs below its caption";

        const QList<QCheckBox*> boxes = box->findChildren<QCheckBox*>();
        ASSERT_FALSE(boxes.isEmpty()) << name;
        for (const QCheckBox* check : boxes) {
            const QRect r = check->geometry();
            const std::string what = name + "/" + check->objectName().toStdString();
            EXPECT_GT(r.top(), line) << what << " at row " << r.top() << " touches the frame line at row "
                                     << line;
            EXPECT_FALSE(r.intersects(caption)) << what << " overlaps the caption";
            EXPECT_TRUE(box->rect().adjusted(1, 1, -1, -1).contains(r))
                << what << " " << Describe(r).toStdString() << " crosses the frame of " << box->width()
                << " x " << box->height();
        }
    }
}

TEST_F(WindowLook, DrawsSharpAtTheScreensScaleAndKeepsRenders) {
    const qreal scale = StartedScale();
    ASSERT_DOUBLE_EQ(form.devicePixelRatioF(), scale);
    // The window keeps its size in logical pixels; the screen shows it larger.
    const QSize logical(TwipsToPixels(Form1::kWindowWidthTwips), TwipsToPixels(Form1::kWindowHeightTwips));
    EXPECT_EQ(form.size(), logical);

    const QString dir = QStringLiteral(JARSEAL_BUILD_DIR "/renders");
    ASSERT_TRUE(QDir().mkpath(dir));
    const QString suffix = scale == 1 ? QString() : QStringLiteral("@%1x").arg(scale);
    auto render = [&](const char* name) {
        QApplication::processEvents();
        const QPixmap shot = form.grab();
        EXPECT_EQ(shot.size(), logical * scale) << name;
        EXPECT_DOUBLE_EQ(shot.devicePixelRatio(), scale) << name;
        EXPECT_TRUE(shot.save(dir + QLatin1Char('/') + QLatin1String(name) + suffix + QStringLiteral(".png")))
            << name;
    };
    render("page0");
    form.findChild<QAbstractButton*>(QStringLiteral("Command2"))->click();
    render("page6");
    form.findChild<QAbstractButton*>(QStringLiteral("btnSymOpt"))->click();
    render("symbian");

    // The pictures were drawn for this screen, not scaled up from small ones.
    const std::pair<const char*, QSize> pictures[] = {{"btnOpen", kTopButtonPictureSize},
                                                      {"Command1", kTopButtonPictureSize},
                                                      {"Command2", kTopButtonPictureSize},
                                                      {"btnEnd", kExitButtonPictureSize}};
    for (const auto& [name, size] : pictures) {
        // PictureButton has no meta-object of its own: found as the button it
        // is (Qt 6.8 refuses findChild on a class without Q_OBJECT).
        const auto* button =
            dynamic_cast<const PictureButton*>(form.findChild<QAbstractButton*>(QString::fromLatin1(name)));
        ASSERT_NE(button, nullptr) << name;
        EXPECT_DOUBLE_EQ(button->Picture().devicePixelRatio(), scale) << name;
        EXPECT_EQ(button->Picture().size(), size * scale) << name;
        EXPECT_EQ(button->Picture().deviceIndependentSize().toSize(), size) << name;
    }
    const QList<QSize> iconSizes = form.windowIcon().availableSizes();
    EXPECT_TRUE(iconSizes.contains(QSize(kWindowIconSize, kWindowIconSize)));
    EXPECT_TRUE(iconSizes.contains(QSize(2 * kWindowIconSize, 2 * kWindowIconSize)));
}

// A path too long for the open dialog is shown whole, broken into lines
// that fit, in a box with the information icon that fits the screen.
TEST_F(WindowLook, LongPathBoxFitsTheScreenAndShowsThePathWhole) {
    QtUi qtUi;
    qtUi.SetParent(&form);
    std::string path = "/home/user";
    while (path.size() < 300)
        path += "/a-rather-long-folder-name";
    path += "/game.jar";
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QRect frame;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                text = box->text();
                icon = box->icon();
                frame = box->frameGeometry();
                const QString dir = QStringLiteral(JARSEAL_BUILD_DIR "/renders");
                QDir().mkpath(dir);
                box->grab().save(dir + QStringLiteral("/long-path%1.png")
                                           .arg(StartedScale() == 1 ? QString() : QStringLiteral("@2x")));
                box->accept();
            }
    });
    poll.start(20);
    qtUi.ShowMessage(LongPathMessage(path), MessageIcon::Information, "Jarseal");
    poll.stop();

    EXPECT_EQ(icon, QMessageBox::Information);
    const QRect screen = form.screen()->availableGeometry();
    EXPECT_LE(frame.width(), screen.width()) << Describe(frame).toStdString();
    QString joined = text;
    joined.remove(QLatin1Char('\n'));
    EXPECT_TRUE(joined.contains(QString::fromStdString(path))) << text.toStdString();
    for (const QString& line : text.split(QLatin1Char('\n')))
        EXPECT_LE(QFontMetrics(form.font()).horizontalAdvance(line), screen.width() / 2)
            << line.toStdString();
}

} // namespace
