// The tray icon in a Wayland session: a StatusNotifierItem that a real tray host (the
// waybar panel of the test desktop) shows, with the tray menu exported over D-Bus, and
// a main window that never hides where no tray could bring it back.
#include "app/Startup.h"
#include "platform/PortalScreenCast.h"
#include "recording/RecordingPage.h"
#include "recording/UnitToolBar.h"
#include "recording/x11/RecordingMedia.h"
#include "state/Icons.h"
#include "state/ProgramState.h"
#include "support/Sandbox.h"
#include "support/ScriptedPrompts.h"

#include <QAction>
#include <QCheckBox>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <gtest/gtest.h>

namespace {

const QString WatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString ItemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString MenuInterface = QStringLiteral("com.canonical.dbusmenu");

// One entry of an exported menu (the layout GetLayout returns).
struct TMenuNode {
    int Id = 0;
    QVariantMap Properties;
    QList<TMenuNode> Children;

    QString Label() const { return Properties.value(QStringLiteral("label")).toString(); }
    bool Visible() const { return Properties.value(QStringLiteral("visible"), true).toBool(); }
    bool Enabled() const { return Properties.value(QStringLiteral("enabled"), true).toBool(); }
    const TMenuNode* Find(const QString& label) const {
        for (const TMenuNode& child : Children)
            if (child.Label() == label)
                return &child;
        return nullptr;
    }
};

TMenuNode ReadMenuNode(const QDBusArgument& arg) {
    TMenuNode node;
    arg.beginStructure();
    arg >> node.Id >> node.Properties;
    arg.beginArray();
    while (!arg.atEnd()) {
        QDBusVariant child;
        arg >> child;
        node.Children << ReadMenuNode(child.variant().value<QDBusArgument>());
    }
    arg.endArray();
    arg.endStructure();
    return node;
}

// Icon pictures as a StatusNotifierItem sends them: (width, height, ARGB bytes, alpha
// first, in network order) each.
QList<QImage> ReadIconPictures(const QDBusArgument& arg) {
    QList<QImage> pictures;
    arg.beginArray();
    while (!arg.atEnd()) {
        int w = 0, h = 0;
        QByteArray bytes;
        arg.beginStructure();
        arg >> w >> h >> bytes;
        arg.endStructure();
        if (w <= 0 || h <= 0 || bytes.size() != qsizetype(w) * h * 4)
            continue;
        QImage picture(w, h, QImage::Format_ARGB32);
        const auto* p = reinterpret_cast<const uchar*>(bytes.constData());
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x, p += 4)
                picture.setPixel(x, y, qRgba(p[1], p[2], p[3], p[0]));
        pictures << picture;
    }
    arg.endArray();
    return pictures;
}

// Pixels whose channels differ by more than a little.
int DifferingPixels(const QImage& a, const QImage& b) {
    if (a.size() != b.size())
        return a.width() * a.height();
    int differing = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            differing += std::abs(qRed(p) - qRed(q)) > 8 || std::abs(qGreen(p) - qGreen(q)) > 8 ||
                         std::abs(qBlue(p) - qBlue(q)) > 8 || std::abs(qAlpha(p) - qAlpha(q)) > 8;
        }
    return differing;
}

// Calls a D-Bus method without blocking this thread: the program answers its tray calls
// on this very thread.
QDBusMessage Call(const QString& service, const QString& path, const QString& interface,
                  const QString& method, const QVariantList& args = {}) {
    QDBusMessage m = QDBusMessage::createMethodCall(service, path, interface, method);
    m.setArguments(args);
    QDBusPendingCallWatcher call(QDBusConnection::sessionBus().asyncCall(m, 10000));
    PumpUntil([&call] { return call.isFinished(); }, 11000);
    return call.reply();
}

QVariant Property(const QString& service, const QString& path, const QString& interface,
                  const QString& name) {
    const QDBusMessage reply =
        Call(service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
             QStringLiteral("Get"), {interface, name});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().first().value<QDBusVariant>().variant();
}

class WaylandTray : public ::testing::Test {
protected:
    TSandbox Box;
    TScriptedPrompts Prompts;
    std::unique_ptr<TApplicationWindows> Windows;

    void SetUp() override {
        ASSERT_TRUE(TPortalScreenCast::IsWaylandSession())
            << "not a Wayland session: run these tests inside tests/wayland/run-session";
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("wayland"));
    }
    void TearDown() override {
        Windows.reset();
        TrayHost(QStringLiteral("stop"));
    }
    // Runs the test desktop's tray-host command (start, stop).
    static bool TrayHost(const QString& command) {
        return QProcess::execute(qEnvironmentVariable("VX_WAYLAND_DIR") +
                                     QStringLiteral("/tray-host"),
                                 {command}) == 0;
    }
    void Start(const QByteArray& general = {}) {
        QDir().mkpath(Box.ConfigHome() + QStringLiteral("/Vexmira"));
        QFile f(Box.ConfigHome() + QStringLiteral("/Vexmira/Vexmira20.ini"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[General]\nShowIntroduction=1\n" + general);
        f.close();
        ProgramState().Arguments.clear();
        Windows = std::make_unique<TApplicationWindows>();
        Main()->show();
        ASSERT_TRUE(PumpUntil([this] { return Main()->OptionsApplied(); }, 5000));
    }
    TFmMain* Main() const { return Windows->FmMain.get(); }
    TRecordingPage* Page() const { return Main()->RecordingPage(); }
    QAction* Action(const char* name) const {
        return Main()->findChild<QAction*>(QString::fromLatin1(name));
    }

    // The program's item (bus name and path) and its menu's path, once a tray host shows it.
    QString Service, Item, Menu;

    // Starts the tray host, then the program, and finds its item with the host.
    void StartWithTray() {
        ASSERT_TRUE(TrayHost(QStringLiteral("start")));
        Start();
        ASSERT_TRUE(RegisteredItem(&Service, &Item));
        Menu = Property(Service, Item, ItemInterface, QStringLiteral("Menu"))
                   .value<QDBusObjectPath>()
                   .path();
        ASSERT_FALSE(Menu.isEmpty());
    }

    // The program's item as the tray host's watcher lists it: its bus name and path.
    bool RegisteredItem(QString* service, QString* path) {
        QStringList items;
        PumpUntil(
            [&] {
                items = Property(WatcherService, QStringLiteral("/StatusNotifierWatcher"),
                                 WatcherService, QStringLiteral("RegisteredStatusNotifierItems"))
                            .toStringList();
                return !items.isEmpty();
            },
            5000);
        if (items.size() != 1)
            return false;
        const qsizetype slash = items.first().indexOf(u'/');
        *service = items.first().left(slash);
        *path = slash < 0 ? QStringLiteral("/StatusNotifierItem") : items.first().mid(slash);
        return true;
    }
    // The menu as a tray host shows it: told that it is about to show, then its layout.
    TMenuNode ShownMenu() {
        Call(Service, Menu, MenuInterface, QStringLiteral("AboutToShow"), {0});
        const QDBusMessage reply =
            Call(Service, Menu, MenuInterface, QStringLiteral("GetLayout"), {0, -1, QStringList()});
        if (reply.arguments().size() < 2)
            return {};
        return ReadMenuNode(reply.arguments().at(1).value<QDBusArgument>());
    }
    // Clicks an entry of the exported menu, as the tray host does.
    void Click(const TMenuNode* entry) {
        ASSERT_NE(entry, nullptr);
        const QDBusMessage reply = Call(
            Service, Menu, MenuInterface, QStringLiteral("Event"),
            {entry->Id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), uint(0)});
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        PumpEvents(100);
    }
};

} // namespace

TEST_F(WaylandTray, TheIconIsAStatusNotifierItemWithTheTrayMenu) {
    StartWithTray();
    EXPECT_TRUE(QSystemTrayIcon::isSystemTrayAvailable());
    EXPECT_EQ(Property(Service, Item, ItemInterface, QStringLiteral("Title")).toString(),
              QStringLiteral("Vexmira"));
    EXPECT_EQ(Property(Service, Item, ItemInterface, QStringLiteral("Status")).toString(),
              QStringLiteral("Active"));
    // The hint: (icon name, icon pictures, title, text).
    const QDBusArgument tip =
        Property(Service, Item, ItemInterface, QStringLiteral("ToolTip")).value<QDBusArgument>();
    QString tipIcon, tipTitle;
    tip.beginStructure();
    tip >> tipIcon;
    ReadIconPictures(tip);
    tip >> tipTitle;
    EXPECT_EQ(tipTitle, QStringLiteral("Vexmira"));
    // The program's icon, as pictures the host draws.
    const QList<QImage> pictures =
        ReadIconPictures(Property(Service, Item, ItemInterface, QStringLiteral("IconPixmap"))
                             .value<QDBusArgument>());
    ASSERT_FALSE(pictures.isEmpty());
    for (const QImage& picture : pictures) {
        const QImage expected =
            AppIcon().pixmap(picture.size()).toImage().convertToFormat(QImage::Format_ARGB32);
        EXPECT_LT(DifferingPixels(picture, expected), picture.width() * picture.height() / 20)
            << picture.width();
    }

    const TMenuNode root = ShownMenu();
    QStringList shown;
    for (const TMenuNode& entry : root.Children)
        if (entry.Visible() && !entry.Label().isEmpty())
            shown << entry.Label();
    EXPECT_EQ(shown, (QStringList{QStringLiteral("开始录像"), QStringLiteral("暂停录像"),
                                  QStringLiteral("继续录像"), QStringLiteral("停止录像"),
                                  QStringLiteral("显示主窗口"), QStringLiteral("退出程序")}));
    // Before the first recording only the start entry can be chosen.
    EXPECT_TRUE(root.Find(QStringLiteral("开始录像"))->Enabled());
    for (const char* label : {"暂停录像", "继续录像", "停止录像"})
        EXPECT_FALSE(root.Find(QString::fromUtf8(label))->Enabled()) << label;
    // The hidden screenshot entry stays hidden.
    ASSERT_NE(root.Find(QStringLiteral("屏幕拍照")), nullptr);
    EXPECT_FALSE(root.Find(QStringLiteral("屏幕拍照"))->Visible());
}

// Hidden to the tray, the window comes back through the exported menu; its exit entry
// ends the program as on X11.
TEST_F(WaylandTray, TheMenuShowsTheWindowAndEndsTheProgram) {
    StartWithTray();
    Action("MnMinToTray")->trigger();
    PumpEvents(100);
    EXPECT_FALSE(Main()->isVisible());
    Click(ShownMenu().Find(QStringLiteral("显示主窗口")));
    EXPECT_TRUE(Main()->isVisible());

    QSignalSpy ending(Main(), &TFmMain::TerminateRequested);
    Click(ShownMenu().Find(QStringLiteral("退出程序")));
    EXPECT_EQ(ending.count(), 1);
}

// The record entries of the exported menu start, pause, resume and stop a recording, and
// follow its state.
TEST_F(WaylandTray, TheRecordEntriesStartPauseResumeAndStopARecording) {
    StartWithTray();
    Page()->CheckBoxWave()->setChecked(false);
    Page()->CheckBoxToolBar()->setChecked(false);
    const QString file = Box.File(QStringLiteral("tray.mp4"));
    Prompts.FileAnswers.push_back(TScriptedPrompts::Choose({file}));

    Click(ShownMenu().Find(QStringLiteral("开始录像")));
    ASSERT_TRUE(Prompts.Messages.empty()) << Prompts.Messages.front().Text.toStdString();
    ASSERT_TRUE(Page()->BtnStop()->isEnabled());
    // Recording with the toolbar off: the window waits in the tray.
    EXPECT_FALSE(Main()->isVisible());
    PumpEvents(2000);
    const TMenuNode during = ShownMenu();
    EXPECT_FALSE(during.Find(QStringLiteral("开始录像"))->Enabled());
    EXPECT_TRUE(during.Find(QStringLiteral("暂停录像"))->Enabled());
    EXPECT_TRUE(during.Find(QStringLiteral("停止录像"))->Enabled());

    // Pause and resume through the menu, which follows each state.
    Click(during.Find(QStringLiteral("暂停录像")));
    ASSERT_TRUE(Page()->BtnResume()->isEnabled());
    const TMenuNode paused = ShownMenu();
    EXPECT_FALSE(paused.Find(QStringLiteral("暂停录像"))->Enabled());
    EXPECT_TRUE(paused.Find(QStringLiteral("继续录像"))->Enabled());
    PumpEvents(1000);
    Click(paused.Find(QStringLiteral("继续录像")));
    ASSERT_TRUE(Page()->BtnPause()->isEnabled());
    PumpEvents(1000);

    Click(ShownMenu().Find(QStringLiteral("停止录像")));
    ASSERT_TRUE(PumpUntil([this] { return Page()->BtnStart()->isEnabled(); }, 10000));
    EXPECT_TRUE(Main()->isVisible());
    EXPECT_TRUE(ShownMenu().Find(QStringLiteral("开始录像"))->Enabled());
    EXPECT_TRUE(DecodingErrors(file).isEmpty());
    // Two seconds, then one more after the pause: the paused second is not in the file.
    const double seconds = Probe(file, "format=duration").toDouble();
    EXPECT_GT(seconds, 2.5);
    EXPECT_LT(seconds, 3.9);
}

// No tray on the desktop: hiding to the tray, the close box with its hide option and a
// recording without its toolbar leave the window where the user can get it back.
TEST_F(WaylandTray, WithoutATrayTheWindowIsNeverHidden) {
    Start("HideWhenClose=1\n");
    EXPECT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    Action("MnMinToTray")->trigger();
    PumpEvents(100);
    EXPECT_TRUE(Main()->isVisible());
    Main()->showNormal();
    QSignalSpy ending(Main(), &TFmMain::TerminateRequested);
    Main()->close();
    PumpEvents(100);
    EXPECT_TRUE(Main()->isVisible());
    EXPECT_EQ(ending.count(), 0);

    Main()->showNormal();
    Page()->CheckBoxWave()->setChecked(false);
    Page()->CheckBoxToolBar()->setChecked(false);
    Prompts.FileAnswers.push_back(TScriptedPrompts::Choose({Box.File(QStringLiteral("n.mp4"))}));
    Page()->BtnStart()->click();
    ASSERT_TRUE(Page()->BtnStop()->isEnabled());
    EXPECT_TRUE(Main()->isVisible());
    Page()->BtnStop()->click();
    ASSERT_TRUE(PumpUntil([this] { return Page()->BtnStart()->isEnabled(); }, 10000));

    // A tray that comes only later cannot take the icon of a running program (the toolkit
    // looks for one once): the window still stays in reach.
    ASSERT_TRUE(TrayHost(QStringLiteral("start")));
    PumpEvents(500);
    Action("MnMinToTray")->trigger();
    PumpEvents(100);
    EXPECT_TRUE(Main()->isVisible());
}
