#include "platform/desktop.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>

namespace platform {

namespace {
void Quiet(QtMsgType, const QMessageLogContext&, const QString&) {}
bool g_setNoShm = false;
bool g_setPlatform = false;
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
    KeepLibrariesQuiet();
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
