// The ghost cat frames: the window is cut to exactly the non-silver pixels, so the key colour must
// be exact, the shape clean and whole, and the frames must be the mirrors and copies the program
// expects.
#include "art_checks.h"

#include <gtest/gtest.h>

#include <vector>

using namespace artchecks;

namespace {

const QRgb kSilver = qRgb(192, 192, 192);

class GhostCat : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < 8; ++i) {
            frames[i] = load(QStringLiteral(":/ghostcat/Picture1_%1.png").arg(i));
            ASSERT_EQ(frames[i].size(), QSize(100, 100)) << "frame " << i;
        }
    }
    static bool cat(const QImage& image, int x, int y) {
        return x >= 0 && y >= 0 && x < image.width() && y < image.height() && image.pixel(x, y) != kSilver;
    }
    QImage frames[8];
};

// Leftmost cat column's row and topmost cat row's column give where the head and tail are.
struct Extent {
    QPoint leftmost, rightmost, topmost, bottommost;
};

Extent extentOf(const QImage& image) {
    Extent e{{100, 0}, {-1, 0}, {0, 100}, {0, -1}};
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 100; ++x) {
            if (image.pixel(x, y) == kSilver) continue;
            if (x < e.leftmost.x()) e.leftmost = {x, y};
            if (x > e.rightmost.x()) e.rightmost = {x, y};
            if (y < e.topmost.y()) e.topmost = {x, y};
            if (y > e.bottommost.y()) e.bottommost = {x, y};
        }
    }
    return e;
}

int runsInRow(const QImage& image, int y) {
    int runs = 0;
    for (int x = 0; x < 100; ++x)
        if (image.pixel(x, y) != kSilver && (x == 0 || image.pixel(x - 1, y) == kSilver)) ++runs;
    return runs;
}

}  // namespace

TEST_F(GhostCat, FramesAreTheWalkMirroredAndRepeated) {
    EXPECT_NE(frames[0], frames[1]) << "a walk needs two different steps";
    EXPECT_EQ(frames[2], frames[0].mirrored(true, false));
    EXPECT_EQ(frames[3], frames[1].mirrored(true, false));
    for (int i = 4; i < 8; ++i) EXPECT_EQ(frames[i], frames[i - 4]) << "frame " << i;
}

TEST_F(GhostCat, BackgroundIsExactlySilverWithNoFringe) {
    for (int i = 0; i < 4; ++i) {
        const QImage& f = frames[i];
        EXPECT_EQ(f.pixel(0, 0), kSilver);
        EXPECT_EQ(f.pixel(99, 99), kSilver);
        for (int y = 0; y < 100; ++y) {
            for (int x = 0; x < 100; ++x) {
                const QRgb c = f.pixel(x, y);
                ASSERT_EQ(qAlpha(c), 255);
                // A blend of silver and the cat would show as a grey halo round the window.
                if (c != kSilver) {
                    ASSERT_GE(colourDistance(c, kSilver), 40.0) << "frame " << i << " at " << x << "," << y;
                }
            }
        }
    }
}

TEST_F(GhostCat, ShapeIsOneCleanPieceOfAPlausibleSize) {
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const QImage& f = frames[i];
        int area = 0, runs = 0;
        QPoint first(-1, -1);
        for (int y = 0; y < 100; ++y) {
            runs += runsInRow(f, y);
            for (int x = 0; x < 100; ++x) {
                if (!cat(f, x, y)) continue;
                ++area;
                if (first.x() < 0) first = {x, y};
                // No spurs or lone pixels: each pixel of the shape has at least two neighbours in it.
                const int neighbours = cat(f, x - 1, y) + cat(f, x + 1, y) + cat(f, x, y - 1) + cat(f, x, y + 1);
                EXPECT_GE(neighbours, 2) << x << "," << y;
            }
        }
        // Flood from the first cat pixel: it must reach all of them.
        ASSERT_GE(first.x(), 0) << "no cat at all";
        std::vector<bool> seen(100 * 100, false);
        std::vector<QPoint> stack{first};
        int reached = 0;
        seen[first.y() * 100 + first.x()] = true;
        while (!stack.empty()) {
            const QPoint p = stack.back();
            stack.pop_back();
            ++reached;
            for (QPoint d : {QPoint(1, 0), QPoint(-1, 0), QPoint(0, 1), QPoint(0, -1)}) {
                const QPoint q = p + d;
                if (cat(f, q.x(), q.y()) && !seen[q.y() * 100 + q.x()]) {
                    seen[q.y() * 100 + q.x()] = true;
                    stack.push_back(q);
                }
            }
        }
        EXPECT_EQ(reached, area) << "the cat must be one connected shape";
        EXPECT_GT(area, 1500) << "big enough to see";
        EXPECT_LT(area, 5000) << "a cat, not a blob filling the frame";
        EXPECT_LT(runs, 300) << "the window shape should stay simple";
    }
}

TEST_F(GhostCat, SilhouetteReadsAsAWalkingCatFacingLeft) {
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const Extent e = extentOf(frames[i]);
        EXPECT_LT(e.leftmost.y(), 55) << "the head leads, up front on the left";
        EXPECT_GT(e.topmost.x(), 60) << "the tail is up, at the back on the right";
        EXPECT_LT(e.topmost.y(), 25);
        EXPECT_GT(e.bottommost.y(), 70) << "standing on its legs";
        EXPECT_GT(e.rightmost.x() - e.leftmost.x(), 60) << "side on, longer than tall";
    }
    // Just above the ground: four separate paws in the stride, two pairs when the legs pass.
    const int ground = extentOf(frames[0]).bottommost.y();
    EXPECT_EQ(runsInRow(frames[0], ground - 3), 4);
    EXPECT_EQ(runsInRow(frames[1], extentOf(frames[1]).bottommost.y() - 3), 2);
    // Two pointed ears: the head's top row splits in two before joining.
    const Extent e = extentOf(frames[0]);
    bool twoEars = false;
    for (int y = 0; y < 100 && !twoEars; ++y) {
        int runsLeftOfBody = 0;
        for (int x = 0; x < 40; ++x)
            if (cat(frames[0], x, y) && !cat(frames[0], x - 1, y)) ++runsLeftOfBody;
        twoEars = runsLeftOfBody == 2 && y < e.leftmost.y();
    }
    EXPECT_TRUE(twoEars);
}

TEST_F(GhostCat, PaleBodyDarkOutlineGlowingEye) {
    const QImage& f = frames[0];
    int outline = 0, darkOutline = 0;
    double innerLuminance = 0;
    int inner = 0;
    bool glow = false;
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 100; ++x) {
            if (!cat(f, x, y)) continue;
            const QRgb c = f.pixel(x, y);
            const bool edge = !cat(f, x - 1, y) || !cat(f, x + 1, y) || !cat(f, x, y - 1) || !cat(f, x, y + 1);
            if (edge) {
                ++outline;
                darkOutline += relativeLuminance(c) < relativeLuminance(kSilver);
            } else {
                innerLuminance += relativeLuminance(c);
                ++inner;
            }
            // The eye: a cool green-white glow, found nowhere else on the cat.
            if (x < 30 && qGreen(c) > qRed(c) + 60 && qGreen(c) > 200) glow = true;
        }
    }
    EXPECT_EQ(darkOutline, outline) << "the outline is darker than the desktop key";
    EXPECT_GT(innerLuminance / inner, relativeLuminance(kSilver) * 1.4) << "the body is pale";
    EXPECT_TRUE(glow);
}
