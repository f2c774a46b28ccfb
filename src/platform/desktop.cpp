#include "platform/desktop.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QProcessEnvironment>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {
void Quiet(QtMsgType, const QMessageLogContext&, const QString&) {}
bool g_setNoShm = false;
bool g_setPlatform = false;
bool g_setSessionBus = false;

constexpr char kSessionBusVariable[] = "DBUS_SESSION_BUS_ADDRESS";

// A value in a D-Bus address: bytes outside the always-safe set go as %XX.
QByteArray EscapeAddressValue(const QByteArray& value) {
    QByteArray out;
    for (const char c : value) {
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' || c == '_' ||
            c == '/' || c == '.' || c == '\\' || c == '*') {
            out += c;
        } else {
            out += '%' + QByteArray::number(static_cast<unsigned char>(c), 16).rightJustified(2, '0');
        }
    }
    return out;
}

// The session bus the program is to use when none is named. libdbus, asked for the session bus with
// DBUS_SESSION_BUS_ADDRESS unset, takes the user's bus at $XDG_RUNTIME_DIR/bus where there is one, and
// otherwise, on an X11 display, starts a bus daemon of its own (dbus-launch --autolaunch) that outlives
// the program. So the standard socket is named where it is, as libdbus checks it: a socket of ours.
// Elsewhere an address libdbus refuses at once, without trying anything or printing anything: the
// program then has no session bus, as it should in a bare X session.
QByteArray SessionBusAddress() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty()) {
        const QByteArray socket = runtime + "/bus";
        struct stat st {};
        if (::stat(socket.constData(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_uid == ::getuid())
            return "unix:path=" + EscapeAddressValue(socket);
    }
    return "disabled:";
}
}  // namespace

void PrepareDesktopSession() {
    g_setPlatform = qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    if (g_setPlatform) qputenv("QT_QPA_PLATFORM", "xcb");
    // The windows are small and the clock repaints a strip of them fifty times a second. With shared
    // memory, Qt's X11 backing store makes a round trip to the X server before painting over pixels it
    // shared last time, so that every repaint waits for the server; sending the few changed pixels
    // through the socket costs the program and the server about half as much.
    g_setNoShm = !qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM");
    if (g_setNoShm) qputenv("QT_XCB_NO_MITSHM", "1");
    // Qt may reach for the bus at any moment from here on (the tray, the platform theme), and libdbus
    // reads the address once: this stays set for the program's life, and programs it starts get the
    // environment without it (UserEnvironment).
    g_setSessionBus = ::getenv(kSessionBusVariable) == nullptr;
    if (g_setSessionBus) qputenv(kSessionBusVariable, SessionBusAddress());
    KeepLibrariesQuiet();
}

QProcessEnvironment UserEnvironment() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (g_setSessionBus) env.remove(QString::fromLatin1(kSessionBusVariable));
    return env;
}

void KeepLibrariesQuiet() { qInstallMessageHandler(Quiet); }

void DesktopSessionStarted() {
    if (g_setNoShm) qunsetenv("QT_XCB_NO_MITSHM");
    // A mail program started from the clock chooses its own platform, Wayland included.
    if (g_setPlatform) qunsetenv("QT_QPA_PLATFORM");
    g_setNoShm = g_setPlatform = false;
}

void UseJapaneseFont() {
    const QStringList installed = QFontDatabase::families();
    for (const QString& family : {QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic"),
                                  QStringLiteral("Noto Sans CJK JP"), QStringLiteral("VL PGothic")}) {
        if (installed.contains(family)) {
            QFont font(family);
            font.setPointSize(9);
            QApplication::setFont(font);
            return;
        }
    }
}

}  // namespace platform
