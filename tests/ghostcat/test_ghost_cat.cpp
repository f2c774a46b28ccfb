#include <gtest/gtest.h>

#include <QCursor>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <cstring>
#include <deque>

#include "app/forms.h"
#include "core/random.h"
#include "core/screen.h"
#include "ghostcat/ghost_cat_form.h"
#include "platform/regions.h"
#include "support/program_fixture.h"

using testsupport::ProgramTest;

namespace {

// The region kept in a slot, back as a QRegion.
QRegion SlotRegion(const std::vector<unsigned char>& slot) {
    platform::RGNDATAHEADER h;
    std::memcpy(&h, slot.data(), sizeof h);
    EXPECT_EQ(h.dwSize, 32u);
    EXPECT_EQ(h.nRgnSize, h.nCount * 16u);
    EXPECT_LE(h.dwSize + h.nRgnSize, slot.size());
    QRegion r;
    for (uint32_t i = 0; i < h.nCount; ++i) {
        platform::RECT rc;
        std::memcpy(&rc, slot.data() + 32 + 16 * i, sizeof rc);
        r += QRect(rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top);
    }
    return r;
}

// What the window must show: every point of 0..100 x 0..100 not of the key colour of pixel (0, 0).
QRegion Expected(const QImage& img) {
    const QRgb key = img.pixel(0, 0) & 0xFFFFFF;
    QRegion r;
    for (int y = 0; y <= 100; ++y)
        for (int x = 0; x <= 100; ++x) {
            const bool inside = x < img.width() && y < img.height();
            if (!inside || (img.pixel(x, y) & 0xFFFFFF) != key) r += QRect(x, y, 1, 1);
        }
    return r;
}

bool SameArea(const QRegion& a, const QRegion& b) { return (a ^ b).isEmpty(); }

QRegion MirrorInsidePicture(const QRegion& r) {
    QRegion m;
    for (const QRect& rc : r.intersected(QRect(0, 0, 100, 100)))
        m += QRect(100 - rc.right() - 1, rc.top(), rc.width(), rc.height());
    return m;
}

class GhostCatWindow : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        WriteServer("POP3=pop.example.org\r\n");
        WriteIdPass("[EXEINI]\r\nNAME=alice\r\nNAME2=secret\r\n");
        forms::MainForm();
    }
    void TearDown() override {
        core::SetRandomSource(nullptr);
        ProgramTest::TearDown();
    }
    // Random numbers from a list, then 0.5 for ever.
    void Randoms(std::initializer_list<double> values) {
        auto queue = std::make_shared<std::deque<double>>(values);
        core::SetRandomSource([queue] {
            if (queue->empty()) return 0.5;
            const double v = queue->front();
            queue->pop_front();
            return v;
        });
    }
};

}  // namespace

TEST_F(GhostCatWindow, StoredPicturesAreMirrorsAndCopiesOnSilver) {
    Form1& cat = forms::Form1();
    for (int k = 0; k < 8; ++k) {
        ASSERT_EQ(cat.Picture1[k].size(), QSize(100, 100)) << k;
        EXPECT_EQ(cat.Picture1[k].pixel(0, 0) & 0xFFFFFF, 0xC0C0C0u) << k;
    }
    EXPECT_NE(cat.Picture1[0], cat.Picture1[1]);
    EXPECT_EQ(cat.Picture1[2], cat.Picture1[0].mirrored(true, false));
    EXPECT_EQ(cat.Picture1[3], cat.Picture1[1].mirrored(true, false));
    for (int k = 0; k < 4; ++k) EXPECT_EQ(cat.Picture1[k + 4], cat.Picture1[k]);
}

TEST_F(GhostCatWindow, RegionsCoverExactlyTheCatPlusTheOutsideEdge) {
    Form1& cat = forms::Form1();
    for (int k = 0; k < 8; ++k) {
        const QRegion got = SlotRegion(cat.RegionSlots[k]);
        EXPECT_TRUE(SameArea(got, Expected(cat.Picture1[k]))) << k;
        // The cat shows and the silver does not: the sense of the mask is not inverted.
        EXPECT_FALSE(got.contains(QPoint(0, 0))) << k;
        EXPECT_TRUE(got.contains(QPoint(100, 0))) << k;
        EXPECT_TRUE(got.contains(QPoint(0, 100))) << k;
    }
    // Mirrored pictures give mirrored regions; copies give the same data.
    EXPECT_TRUE(SameArea(MirrorInsidePicture(SlotRegion(cat.RegionSlots[0])),
                         SlotRegion(cat.RegionSlots[2]).intersected(QRect(0, 0, 100, 100))));
    EXPECT_TRUE(SameArea(MirrorInsidePicture(SlotRegion(cat.RegionSlots[1])),
                         SlotRegion(cat.RegionSlots[3]).intersected(QRect(0, 0, 100, 100))));
    for (int k = 0; k < 4; ++k) EXPECT_EQ(cat.RegionSlots[k + 4], cat.RegionSlots[k]);
}

TEST_F(GhostCatWindow, KeyIsReadPerPictureAndHolesAreCutOut) {
    Form1& cat = forms::Form1();
    // 0: all key colour. 1: a red key with a blue ring whose middle is red again (a hole).
    QImage plain(100, 100, QImage::Format_RGB32);
    plain.fill(QColor(192, 192, 192));
    QImage ring(100, 100, QImage::Format_RGB32);
    ring.fill(Qt::red);
    {
        QPainter p(&ring);
        p.fillRect(20, 20, 40, 40, Qt::blue);
        p.fillRect(30, 30, 20, 20, Qt::red);
    }
    cat.Picture1[0] = plain;
    cat.Picture1[1] = ring;
    cat.BuildRegions();
    const QRegion edgeOnly = QRegion(100, 0, 1, 101) + QRegion(0, 100, 101, 1);
    EXPECT_TRUE(SameArea(SlotRegion(cat.RegionSlots[0]), edgeOnly));
    const QRegion ringRegion = SlotRegion(cat.RegionSlots[1]);
    EXPECT_TRUE(SameArea(ringRegion, (QRegion(20, 20, 40, 40) - QRegion(30, 30, 20, 20)) + edgeOnly));
    EXPECT_FALSE(ringRegion.contains(QPoint(40, 40)));  // the hole is see-through
}

TEST_F(GhostCatWindow, FrameIndexFollowsTheWalk) {
    // (steps left mod 2) + 2 (moving right) + 4 (moving up)
    EXPECT_EQ(Form1::FrameIndex(4, -30, 15), 0);
    EXPECT_EQ(Form1::FrameIndex(5, -30, 15), 1);
    EXPECT_EQ(Form1::FrameIndex(4, 0, 0), 0);  // standing still counts as left and down
    EXPECT_EQ(Form1::FrameIndex(3, 45, 0), 3);
    EXPECT_EQ(Form1::FrameIndex(2, 0, -1), 4);
    EXPECT_EQ(Form1::FrameIndex(1, -75, -75), 5);
    EXPECT_EQ(Form1::FrameIndex(0, 1, -1), 6);
    EXPECT_EQ(Form1::FrameIndex(25, 75, -75), 7);
}

TEST_F(GhostCatWindow, FirstTickAlwaysDrawsANewWalkThenAlternatesFrames) {
    // steps = round((0.5*10+3)*2) = 16; x = round((0.9*10-5)*15) = 60; y = round((0.1*10-5)*15) = -60
    Randoms({0.5, 0.9, 0.1});
    Form1& cat = forms::Form1();
    EXPECT_EQ(cat.StepX, -5);
    EXPECT_EQ(cat.StepY, -2);
    EXPECT_EQ(cat.StepsLeft, 0);
    cat.SetLeft(15 * 300);
    cat.SetTop(15 * 300);
    cat.Timer1_Timer();
    EXPECT_EQ(cat.StepsLeft, 15);
    EXPECT_EQ(cat.StepX, 60);
    EXPECT_EQ(cat.StepY, -60);
    EXPECT_EQ(cat.Left(), 15 * 304);
    EXPECT_EQ(cat.Top(), 15 * 296);
    // Right and up, odd steps left: frame 7; next tick frame 6.
    EXPECT_EQ(cat.Picture.Picture(), cat.Picture1[7]);
    EXPECT_TRUE(SameArea(cat.hWnd()->mask(), SlotRegion(cat.RegionSlots[7])));
    cat.Timer1_Timer();
    EXPECT_EQ(cat.Picture.Picture(), cat.Picture1[6]);
    EXPECT_EQ(cat.StepX, 60);  // the walk goes on
}

TEST_F(GhostCatWindow, StaysInsideTheScreenAtAllFourEdgesWithoutBouncing) {
    Form1& cat = forms::Form1();
    const int screenW = core::ScreenWidthTwips(), screenH = core::ScreenHeightTwips();
    auto walk = [&](int left, int top, int16_t stepX, int16_t stepY) {
        cat.SetLeft(left);
        cat.SetTop(top);
        cat.StepX = stepX;
        cat.StepY = stepY;
        cat.StepsLeft = 10;
        cat.Timer1_Timer();
    };
    walk(30, 30, -75, -75);  // top-left corner
    EXPECT_EQ(cat.Left(), 0);
    EXPECT_EQ(cat.Top(), 0);
    walk(screenW - 1500 - 15, screenH - 1500 - 15, 75, 75);  // bottom-right corner
    EXPECT_EQ(cat.Left(), screenW - 1500);
    EXPECT_EQ(cat.Top(), screenH - 1500);
    EXPECT_EQ(cat.StepX, 75);  // held at the edge, still walking the same way
    walk(screenW - 1500, 3000, 75, 0);
    EXPECT_EQ(cat.Left(), screenW - 1500);
    EXPECT_EQ(cat.Top(), 3000);  // sliding along the edge
}

TEST_F(GhostCatWindow, OpensAtThePointerAndTheFirstTickPullsItBackOnScreen) {
    QCursor::setPos(QGuiApplication::primaryScreen()->geometry().bottomRight() - QPoint(10, 10));
    Form1& cat = forms::Form1();
    EXPECT_EQ(cat.Left(), 15 * prog::CursorPoint.x);
    EXPECT_EQ(cat.Top(), 15 * prog::CursorPoint.y);
    cat.Timer1_Timer();
    EXPECT_LE(cat.Left() + 1500, core::ScreenWidthTwips());
    EXPECT_LE(cat.Top() + 1500, core::ScreenHeightTwips());
}

TEST_F(GhostCatWindow, RegionsHandedToTheWindowAreReleasedNotLeaked) {
    const int before = platform::LiveRegionCount();
    Form1& cat = forms::Form1();
    // Building keeps data, not regions; the window holds the one it came out with.
    EXPECT_EQ(platform::LiveRegionCount(), before + 1);
    EXPECT_TRUE(SameArea(cat.hWnd()->mask(), SlotRegion(cat.RegionSlots[0])));
    for (int i = 0; i < 50; ++i) cat.Timer1_Timer();
    EXPECT_EQ(platform::LiveRegionCount(), before + 1);  // only the window's current one
    forms::UnloadForm1();
    Settle();
    EXPECT_EQ(platform::LiveRegionCount(), before);
}

TEST_F(GhostCatWindow, TicksEveryTwoHundredMillisecondsUntilUnloaded) {
    Form1& cat = forms::Form1();
    cat.Show();
    cat.SetLeft(6000);
    cat.SetTop(6000);
    loop->RunFor(1000);
    EXPECT_NE(cat.hWnd()->mask(), QRegion());
    EXPECT_EQ(cat.StepsLeft >= 0, true);
    forms::UnloadForm1();
    Settle();
    EXPECT_FALSE(forms::Form1Loaded());
    loop->RunFor(1000);  // nothing ticks into a destroyed window
}

TEST_F(GhostCatWindow, RightButtonEndsTheProgramThroughTheNormalShutDown) {
    forms::MainForm().Text7.SetText("/usr/bin/claws-mail");
    Form1& cat = forms::Form1();
    bool ended = false;
    try {
        cat.Form_MouseDown(2, 0);
    } catch (const testsupport::ProcessEnded&) {
        ended = true;
    }
    EXPECT_TRUE(ended);
    EXPECT_TRUE(folder.read(IniName()).contains("NAME=/usr/bin/claws-mail\r\n"));
}

TEST_F(GhostCatWindow, MiddleButtonDoesNothing) {
    Form1& cat = forms::Form1();
    cat.Form_MouseDown(4, 0);
    EXPECT_TRUE(forms::Form1Loaded());
}
