// The clock face: hands over the picture every 100 ms, the digital time and the hourly chime trigger
// every second.
#include <cmath>

#include "app/main_form.h"
#include "clock/clock_face.h"
#include "core/event_loop.h"
#include "core/numbers.h"
#include "core/program.h"

namespace clockface {

namespace {
// 3.141592 / 180: the factor the hands have always been drawn with; the end points depend on it.
constexpr double kDegreesToRadians = 0.01745328888888889;
}  // namespace

QPoint HandEnd(double angle, int length) {
    const double t = (90 - angle) * kDegreesToRadians;
    return QPoint(kCentre.x() + int(core::RoundHalfEven(std::cos(t) * length)),
                  kCentre.y() + int(core::RoundHalfEven(std::sin(t) * -length)));
}

Hands HandsAt(const QTime& time) {
    const int hour = time.hour(), minute = time.minute(), second = time.second();
    Hands h;
    h.hourAngle = int(core::RoundHalfEven((hour % 12) * 30 + minute / 2.0));
    h.minuteAngle = minute * 6;
    h.secondAngle = second * 6;
    h.hour = HandEnd(h.hourAngle, kHourLength);
    h.minute = HandEnd(h.minuteAngle, kMinuteLength);
    h.second = HandEnd(h.secondAngle, kSecondLength);
    return h;
}

TimeTexts SliceTime(const QString& timeText) {
    TimeTexts t;
    t.full = timeText;
    if (timeText.size() < 8) {
        t.minutesSeconds = timeText.mid(2, 5);
        t.hour = timeText.mid(0, 1);
    } else {
        t.minutesSeconds = timeText.mid(3, 5);
        t.hour = timeText.mid(0, 2);
    }
    return t;
}

}  // namespace clockface

void MainForm::Timer6_Timer() {
    const clockface::Hands h = clockface::HandsAt(core::Loop().TimeOfDay());
    const QColor yellow(255, 255, 0), white(255, 255, 255);
    picMain.Cls();
    picMain.Line(clockface::kCentre.x(), clockface::kCentre.y(), h.hour.x(), h.hour.y(), yellow);
    picMain.Line(clockface::kCentre.x(), clockface::kCentre.y(), h.minute.x(), h.minute.y(), yellow);
    picMain.Line(clockface::kCentre.x(), clockface::kCentre.y(), h.second.x(), h.second.y(), white);
    picMain.Refresh();
}

void MainForm::Timer7_Timer() {
    const clockface::TimeTexts t =
        clockface::SliceTime(core::Loop().Now().time().toString(QStringLiteral("H:mm:ss")));
    Text3.SetText(t.full);
    Text6.SetText(t.minutesSeconds);
    Text9.SetText(t.hour);
    prog::ChimeHour = t.hour.toInt();
    if (Text6.Text().trimmed() == QStringLiteral("00:00")) Command4_Click();
}
