#include "platform/desktop.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QThread>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/process.h"
#include "support/temp_folder.h"

using namespace platform;

namespace {

// Restores the variables the program's start-up sets or takes out, whatever a test did to them, and
// the message handler it replaces.
class KeptEnvironment {
public:
    KeptEnvironment() : handler_(qInstallMessageHandler(nullptr)) {
        qInstallMessageHandler(handler_);
        for (const char* name : kNames) saved_.push_back({name, qEnvironmentVariableIsSet(name), qgetenv(name)});
    }
    ~KeptEnvironment() {
        for (const auto& [name, set, value] : saved_) set ? (void)qputenv(name, value) : (void)qunsetenv(name);
        qInstallMessageHandler(handler_);  // the start-up silences Qt; the tests' own notes go on
    }

private:
    static constexpr const char* kNames[] = {"DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR", "QT_QPA_PLATFORM",
                                             "QT_XCB_NO_MITSHM"};
    struct Saved {
        const char* name;
        bool set;
        QByteArray value;
    };
    QtMessageHandler handler_;
    std::vector<Saved> saved_;
};

// The environment a program started through StartProgram sees (it writes it into the folder).
std::optional<QByteArray> ChildEnvironment(const testsupport::TempFolder& t) {
    t.write("show-env", "#!/bin/sh\nenv > \"$(dirname \"$0\")/env.tmp\" && mv \"$(dirname \"$0\")/env.tmp\" \"$(dirname \"$0\")/env\"\n");
    if (chmod(t.fileUtf8("show-env").c_str(), 0755) != 0 || !StartProgram(t.fileUtf8("show-env"))) return std::nullopt;
    QElapsedTimer waited;
    waited.start();
    while (!t.exists("env") && waited.elapsed() < 20000) QThread::msleep(10);
    if (!t.exists("env")) return std::nullopt;
    const QByteArray env = t.read("env");
    QFile::remove(t.file("env"));
    return env;
}

}  // namespace

// Started with no session bus named, the program names one for itself so that libdbus autolaunches
// none: the user's bus at the standard place when there is one, else an address that fails at once.
// The mail program it starts gets the environment as the user had it.
TEST(DesktopSession, NamesTheSessionBusForItselfAloneAndNeverAutolaunches) {
    KeptEnvironment kept;
    testsupport::TempFolder t;
    qputenv("XDG_RUNTIME_DIR", t.path().toUtf8());
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    PrepareDesktopSession();
    DesktopSessionStarted();
    EXPECT_EQ(qgetenv("DBUS_SESSION_BUS_ADDRESS"), "disabled:");
    std::optional<QByteArray> child = ChildEnvironment(t);
    ASSERT_TRUE(child) << "the program was not started";
    EXPECT_FALSE(child->contains("DBUS_SESSION_BUS_ADDRESS")) << child->constData();
    EXPECT_TRUE(child->contains("XDG_RUNTIME_DIR=" + t.path().toUtf8()));

    // The bus at its standard place, its path escaped as D-Bus addresses are.
    const QString runtime = t.file("run time");
    ASSERT_TRUE(QDir().mkdir(runtime));
    QLocalServer bus;
    ASSERT_TRUE(bus.listen(runtime + "/bus"));
    qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    PrepareDesktopSession();
    DesktopSessionStarted();
    EXPECT_EQ(qgetenv("DBUS_SESSION_BUS_ADDRESS"), "unix:path=" + t.path().toUtf8() + "/run%20time/bus");
    child = ChildEnvironment(t);
    ASSERT_TRUE(child);
    EXPECT_FALSE(child->contains("DBUS_SESSION_BUS_ADDRESS")) << child->constData();

    // A bus the user named is theirs to keep, for the program and the programs it starts.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/run/user/1000/bus");
    PrepareDesktopSession();
    DesktopSessionStarted();
    EXPECT_EQ(qgetenv("DBUS_SESSION_BUS_ADDRESS"), "unix:path=/run/user/1000/bus");
    child = ChildEnvironment(t);
    ASSERT_TRUE(child);
    EXPECT_TRUE(child->contains("DBUS_SESSION_BUS_ADDRESS=unix:path=/run/user/1000/bus\n"));
}
