#include "platform/desktop.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>

namespace platform {

namespace {
void Quiet(QtMsgType, const QMessageLogContext&, const QString&) {}
}  // namespace

void PrepareDesktopSession() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "xcb");
    qInstallMessageHandler(Quiet);
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
