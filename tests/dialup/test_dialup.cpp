// The dial-up calls against a stand-in NetworkManager on a private bus: a dbus-daemon of the test's own.
#include "platform/ras.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <memory>
#include <sys/prctl.h>
#include <vector>

#include "app/forms.h"
#include "app/main_form.h"
#include "core/program.h"
#include "core/timer.h"
#include "core/virtual_event_loop.h"
#include "platform/process.h"
#include "platform/textfile.h"
#include "support/hand_server.h"
#include "support/temp_folder.h"

using namespace platform;

namespace {

using SettingsMap = QMap<QString, QVariantMap>;
const QString kManager = "org.freedesktop.NetworkManager";
const QString kRoot = "/org/freedesktop/NetworkManager";

QVariant Paths(const QStringList& paths) {
    QList<QDBusObjectPath> list;
    for (const QString& p : paths) list << QDBusObjectPath(p);
    return QVariant::fromValue(list);
}

// NetworkManager as far as the dial-up calls see it. Connection n has its active connection, device and
// settings at .../ActiveConnection/n, .../Devices/n and .../Settings/n. It answers on a thread of its
// own, since the calls under test block the test's thread until the answer comes.
class StandInManager : public QDBusVirtualObject {
public:
    struct Line {
        Line(QString t, QString i, QString dev, uint s = 2, QString setting = {}, QString value = {})
            : type(t), id(i), interface(dev), state(s) {
            if (!setting.isEmpty()) settings[setting] = {{setting == "adsl" ? "protocol" : "type", value}};
        }
        QString type, id, interface;
        uint state;            // 2 is activated
        SettingsMap settings;  // none: GetSettings is refused
    };

    QString add(const Line& line) {
        QMutexLocker lock(&mutex_);
        lines_.push_back(line);
        active_ << static_cast<int>(lines_.size());
        return Path("ActiveConnection", lines_.size());
    }
    void remove(const QString& path) {
        QMutexLocker lock(&mutex_);
        active_.removeOne(path.section('/', -1).toInt());
    }
    void refuse(const QString& path) {
        QMutexLocker lock(&mutex_);
        refused_ = path;
    }
    QStringList deactivated() {
        QMutexLocker lock(&mutex_);
        return deactivated_;
    }

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& m, const QDBusConnection& bus) override {
        QMutexLocker lock(&mutex_);
        bus.send(answer(m));
        return true;
    }

private:
    static QString Path(const char* kind, size_t n) { return kRoot + "/" + kind + "/" + QString::number(n); }

    QDBusMessage answer(const QDBusMessage& m) {
        const QString member = m.member();
        const int n = m.path().section('/', -1).toInt();
        const QString kind = m.path().section('/', -2, -2);
        if (m.path() == kRoot && member == "Get" && m.arguments().value(1) == "ActiveConnections") {
            QStringList paths;
            for (int a : active_) paths << Path("ActiveConnection", a);
            return m.createReply(QVariant::fromValue(QDBusVariant(Paths(paths))));
        }
        if (m.path() == kRoot && member == "DeactivateConnection") {
            const QString target = m.arguments().value(0).value<QDBusObjectPath>().path();
            deactivated_ << target;
            if (target == refused_) return m.createErrorReply(kManager + ".PermissionDenied", "Not authorized");
            const int t = target.section('/', -1).toInt();
            if (!active_.contains(t)) return m.createErrorReply(kManager + ".ConnectionNotActive", "");
            lines_[t - 1].state = 3;  // deactivating
            return m.createReply();
        }
        if (!active_.contains(n)) return m.createErrorReply("org.freedesktop.DBus.Error.UnknownObject", m.path());
        const Line& l = lines_[n - 1];
        if (kind == "ActiveConnection" && member == "GetAll") {
            const QStringList devices = l.interface.isNull() ? QStringList() : QStringList{Path("Devices", n)};
            return m.createReply(QVariant(QVariantMap{
                {"Type", l.type}, {"Id", l.id}, {"State", l.state}, {"Devices", Paths(devices)},
                {"Connection", QVariant::fromValue(QDBusObjectPath(Path("Settings", n)))}}));
        }
        if (kind == "Devices" && member == "Get") return m.createReply(QVariant::fromValue(QDBusVariant(l.interface)));
        if (kind == "Settings" && member == "GetSettings" && !l.settings.isEmpty()) {
            return m.createReply(QVariant::fromValue(l.settings));
        }
        return m.createErrorReply("org.freedesktop.DBus.Error.AccessDenied", m.path());
    }

    QMutex mutex_;
    std::vector<Line> lines_;
    QList<int> active_;  // ActiveConnections, by number
    QStringList deactivated_;
    QString refused_;
};

// What RasEnumConnectionsA gave through a buffer of `room` records, with a guard record behind it.
struct Listing {
    uint32_t result, size, count;
    std::vector<RASCONNA> records;
    std::string row(size_t i) const {
        const RASCONNA& r = records[i];
        return std::string(r.szEntryName) + "|" + r.szDeviceType + "|" + r.szDeviceName;
    }
};

Listing List(uint32_t room = 256, uint32_t dwSize = sizeof(RASCONNA)) {
    Listing l{0, room * uint32_t{sizeof(RASCONNA)}, 99, std::vector<RASCONNA>(room + 1)};
    std::memset(&l.records[room], 0x5A, sizeof(RASCONNA));
    const RASCONNA guard = l.records[room];
    l.records[0].dwSize = dwSize;
    l.result = RasEnumConnectionsA(l.records.data(), &l.size, &l.count);
    EXPECT_EQ(std::memcmp(&l.records[room], &guard, sizeof guard), 0) << "written past the buffer";
    return l;
}

class Dialup : public testing::Test {
protected:
    void SetUp() override {
        qDBusRegisterMetaType<SettingsMap>();
        // NetworkManager can be started by the bus, as on a system with it installed; it must not be.
        dir_.write("nm.service", "[D-BUS Service]\nName=org.freedesktop.NetworkManager\nExec=/bin/false\n");
        dir_.write("bus.conf", QString(R"(<busconfig><type>session</type><listen>unix:path=%1/bus</listen>
            <servicedir>%1</servicedir><auth>EXTERNAL</auth><policy context="default">
            <allow send_destination="*"/><allow receive_sender="*"/><allow own="*"/></policy></busconfig>)")
                                   .arg(dir_.path()).toUtf8());
        ASSERT_NO_FATAL_FAILURE(startBus());
        startManager();
        // The socket alone, as the system bus is named: the printed address also pins this daemon's guid.
        SetRasBusAddress("unix:path=" + dir_.fileUtf8("bus"));
    }
    void TearDown() override {
        SetRasBusAddress("");
        stopManager();
        daemon_.terminate();
        daemon_.waitForFinished();
    }

    void startBus() {
        QFile::remove(dir_.file("bus"));
        daemon_.setStandardErrorFile(dir_.file("bus.log"), QIODevice::Append);
        daemon_.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });  // also if the test crashes
        daemon_.start("dbus-daemon", {"--config-file=" + dir_.file("bus.conf"), "--nofork", "--print-address"});
        ASSERT_TRUE(daemon_.waitForStarted()) << "needs dbus-daemon (Debian package dbus-daemon)";
        while (!daemon_.canReadLine() && daemon_.waitForReadyRead(10000)) {
        }
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
        ASSERT_TRUE(address_.startsWith("unix:")) << address_.toStdString();
    }
    void startManager() {
        nm_ = std::make_unique<StandInManager>();
        name_ = QString("stand-in-%1").arg(++serial_);
        ASSERT_TRUE(QDBusConnection::connectToBus(address_, name_)
                        .registerVirtualObject(kRoot, nm_.get(), QDBusConnection::SubPath));
        thread_ = std::make_unique<QThread>();
        nm_->moveToThread(thread_.get());  // with what registering hung on it
        thread_->start();
        ownName(true);
    }
    void ownName(bool own) {
        QDBusConnection bus(name_);
        ASSERT_TRUE(own ? bus.registerService(kManager) : bus.unregisterService(kManager));
    }
    void stopManager() {
        if (!thread_) return;
        QDBusConnection::disconnectFromBus(name_);
        thread_->quit();
        thread_->wait();
        nm_.reset();
    }

    testsupport::TempFolder dir_;
    QProcess daemon_;
    QString address_, name_;
    std::unique_ptr<StandInManager> nm_;
    std::unique_ptr<QThread> thread_;
    static inline int serial_ = 0;
};

TEST_F(Dialup, HangsUpTheDialUpLinesTheWayTheProgramAsks) {
    Listing none = List();
    EXPECT_EQ(none.result, 0u);
    EXPECT_EQ(none.count, 0u);
    EXPECT_EQ(none.size, 0u);

    nm_->add({"802-11-wireless", "Home Wi-Fi", "wlan0"});
    const QString gsm = nm_->add({"gsm", "Docomo", "ttyUSB2"});
    nm_->add({"802-3-ethernet", "Wired", "eth0"});
    const QString pppoe = nm_->add({"pppoe", "Flets", "eth1"});
    Listing l = List();
    ASSERT_EQ(l.result, 0u);
    ASSERT_EQ(l.count, 2u);
    EXPECT_EQ(l.size, 2 * sizeof(RASCONNA));
    EXPECT_EQ(l.records[1].dwSize, sizeof(RASCONNA));
    EXPECT_EQ(l.row(0), "Docomo|modem|ttyUSB2");
    EXPECT_EQ(l.row(1), "Flets|PPPoE|eth1");
    EXPECT_NE(l.records[0].hrasconn, 0u);
    EXPECT_NE(l.records[0].hrasconn, l.records[1].hrasconn);
    EXPECT_EQ(l.row(2), "||") << "a record past the count was touched";
    EXPECT_TRUE(nm_->deactivated().isEmpty());

    for (uint32_t i = 0; i < l.count; ++i) EXPECT_EQ(RasHangUpA(l.records[i].hrasconn), 0u);
    EXPECT_EQ(nm_->deactivated(), QStringList({gsm, pppoe}));
    EXPECT_EQ(List().count, 0u) << "lines going down are not listed again";
}

TEST_F(Dialup, ListsOnlyDialUpKinds) {
    for (const StandInManager::Line& line : std::vector<StandInManager::Line>{
             {"cdma", "cdma", "ttyUSB0"}, {"gsm", "gsm activating", "ttyACM0", 1},
             {"gsm", "gsm deactivating", "ttyACM1", 3}, {"gsm", "gsm deactivated", "ttyACM2", 4},
             {"bluetooth", "bt dun", "AA:BB", 2, "bluetooth", "dun"},
             {"bluetooth", "bt pan", "bnep0", 2, "bluetooth", "panu"}, {"bluetooth", "bt unreadable", "AA:CC"},
             {"adsl", "adsl pppoe", "nas0", 2, "adsl", "pppoe"}, {"adsl", "adsl pppoa", "", 2, "adsl", "pppoa"},
             {"adsl", "adsl ipoatm", "nas1", 2, "adsl", "ipoatm"}, {"vpn", "vpn", "tun0"}, {"wireguard", "wg", "wg0"},
             {"pppoe", "no device", QString()}}) {
        nm_->add(line);
    }
    Listing l = List();
    ASSERT_EQ(l.result, 0u);
    std::vector<std::string> rows;
    for (uint32_t i = 0; i < l.count; ++i) rows.push_back(l.row(i));
    EXPECT_EQ(rows, std::vector<std::string>({"cdma|modem|ttyUSB0", "gsm activating|modem|ttyACM0", "bt dun|modem|AA:BB",
                                              "adsl pppoe|PPPoE|nas0", "adsl pppoa|ATM|", "no device|PPPoE|"}));
}

TEST_F(Dialup, KeepsToTheBufferAndTheRecordSize) {
    for (const char* id : {"one", "two", "three"}) nm_->add({"gsm", id, "ttyUSB0"});
    for (uint32_t dwSize : {0u, 411u, 413u, 4096u}) {
        Listing bad = List(256, dwSize);
        EXPECT_EQ(bad.result, 632u);
        EXPECT_EQ(bad.count, 0u);
        EXPECT_EQ(bad.row(0), "||");
    }
    Listing small = List(2);
    EXPECT_EQ(small.result, 603u);
    EXPECT_EQ(small.size, 3 * sizeof(RASCONNA));
    EXPECT_EQ(small.count, 0u);
    EXPECT_EQ(small.row(0), "||") << "nothing is written when it does not fit";
    uint32_t size = 0, count = 99;
    EXPECT_EQ(RasEnumConnectionsA(nullptr, &size, &count), 603u);
    EXPECT_EQ(size, 3 * sizeof(RASCONNA));
    EXPECT_EQ(List(3).count, 3u);
}

TEST_F(Dialup, HandlesAndHangUpResults) {
    EXPECT_EQ(RasHangUpA(1), 6u) << "no listing yet";
    const QString gone = nm_->add({"gsm", "gone", "ttyUSB0"});
    const QString refused = nm_->add({"gsm", "refused", "ttyUSB1"});
    const QString later = nm_->add({"gsm", "later", "ttyUSB2"});
    nm_->refuse(refused);
    Listing l = List();
    ASSERT_EQ(l.count, 3u);
    nm_->remove(gone);
    EXPECT_EQ(RasHangUpA(l.records[0].hrasconn), 0u) << "a line already down is hung up";
    EXPECT_EQ(RasHangUpA(l.records[0].hrasconn), 6u) << "a hung-up handle is free";
    EXPECT_EQ(RasHangUpA(l.records[1].hrasconn), 5u);
    nm_->refuse(QString());
    EXPECT_EQ(RasHangUpA(l.records[1].hrasconn), 0u) << "the handle stays valid after a refusal";
    ownName(false);
    EXPECT_EQ(RasHangUpA(l.records[2].hrasconn), 711u);
    ownName(true);
    EXPECT_EQ(RasHangUpA(l.records[2].hrasconn), 0u) << "and while NetworkManager was away";
    EXPECT_EQ(nm_->deactivated(), QStringList({gone, refused, refused, later}));

    // Handles belong to the latest listing, and a line keeps its handle from one listing to the next.
    nm_->remove(refused);
    nm_->remove(later);
    nm_->add({"cdma", "kept", "ttyUSB3"});
    const QString dropped = nm_->add({"cdma", "dropped", "ttyUSB4"});
    Listing first = List();
    ASSERT_EQ(first.count, 2u);
    nm_->remove(dropped);
    const QString back = nm_->add({"cdma", "dropped", "ttyUSB4"});  // as a new active connection
    Listing second = List();
    ASSERT_EQ(second.count, 2u);
    EXPECT_EQ(second.records[0].hrasconn, first.records[0].hrasconn);
    EXPECT_NE(second.records[1].hrasconn, first.records[1].hrasconn) << "a handle came to mean another line";
    EXPECT_EQ(RasHangUpA(first.records[1].hrasconn), 6u);
    for (HRASCONN bogus : {0u, 0xFFFFFFFFu}) EXPECT_EQ(RasHangUpA(bogus), 6u);
    EXPECT_EQ(RasHangUpA(second.records[1].hrasconn), 0u);
    EXPECT_EQ(nm_->deactivated().last(), back);
}

TEST_F(Dialup, FailsQuietlyWithoutNetworkManagerOrBusAndFindsItAgain) {
    nm_->add({"gsm", "a", "ttyUSB0"});
    ownName(false);
    for (const std::string& address : {std::string(), "unix:path=" + dir_.fileUtf8("nobody"), std::string("nonsense")}) {
        if (!address.empty()) SetRasBusAddress(address);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        Listing l = List();
        EXPECT_EQ(testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr(), "") << address;
        EXPECT_EQ(l.result, 711u) << address;
        EXPECT_EQ(l.count, 0u);
        EXPECT_EQ(l.row(0), "||");
    }
    EXPECT_TRUE(nm_->deactivated().isEmpty());
    EXPECT_FALSE(dir_.read("bus.log").contains("Activating")) << "the bus was asked to start NetworkManager";

    // A bus that restarts under the same name is found again at the next call.
    SetRasBusAddress("unix:path=" + dir_.fileUtf8("bus"));
    ownName(true);
    ASSERT_EQ(List().count, 1u);
    stopManager();
    daemon_.terminate();
    daemon_.waitForFinished();
    ASSERT_NO_FATAL_FAILURE(startBus());
    startManager();
    nm_->add({"cdma", "after", "ttyUSB1"});
    Listing l = List();
    ASSERT_EQ(l.result, 0u);
    ASSERT_EQ(l.count, 1u);
    EXPECT_EQ(l.row(0), "after|modem|ttyUSB1");
}

TEST_F(Dialup, CutsLongTextsBetweenCharacters) {
    // Two ASCII bytes first, so that the 256-byte limit falls inside a character.
    const QString id = "ab" + QString("日本語の回線").repeated(28);
    const QString interface = "x" + QString::fromUtf8("\xF0\x9F\x93\x9E").repeated(40);
    ASSERT_GE(id.toUtf8().size(), 500);
    nm_->add({"gsm", id, interface});
    Listing l = List();
    ASSERT_EQ(l.count, 1u);
    const struct {
        QString text;
        std::string field;
        qsizetype limit;
    } cases[] = {{id, l.records[0].szEntryName, 256}, {interface, l.records[0].szDeviceName, 128}};
    for (const auto& [text, field, limit] : cases) {
        QString expected;  // whole characters while they fit
        for (qsizetype i = 0, n = 1; i < text.size(); i += n) {
            n = text[i].isHighSurrogate() ? 2 : 1;
            if ((expected + text.mid(i, n)).toUtf8().size() > limit) break;
            expected += text.mid(i, n);
        }
        EXPECT_EQ(field, expected.toStdString());
        EXPECT_TRUE(IsValidUtf8(field));
        EXPECT_GT(field.size(), size_t(limit) - 4);
    }
}

// The whole program around a test, with its own folders and virtual time; a process end unwinds.
struct Ended {};
class ProgramAround {
public:
    explicit ProgramAround(const QByteArray& server, const QByteArray& ini = {}) {
        QDir().mkpath(programFolder.file("★MailData"));
        savedCwd = QDir::currentPath();
        QDir::setCurrent(cwd.path());
        cwd.write("qorvel.ini", "POP3=" + server + "\r\n");
        programFolder.write("★MailData/iniIdPass.ini", "[EXEINI]\r\nNAME=a\r\nNAME2=b\r\n");
        if (!ini.isEmpty()) programFolder.write("★MailData/ini.ini", ini);
        core::SetLoop(&loop);
        prog::ResetProgramValues();
        core::SetProgramFolder(programFolder.path());
        platform::SetEndProcessHandler([](int) { throw Ended{}; });
    }
    ~ProgramAround() {
        forms::DestroyAll();
        QCoreApplication::processEvents();
        platform::SetEndProcessHandler(nullptr);
        core::SetLoop(nullptr);
        QDir::setCurrent(savedCwd);
    }
    testsupport::TempFolder programFolder, cwd;
    core::VirtualEventLoop loop;
    QString savedCwd;
};

TEST_F(Dialup, TheProgramsHangUpCommandHangsUpEveryDialUpLineInOrder) {
    ProgramAround program("pop.example.org");
    nm_->add({"802-11-wireless", "Home Wi-Fi", "wlan0"});
    const QString gsm = nm_->add({"gsm", "Docomo", "ttyUSB2"});
    const QString pppoe = nm_->add({"pppoe", "Flets", "eth1"});
    forms::MainForm().Command5_Click();
    EXPECT_EQ(nm_->deactivated(), QStringList({gsm, pppoe}));

    // Nothing to hang up: nothing is asked of NetworkManager.
    forms::MainForm().Command5_Click();
    EXPECT_EQ(nm_->deactivated().size(), 2);
}

// Closed while the check waits for a silent server, or while it shows the one message it found.
TEST_F(Dialup, ClosingTheClockInTheMiddleOfACheckStillHangsUp) {
    for (const bool found : {false, true}) {
        SCOPED_TRACE(found ? "during the cat show" : "while the server is silent");
        testsupport::HandServer server;
        ProgramAround program(QByteArray::fromStdString(server.address()), "[EXEINI]\r\nNUMBER=1\r\n");
        program.loop.SetNetworkGraceMs(0);
        const QString gsm = nm_->add({"gsm", "Docomo", "ttyUSB2"});
        const QStringList before = nm_->deactivated();
        core::Timer answer(100);
        answer.OnTimer = [&] {
            answer.SetEnabled(false);
            if (!found || server.TakeWaiting() != 1) return;
            // All it says, written ahead: greeting, CAPA, USER, PASS, STAT, LIST, RETR 1, QUIT.
            server.Say(0, "+OK ready\r\n+OK\r\nUSER\r\n.\r\n+OK\r\n+OK\r\n+OK 1 24\r\n+OK\r\n1 24\r\n.\r\n"
                          "+OK\r\nSubject: a\r\n\r\nbody\r\n.\r\n+OK\r\n");
        };
        int notices = -1;
        core::Timer closer(5000);
        closer.OnTimer = [&] {
            notices = forms::MainForm().notifying_;
            forms::MainForm().Unload();
        };
        EXPECT_THROW(
            {
                forms::MainForm().Command8_Click();
                program.loop.RunFor(60000);
            },
            Ended);
        EXPECT_EQ(notices, found ? 1 : 0);
        EXPECT_EQ(nm_->deactivated(), before + QStringList({gsm}));
        nm_->remove(gsm);
    }
}

}  // namespace
