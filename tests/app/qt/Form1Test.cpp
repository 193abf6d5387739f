#include "app/qt/Form1.h"
#include "app/StartUp.h"
#include "app/qt/Pictures.h"
#include "app/qt/QtUi.h"
#include "java/PermissionCatalogue.h"
#include "settings/IniSettings.h"
#include "settings/PathChoosers.h"
#include "settings/SigningEditors.h"
#include "support/FakeSettings.h"
#include "support/ScriptedUi.h"
#include "support/Signature.h"
#include "support/TempDir.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace jarseal;
using namespace jarseal::test;

namespace {

const std::string kRefusal = "Только jar, jad\r\nsis или sisx файлы";

struct Form1Fixture : ::testing::Test {
    ScriptedUi ui;
    MemorySettings settings;
    PermissionPreferences prefs{settings};
    Context ctx{ui, settings, prefs, "/prog", ""};
    Form1 form{ctx, prefs};

    template <class T = QWidget> T* Find(const char* name) {
        T* w = form.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void Click(const char* name) { Find<QAbstractButton>(name)->click(); }
    void Trigger(const char* name) { Find<QAction>(name)->trigger(); }
    std::string Get(const char* section, const char* key) { return settings.Read(section, key); }
    bool Shown(int frame) { return form.Frame(frame)->isVisibleTo(&form); }
    void Release(QWidget* w, Qt::MouseButton button) {
        QMouseEvent e(QEvent::MouseButtonRelease, QPointF(3, 3), w->mapToGlobal(QPointF(3, 3)), button,
                      Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(w, &e);
    }
    void Drop(QWidget* target, const QList<QUrl>& urls) {
        QMimeData data;
        if (!urls.isEmpty())
            data.setUrls(urls);
        else
            data.setText(QStringLiteral("no files"));
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &drop);
        QCoreApplication::processEvents(); // the package is opened once the drop has finished
    }
    ~Form1Fixture() override {
        form.PopupMenu()->hide();
        form.hide();
    }
};

int Px(int twips) {
    return TwipsToPixels(twips);
}

} // namespace

TEST_F(Form1Fixture, LayoutAtStartPlacesTopRowPagesAndWindow) {
    form.LoadSettingsView();
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(form.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(form.size(), QSize(Px(3714), Px(3889)));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    EXPECT_FALSE(form.windowIcon().isNull());

    EXPECT_EQ(Find("btnOpen")->geometry(), QRect(0, 0, Px(1257), Px(427)));
    EXPECT_EQ(Find("Command1")->pos(), QPoint(Px(1257), 0));
    EXPECT_EQ(Find("Command2")->pos(), QPoint(Px(1257) + Px(1258), 0));
    EXPECT_EQ(Find("btnEnd")->geometry(), QRect(Px(3119), Px(3403), Px(658), Px(427)));
    EXPECT_EQ(form.Frame(0)->geometry(), QRect(0, Px(427), Px(3771), Px(3372)));
    EXPECT_EQ(form.Frame(6)->geometry(), form.Frame(0)->geometry());

    // Panels and controls where they belong.
    const char* const panels[] = {"BlueTooth", "FileSystem", "NET", "Messages", "Additional"};
    for (int i = 1; i <= 5; ++i) {
        auto* box = qobject_cast<QGroupBox*>(form.Frame(i));
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->title(), QString::fromLatin1(panels[i - 1]));
        EXPECT_EQ(box->parentWidget(), form.Frame(0));
    }
    EXPECT_EQ(form.Frame(7)->parentWidget(), form.Frame(6));
    EXPECT_EQ(form.Frame(7)->geometry(), QRect(Px(240), Px(480), Px(3615), Px(2295)));
    EXPECT_EQ(form.Frame(3)->geometry(), QRect(Px(120), Px(1560), Px(1455), Px(1695)));
    EXPECT_EQ(Find("btnBydef")->geometry(), QRect(Px(240), Px(2760), Px(1335), Px(375)));
    EXPECT_EQ(Find("chKey")->parentWidget(), form.Frame(7));
    EXPECT_EQ(Find("optUser")->geometry(), QRect(Px(120), Px(480), Px(2175), Px(255)));
    EXPECT_EQ(form.Text(4)->parentWidget(), form.Frame(7));
    EXPECT_EQ(form.Text(0)->geometry(), QRect(Px(1200), Px(480), Px(1095), Px(285)));
    EXPECT_EQ(form.Label(9)->text(), QStringLiteral("passphrase"));
    EXPECT_EQ(form.Label(9)->parentWidget(), form.Frame(7));
    EXPECT_EQ(Find<QRadioButton>("optAut")->text(), QStringLiteral("Создавать автоматически"));

    for (const PermissionGroup& g : PermissionSet) {
        auto* box = Find<QCheckBox>(std::string(g.checkBox).c_str());
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->text().toStdString(), g.caption);
        EXPECT_EQ(box->toolTip().toStdString(), g.toolTip);
        EXPECT_EQ(box->parentWidget(), form.Frame(g.panelIndex)) << g.checkBox;
    }
}

TEST_F(Form1Fixture, PagesAndSymbianPanelSwitch) {
    form.LoadSettingsView();
    EXPECT_TRUE(Shown(0));
    EXPECT_FALSE(Shown(6));
    EXPECT_FALSE(Shown(7));

    Click("Command2");
    EXPECT_FALSE(Shown(0));
    EXPECT_TRUE(Shown(6));
    EXPECT_FALSE(Shown(7));
    EXPECT_TRUE(form.Text(0)->isVisibleTo(&form));

    Click("btnSymOpt");
    EXPECT_TRUE(Shown(7));
    Click("Command1");
    Click("Command1");
    EXPECT_TRUE(Shown(0));
    EXPECT_FALSE(Shown(6));
    Click("Command2");
    EXPECT_TRUE(Shown(7)); // the Symbian panel is kept across pages
    Click("btnJavOpt");
    EXPECT_FALSE(Shown(7));
    EXPECT_TRUE(Shown(6));
    EXPECT_TRUE(settings.values.empty()); // switching stores nothing
}

TEST_F(Form1Fixture, EditorsWriteAtOnceAndRefreshTheirControls) {
    settings.values = {{{"Java", "storepass"}, "sp"},
                       {{"Java", "alias2"}, "a2"},
                       {{"Symbian", "passphrase"}, "pp"},
                       {{"Java", "keystore"}, "/store/key"},
                       {{"Symbian", "SignSIS"}, "/bin/signsis.exe"},
                       {{"Symbian", "key"}, "/k.key"}};
    const auto before = settings.values;
    form.LoadSettingsView();
    EXPECT_EQ(settings.values, before); // filling the view stores nothing
    EXPECT_EQ(form.Text(0)->text(), QStringLiteral("sp"));
    EXPECT_EQ(form.Text(3)->text(), QStringLiteral("a2"));
    EXPECT_EQ(form.Text(4)->text(), QStringLiteral("pp"));
    EXPECT_EQ(form.Label(5)->text(), QStringLiteral("/store/key"));
    EXPECT_EQ(form.Label(5)->toolTip(), QStringLiteral("/store/key"));
    EXPECT_EQ(form.Label(10)->text(), QStringLiteral("/bin/signsis.exe"));
    EXPECT_EQ(form.Label(11)->text(), QString());
    EXPECT_EQ(form.Label(12)->toolTip(), QStringLiteral("/k.key"));
    EXPECT_GT(form.Label(10)->width(), Px(45)); // the label grew to its text

    // Typing stores every change of the box.
    const char* const keys[][2] = {{"Java", "storepass"},
                                   {"Java", "keypass"},
                                   {"Java", "alias1"},
                                   {"Java", "alias2"},
                                   {"Symbian", "passphrase"}};
    for (int i = 0; i < Form1::kTextCount; ++i) {
        form.Text(i)->clear();
        QTest::keyClicks(form.Text(i), QStringLiteral("t%1").arg(i));
        EXPECT_EQ(Get(keys[i][0], keys[i][1]), "t" + std::to_string(i));
    }

    // The input-box editors of the menu.
    const char* const entries[] = {"mnuStorepass", "mnuKeypass", "mnuAlias1", "mnuAlias2"};
    for (int i = 0; i < 4; ++i) {
        ui.inputs = {"new" + std::to_string(i)};
        Trigger(entries[i]);
        EXPECT_EQ(ui.shown.back().text, std::string("Введите новое значение для ") + keys[i][1]);
        EXPECT_EQ(ui.shown.back().defaultText, "t" + std::to_string(i));
        EXPECT_EQ(Get("Java", keys[i][1]), "new" + std::to_string(i));
        EXPECT_EQ(form.Text(i)->text().toStdString(), "new" + std::to_string(i));
    }
    ui.inputs = {""};
    Trigger("mnuAlias1");
    EXPECT_EQ(Get("Java", "alias1"), "new2");
    EXPECT_EQ(form.Text(2)->text(), QStringLiteral("new2"));

    // The path choosers: a choice is stored and shown, a cancel refreshes only.
    const std::pair<const char*, PathSetting> choosers[] = {{"nmuKeystore", PathSetting::Keystore},
                                                            {"btnCommand", PathSetting::Keystore},
                                                            {"chSignSIS", PathSetting::SignSis},
                                                            {"chCer", PathSetting::Certificate},
                                                            {"chKey", PathSetting::Key}};
    for (const auto& [name, setting] : choosers) {
        const PathChooser& c = PathChooserFor(setting);
        const std::string chosen = std::string("/chosen/") + name;
        ui.openPaths = {chosen};
        if (form.findChild<QAction*>(QString::fromLatin1(name)))
            Trigger(name);
        else
            Click(name);
        EXPECT_EQ(ui.shown.back().title, c.title);
        EXPECT_EQ(Get(c.section, c.key), chosen);
        QLabel* label = form.Label(PathLabelIndex(setting));
        EXPECT_EQ(label->text().toStdString(), chosen);
        EXPECT_EQ(label->toolTip().toStdString(), chosen);

        settings.values[{c.section, c.key}] = "/from/outside";
        Click(name == std::string("nmuKeystore") ? "btnCommand" : name); // cancelled
        EXPECT_EQ(Get(c.section, c.key), "/from/outside");
        EXPECT_EQ(label->text(), QStringLiteral("/from/outside"));
    }

    Click("btnBydef");
    EXPECT_EQ(form.Text(0)->text(), QStringLiteral("52039871"));
    EXPECT_EQ(form.Text(1)->text(), QStringLiteral("52039871"));
    EXPECT_EQ(form.Text(2)->text(), QStringLiteral("jsk"));
    EXPECT_EQ(form.Text(3)->text(), QStringLiteral("jsk"));
    EXPECT_EQ(form.Text(4)->text(), QStringLiteral("t4"));
    EXPECT_EQ(form.Label(5)->text().toStdString(), PortablePlaces("/prog").defaultKeystore);
    EXPECT_EQ(Get("Java", "keystore"), PortablePlaces("/prog").defaultKeystore);
}

TEST_F(Form1Fixture, CheckBoxesStoreTheirKeysAndPanelsFollowTheMode) {
    form.LoadSettingsView();
    Click("optUser");
    EXPECT_EQ(Get("Permissions", "byuser"), "True");
    for (int panel = 1; panel <= 5; ++panel)
        EXPECT_TRUE(form.Frame(panel)->isEnabled());

    for (const PermissionGroup& g : PermissionSet) {
        const std::string key(g.keyWritten);
        auto* box = Find<QCheckBox>(std::string(g.checkBox).c_str());
        box->click();
        EXPECT_EQ(Get("Permissions", key.c_str()), "1") << key;
        EXPECT_EQ(box->checkState(), Qt::Checked);
        box->click();
        EXPECT_EQ(Get("Permissions", key.c_str()), "0") << key;
        EXPECT_EQ(box->checkState(), Qt::Unchecked);
    }
    Find<QCheckBox>("chkHttp")->click();

    Click("optAut");
    EXPECT_EQ(Get("Permissions", "byuser"), "False");
    EXPECT_TRUE(Find<QRadioButton>("optAut")->isChecked());
    for (int panel = 1; panel <= 5; ++panel)
        EXPECT_FALSE(form.Frame(panel)->isEnabled()) << panel;
    EXPECT_EQ(Find<QCheckBox>("chkHttp")->checkState(), Qt::Checked); // ticks are kept

    // A greyed state from the file shows greyed; a click makes it checked.
    settings.values[{"Permissions", "byuser"}] = "1";
    for (const PermissionGroup& g : PermissionSet)
        settings.values[{"Permissions", std::string(g.keyRead)}] = "0";
    settings.values[{"Permissions", "camera"}] = "2";
    prefs.LoadPermissionSettings();
    EXPECT_TRUE(Find<QRadioButton>("optUser")->isChecked());
    EXPECT_TRUE(form.Frame(5)->isEnabled());
    EXPECT_EQ(Find<QCheckBox>("chkCam")->checkState(), Qt::PartiallyChecked);
    Click("chkCam");
    EXPECT_EQ(Get("Permissions", "camera"), "1");
}

TEST_F(Form1Fixture, DropOpensOnlyTheFirstFileAndOnlyOnThePages) {
    form.LoadSettingsView();
    const QList<QUrl> three = {QUrl::fromLocalFile(QStringLiteral("/nowhere/first.txt")),
                               QUrl::fromLocalFile(QStringLiteral("/nowhere/second.jar")),
                               QUrl::fromLocalFile(QStringLiteral("/nowhere/third.sis"))};
    Drop(form.Frame(0), three);
    EXPECT_EQ(ui.Messages(), std::vector<std::string>{kRefusal});

    Drop(form.Frame(6), {});
    EXPECT_EQ(ui.Messages().size(), 1u);
    Drop(form.Frame(7), three);
    EXPECT_EQ(ui.Messages().size(), 2u);
    // A group panel refuses the drop rather than passing it to its page.
    Drop(form.Frame(3), three);
    EXPECT_EQ(ui.Messages().size(), 2u);

    // A text box takes neither a file nor text: nothing is typed into it and
    // no setting changes.
    settings.values = {{{"Java", "storepass"}, "sp"}, {{"Symbian", "passphrase"}, "pp"}};
    form.LoadSettingsView();
    Click("Command2");
    const auto before = settings.values;
    for (int i = 0; i < Form1::kTextCount; ++i) {
        Drop(form.Text(i), three);
        Drop(form.Text(i), {});
    }
    EXPECT_EQ(settings.values, before);
    EXPECT_EQ(form.Text(0)->text(), QStringLiteral("sp"));
    // The files went on to the page below, whose intake refused them.
    EXPECT_EQ(ui.Messages(), std::vector<std::string>(2 + Form1::kTextCount, kRefusal));
}

// Leaving the permission page with the focus on it must not hand a text box
// its text selected: a key press would replace a stored password.
TEST_F(Form1Fixture, OpeningTheSettingsPageSelectsNoText) {
    settings.values = {{{"Java", "storepass"}, "52039871"}, {{"Java", "keypass"}, "52039871"}};
    form.LoadSettingsView();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&form));
    Find("optAut")->setFocus();
    Click("Command2");
    for (int i = 0; i < Form1::kTextCount; ++i)
        EXPECT_FALSE(form.Text(i)->hasSelectedText()) << i;
    QApplication::processEvents();
    QDir().mkpath(QStringLiteral(JARSEAL_BUILD_DIR "/renders"));
    form.grab().save(QStringLiteral(JARSEAL_BUILD_DIR "/renders/settings-opened.png"));
}

TEST_F(Form1Fixture, RightButtonReleaseOnAPanelShowsThePopupMenu) {
    form.LoadSettingsView();
    QMenu* menu = form.PopupMenu();
    QStringList captions;
    for (QAction* a : menu->actions())
        captions << a->text();
    EXPECT_EQ(captions, (QStringList{"Открыть", "Настройки", "Экспорт сертификата…", "Выход"}));

    Release(Find("Command1"), Qt::RightButton);
    EXPECT_FALSE(menu->isVisible());
    Release(form.Label(2), Qt::RightButton);
    EXPECT_FALSE(menu->isVisible());
    Release(form.Frame(0), Qt::MiddleButton);
    Release(form.Frame(0), Qt::LeftButton);
    EXPECT_FALSE(menu->isVisible());

    for (int frame : {3, 0}) {
        Release(form.Frame(frame), Qt::RightButton);
        EXPECT_TRUE(menu->isVisible()) << frame;
        menu->hide();
    }
}

TEST_F(Form1Fixture, LeftDragOnAPanelMovesTheWindowButNotOnAControl) {
    form.LoadSettingsView();
    form.move(100, 100);
    auto drag = [&](QWidget* w) {
        const QPointF local(4, 4);
        const QPointF global = w->mapToGlobal(local);
        QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(w, &press);
        QMouseEvent move(QEvent::MouseMove, local + QPointF(30, 20), global + QPointF(30, 20), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w, &move);
        QMouseEvent release(QEvent::MouseButtonRelease, local + QPointF(30, 20), global + QPointF(30, 20),
                            Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(w, &release);
    };
    drag(form.Label(2));
    drag(Find("btnOpen"));
    EXPECT_EQ(form.pos(), QPoint(100, 100));
    drag(form.Frame(3));
    // Offscreen the platform cannot move windows, so the window follows the
    // mouse by itself.
    EXPECT_EQ(form.pos(), QPoint(130, 120));
}

TEST_F(Form1Fixture, ExitButtonAndMenuEntryCloseTheWindow) {
    form.LoadSettingsView();
    Click("btnEnd");
    EXPECT_FALSE(form.isVisible());
    form.LoadSettingsView();
    Trigger("mnuEnd");
    EXPECT_FALSE(form.isVisible());
}

// The picture buttons never hold the keyboard, so a Space or Enter after a
// click cannot run their command again; the other controls keep it.
TEST_F(Form1Fixture, PictureButtonsTakeNoFocusOtherControlsDo) {
    form.LoadSettingsView();
    int pictures = 0;
    for (QWidget* w : form.findChildren<QWidget*>()) {
        const std::string name = w->objectName().toStdString();
        if (dynamic_cast<PictureButton*>(w)) {
            ++pictures;
            EXPECT_EQ(w->focusPolicy(), Qt::NoFocus) << name;
        } else if (qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w)) {
            EXPECT_EQ(w->focusPolicy(), Qt::StrongFocus) << name;
        }
    }
    EXPECT_EQ(pictures, 4);
}

// The Open command's own Qt dialog, read while it is shown and then cancelled.
TEST(Form1OpenDialog, TypeListShowsTheThreeDescriptionsAndThePatternsFilter) {
    QtUi qtUi;
    MemorySettings settings;
    PermissionPreferences prefs{settings};
    Context ctx{qtUi, settings, prefs, "/prog", ""};
    Form1 form{ctx, prefs};
    qtUi.SetParent(&form);
    form.LoadSettingsView();

    QString title;
    QStringList types;
    QStringList filters;
    int current = -1;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QFileDialog*>(w);
            if (!dialog || !dialog->isVisible())
                continue;
            title = dialog->windowTitle();
            filters = dialog->nameFilters();
            if (auto* combo = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"))) {
                for (int i = 0; i < combo->count(); ++i)
                    types << combo->itemText(i);
                current = combo->currentIndex();
            }
            dialog->reject();
        }
    });
    poll.start(10);
    form.findChild<QAbstractButton*>(QStringLiteral("btnOpen"))->click(); // returns once rejected
    poll.stop();

    EXPECT_EQ(title.toStdString(), "Выберите java приложение");
    // Lists joined by " | " read plainly in a failure.
    EXPECT_EQ(types.join(QStringLiteral(" | ")).toStdString(),
              "Java приложения (*.jad; *.jar) | Symbian приложения (*.sis; *.sisx) | Все файлы");
    EXPECT_EQ(current, 0);
    // Behind the names the patterns still filter; "*.*" takes names without a dot too.
    EXPECT_EQ(filters.join(QStringLiteral(" | ")).toStdString(),
              "Java приложения (*.jad; *.jar) (*.jad *.jar) | "
              "Symbian приложения (*.sis; *.sisx) (*.sis *.sisx) | Все файлы (*)");
    form.hide();
}

TEST(Form1StartUp, NoSettingsFileShowsThePermissionPageInAutomaticMode) {
    TempDir root;
    const std::string program = root / "prog";
    MakeDir(program + "/data/temp");
    ScriptedUi ui;
    IniSettings settings(SettingsFilePath(program));
    PermissionPreferences prefs(settings);
    Context ctx{ui, settings, prefs, program, ""};
    Form1 form(ctx, prefs);
    StartUpHooks hooks;
    hooks.chooseKeystore = [&] { form.ChooseKeystore(); };
    hooks.loadSettingsView = [&] { form.LoadSettingsView(); };
    StartUp(ctx, prefs, hooks);

    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(form.Frame(0)->isVisible());
    EXPECT_FALSE(form.Frame(6)->isVisible());
    EXPECT_TRUE(form.findChild<QRadioButton*>(QStringLiteral("optAut"))->isChecked());
    EXPECT_TRUE(ui.shown.empty());
    EXPECT_EQ(ReadFile(program + "/Jarseal.ini"), "[Jarseal]\r\nFirstRun=0\r\nAppPath=" + program +
                                                      "\r\n[Java]\r\nkeystore=" + program + "/data/key\r\n");
    EXPECT_EQ(form.Label(5)->text().toStdString(), program + "/data/key");
    form.hide();
}

TEST(Form1StartUp, MovedFolderChooserRefreshesTheKeystoreLabel) {
    TempDir root;
    const std::string program = root / "prog";
    MakeDir(program);
    ScriptedUi ui;
    IniSettings settings(SettingsFilePath(program));
    settings.Write("Jarseal", "FirstRun", "0");
    settings.Write("Jarseal", "AppPath", "/old");
    PermissionPreferences prefs(settings);
    Context ctx{ui, settings, prefs, program, ""};
    Form1 form(ctx, prefs);
    ui.answers = {Answer::No, Answer::Yes};
    ui.openPaths = {"/my/keys"};
    StartUp(ctx, prefs, {[&] { form.ChooseKeystore(); }, [&] { form.LoadSettingsView(); }});
    EXPECT_EQ(settings.Read("Java", "keystore"), "/my/keys");
    EXPECT_EQ(form.Label(5)->text(), QStringLiteral("/my/keys"));
    form.hide();
}

namespace {

// A message box of the window as it was shown: read, photographed with its
// details open when it has any, then closed with its OK button.
struct SeenBox {
    QString text;
    QString details;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

std::vector<SeenBox> WatchBoxes(const std::function<void()>& act, const QString& photo = {}) {
    std::vector<SeenBox> seen;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box || !box->isVisible())
                continue;
            seen.push_back({box->text(), box->detailedText(), box->icon()});
            for (QAbstractButton* b : box->buttons())
                if (box->buttonRole(b) == QMessageBox::ActionRole && !photo.isEmpty())
                    b->click(); // the details button
            QApplication::processEvents();
            if (!photo.isEmpty() && !box->detailedText().isEmpty())
                box->grab().save(photo);
            for (QAbstractButton* b : box->buttons())
                if (box->buttonRole(b) == QMessageBox::AcceptRole)
                    b->click();
        }
    });
    poll.start(20);
    act();
    poll.stop();
    return seen;
}

// The window with its own Qt boxes over a program folder whose JAD tool
// and key store are the build's.
struct WindowRunFixture : ::testing::Test {
    TempDir root;
    std::string program = root / "prog";
    QtUi qtUi;
    MemorySettings settings;
    PermissionPreferences prefs{settings};
    Context ctx{qtUi, settings, prefs, program, ""};
    Form1 form{ctx, prefs};

    void SetUp() override {
        if (std::system("java -version >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "java is not on the search path";
        MakeDir(program + "/data/temp");
        ASSERT_EQ(::symlink(JARSEAL_BUILD_DIR "/data/jadtool.jar", (program + "/data/jadtool.jar").c_str()),
                  0);
        settings.Write("Java", "keystore", JARSEAL_BUILD_DIR "/data/key");
        for (const char* key : {"storepass", "keypass"})
            settings.Write("Java", key, "52039871");
        for (const char* key : {"alias1", "alias2"})
            settings.Write("Java", key, "jsk");
        qtUi.SetParent(&form);
        form.LoadSettingsView();
    }
    ~WindowRunFixture() override { form.hide(); }

    std::vector<SeenBox> DropOnPage(const std::string& path, const QString& photo = {}) {
        return WatchBoxes(
            [&] {
                QMimeData data;
                data.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
                QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
                QApplication::sendEvent(form.Frame(0), &enter);
                QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
                QApplication::sendEvent(form.Frame(0), &drop);
                QCoreApplication::processEvents();
            },
            photo);
    }
};

} // namespace

// The success box says what it always said; the notes of its run, which the
// console prints, are its details, and a run without notes has none.
TEST_F(WindowRunFixture, SuccessBoxCarriesTheNotesOfItsRunAsDetails) {
    const std::string jar = root / "sample.jar";
    WriteFile(jar, ReadFile(JARSEAL_BUILD_DIR "/sample/sample.jar"));
    std::vector<SeenBox> seen =
        DropOnPage(jar, QStringLiteral(JARSEAL_BUILD_DIR "/renders/success-details.png"));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, QStringLiteral("Готово!"));
    EXPECT_EQ(seen[0].icon, QMessageBox::NoIcon);
    EXPECT_TRUE(seen[0].details.contains(QStringLiteral("signer's own certificate as a root")))
        << seen[0].details.toStdString();
    EXPECT_TRUE(seen[0].details.contains(QStringLiteral("SHA-1"))) << seen[0].details.toStdString();

    // An earlier descriptor with an attribute of its own.
    WriteFile(root / "sample.jad", "MIDlet-Install-Notify: http://example.org/n\r\n");
    seen = DropOnPage(jar);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, QStringLiteral("Готово!"));
    EXPECT_TRUE(seen[0].details.contains(QStringLiteral("не перенесены")));
    EXPECT_TRUE(seen[0].details.contains(QStringLiteral("MIDlet-Install-Notify")));

    // A run without notes, the signing of the sample Symbian package, has
    // no details.
    settings.Write("Symbian", "SignSIS", JARSEAL_BUILD_DIR "/data/signsis");
    settings.Write("Symbian", "certificate", JARSEAL_BUILD_DIR "/data/symbian.cer");
    settings.Write("Symbian", "key", JARSEAL_BUILD_DIR "/data/symbian.key");
    settings.Write("Symbian", "passphrase", "52039871");
    const std::string sis = root / "sample.sis";
    WriteFile(sis, ReadFile(JARSEAL_BUILD_DIR "/sample/sample.sis"));
    seen = DropOnPage(sis);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, QStringLiteral("Готово"));
    EXPECT_TRUE(seen[0].details.isEmpty()) << seen[0].details.toStdString();
}

// The pop-up menu's export writes the very certificate the Java job signs
// with; a wrong store password is told in Russian and leaves no file.
TEST_F(WindowRunFixture, PopupExportWritesTheSigningCertificate) {
    auto exportTo = [&](const std::string& target) {
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* dialog = qobject_cast<QFileDialog*>(w); dialog && dialog->isVisible()) {
                    const QFileInfo file(QString::fromStdString(target));
                    dialog->setDirectory(file.absolutePath());
                    dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(file.fileName());
                    QMetaObject::invokeMethod(dialog, "accept");
                }
        });
        poll.start(20);
        std::vector<SeenBox> seen =
            WatchBoxes([&] { form.findChild<QAction*>(QStringLiteral("mnuExportCer"))->trigger(); });
        poll.stop();
        return seen;
    };
    const std::string cer = root / "root.cer";
    std::vector<SeenBox> seen = exportTo(cer);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text.toStdString(), "Сертификат сохранён:\n" + cer);

    const std::string jar = root / "sample.jar";
    WriteFile(jar, ReadFile(JARSEAL_BUILD_DIR "/sample/sample.jar"));
    ASSERT_EQ(DropOnPage(jar).size(), 1u);
    const auto jad = DescriptorAttributes(ReadFile(root / "sample.jad"));
    ASSERT_TRUE(jad.count("MIDlet-Certificate-1-1"));
    EXPECT_EQ(Base64Decode(jad.at("MIDlet-Certificate-1-1")), ReadFile(cer));

    settings.Write("Java", "storepass", "wrong");
    seen = exportTo(root / "no.cer");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(seen[0].text.startsWith(QStringLiteral("Не удалось сохранить сертификат.")))
        << seen[0].text.toStdString();
    EXPECT_TRUE(seen[0].text.contains(QStringLiteral("wrong password")));
    EXPECT_EQ(seen[0].icon, QMessageBox::Information);
    EXPECT_FALSE(Exists(root / "no.cer"));
}
