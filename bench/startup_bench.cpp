// Start-up benchmark: starts the program exactly as main() does and prints how long it took from the
// moment the process was launched (passed in as nanoseconds since the epoch) until the clock face was
// first painted, and the resident memory a few seconds later.
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "app/forms.h"
#include "app/main_form.h"
#include "core/program.h"
#include "core/qt_event_loop.h"
#include "platform/desktop.h"
#include "platform/process.h"

namespace {

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

long ResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

// Reports the first paint of the clock face, and the first one with its hands on it.
class FirstPaint : public QObject {
public:
    int64_t launchedNs;
    const MainForm* main = nullptr;
    bool seen = false, seenHands = false;
    explicit FirstPaint(int64_t launched) : launchedNs(launched) {}
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() != QEvent::Paint) return false;
        const bool hands = main && !main->picMain.Strokes().empty();
        if (!seen || (hands && !seenHands)) {
            const char* what = hands ? "first painted clock with its hands" : "first painted clock face";
            seen = true;
            seenHands = seenHands || hands;
            // Measured after the paint handler has run: the next turn of the loop.
            QTimer::singleShot(0, [this, what] {
                std::printf("%s: %.1f ms after launch\n", what, (NowNs() - launchedNs) / 1e6);
                std::fflush(stdout);
            });
        }
        return false;
    }
};

}  // namespace

int main(int argc, char** argv) {
    const int64_t launched = argc > 1 ? std::stoll(argv[1]) : NowNs();
    const int settleMs = argc > 2 ? std::stoi(argv[2]) : 3000;
    platform::PrepareDesktopSession();
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    platform::DesktopSessionStarted();
    platform::UseJapaneseFont();
    core::QtEventLoop loop;
    core::SetLoop(&loop);
    prog::ResetProgramValues();
    core::SetProgramFolder(QString::fromStdString(platform::ExecutableFolder()));

    FirstPaint probe(launched);
    // Installed before the window exists, so that the very first paint is seen.
    app.installEventFilter(&probe);
    MainForm& main = forms::MainForm();
    app.removeEventFilter(&probe);
    probe.main = &main;
    main.picMain.widget()->installEventFilter(&probe);

    QTimer::singleShot(settleMs, [&] {
        std::printf("resident memory after %d ms: %.1f MB\n", settleMs, ResidentKb() / 1024.0);
        platform::EndProcess(0);
    });
    return app.exec();
}
