#include <gtest/gtest.h>

#include <QBuffer>
#include <QImageWriter>

#include "app/forms.h"
#include "app/main_form.h"
#include "clock/clock_face.h"
#include "core/program.h"
#include "support/program_fixture.h"

using clockface::HandsAt;
using testsupport::ProgramTest;

TEST(ClockHands, WorkedEndPoints) {
    struct Case {
        QTime time;
        int hourAngle, minuteAngle, secondAngle;
        QPoint hour, minute, second;
    };
    const Case cases[] = {
        {QTime(3, 0, 0), 90, 0, 0, {59, 40}, {50, 30}, {50, 29}},
        {QTime(12, 0, 0), 0, 0, 0, {50, 31}, {50, 30}, {50, 29}},
        {QTime(0, 0, 0), 0, 0, 0, {50, 31}, {50, 30}, {50, 29}},
        {QTime(9, 0, 0), 270, 0, 0, {41, 40}, {50, 30}, {50, 29}},
        {QTime(10, 10, 30), 305, 60, 180, {43, 35}, {59, 35}, {50, 51}},
        {QTime(15, 45, 15), 112, 270, 90, {58, 43}, {40, 40}, {61, 40}},
    };
    for (const Case& c : cases) {
        const auto h = HandsAt(c.time);
        const QString at = c.time.toString();
        EXPECT_EQ(h.hourAngle, c.hourAngle) << at.toStdString();
        EXPECT_EQ(h.minuteAngle, c.minuteAngle) << at.toStdString();
        EXPECT_EQ(h.secondAngle, c.secondAngle) << at.toStdString();
        EXPECT_EQ(h.hour, c.hour) << at.toStdString();
        EXPECT_EQ(h.minute, c.minute) << at.toStdString();
        EXPECT_EQ(h.second, c.second) << at.toStdString();
    }
}

TEST(ClockHands, HalfDegreesOfTheHourHandGoToTheEvenNeighbour) {
    EXPECT_EQ(HandsAt(QTime(9, 59)).hourAngle, 300);  // 299.5
    EXPECT_EQ(HandsAt(QTime(1, 1)).hourAngle, 30);    // 30.5
    EXPECT_EQ(HandsAt(QTime(1, 3)).hourAngle, 32);    // 31.5
    EXPECT_EQ(HandsAt(QTime(12, 30)).hourAngle, 15);
}

TEST(ClockText, SlicingByTheLengthOfTheTimeText) {
    auto t = clockface::SliceTime("9:05:07");
    EXPECT_EQ(t.minutesSeconds, "05:07");
    EXPECT_EQ(t.hour, "9");
    t = clockface::SliceTime("10:00:00");
    EXPECT_EQ(t.minutesSeconds, "00:00");
    EXPECT_EQ(t.hour, "10");
    t = clockface::SliceTime("0:00:00");
    EXPECT_EQ(t.minutesSeconds, "00:00");
    EXPECT_EQ(t.hour, "0");
}

namespace {

class RunningClock : public ProgramTest {
protected:
    // Distinct small pictures under the names the chime loads, so a test can tell them apart.
    void InstallPictures() {
        QDir().mkpath(folder.file("画像データ"));
        int shade = 10;
        for (const char* name : {"Watch", "Bird1", "Bird2", "Bird3"}) {
            QImage img(100, 100, QImage::Format_RGB32);
            img.fill(QColor(shade, shade, shade));
            shade += 40;
            QByteArray bytes;
            QBuffer buf(&bytes);
            buf.open(QIODevice::WriteOnly);
            img.save(&buf, "PNG");  // read by content, whatever the name says
            folder.write(QStringLiteral("画像データ/%1.gif").arg(name), bytes);
        }
    }
};

}  // namespace

TEST_F(RunningClock, TicksWriteTheDigitalTimeAndDrawTheHands) {
    StartAt(QDateTime(QDate(2026, 12, 8), QTime(9, 5, 6, 500)));
    MainForm& main = forms::MainForm();
    loop->RunFor(1000);  // the first second tick lands at 9:05:07.5
    EXPECT_EQ(main.Text3.Text(), "9:05:07");
    EXPECT_EQ(main.Text6.Text(), "05:07");
    EXPECT_EQ(main.Text9.Text(), "9");
    EXPECT_EQ(prog::ChimeHour, 9);

    // Hour, minute, second hand, in that order, the second hand white and last.
    const auto h = HandsAt(QTime(9, 5, 7));
    using S = core::PictureBox::Stroke;
    const std::vector<S> expected = {S{50, 40, h.hour.x(), h.hour.y(), qRgb(255, 255, 0)},
                                     S{50, 40, h.minute.x(), h.minute.y(), qRgb(255, 255, 0)},
                                     S{50, 40, h.second.x(), h.second.y(), qRgb(255, 255, 255)}};
    EXPECT_EQ(main.picMain.Strokes(), expected);
    // And they are on screen: the second hand's end pixel is white.
    EXPECT_EQ(main.picMain.Snapshot().pixel(h.second), qRgb(255, 255, 255));
}

TEST_F(RunningClock, TheHourRunsTheChimeOnlyAtMinuteAndSecondZero) {
    InstallPictures();
    StartAt(QDateTime(QDate(2026, 12, 8), QTime(9, 59, 59, 500)));
    MainForm& main = forms::MainForm();
    loop->RunFor(1000);  // tick at 10:00:00.5 runs ten cycles inside itself
    EXPECT_EQ(main.Text6.Text(), "00:00");
    EXPECT_EQ(main.Text9.Text(), "10");
    // Ten cycles of 50 + 50 + 1000 ms (each wait a little longer than asked).
    EXPECT_GE(loop->Elapsed(), 1000 + 10 * 1100);
    EXPECT_LE(loop->Elapsed(), 1000 + 10 * 1100 + 100);
    EXPECT_TRUE(main.picMain.PictureSource().endsWith("Watch.gif"));
}

TEST_F(RunningClock, MidnightRunsTheChimeWithNoCycle) {
    InstallPictures();
    StartAt(QDateTime(QDate(2026, 12, 8), QTime(23, 59, 59, 500)));
    MainForm& main = forms::MainForm();
    loop->RunFor(1000);
    EXPECT_EQ(main.Text3.Text(), "0:00:00");
    EXPECT_EQ(prog::ChimeHour, 0);
    EXPECT_LT(loop->Elapsed(), 1100);
    EXPECT_TRUE(main.picMain.PictureSource().isEmpty());  // still the stored picture
}
