// The wake-up floor for the idle benchmark: a Qt program connected to the X server whose only work is
// a 20 ms timer that does nothing. Whatever the clock costs beyond this is its own doing.
#include <QApplication>
#include <QTimer>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [] {});
    timer.start(20);
    return app.exec();
}
