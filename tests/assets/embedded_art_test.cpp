// The pictures compiled into the program: present without any explicit initialisation (they live
// in a static library, where unreferenced resources are easily lost), the right sizes, and the
// same pixels as the files they stand for.
#include "art_checks.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace artchecks;

TEST(EmbeddedArt, EveryResourceIsLinkedInAndDecodes) {
    const std::pair<const char*, QSize> expected[] = {
        {":/mainform/icon.png", {32, 32}},      {":/mainform/picMain.png", {100, 100}},
        {":/mainform/Picture5.png", {113, 20}}, {":/mainform/Image1.png", {16, 16}},
        {":/mainform/Picture1.png", {22, 22}},  {":/mainform/Picture7.png", {22, 22}},
        {":/mainform/Picture8.png", {22, 22}},  {":/mainform/Picture10.png", {22, 22}},
    };
    for (const auto& [path, size] : expected) {
        SCOPED_TRACE(path);
        ASSERT_TRUE(QFile::exists(path));
        const QImage image = load(path);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.size(), size);
    }
    for (int i = 0; i < 8; ++i) {
        const QString path = QStringLiteral(":/ghostcat/Picture1_%1.png").arg(i);
        ASSERT_TRUE(QFile::exists(path)) << path.toStdString();
        EXPECT_EQ(load(path).size(), QSize(100, 100));
    }
}

TEST(EmbeddedArt, DesignTimeClockIsTheRunTimeClock) {
    const QImage watch = load(pictureFile("Watch.gif"));
    ASSERT_FALSE(watch.isNull());
    EXPECT_EQ(load(":/mainform/picMain.png"), watch);
}

TEST(EmbeddedArt, IconAndSmallPicturesAreDrawnOnClearBackgrounds) {
    for (const char* path : {":/mainform/icon.png", ":/mainform/Picture1.png", ":/mainform/Picture7.png",
                             ":/mainform/Picture8.png", ":/mainform/Picture10.png"}) {
        SCOPED_TRACE(path);
        const QImage image = load(path);
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << "a corner should be see-through";
        int opaque = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) opaque += qAlpha(image.pixel(x, y)) == 255;
        EXPECT_GT(opaque, image.width() * image.height() / 4) << "the picture should fill a good part of its square";
    }
    // The icon is the little house: warm wood in its middle.
    const QRgb wall = load(":/mainform/icon.png").pixel(9, 24);
    EXPECT_GT(qRed(wall), qBlue(wall) + 40);
}

TEST(EmbeddedArt, StripIsCalmAndDarkForALightTicker) {
    const QImage strip = load(":/mainform/Picture5.png");
    ASSERT_EQ(strip.size(), QSize(113, 20));
    // Against the text's light colour every pixel of the strip keeps a strong contrast, and the
    // board has no busy pattern: its brightness hardly varies.
    const QRgb text = qRgb(240, 232, 208);
    double sum = 0, sumSquares = 0;
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 113; ++x) {
            const QRgb c = strip.pixel(x, y);
            EXPECT_EQ(qAlpha(c), 255);
            EXPECT_GE(contrastRatio(c, text), 7.0) << x << "," << y;
            const double l = relativeLuminance(c);
            sum += l;
            sumSquares += l * l;
        }
    }
    const double n = 113 * 20, mean = sum / n;
    EXPECT_LT(std::sqrt(sumSquares / n - mean * mean), 0.02);
}
