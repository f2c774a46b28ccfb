#pragma once
// Clock geometry: where the hands end for a time of day, and how the time text is sliced.
#include <QPoint>
#include <QString>
#include <QTime>

namespace clockface {

inline constexpr QPoint kCentre{50, 40};
inline constexpr int kHourLength = 9;
inline constexpr int kMinuteLength = 10;
inline constexpr int kSecondLength = 11;

// End point of a hand of the given length at an angle in degrees, clockwise from 12 o'clock.
QPoint HandEnd(double angle, int length);

struct Hands {
    int hourAngle, minuteAngle, secondAngle;
    QPoint hour, minute, second;
};
Hands HandsAt(const QTime& time);

struct TimeTexts {
    QString full;            // H:mm:ss
    QString minutesSeconds;  // mm:ss
    QString hour;            // H or HH
};
TimeTexts SliceTime(const QString& timeText);

}  // namespace clockface
