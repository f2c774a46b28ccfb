#include "core/qt_event_loop.h"

#include <QCoreApplication>
#include <QTimerEvent>
#include <algorithm>
#include <chrono>
#include <limits>

#include "core/beside.h"
#include "platform/clock.h"

namespace core {

namespace {

// The grid a timer's ticks fall on: the largest of these that divides its interval. With the
// program's intervals (20, 100, 200 and 1000 ms) every tick falls on a tick of the 20 ms ticker.
int Grain(int intervalMs) {
    for (int g : {20, 10, 5})
        if (intervalMs % g == 0) return g;
    return 1;
}

// Posted to look at the check beside the program after the events that might have ended its wait.
const QEvent::Type kLookBeside = QEvent::Type(QEvent::registerEventType());
// Posted to run the work posted to the loop.
const QEvent::Type kRunPosted = QEvent::Type(QEvent::registerEventType());

int64_t SteadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

QtEventLoop::QtEventLoop() : epoch_(SteadyMs()) {
    wake_.setSingleShot(true);
    wake_.setTimerType(Qt::PreciseTimer);
    besideTimer_.setSingleShot(true);
    besideTimer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&besideTimer_, &QTimer::timeout, this, [this] { LookBeside(); });
}

QtEventLoop::~QtEventLoop() {
    if (watching_) QCoreApplication::instance()->removeEventFilter(this);
}

uint32_t QtEventLoop::TimeGetTime() { return platform::timeGetTime(); }

QDateTime QtEventLoop::Now() { return platform::LocalNow(); }

QTime QtEventLoop::TimeOfDay() {
    // Reading the local time asks the C library to look at the time zone file again. The local time
    // of day moves with the system clock within a second (zone offsets change only between whole
    // seconds), so it is read once a second and counted on from there.
    using namespace std::chrono;
    const int64_t ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    const int64_t second = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    if (second != timeOfDaySecond_) {
        timeOfDay_ = Now().time();
        timeOfDaySecond_ = second;
        timeOfDayMs_ = ms;
    }
    return timeOfDay_.addMSecs(int(ms - timeOfDayMs_));
}

int64_t QtEventLoop::NowMs() { return SteadyMs(); }

void QtEventLoop::DoEvents(uint32_t mayWaitMs) {
    // A wait inside a tick: the timer whose event is being handled cannot fire again until it returns.
    if (timerId_ != 0 && timerId_ == handlingId_) Arm();
    if (mayWaitMs == 0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        return;
    }
    // Sleep until an event arrives, but no longer than the caller can afford; a tick due before then
    // ends the sleep by itself.
    const int64_t limit = NowMs() + int64_t(mayWaitMs);
    const bool bounded = NextDeadline() > limit;
    if (bounded) wake_.start(int(std::min<uint32_t>(mayWaitMs, 1u << 30)));
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    if (bounded) wake_.stop();
}

std::unique_ptr<TimerSource> QtEventLoop::CreateTimer(std::function<void()> onTick) {
    return schedule_.Add(std::move(onTick), *this);
}

int64_t QtEventLoop::FirstDue(int intervalMs) {
    const int grain = Grain(intervalMs);
    const int64_t first = NowMs() + intervalMs - epoch_;
    return epoch_ + (first + grain - 1) / grain * grain;
}

int64_t QtEventLoop::NextDeadline() const { return schedule_.NextDeadline(); }

void QtEventLoop::Arm() {
    const int64_t deadline = NextDeadline();
    if (timerId_ != 0 && deadline == armedFor_ && timerId_ != handlingId_) return;
    if (timerId_ != 0) killTimer(timerId_);
    timerId_ = 0;
    if (deadline == std::numeric_limits<int64_t>::max()) return;
    armedFor_ = deadline;
    armedEvery_ = int(std::clamp<int64_t>(deadline - NowMs(), 0, 1 << 30));
    timerId_ = startTimer(armedEvery_, Qt::PreciseTimer);
}

void QtEventLoop::timerEvent(QTimerEvent* e) {
    if (e->timerId() != timerId_) return;
    // The Qt timer repeats at the interval it was set with; while that keeps meeting the next
    // deadline it is left running rather than set again at every wake-up.
    armedFor_ += armedEvery_;
    const int outer = handlingId_;
    handlingId_ = e->timerId();
    FireDue();
    handlingId_ = outer;
    Arm();
}

void QtEventLoop::FireDue() {
    // A wake-up a millisecond early still serves the ticks due then rather than making another.
    const int64_t now = NowMs() + 1;
    schedule_.FireDue([now] { return now; },
                      [this](TickSource& s) {
                          // Ticks that fell due while the handler ran are dropped, not delivered in a burst.
                          if (s.active) s.SkipPast(NowMs());
                      });
}

void QtEventLoop::BesideWaits() { WatchBeside(true); }

void QtEventLoop::WatchBeside(bool newWait) {
    const int64_t left = beside::LeftMs();
    if (left == std::numeric_limits<int64_t>::max())
        besideTimer_.stop();
    else if (newWait || !besideTimer_.isActive())
        besideTimer_.start(int(std::min<int64_t>(left, 1 << 30)));
    const bool watch = beside::WaitingOnEvents();
    if (watch == watching_) return;
    watching_ = watch;
    if (watch)
        QCoreApplication::instance()->installEventFilter(this);
    else
        QCoreApplication::instance()->removeEventFilter(this);
}

void QtEventLoop::LookBeside() {
    beside::Serve();
    WatchBeside(false);
}

bool QtEventLoop::eventFilter(QObject*, QEvent* e) {
    // The event is handled after this returns; the look comes after it.
    if (!lookPosted_ && e->type() != kLookBeside) {
        lookPosted_ = true;
        QCoreApplication::postEvent(this, new QEvent(kLookBeside));
    }
    return false;
}

void QtEventLoop::Posted() { QCoreApplication::postEvent(this, new QEvent(kRunPosted)); }

bool QtEventLoop::event(QEvent* e) {
    if (e->type() == kRunPosted) {
        RunPosted();
        // Posted work, or a nudge, may have ended a wait beside.
        LookBeside();
        return true;
    }
    if (e->type() != kLookBeside) return QObject::event(e);
    lookPosted_ = false;
    if (watching_) LookBeside();
    return true;
}

}  // namespace core
