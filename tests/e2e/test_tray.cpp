// The task tray: hiding the clock behind a tray icon (trayer is the tray host), its click and
// context menu, choosing the mail program and quitting from the tray; a StatusNotifier tray over
// D-Bus (as KDE and GNOME's AppIndicator extension are); and a desktop without a tray.
#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTemporaryDir>

#include "e2e/desktop.h"
#include "e2e/program.h"

using namespace e2e;

class Tray : public OnTheDesktop {};

namespace {

// A system tray at the bottom right of the screen, for as long as it lives.
class TrayHost {
public:
    TrayHost() {
        trayer_.start("trayer", {"--edge", "bottom", "--align", "right", "--widthtype", "pixel", "--width", "200",
                                 "--heighttype", "pixel", "--height", "24", "--SetDockType", "true"});
        // Up once the tray is claimed (this process asks the X server as the program will).
        ready_ = trayer_.waitForStarted(5000) && Until([] { return QSystemTrayIcon::isSystemTrayAvailable(); });
    }
    ~TrayHost() {
        trayer_.kill();
        trayer_.waitForFinished(3000);
    }
    bool ready() const { return ready_; }

    // The program's icon inside the tray, when there is one.
    static std::optional<TreeWindow> ProgramIcon() {
        const QList<TreeWindow> windows = ParseTree(Tool("xwininfo", {"-root", "-tree"}));
        QRect panel;
        for (const TreeWindow& t : windows)
            if (t.wmClass == "\"panel\" \"trayer\"") panel = t.rect;
        if (panel.isEmpty()) return std::nullopt;
        for (const TreeWindow& t : windows)
            if (t.wmClass.contains("\"vellumine\"") && panel.contains(t.rect) && t.rect.width() > 4) return t;
        return std::nullopt;
    }

private:
    QProcess trayer_;
    bool ready_ = false;
};

// Opens the icon's context menu and picks an item by keyboard (Down once per item, the separator
// is skipped); false when no menu came up or it did not go away.
bool ChooseTrayMenuItem(const TreeWindow& icon, int n) {
    Click(icon.rect.center(), 3);
    if (!Until([] { return ProgramPopup().has_value(); })) return false;
    QStringList keys;
    for (int i = 0; i < n; ++i) keys << "Down";
    keys << "Return";
    Keys(keys);
    return Until([] { return !ProgramPopup().has_value(); });
}

// A private session bus with the desktop's side of a StatusNotifier tray on it: the watcher items
// register with (and which says a host shows them), so that Qt hands the icon to it over D-Bus.
class StatusNotifierWatcher : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)

public:
    // The bus listens at address, or where dbus-daemon puts a session bus when empty.
    explicit StatusNotifierWatcher(const QString& address = {}) {
        QStringList args = {"--session", "--nofork", "--print-address=1"};
        if (!address.isEmpty()) args << "--address=" + address;
        bus_.start("dbus-daemon", args);
        if (!bus_.waitForStarted(5000) || !Until([&] { return bus_.canReadLine(); }, 10000)) return;
        address_ = QString::fromUtf8(bus_.readLine()).trimmed();
        connection_ = QDBusConnection::connectToBus(address_, "status-notifier-watcher");
        ready_ = connection_.isConnected() && connection_.registerService("org.kde.StatusNotifierWatcher") &&
                 connection_.registerObject("/StatusNotifierWatcher", this,
                                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties |
                                                QDBusConnection::ExportAllSignals);
    }
    ~StatusNotifierWatcher() override {
        QDBusConnection::disconnectFromBus("status-notifier-watcher");
        bus_.kill();
        bus_.waitForFinished(3000);
    }
    bool ready() const { return ready_; }
    QString address() const { return address_; }
    QDBusConnection& connection() { return connection_; }

    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const { return items_; }
    // Where the registered item answers: its bus name and object path.
    QString itemService() const { return itemService_; }
    QString itemPath() const { return itemPath_; }

public slots:
    // The argument is the item's bus name, or (in some implementations) its object path on the
    // caller's connection.
    void RegisterStatusNotifierItem(const QString& item) {
        itemService_ = item.startsWith('/') ? message().service() : item;
        itemPath_ = item.startsWith('/') ? item : QStringLiteral("/StatusNotifierItem");
        items_ << item;
        emit StatusNotifierItemRegistered(item);
    }
    void RegisterStatusNotifierHost(const QString&) {}

signals:
    void StatusNotifierItemRegistered(const QString& item);

private:
    QProcess bus_;
    QString address_;
    QDBusConnection connection_{QString()};
    bool ready_ = false;
    QStringList items_;
    QString itemService_, itemPath_;
};

// One entry of a menu exported over com.canonical.dbusmenu: (id, properties, children).
struct DBusMenuEntry {
    int id = 0;
    QVariantMap properties;
    QList<DBusMenuEntry> children;
    // The caption as the menu shows it, "-" for a separator.
    QString caption() const {
        return properties.value("type").toString() == "separator" ? QStringLiteral("-")
                                                                  : properties.value("label").toString();
    }
};

DBusMenuEntry ReadMenuEntry(const QDBusArgument& argument) {
    DBusMenuEntry entry;
    argument.beginStructure();
    argument >> entry.id >> entry.properties;
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        entry.children << ReadMenuEntry(child.variant().value<QDBusArgument>());
    }
    argument.endArray();
    argument.endStructure();
    return entry;
}

}  // namespace

TEST_F(Tray, RoundTripThroughTheTrayThenQuitFromItKeepingTheMailProgram) {
    TrayHost tray;
    ASSERT_TRUE(tray.ready()) << "trayer did not start (Debian package trayer)";
    ProgramFolder folder;
    ASSERT_TRUE(folder.ok());
    folder.writeServer("pop.example.org");
    folder.writeAccount("alice", "alicepw");
    // The mail program to choose: any existing file will do, it is not started here.
    const QString mailer = folder.file("tools/mail-reader");
    folder.write("tools/mail-reader", "#!/bin/sh\n");
    RunningProgram program(folder);
    ASSERT_TRUE(program.started()) << program.error().toStdString();
    const auto clock = program.waitForClock();
    ASSERT_TRUE(clock) << program.error().toStdString();
    const QRect placed = Info(*clock)->rect;

    // To the tray: the clock leaves the screen, an icon of the program sits in the tray.
    ASSERT_TRUE(ChooseMenuItem(*clock, kToTray));
    EXPECT_TRUE(Until([&] { return !Viewable(*clock); })) << "the clock stayed on the screen";
    std::optional<TreeWindow> icon;
    ASSERT_TRUE(Until([&] { return (icon = TrayHost::ProgramIcon()).has_value(); })) << "no icon in the tray";
    // Something is drawn there, not just the tray's background.
    EXPECT_TRUE(Until([&] {
        const QImage now = Grab(icon->rect);
        for (int y = 0; y < now.height(); ++y)
            for (int x = 0; x < now.width(); ++x)
                if (now.pixel(x, y) != now.pixel(0, 0)) return true;
        return false;
    })) << "the tray icon is blank";

    // A plain click says so in a message box titled "Vellumine"; Enter closes it.
    Click(icon->rect.center(), 1);
    const auto box = WaitForWindow("Vellumine");
    ASSERT_TRUE(box) << "no message box after a click on the icon";
    Activate(*box);
    Keys({"Return"});
    EXPECT_TRUE(WaitUntilGone("Vellumine"));

    // The context menu's "メイン画面を表示" brings the clock back where it was.
    ASSERT_TRUE(ChooseTrayMenuItem(*icon, 1)) << "no context menu on the icon";
    EXPECT_TRUE(Until([&] { return Viewable(*clock); })) << "the clock did not come back";
    EXPECT_EQ(Info(*clock)->rect, placed);

    // "起動メーラーの設定": Qt's file dialog; the path typed into it is taken.
    ASSERT_TRUE(ChooseMenuItem(*clock, kChooseMailer));
    const auto dialog = WaitForWindow("Open");
    ASSERT_TRUE(dialog) << "no file dialog";
    Activate(*dialog);
    Type(mailer);
    Keys({"Return"});
    ASSERT_TRUE(WaitUntilGone("Open")) << "the file dialog did not take " << mailer.toStdString();

    // Back to the tray, and "終了" from the icon's menu: the program ends as through its close box,
    // keeping the chosen program in ★MailData/ini.ini.
    ASSERT_TRUE(ChooseMenuItem(*clock, kToTray));
    ASSERT_TRUE(Until([&] { return !Viewable(*clock); }));
    ASSERT_TRUE(Until([&] { return (icon = TrayHost::ProgramIcon()).has_value(); }));
    ASSERT_TRUE(ChooseTrayMenuItem(*icon, 2)) << "no context menu on the icon";
    ASSERT_TRUE(program.waitForExit()) << "the program did not end";
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_EQ(folder.iniValue("NAME").value_or("<none>").toStdString(), mailer.toStdString());

    // A restart reads it back: closed again through its close box, it writes the same path again
    // (one it had not read back would be written as "未設定").
    RunningProgram again(folder);
    const auto clock2 = again.waitForClock();
    ASSERT_TRUE(clock2) << again.error().toStdString();
    Activate(*clock2);
    Keys({"alt+F4"});
    ASSERT_TRUE(again.waitForExit()) << "the close box did not end the program";
    EXPECT_EQ(again.exitCode(), 0);
    EXPECT_EQ(folder.iniValue("NAME").value_or("<none>").toStdString(), mailer.toStdString());
}

// KDE's tray, and GNOME's with the AppIndicator extension: the icon goes to the desktop over D-Bus,
// the desktop shows the menu the program gives it where it puts the icon, and asks the program to
// act on a click, waiting for the answer.
// The bus is at its standard place ($XDG_RUNTIME_DIR/bus) and not named otherwise, as systemd's user
// session leaves it: the program finds it there.
TEST_F(Tray, AStatusNotifierTrayShowsTheMenuItIsGivenAndIsAnsweredAtOnce) {
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    StatusNotifierWatcher watcher("unix:path=" + runtime.path() + "/bus");
    ASSERT_TRUE(watcher.ready()) << "no private session bus (Debian package dbus-daemon)";
    ProgramFolder folder;
    ASSERT_TRUE(folder.ok());
    folder.writeServer("pop.example.org");
    folder.writeAccount("alice", "alicepw");
    StartOptions options;
    options.noSessionBus = true;
    options.runtimeDir = runtime.path();
    RunningProgram program(folder, options);
    ASSERT_TRUE(program.started()) << program.error().toStdString();
    const auto clock = program.waitForClock();
    ASSERT_TRUE(clock) << program.error().toStdString();

    // To the tray: the item registers with the watcher.
    ASSERT_TRUE(ChooseMenuItem(*clock, kToTray));
    EXPECT_TRUE(Until([&] { return !Viewable(*clock); })) << "the clock stayed on the screen";
    ASSERT_TRUE(Until([&] { return !watcher.itemService().isEmpty(); })) << "no item registered with the watcher";
    auto call = [&](const QString& path, const QString& interface, const QString& method, const QVariantList& args,
                    int timeoutMs = 5000) {
        QDBusMessage m = QDBusMessage::createMethodCall(watcher.itemService(), path, interface, method);
        m.setArguments(args);
        return watcher.connection().call(m, QDBus::Block, timeoutMs);
    };

    // The menu it hands to the tray: the tray menu's items, in their Japanese texts.
    const QDBusMessage menuPath = call(watcher.itemPath(), "org.freedesktop.DBus.Properties", "Get",
                                       {"org.kde.StatusNotifierItem", "Menu"});
    ASSERT_EQ(menuPath.type(), QDBusMessage::ReplyMessage) << menuPath.errorMessage().toStdString();
    const QString menu = menuPath.arguments().value(0).value<QDBusVariant>().variant().value<QDBusObjectPath>().path();
    ASSERT_FALSE(menu.isEmpty() || menu == "/NO_DBUSMENU") << "no menu handed to the tray: " << menu.toStdString();
    const QDBusMessage layout = call(menu, "com.canonical.dbusmenu", "GetLayout", {0, -1, QStringList()});
    ASSERT_EQ(layout.type(), QDBusMessage::ReplyMessage) << layout.errorMessage().toStdString();
    const DBusMenuEntry root = ReadMenuEntry(layout.arguments().value(1).value<QDBusArgument>());
    QStringList captions;
    std::optional<int> showMain, quit;
    for (const DBusMenuEntry& e : root.children) {
        if (e.properties.value("visible", true).toBool()) captions << e.caption();
        if (e.caption() == QStringLiteral("メイン画面を表示")) showMain = e.id;
        if (e.caption() == QStringLiteral("終了")) quit = e.id;
    }
    EXPECT_EQ(captions, (QStringList{QStringLiteral("メイン画面を表示"), "-", QStringLiteral("終了")}));
    ASSERT_TRUE(showMain && quit);

    // A tray that asks the program for its menu (ContextMenu, as one driven by keyboard or touch does)
    // gets it where it says, wherever the pointer happens to be.
    MoveMouse(QPoint(5, 5));
    const QPoint asked(600, 400);
    const QDBusMessage contextMenu =
        call(watcher.itemPath(), "org.kde.StatusNotifierItem", "ContextMenu", {asked.x(), asked.y()});
    EXPECT_EQ(contextMenu.type(), QDBusMessage::ReplyMessage) << contextMenu.errorMessage().toStdString();
    // Until it has settled where it opens: the first look can catch the window before Qt has placed it.
    std::optional<TreeWindow> popup;
    ASSERT_TRUE(Until([&] { return (popup = ProgramPopup()).has_value(); })) << "no menu after ContextMenu";
    EXPECT_TRUE(Until([&] { return (popup = ProgramPopup()) && popup->rect.topLeft() == asked; }))
        << "the menu opened at " << (popup ? popup->rect.x() : -1) << "," << (popup ? popup->rect.y() : -1);
    Keys({"Escape"});
    ASSERT_TRUE(Until([] { return !ProgramPopup().has_value(); })) << "the menu did not close";

    // Chosen in the tray's menu, "メイン画面を表示" brings the clock back; the program pops up no
    // menu of its own anywhere.
    call(menu, "com.canonical.dbusmenu", "Event",
         {*showMain, "clicked", QVariant::fromValue(QDBusVariant(0)), 0u});
    EXPECT_TRUE(Until([&] { return Viewable(*clock); })) << "the clock did not come back";
    EXPECT_FALSE(ProgramPopup().has_value()) << "the program popped up a menu of its own";

    // A left click: the tray's call is answered at once, while the box it opens is still up. (A
    // program that opened the box before answering would answer only once the box was closed; a
    // look again after closing it, should the machine have been too busy to answer in time.)
    bool answeredInTime = false;
    qint64 tookMs = -1;
    for (int attempt = 0; attempt < 3 && !answeredInTime; ++attempt) {
        QElapsedTimer took;
        took.start();
        const QDBusMessage answer =
            call(watcher.itemPath(), "org.kde.StatusNotifierItem", "Activate", {1200, 1000}, /*timeoutMs=*/100);
        tookMs = took.elapsed();
        const auto box = WaitForWindow("Vellumine");
        ASSERT_TRUE(box) << "no message box after Activate";
        answeredInTime = answer.type() == QDBusMessage::ReplyMessage;
        Activate(*box);
        Keys({"Return"});
        ASSERT_TRUE(WaitUntilGone("Vellumine"));
    }
    EXPECT_TRUE(answeredInTime) << "Activate was not answered within 100 ms (last try: " << tookMs << " ms)";

    // "終了" from the tray's menu ends the program as its close box does.
    call(menu, "com.canonical.dbusmenu", "Event", {*quit, "clicked", QVariant::fromValue(QDBusVariant(0)), 0u}, 1000);
    ASSERT_TRUE(program.waitForExit()) << "the program did not end";
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_EQ(folder.iniValue("NAME").value_or("<none>").toStdString(), "未設定");
}

// Programs started on this display by libdbus's X11 autolaunch (dbus-launch --autolaunch, which
// stays to look after the bus daemon it started).
static QStringList AutolaunchedHere() {
    QStringList found;
    const QByteArray display = "DISPLAY=" + qgetenv("DISPLAY");
    for (const QString& pid : Tool("pgrep", {"-f", "--", "--autolaunch"}).split('\n', Qt::SkipEmptyParts)) {
        QFile environ("/proc/" + pid.trimmed() + "/environ");
        if (environ.open(QIODevice::ReadOnly) && environ.readAll().split('\0').contains(display)) found << pid.trimmed();
    }
    return found;
}

// A bare X session: no tray, and no session bus either. The program starts no bus of its own (one
// that would outlive it) and says nothing about the missing bus.
TEST_F(Tray, WithoutATrayTheClockStaysOnTheScreen) {
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable()) << "this desktop is meant to have no tray";
    ASSERT_EQ(AutolaunchedHere(), QStringList()) << "a bus was autolaunched on this display before the test";
    ProgramFolder folder;
    ASSERT_TRUE(folder.ok());
    folder.writeServer("pop.example.org");
    folder.writeAccount("alice", "alicepw");
    StartOptions options;
    options.noSessionBus = true;
    RunningProgram program(folder, options);
    ASSERT_TRUE(program.started()) << program.error().toStdString();
    const auto clock = program.waitForClock();
    ASSERT_TRUE(clock) << program.error().toStdString();
    const QRect placed = Info(*clock)->rect;

    ASSERT_TRUE(ChooseMenuItem(*clock, kToTray));
    // A later command taking effect shows the tray item has been handled by then.
    ASSERT_TRUE(ChooseMenuItem(*clock, kTopMostOff));
    ASSERT_TRUE(Until([&] { return !Above(*clock); }));
    EXPECT_TRUE(Viewable(*clock)) << "the clock was hidden with no tray to come back from";
    EXPECT_EQ(Info(*clock)->rect, placed);

    // Looking for a tray asked for the session bus (libdbus's autolaunch, where it happens, is over
    // before the answer comes).
    EXPECT_EQ(AutolaunchedHere(), QStringList()) << "a session bus was autolaunched for the program";
    Activate(*clock);
    Keys({"alt+F4"});
    ASSERT_TRUE(program.waitForExit()) << "the close box did not end the program";
    EXPECT_EQ(program.output(), QString()) << "the program printed something";
    EXPECT_EQ(AutolaunchedHere(), QStringList());
}

#include "test_tray.moc"
