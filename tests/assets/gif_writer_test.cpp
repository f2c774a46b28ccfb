// The GIF writer must produce files that a real decoder (Qt's) reads back to exactly the same
// pixels, whatever the palette size and however the LZW table grows, fills and is reset.
#include "artkit/gif_writer.h"
#include "artkit/quantize.h"

#include <QBuffer>
#include <QImageReader>

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>

using vellumine::artkit::IndexedImage;
using vellumine::artkit::encodeGif;

namespace {

std::vector<QRgb> distinctPalette(int size) {
    std::vector<QRgb> palette;
    for (int i = 0; i < size; ++i) palette.push_back(qRgb((i * 37) % 256, (i * 101 + 7) % 256, 255 - i % 256));
    // (i*37, i*101+7, 255-i) is distinct for i < 256 because the blue channel alone is.
    return palette;
}

// Pseudo-random but repeatable indices.
IndexedImage noise(int width, int height, int colours, std::uint32_t seed) {
    IndexedImage image{width, height, distinctPalette(colours), {}};
    for (int i = 0; i < width * height; ++i) {
        seed = seed * 1664525u + 1013904223u;
        image.indices.push_back(static_cast<std::uint8_t>((seed >> 16) % colours));
    }
    return image;
}

// Decodes with Qt and reports the first pixel that differs, if any.
::testing::AssertionResult decodesTo(const IndexedImage& expected) {
    QByteArray bytes = encodeGif(expected);
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer, "gif");
    const QImage decoded = reader.read().convertToFormat(QImage::Format_RGB32);
    if (decoded.isNull()) return ::testing::AssertionFailure() << "Qt could not decode: " << reader.errorString().toStdString();
    if (decoded.width() != expected.width || decoded.height() != expected.height)
        return ::testing::AssertionFailure() << "decoded size " << decoded.width() << "x" << decoded.height();
    for (int y = 0; y < expected.height; ++y)
        for (int x = 0; x < expected.width; ++x)
            if ((decoded.pixel(x, y) | 0xff000000u) != (expected.colour(x, y) | 0xff000000u))
                return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") differs";
    return ::testing::AssertionSuccess();
}

}  // namespace

TEST(GifWriter, RoundTripsTinyAndOddSizedImages) {
    EXPECT_TRUE(decodesTo({1, 1, {qRgb(200, 10, 10)}, {0}}));  // one colour: the table is padded to two
    IndexedImage checks{7, 5, {qRgb(0, 0, 0), qRgb(255, 255, 255)}, {}};
    for (int i = 0; i < 35; ++i) checks.indices.push_back(static_cast<std::uint8_t>((i % 7 + i / 7) % 2));
    EXPECT_TRUE(decodesTo(checks));
    EXPECT_TRUE(decodesTo(noise(1, 300, 3, 1)));
    EXPECT_TRUE(decodesTo(noise(300, 1, 5, 2)));
}

TEST(GifWriter, RoundTripsEveryStartingCodeWidth) {
    // Palette sizes on both sides of each power of two change the starting code width and the
    // colour table's size field.
    for (int colours : {2, 3, 4, 5, 8, 9, 16, 17, 32, 33, 64, 65, 128, 129, 255, 256}) {
        SCOPED_TRACE(colours);
        EXPECT_TRUE(decodesTo(noise(61, 47, colours, static_cast<std::uint32_t>(colours))));
    }
}

TEST(GifWriter, RoundTripsWhenTheCodeTableFillsAndIsReset) {
    // Random pixels over 256 colours add a table entry for almost every pixel: the 12-bit limit is
    // reached and the table cleared many times over.
    EXPECT_TRUE(decodesTo(noise(256, 256, 256, 99)));
    // Few colours: long strings, codes widen steadily, and the table still fills.
    EXPECT_TRUE(decodesTo(noise(400, 300, 4, 7)));
}

TEST(GifWriter, RoundTripsLongRunsAndRepeatedRows) {
    // One colour: every new code is the previous string plus one pixel (the case where the decoder
    // meets a code it has not yet added).
    IndexedImage flat{300, 300, {qRgb(1, 2, 3), qRgb(4, 5, 6)}, std::vector<std::uint8_t>(90000, 1)};
    EXPECT_TRUE(decodesTo(flat));
    IndexedImage ramp{256, 64, distinctPalette(256), {}};
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 256; ++x) ramp.indices.push_back(static_cast<std::uint8_t>(x));
    EXPECT_TRUE(decodesTo(ramp));
}

TEST(GifWriter, WritesAWellFormedHeaderAndTrailer) {
    const QByteArray bytes = encodeGif(noise(300, 2, 5, 3));
    ASSERT_GT(bytes.size(), 13 + 24);
    EXPECT_EQ(bytes.left(6), QByteArray("GIF89a"));
    EXPECT_EQ(static_cast<quint8>(bytes[6]) | static_cast<quint8>(bytes[7]) << 8, 300);
    EXPECT_EQ(static_cast<quint8>(bytes[8]) | static_cast<quint8>(bytes[9]) << 8, 2);
    const quint8 packed = static_cast<quint8>(bytes[10]);
    EXPECT_TRUE(packed & 0x80) << "global colour table flag";
    EXPECT_EQ(2 << (packed & 0x7), 8) << "five colours need a table of eight";
    EXPECT_EQ(bytes[13 + 24], ',') << "image descriptor right after the table";
    EXPECT_EQ(bytes.back(), ';');
}

TEST(GifWriter, RefusesImagesItCannotWrite) {
    EXPECT_THROW(encodeGif({0, 0, {qRgb(0, 0, 0)}, {}}), std::invalid_argument);
    EXPECT_THROW(encodeGif({1, 1, {}, {0}}), std::invalid_argument);
    EXPECT_THROW(encodeGif({1, 1, distinctPalette(257), {0}}), std::invalid_argument);
    EXPECT_THROW(encodeGif({2, 1, {qRgb(0, 0, 0), qRgb(1, 1, 1)}, {0, 2}}), std::invalid_argument);
    EXPECT_THROW(encodeGif({2, 2, {qRgb(0, 0, 0)}, {0, 0}}), std::invalid_argument);
}

TEST(Quantize, KeepsImagesThatAlreadyFitExactly) {
    QImage image(20, 10, QImage::Format_RGB32);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x) image.setPixel(x, y, qRgb(x * 12, y * 25, 7));
    const auto palette = vellumine::artkit::buildPalette({image}, 256);
    EXPECT_EQ(palette.size(), 200u);
    const IndexedImage indexed = vellumine::artkit::toIndexed(image, palette);
    EXPECT_EQ(vellumine::artkit::toQImage(indexed), image);
}

TEST(Quantize, ReducesManyColoursWithSmallError) {
    // A smooth two-way gradient of 16384 colours, like an anti-aliased drawing's shading.
    QImage image(128, 128, QImage::Format_RGB32);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) image.setPixel(x, y, qRgb(x * 2, y * 2, (x + y) / 2));
    const auto palette = vellumine::artkit::buildPalette({image}, 256);
    ASSERT_LE(palette.size(), 256u);
    EXPECT_GT(palette.size(), 200u) << "the colour budget should be used";
    const QImage reduced = vellumine::artkit::toQImage(vellumine::artkit::toIndexed(image, palette));
    int worst = 0;
    for (int y = 0; y < 128; ++y) {
        for (int x = 0; x < 128; ++x) {
            const QRgb a = image.pixel(x, y), b = reduced.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                              std::abs(qBlue(a) - qBlue(b))});
        }
    }
    EXPECT_LE(worst, 16);
}

TEST(Quantize, SharedPaletteMapsTheSameColourToTheSameEntry) {
    QImage a(64, 64, QImage::Format_RGB32), b(64, 64, QImage::Format_RGB32);
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) {
            a.setPixel(x, y, qRgb(x * 4, y * 4, 0));
            b.setPixel(x, y, x < 32 ? qRgb(x * 4, y * 4, 0) : qRgb(0, y * 4, x * 4));
        }
    }
    const auto palette = vellumine::artkit::buildPalette({a, b}, 256);
    const IndexedImage ia = vellumine::artkit::toIndexed(a, palette), ib = vellumine::artkit::toIndexed(b, palette);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 32; ++x) ASSERT_EQ(ia.at(x, y), ib.at(x, y)) << x << "," << y;
}
