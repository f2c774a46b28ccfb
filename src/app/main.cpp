// Vellumine: a desk clock that floats above other windows, with a POP3 mail watcher.
#include <QApplication>
#include <QFont>
#include <QFontDatabase>

#include "app/forms.h"
#include "core/program.h"
#include "core/qt_event_loop.h"
#include "platform/desktop.h"
#include "platform/process.h"

int main(int argc, char** argv) {
    platform::PrepareDesktopSession();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vellumine"));
    // The program ends through its main window's unload, never by running out of windows.
    QApplication::setQuitOnLastWindowClosed(false);
    platform::DesktopSessionStarted();
    platform::UseJapaneseFont();

    core::QtEventLoop loop;
    core::SetLoop(&loop);
    prog::ResetProgramValues();
    core::SetProgramFolder(QString::fromStdString(platform::ExecutableFolder(argc > 0 ? argv[0] : nullptr)));

    forms::MainForm();  // creating it runs start-up
    return app.exec();
}
