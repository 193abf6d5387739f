#include "app/qt/Form1.h"

#include "app/CertificateExport.h"
#include "app/Intake.h"
#include "app/qt/Pictures.h"
#include "app/qt/QtUi.h"
#include "app/qt/WindowLook.h"
#include "java/PermissionCatalogue.h"
#include "settings/SigningEditors.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QWindow>
#include <cmath>
#include <optional>

namespace jarseal {

namespace {

struct Rect {
    int left, top, width, height; // twips
};

void Place(QWidget* w, const Rect& r) {
    w->setGeometry(TwipsToPixels(r.left), TwipsToPixels(r.top), TwipsToPixels(r.width),
                   TwipsToPixels(r.height));
}

QString Qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Frame1: parent (-1 the window, else a Frame1 index), caption, place.
struct FramePlace {
    int parent;
    const char* caption;
    Rect rect;
};
const FramePlace kFrames[Form1::kFrameCount] = {
    {-1, nullptr, {0, 480, 3771, 3372}},      {0, "BlueTooth", {1680, 840, 1695, 735}},
    {0, "FileSystem", {120, 840, 1000, 735}}, {0, "NET", {120, 1560, 1455, 1695}},
    {0, "Messages", {1680, 1560, 975, 735}},  {0, "Additional", {1680, 2280, 1095, 855}},
    {-1, nullptr, {0, 480, 3771, 3372}},      {6, nullptr, {240, 480, 3615, 2295}},
};

// Label: caption (empty for the path labels), Frame1 index it lies on, place.
struct LabelPlace {
    const char* caption;
    int frame;
    Rect rect;
};
const LabelPlace kLabels[Form1::kLabelCount] = {
    {"keystore", 6, {240, 2040, 600, 195}},
    {"keypass", 6, {240, 840, 585, 195}},
    {"storepass", 6, {240, 480, 675, 195}},
    {"alias1", 6, {240, 1200, 405, 195}},
    {"alias2", 6, {240, 1560, 405, 195}},
    {"", 6, {1200, 2040, 45, 195}},
    {"SignSIS", 7, {0, 0, 570, 195}},
    {"certificate", 7, {0, 600, 690, 195}},
    {"key", 7, {0, 1200, 255, 195}},
    {"passphrase", 7, {0, 1800, 810, 195}},
    {"", 7, {960, 0, 45, 195}},
    {"", 7, {960, 600, 45, 195}},
    {"", 7, {960, 1200, 45, 195}},
};

struct TextPlace {
    int frame;
    Rect rect;
};
const TextPlace kTexts[Form1::kTextCount] = {
    {6, {1200, 480, 1095, 285}},  {6, {1200, 840, 1095, 285}}, {6, {1200, 1200, 1095, 285}},
    {6, {1200, 1560, 1095, 285}}, {7, {960, 1800, 1095, 285}},
};

// The check boxes inside their group panels, by control name.
struct BoxPlace {
    const char* name;
    Rect rect;
};
const BoxPlace kBoxes[] = {
    {"chkRead", {120, 240, 820, 195}},     {"chkWrite", {120, 480, 840, 195}},
    {"chkSock", {120, 240, 855, 255}},     {"chkHttp", {120, 480, 735, 255}},
    {"chkHttps", {120, 720, 735, 255}},    {"chkSsl", {120, 960, 615, 255}},
    {"chkSocSer", {120, 1200, 1280, 195}}, {"chkPush", {120, 1440, 1280, 195}},
    {"chkBTC", {120, 240, 1455, 195}},     {"chkBTS", {120, 480, 1550, 195}},
    {"chkSms", {120, 240, 735, 195}},      {"chkMms", {120, 480, 735, 195}},
    {"chkPIM", {120, 240, 615, 255}},      {"chkCam", {120, 480, 950, 255}},
};

// Top row, in twips as created; LoadSettingsView moves Command1 and Command2.
constexpr Rect kBtnOpen{0, 0, 1257, 427};
constexpr Rect kCommand1{1320, 0, 1258, 427};
constexpr Rect kCommand2{3240, 0, 1257, 427};
constexpr Rect kBtnEnd{3119, 3403, 658, 427};

// Controls and panels receive mouse events themselves; only a panel's own
// empty area drags the window or opens the pop-up menu.
void KeepMouseEvents(QWidget* w) {
    w->setAttribute(Qt::WA_NoMousePropagation);
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption, const Rect& rect) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    Place(b, rect);
    KeepMouseEvents(b);
    return b;
}

} // namespace

int TwipsToPixels(int twips) {
    return static_cast<int>(std::lround(twips / 15.0));
}

void RunReaction(const std::function<void()>& reaction) {
    try {
        reaction();
    } catch (const ProgramExit& exit) {
        for (QWidget* w : QApplication::topLevelWidgets())
            w->hide();
        QCoreApplication::exit(exit.status);
    }
}

Form1::Form1(Context& ctx, PermissionPreferences& preferences)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint), ctx_(ctx), preferences_(preferences) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString());
    setWindowIcon(DrawWindowIcon());
    setFont(WindowFont());
    resize(TwipsToPixels(kWindowWidthTwips), TwipsToPixels(kWindowHeightTwips));

    for (int i = 0; i < kFrameCount; ++i) {
        const FramePlace& item = kFrames[i];
        QWidget* parent = item.parent < 0 ? this : frame_[static_cast<std::size_t>(item.parent)];
        QWidget* frame = nullptr;
        if (item.caption) {
            frame = new QGroupBox(QString::fromLatin1(item.caption), parent);
        } else {
            auto* plain = new QFrame(parent);
            plain->setFrameShape(QFrame::NoFrame);
            plain->setAutoFillBackground(true); // the Symbian panel hides the Java fields
            frame = plain;
        }
        frame->setObjectName(QStringLiteral("Frame1_%1").arg(i));
        Place(frame, item.rect);
        frame->installEventFilter(this);
        frame_[static_cast<std::size_t>(i)] = frame;
    }
    // Every panel takes part in drag and drop so that a drop is decided where
    // it lands: the pages and the Symbian panel take files, the group panels
    // refuse them instead of passing them on to the page below.
    for (auto* frame : frame_)
        frame->setAcceptDrops(true);

    BuildTopRow();
    BuildPermissionPage();
    BuildSettingsPage();
    BuildMenu();

    // The controls take the window's look; the pop-up menu keeps the
    // platform's own.
    for (QWidget* w : findChildren<QWidget*>())
        if (!w->isWindow())
            w->setStyle(WindowStyle::Instance());
    for (QLabel* label : label_)
        FitLabel(label);

    // The pages and the Symbian panel start hidden; the group panels show
    // with their page.
    frame_[0]->hide();
    frame_[6]->hide();
    frame_[7]->hide();
    btnEnd_->raise();

    preferences_.SetObserver([this] { SyncPermissionPage(); });
    SyncPermissionPage();
}

void Form1::BuildTopRow() {
    auto make = [this](const char* name, const QString& text, PictureDrawer draw, const Rect& rect) {
        auto* b = new PictureButton(text, std::move(draw), this);
        b->setObjectName(QString::fromLatin1(name));
        Place(b, rect);
        KeepMouseEvents(b);
        return b;
    };
    auto top = [](const QString& label) {
        return [label](qreal ratio) { return DrawTopButtonPicture(label, ratio); };
    };
    btnOpen_ = make("btnOpen", QStringLiteral("Открыть"), top(QStringLiteral("Открыть")), kBtnOpen);
    command1_ =
        make("Command1", QStringLiteral("Permissoins"), top(QStringLiteral("Permissoins")), kCommand1);
    command2_ = make("Command2", QStringLiteral("Настройки"), top(QStringLiteral("Настройки")), kCommand2);
    btnEnd_ = make("btnEnd", QString(), DrawExitButtonPicture, kBtnEnd);
    btnEnd_->setAccessibleName(QStringLiteral("Выход"));

    connect(btnOpen_, &QAbstractButton::clicked, this, [this] { React([this] { OpenCommand(ctx_); }); });
    connect(command1_, &QAbstractButton::clicked, this, [this] { ShowPermissionPage(); });
    connect(command2_, &QAbstractButton::clicked, this, [this] { ShowSettingsPage(); });
    connect(btnEnd_, &QAbstractButton::clicked, this, [this] { close(); });
}

void Form1::BuildPermissionPage() {
    QWidget* page = frame_[0];
    optAut_ = new QRadioButton(QStringLiteral("Создавать автоматически"), page);
    optAut_->setObjectName(QStringLiteral("optAut"));
    Place(optAut_, {120, 120, 2415, 255});
    optUser_ = new QRadioButton(QStringLiteral("Назначать следующие:"), page);
    optUser_->setObjectName(QStringLiteral("optUser"));
    Place(optUser_, {120, 480, 2175, 255});
    KeepMouseEvents(optAut_);
    KeepMouseEvents(optUser_);
    auto* group = new QButtonGroup(this);
    group->addButton(optAut_);
    group->addButton(optUser_);
    optAut_->setChecked(true);
    connect(optAut_, &QAbstractButton::clicked, this,
            [this] { React([this] { preferences_.ClickAutomatic(); }); });
    connect(optUser_, &QAbstractButton::clicked, this,
            [this] { React([this] { preferences_.ClickUser(); }); });

    for (const BoxPlace& item : kBoxes) {
        const std::size_t index = PermissionGroupIndex(item.name);
        const PermissionGroup& g = PermissionSet[index];
        auto* box = new QCheckBox(Qs(g.caption), frame_[static_cast<std::size_t>(g.panelIndex)]);
        box->setObjectName(QString::fromLatin1(item.name));
        box->setTristate(true); // a greyed state can come from the settings file
        if (!g.toolTip.empty())
            box->setToolTip(Qs(g.toolTip));
        Place(box, item.rect);
        KeepMouseEvents(box);
        // A click only toggles between unchecked and checked; the page is then
        // redrawn from the stored state.
        connect(box, &QAbstractButton::clicked, this, [this, index] {
            React([this, index] {
                const int next = preferences_.BoxState(index) == kBoxChecked ? kBoxUnchecked : kBoxChecked;
                preferences_.ClickBox(index, next);
                SyncPermissionPage();
            });
        });
        box_[index] = box;
    }
}

void Form1::BuildSettingsPage() {
    for (int i = 0; i < kLabelCount; ++i) {
        const LabelPlace& item = kLabels[i];
        auto* label =
            new QLabel(QString::fromLatin1(item.caption), frame_[static_cast<std::size_t>(item.frame)]);
        label->setObjectName(QStringLiteral("Label_%1").arg(i));
        Place(label, item.rect);
        KeepMouseEvents(label);
        label_[static_cast<std::size_t>(i)] = label;
    }
    for (int i = 0; i < kTextCount; ++i) {
        const TextPlace& item = kTexts[i];
        auto* text = new QLineEdit(frame_[static_cast<std::size_t>(item.frame)]);
        text->setObjectName(QStringLiteral("Text_%1").arg(i));
        Place(text, item.rect);
        KeepMouseEvents(text);
        // A setting is typed, never dropped: a dropped file's name would be
        // stored as the password at once. The drop goes to the page instead.
        text->setAcceptDrops(false);
        connect(text, &QLineEdit::textChanged, this, [this, i] { TextChanged(i); });
        text_[static_cast<std::size_t>(i)] = text;
    }

    QWidget* page = frame_[6];
    QWidget* symbian = frame_[7];
    QPushButton* java = MakeButton(page, "btnJavOpt", QStringLiteral("Java"), {240, 120, 855, 255});
    QPushButton* sym = MakeButton(page, "btnSymOpt", QStringLiteral("Symbian"), {1440, 120, 855, 255});
    QPushButton* change = MakeButton(page, "btnCommand", QStringLiteral("Изменить"), {240, 2280, 885, 255});
    QPushButton* bydef = MakeButton(page, "btnBydef", QStringLiteral("По умолчанию"), {240, 2760, 1335, 375});
    QPushButton* signSis = MakeButton(symbian, "chSignSIS", QStringLiteral("Изменить"), {0, 240, 975, 255});
    QPushButton* cer = MakeButton(symbian, "chCer", QStringLiteral("Изменить"), {0, 840, 975, 255});
    QPushButton* key = MakeButton(symbian, "chKey", QStringLiteral("Изменить"), {0, 1440, 975, 255});
    symbian->raise(); // over the Java fields when shown

    connect(java, &QAbstractButton::clicked, this, [this] { frame_[7]->hide(); });
    connect(sym, &QAbstractButton::clicked, this, [this] { frame_[7]->show(); });
    connect(change, &QAbstractButton::clicked, this, [this] { ChooseKeystore(); });
    connect(bydef, &QAbstractButton::clicked, this, [this] { RestoreDefaults(); });
    connect(signSis, &QAbstractButton::clicked, this, [this] { ChoosePathSetting(PathSetting::SignSis); });
    connect(cer, &QAbstractButton::clicked, this, [this] { ChoosePathSetting(PathSetting::Certificate); });
    connect(key, &QAbstractButton::clicked, this, [this] { ChoosePathSetting(PathSetting::Key); });
}

void Form1::BuildMenu() {
    mnuMain_ = new QMenu(QStringLiteral("Main"), this);
    mnuMain_->setObjectName(QStringLiteral("mnuMain"));
    auto add = [](QMenu* menu, const char* name, const QString& caption) {
        QAction* action = menu->addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        return action;
    };
    QAction* open = add(mnuMain_, "mnuOpen", QStringLiteral("Открыть"));
    QMenu* settings = mnuMain_->addMenu(QStringLiteral("Настройки"));
    settings->setObjectName(QStringLiteral("mnuStngs"));
    settings->menuAction()->setObjectName(QStringLiteral("mnuStngs"));
    QAction* keystore = add(settings, "nmuKeystore", QStringLiteral("keystore"));
    const char* const editors[kInputBoxEditorCount][2] = {{"mnuStorepass", "storepass"},
                                                          {"mnuKeypass", "keypass"},
                                                          {"mnuAlias1", "alias1"},
                                                          {"mnuAlias2", "alias2"}};
    for (int i = 0; i < static_cast<int>(kInputBoxEditorCount); ++i) {
        QAction* a = add(settings, editors[i][0], QString::fromLatin1(editors[i][1]));
        connect(a, &QAction::triggered, this, [this, i] { EditWithInputBox(i); });
    }
    QAction* exportCertificate = add(mnuMain_, "mnuExportCer", QStringLiteral("Экспорт сертификата…"));
    QAction* end = add(mnuMain_, "mnuEnd", QStringLiteral("Выход"));

    connect(open, &QAction::triggered, this, [this] { React([this] { OpenCommand(ctx_); }); });
    connect(keystore, &QAction::triggered, this, [this] { ChooseKeystore(); });
    connect(exportCertificate, &QAction::triggered, this, [this] { ExportCertificate(); });
    connect(end, &QAction::triggered, this, [this] { close(); });
}

// The Java signing certificate as DER, for the phone that must hold it as a
// root before it installs a suite signed with the bundled key.
void Form1::ExportCertificate() {
    React([&] {
        const std::string target =
            ShowSaveDialog(this, QStringLiteral("Сохранить сертификат"), QStringLiteral("jarseal.cer"));
        if (target.empty())
            return;
        // The save dialog has asked before replacing a file.
        const std::optional<std::string> failure = ExportJavaCertificate(ctx_.settings, target, true);
        if (failure)
            ctx_.ui.ShowMessage("Не удалось сохранить сертификат.\r\n" + *failure, MessageIcon::Information);
        else
            ctx_.ui.ShowMessage("Сертификат сохранён:\r\n" + target, MessageIcon::None);
    });
}

void Form1::LoadSettingsView() {
    // Top row side by side, both pages right under it.
    command1_->move(btnOpen_->width(), command1_->y());
    command2_->move(command1_->x() + command1_->width(), command2_->y());
    frame_[0]->move(frame_[0]->x(), command1_->height());
    frame_[6]->move(frame_[6]->x(), frame_[0]->y());
    show();
    setFixedSize(TwipsToPixels(kWindowWidthTwips), TwipsToPixels(kWindowHeightTwips));
    SetTopMost(true);
    // Raised and given the keyboard at once, so that the first key press and
    // the tool-tips reach it without a click first.
    raise();
    activateWindow();

    const SettingsView view = ReadSettingsView(ctx_.settings);
    for (int i = 0; i < kTextCount; ++i)
        SetTextQuietly(i, view.texts[static_cast<std::size_t>(i)]);
    SetPathLabel(10, view.signSis);
    SetPathLabel(11, view.certificate);
    SetPathLabel(12, view.key);
    SetPathLabel(5, view.keystore);

    ShowPermissionPage();
}

void Form1::ChooseKeystore() {
    ChoosePathSetting(PathSetting::Keystore);
}

void Form1::SetTopMost(bool on) {
    // Changing the flags of a shown window re-creates it hidden; show it again
    // where it was.
    const bool wasVisible = isVisible();
    const QPoint at = pos();
    setWindowFlag(Qt::WindowStaysOnTopHint, on);
    if (wasVisible) {
        move(at);
        setAttribute(Qt::WA_ShowWithoutActivating, on);
        show();
        setAttribute(Qt::WA_ShowWithoutActivating, false);
    }
}

void Form1::ShowPermissionPage() {
    frame_[6]->hide();
    frame_[0]->show();
}

void Form1::ShowSettingsPage() {
    frame_[6]->show();
    frame_[0]->hide();
    // Hiding the page that held the focus passes it on as a Tab would, and a
    // text box so reached selects its text: one key press would then replace
    // a stored password.
    for (QLineEdit* text : text_)
        text->deselect();
}

void Form1::TextChanged(int index) {
    React([&] {
        StoreSettingsText(ctx_.settings, static_cast<std::size_t>(index),
                          ToBytes(text_[static_cast<std::size_t>(index)]->text()));
    });
}

void Form1::EditWithInputBox(int textIndex) {
    React([&] {
        if (const auto value = EditSettingWithInputBox(ctx_, static_cast<std::size_t>(textIndex)))
            SetTextQuietly(textIndex, *value);
    });
}

void Form1::ChoosePathSetting(PathSetting setting) {
    React([&] { SetPathLabel(PathLabelIndex(setting), ChoosePath(ctx_, setting)); });
}

void Form1::RestoreDefaults() {
    React([&] {
        const JavaDefaults d = RestoreJavaDefaults(ctx_);
        for (int i = 0; i < static_cast<int>(kInputBoxEditorCount); ++i)
            SetTextQuietly(i, d.texts[static_cast<std::size_t>(i)]);
        SetPathLabel(5, d.keystore);
    });
}

void Form1::SetPathLabel(int index, const std::string& value) {
    QLabel* label = label_[static_cast<std::size_t>(index)];
    label->setText(FromBytes(value));
    label->setToolTip(label->text());
    FitLabel(label);
}

// Labels size themselves to their text; an empty one keeps a sliver.
void Form1::FitLabel(QLabel* label) {
    if (!label)
        return;
    const int width = label->text().isEmpty() ? TwipsToPixels(45)
                                              : std::max(label->sizeHint().width(),
                                                         TextWidth(label->fontMetrics(), label->text()));
    label->resize(width, label->height());
}

void Form1::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange)
        for (QLabel* label : label_)
            FitLabel(label);
    QWidget::changeEvent(event);
}

// Boxes that the program fills show the value the file holds already, so
// filling them stores nothing: writing it back could only lose what the file
// holds beyond what reading hands over (blanks at the ends).
void Form1::SetTextQuietly(int index, const std::string& value) {
    QLineEdit* text = text_[static_cast<std::size_t>(index)];
    const QSignalBlocker blocker(text);
    text->setText(FromBytes(value));
}

void Form1::SyncPermissionPage() {
    {
        const QSignalBlocker a(optAut_);
        const QSignalBlocker u(optUser_);
        (preferences_.UserSelected() ? optUser_ : optAut_)->setChecked(true);
    }
    for (std::size_t i = 0; i < box_.size(); ++i) {
        const QSignalBlocker blocker(box_[i]);
        const int state = preferences_.BoxState(i);
        box_[i]->setCheckState(state == kBoxChecked  ? Qt::Checked
                               : state == kBoxGreyed ? Qt::PartiallyChecked
                                                     : Qt::Unchecked);
    }
    for (int panel = kFirstPermissionPanel; panel <= kLastPermissionPanel; ++panel)
        frame_[static_cast<std::size_t>(panel)]->setEnabled(preferences_.PanelEnabled(panel));
}

void Form1::React(const std::function<void()>& reaction) {
    RunReaction(reaction);
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    for (int i = 0; i < kFrameCount; ++i)
        if (watched == frame_[static_cast<std::size_t>(i)])
            return FrameEvent(i, event);
    return QWidget::eventFilter(watched, event);
}

bool Form1::FrameEvent(int index, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* e = static_cast<QMouseEvent*>(event);
        dragStarted_ = false;
        dragByHand_ = false;
        dragOffset_ = e->globalPosition().toPoint() - pos();
        return e->button() == Qt::LeftButton;
    }
    case QEvent::MouseMove: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (e->buttons() != Qt::LeftButton)
            return false;
        if (!dragStarted_) {
            dragStarted_ = true;
            QWindow* handle = windowHandle();
            dragByHand_ = !(handle && handle->startSystemMove());
        }
        if (dragByHand_)
            move(e->globalPosition().toPoint() - dragOffset_);
        return true;
    }
    case QEvent::MouseButtonRelease: {
        auto* e = static_cast<QMouseEvent*>(event);
        dragStarted_ = false;
        dragByHand_ = false;
        if (e->button() == Qt::RightButton) {
            mnuMain_->popup(e->globalPosition().toPoint());
            return true;
        }
        return false;
    }
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* e = static_cast<QDragMoveEvent*>(event);
        if (index == 0 || index == 6 || index == 7) {
            if (e->mimeData()->hasUrls())
                e->acceptProposedAction();
            else
                e->ignore();
            return true;
        }
        // A group panel takes no files; the event is consumed with no action
        // so that it does not travel on to the page below.
        e->setDropAction(Qt::IgnoreAction);
        e->accept();
        return true;
    }
    case QEvent::Drop: {
        auto* e = static_cast<QDropEvent*>(event);
        if (index != 0 && index != 6 && index != 7) {
            e->setDropAction(Qt::IgnoreAction);
            e->accept();
            return true;
        }
        std::vector<std::string> files;
        for (const QUrl& url : e->mimeData()->urls())
            if (url.isLocalFile())
                files.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
        e->acceptProposedAction();
        // The package is processed once the drop itself has finished: the
        // job shows modal boxes, and a nested event loop inside the drop
        // handler leaves the drag source waiting and those boxes unpainted.
        QTimer::singleShot(0, this, [this, files] { React([&] { DropFiles(ctx_, files); }); });
        return true;
    }
    default:
        return false;
    }
}

} // namespace jarseal
