// The clock pictures as the program will load them from its folder: sizes, a dial the run-time
// hands read well on, and a house that stays put while the bird and the cat do their turns.
#include "art_checks.h"

#include <QPoint>
#include <QPointF>

#include <cmath>
#include <functional>
#include <map>
#include <numbers>
#include <set>

#include <gtest/gtest.h>

using namespace artchecks;

namespace {

const QPoint kCentre(50, 40);
const QRgb kWindowGrey = qRgb(64, 64, 64);
const QStringList kClockFrames = {"Watch.gif", "Bird1.gif", "Bird2.gif", "Bird3.gif",
                                  "cat1.gif",  "cat2.gif",  "cat3.gif",  "cat4.gif"};

bool within(QPoint p, double radius) {
    const double dx = p.x() - kCentre.x(), dy = p.y() - kCentre.y();
    return dx * dx + dy * dy <= radius * radius;
}

// Pixels of b that differ from a, for reporting.
int differences(const QImage& a, const QImage& b, const std::function<bool(QPoint)>& where) {
    int count = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (where({x, y}) && a.pixel(x, y) != b.pixel(x, y)) ++count;
    return count;
}

class ClockPictures : public ::testing::Test {
protected:
    void SetUp() override {
        for (const QString& name : kClockFrames) {
            frames[name] = load(pictureFile(name));
            ASSERT_FALSE(frames[name].isNull()) << name.toStdString() << " missing or unreadable";
        }
        watch = frames["Watch.gif"];
    }
    std::map<QString, QImage> frames;
    QImage watch;
};

}  // namespace

TEST_F(ClockPictures, AreAllOneHundredSquareOnTheWindowGrey) {
    for (const auto& [name, image] : frames) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(image.size(), QSize(100, 100));
        // The bottom corners are clear of every show; the window's grey continues into them.
        EXPECT_EQ(image.pixel(0, 99), kWindowGrey);
        EXPECT_EQ(image.pixel(99, 99), kWindowGrey);
    }
}

TEST_F(ClockPictures, DialIsDarkEnoughForYellowAndWhiteHands) {
    // Everywhere the hands pass short of the tick ring, yellow and white must stand out clearly.
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 100; ++x) {
            if (!within({x, y}, 9.0)) continue;
            const QRgb face = watch.pixel(x, y);
            ASSERT_GE(contrastRatio(face, qRgb(255, 255, 0)), 7.0) << x << "," << y;
            ASSERT_GE(contrastRatio(face, qRgb(255, 255, 255)), 7.0) << x << "," << y;
        }
    }
}

TEST_F(ClockPictures, DialIsCentredOnTheHandsPivot) {
    // Walking out from the pivot, the blue face gives way to the brass ring (red above blue) at
    // the same distance in all four directions, between 12 and 15 pixels.
    auto reachRing = [&](int dx, int dy) {
        for (int r = 1; r < 20; ++r) {
            const QRgb c = watch.pixel(kCentre.x() + dx * r, kCentre.y() + dy * r);
            if (qRed(c) > qBlue(c)) return r;
        }
        return -1;
    };
    const int left = reachRing(-1, 0), right = reachRing(1, 0), up = reachRing(0, -1), down = reachRing(0, 1);
    EXPECT_EQ(left, right);
    EXPECT_EQ(up, down);
    EXPECT_EQ(left, up);
    EXPECT_GE(left, 12);
    EXPECT_LE(left, 15);
}

TEST_F(ClockPictures, DialHasTwelveTicks) {
    // Light pixels inside the face, grouped by the hour they point at.
    std::set<int> hours;
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 100; ++x) {
            if (!within({x, y}, 12.0) || relativeLuminance(watch.pixel(x, y)) < 0.25) continue;
            const double angle = std::atan2(x - kCentre.x(), kCentre.y() - y) * 180 / std::numbers::pi;
            const int hour = static_cast<int>(std::lround((angle < 0 ? angle + 360 : angle) / 30)) % 12;
            EXPECT_LT(std::abs(std::remainder(angle - hour * 30, 360.0)), 10.0) << "stray light pixel " << x << "," << y;
            hours.insert(hour);
        }
    }
    EXPECT_EQ(hours.size(), 12u);
}

TEST_F(ClockPictures, HouseAndDialStayPutInEveryFrame) {
    for (const auto& [name, image] : frames) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(differences(watch, image, [](QPoint p) { return within(p, 15.5); }), 0)
            << "the dial and its ring must be the same pixels as in Watch.gif";
    }
    // The bird stays up in the gable: below the top of the dial nothing changes.
    for (const QString name : {"Bird1.gif", "Bird2.gif", "Bird3.gif"})
        EXPECT_EQ(differences(watch, frames[name], [](QPoint p) { return p.y() >= 26; }), 0) << name.toStdString();
}

TEST_F(ClockPictures, EveryFrameOfAShowIsItsOwnPicture) {
    for (auto a = frames.begin(); a != frames.end(); ++a)
        for (auto b = std::next(a); b != frames.end(); ++b)
            EXPECT_GT(differences(a->second, b->second, [](QPoint) { return true; }), 20)
                << a->first.toStdString() << " vs " << b->first.toStdString();
}

TEST_F(ClockPictures, CatShowMovesDownTheHouse) {
    // Where each cat frame differs from the plain house, on average: over the roof, beside the dial,
    // then in front, lower down.
    auto centreOfChange = [&](const QString& name) {
        double sx = 0, sy = 0;
        int n = 0;
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 100; ++x)
                if (watch.pixel(x, y) != frames[name].pixel(x, y)) sx += x, sy += y, ++n;
        return QPointF(sx / n, sy / n);
    };
    const QPointF roof = centreOfChange("cat4.gif"), side = centreOfChange("cat3.gif"),
                  sitting = centreOfChange("cat2.gif"), waving = centreOfChange("cat1.gif");
    EXPECT_LT(roof.y(), 27) << "cat4 peeks over the roof";
    EXPECT_GT(side.x(), kCentre.x() + 15) << "cat3 is beside the dial";
    EXPECT_LT(roof.y(), side.y());
    EXPECT_LT(side.y(), sitting.y());
    EXPECT_GT(sitting.y(), 60) << "cat2 sits in front, below the dial";
    EXPECT_NEAR(sitting.y(), waving.y(), 8);
}

TEST(Lamps, AreRoundGreenAndRedOnTheStripsOwnColours) {
    const QImage green = load(pictureFile("Green.gif")), red = load(pictureFile("Red.gif"));
    const QImage strip = load(QStringLiteral(":/mainform/Picture5.png"));
    ASSERT_FALSE(green.isNull());
    ASSERT_FALSE(red.isNull());
    ASSERT_FALSE(strip.isNull());
    for (const QImage* lamp : {&green, &red}) {
        EXPECT_EQ(lamp->size(), QSize(16, 16));
        // The lamp sits on the strip at (0, 0): its corners must be the strip's own pixels.
        for (QPoint corner : {QPoint(0, 0), QPoint(15, 0), QPoint(0, 15), QPoint(15, 15)})
            EXPECT_EQ(lamp->pixel(corner), strip.pixel(corner)) << corner.x() << "," << corner.y();
    }
    const QRgb g = green.pixel(8, 9), r = red.pixel(8, 9);
    EXPECT_GT(qGreen(g), qRed(g) + 60);
    EXPECT_GT(qGreen(g), qBlue(g) + 60);
    EXPECT_GT(qRed(r), qGreen(r) + 60);
    EXPECT_GT(qRed(r), qBlue(r) + 60);
    // A highlight up and to the left is brighter than the body of the glass.
    for (const QImage* lamp : {&green, &red}) {
        double brightest = 0;
        for (int y = 3; y < 8; ++y)
            for (int x = 3; x < 8; ++x) brightest = std::max(brightest, relativeLuminance(lamp->pixel(x, y)));
        EXPECT_GT(brightest, relativeLuminance(lamp->pixel(8, 9)) * 1.5);
    }
    // Green.gif is the lamp's first picture in the program too.
    EXPECT_EQ(load(QStringLiteral(":/mainform/Image1.png")), green);
}
