// Vellumine: a desk clock that floats above other windows, with a POP3 mail watcher.
#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFont>
#include <QFontDatabase>

#include <cstdio>
#include <vector>

#include "app/forms.h"
#include "core/program.h"
#include "core/qt_event_loop.h"
#include "platform/desktop.h"
#include "platform/process.h"

namespace {

// The clock takes no arguments, so any argument is a question (--help, --version) or a mistake.
// Both are answered on the terminal without a display, and the clock does not start.
int AnswerCommandLine(int argc, char** argv) {
    // The usage names the command as people type it, not the installed path the launcher runs.
    std::vector<char*> args(argv, argv + argc);
    char name[] = "vellumine";
    args[0] = name;
    platform::KeepLibrariesQuiet();
    QCoreApplication app(argc, args.data());
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A desk clock that floats above other windows and watches a POP3 mailbox.\n"
        "Without options it starts the clock; see vellumine(1)."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version."));
    parser.addOption(help);
    parser.addOption(version);

    QString error;
    if (!parser.parse(app.arguments())) {
        error = parser.errorText();
    } else if (!parser.positionalArguments().isEmpty()) {
        error = QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().first());
    } else if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    } else if (parser.isSet(version)) {
        std::printf("vellumine %s\n", VELLUMINE_VERSION);
        return 0;
    } else {
        error = QStringLiteral("No option given.");  // "--" alone
    }
    std::fprintf(stderr, "vellumine: %s\n\n%s", qPrintable(error), qPrintable(parser.helpText()));
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) return AnswerCommandLine(argc, argv);

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
