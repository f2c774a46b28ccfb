#include <gtest/gtest.h>

#include <QCursor>
#include <QRegularExpression>

#include "app/forms.h"
#include "ghostcat/ghost_cat_form.h"
#include "platform/window.h"
#include "support/program_fixture.h"
#include "x11_probe.h"

using testsupport::ProgramTest;

namespace {

class GhostCatOnX11 : public ProgramTest {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != "xcb") GTEST_SKIP() << "needs an X server";
        ProgramTest::SetUp();
        WriteServer("POP3=pop.example.org\r\n");
        WriteIdPass("[EXEINI]\r\nNAME=alice\r\nNAME2=secret\r\n");
    }
};

}  // namespace

TEST_F(GhostCatOnX11, ShapedTopMostAndWandering) {
    QCursor::setPos(400, 300);
    forms::MainForm();
    Form1& cat = forms::Form1();
    cat.Show();
    // Walk right and down from a known place.
    cat.SetLeft(15 * 400);
    cat.SetTop(15 * 300);
    cat.StepsLeft = 10;
    cat.StepX = 45;
    cat.StepY = 30;
    cat.Timer1_Timer();
    QWidget* w = cat.hWnd();
    ASSERT_TRUE(x11probe::Until([&] { return w->isVisible() && w->pos() == QPoint(403, 302); }));

    // Above every other window, as the window manager records it; and no program of its own: out of
    // the task bar and the pager, asking for no attention.
    EXPECT_TRUE(x11probe::Until([&] { return x11probe::NetWmState(w).contains("_NET_WM_STATE_ABOVE"); }))
        << x11probe::NetWmState(w).toStdString();
    const QString state = x11probe::NetWmState(w);
    EXPECT_TRUE(state.contains("_NET_WM_STATE_SKIP_TASKBAR")) << state.toStdString();
    EXPECT_TRUE(state.contains("_NET_WM_STATE_SKIP_PAGER")) << state.toStdString();
    EXPECT_FALSE(state.contains("_NET_WM_STATE_DEMANDS_ATTENTION")) << state.toStdString();
    // The urgency bit (256) of WM_HINTS' flags.
    const QString hints = x11probe::Run("xprop", {"-id", x11probe::WindowId(w), "-f", "WM_HINTS", "32i", "=$0", "WM_HINTS"});
    bool read = false;
    const int flags = hints.section('=', 1).trimmed().toInt(&read);
    ASSERT_TRUE(read) << hints.toStdString();
    EXPECT_EQ(flags & 256, 0) << hints.toStdString();
    // It never takes the keyboard: the input hint (flag 1, then the field) says no, and it takes no
    // part in handing the focus over.
    const QString input = x11probe::Run("xprop", {"-id", x11probe::WindowId(w), "-f", "WM_HINTS", "32i", "=$0,$1", "WM_HINTS"});
    const QStringList inputFields = input.section('=', 1).trimmed().split(',');
    ASSERT_EQ(inputFields.size(), 2) << input.toStdString();
    EXPECT_EQ(inputFields[0].toInt() & 1, 1) << input.toStdString();
    EXPECT_EQ(inputFields[1].toInt(), 0) << input.toStdString();
    const QString protocols = x11probe::Run("xprop", {"-id", x11probe::WindowId(w), "WM_PROTOCOLS"});
    EXPECT_TRUE(protocols.contains("WM_DELETE_WINDOW")) << protocols.toStdString();
    EXPECT_FALSE(protocols.contains("WM_TAKE_FOCUS")) << protocols.toStdString();

    // On the screen: the cat's pixels show, the silver around it does not.
    const QImage frame = cat.Picture1[Form1::FrameIndex(cat.StepsLeft, cat.StepX, cat.StepY)];
    QPoint catPixel(-1, -1);
    for (int y = 0; y < 100 && catPixel.x() < 0; ++y)
        for (int x = 0; x < 100; ++x)
            if ((frame.pixel(x, y) & 0xFFFFFF) != 0xC0C0C0) {
                catPixel = QPoint(x, y);
                break;
            }
    ASSERT_GE(catPixel.x(), 0);
    const QPoint origin(403, 302);
    ASSERT_TRUE(x11probe::Until([&] {
        const QImage screen = x11probe::Screen();
        return screen.pixel(origin + catPixel) == frame.pixel(catPixel);
    }));
    const QImage screen = x11probe::Screen();
    EXPECT_NE(screen.pixel(origin) & 0xFFFFFF, 0xC0C0C0u);  // the corner is silver in the picture
    EXPECT_NE(screen.pixel(origin + QPoint(99, 0)) & 0xFFFFFF, 0xC0C0C0u);

    // The shape as the X server has it: the region's extents, one column and row past the picture.
    const QString info = x11probe::Run("xwininfo", {"-id", x11probe::WindowId(w), "-shape"});
    EXPECT_TRUE(info.contains(QRegularExpression("Window shape extents:\\s+101x101\\+0\\+0"))) << info.toStdString();

    // It goes on moving by itself, and each step puts it back on top of the other top-most windows
    // (the window manager keeps the band above the rest, not the order within it).
    QWidget* clock = forms::MainForm().hWnd();
    const auto stackedAbove = x11probe::StackedAbove;
    clock->raise();
    ASSERT_TRUE(x11probe::Until([&] { return stackedAbove(clock, w); }));
    loop->RunFor(1000);
    EXPECT_TRUE(x11probe::Until([&] { return w->pos() != origin; }));
    EXPECT_TRUE(x11probe::Until([&] { return stackedAbove(w, clock); })) << "the cat stayed under the clock";
}

TEST_F(GhostCatOnX11, LeftButtonDragsItWithTheMouse) {
    forms::MainForm();
    Form1& cat = forms::Form1();
    cat.Show();
    cat.SetLeft(15 * 500);
    cat.SetTop(15 * 400);
    cat.StepsLeft = 10;
    cat.StepX = 0;
    cat.StepY = 0;
    cat.Timer1_Timer();
    QWidget* w = cat.hWnd();
    ASSERT_TRUE(x11probe::Until([&] { return w->isVisible() && w->pos() == QPoint(500, 400); }));

    // Grab the cat by a pixel of its body and move the mouse by (60, 40) with the button held.
    const QImage frame = cat.Picture1[Form1::FrameIndex(cat.StepsLeft, cat.StepX, cat.StepY)];
    QPoint grip(-1, -1);
    for (int y = 40; y < 90 && grip.x() < 0; ++y)
        for (int x = 20; x < 80; ++x)
            if ((frame.pixel(x, y) & 0xFFFFFF) != 0xC0C0C0) {
                grip = QPoint(x, y);
                break;
            }
    ASSERT_GE(grip.x(), 0);
    const QPoint from = QPoint(500, 400) + grip, to = from + QPoint(60, 40);
    QProcess mouse;
    mouse.start("xdotool", {"mousemove", QString::number(from.x()), QString::number(from.y()), "sleep", "0.3",
                            "mousedown", "1", "sleep", "0.3", "mousemove", QString::number(from.x() + 30),
                            QString::number(from.y() + 20), "sleep", "0.2", "mousemove", QString::number(to.x()),
                            QString::number(to.y()), "sleep", "0.3", "mouseup", "1"});
    ASSERT_TRUE(x11probe::Until([&] { return mouse.state() == QProcess::NotRunning; }));
    EXPECT_TRUE(x11probe::Until([&] { return w->pos() == QPoint(560, 440); }))
        << w->pos().x() << "," << w->pos().y();
}

TEST_F(GhostCatOnX11, AsksWhetherTheWindowManagerRestacksOncePerManager) {
    QWidget* clock = forms::MainForm().hWnd();
    Form1& cat = forms::Form1();
    cat.Show();
    QWidget* w = cat.hWnd();
    ASSERT_TRUE(x11probe::Until([&] { return w->isVisible(); }));
    auto walk = [&](int steps) {
        for (int i = 0; i < steps; ++i) {
            cat.Timer1_Timer();
            QCoreApplication::processEvents();
        }
    };
    walk(10);
    EXPECT_EQ(platform::WindowManagerQuestions(), 1);

    // Another window manager takes over; once it has settled, the first step asks it, and no other.
    const QString before = x11probe::Run("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"});
    QProcess other;
    other.start("openbox", {"--replace", "--sm-disable"});
    ASSERT_TRUE(x11probe::Until([&] {
        const QString now = x11probe::Run("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"});
        return now.contains('#') && now != before &&
               x11probe::Run("xprop", {"-root", "_NET_SUPPORTED"}).contains("_NET_RESTACK_WINDOW");
    })) << "no new window manager";
    int looks = 0;
    x11probe::Until([&] { return ++looks == 10; });  // the X server's news of it delivered
    walk(10);
    EXPECT_EQ(platform::WindowManagerQuestions(), 2);
    // And its answer is used: the cat's steps put it back over the clock.
    clock->raise();
    ASSERT_TRUE(x11probe::Until([&] { return x11probe::StackedAbove(clock, w); }));
    walk(1);
    EXPECT_TRUE(x11probe::Until([&] { return x11probe::StackedAbove(w, clock); })) << "the cat stayed under the clock";
    other.kill();
    other.waitForFinished();
}
