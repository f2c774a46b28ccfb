#pragma once
// A small GIF89a writer: Qt reads GIF but cannot write it, and the program's pictures are GIFs.
// One image per file, a global colour table, no transparency, no animation.
#include <QByteArray>
#include <QImage>
#include <QRgb>
#include <QString>

#include <cstdint>
#include <vector>

namespace vellumine::artkit {

// A picture as palette indices. The palette holds 1 to 256 colours; every index must be in range.
struct IndexedImage {
    int width = 0;
    int height = 0;
    std::vector<QRgb> palette;
    std::vector<std::uint8_t> indices;  // row by row, width * height entries

    std::uint8_t at(int x, int y) const { return indices[static_cast<std::size_t>(y) * width + x]; }
    QRgb colour(int x, int y) const { return palette[at(x, y)]; }
};

// Bits per code at the start of the LZW stream: enough for the palette, never below 2 (GIF's floor).
int gifMinimumCodeSize(std::size_t paletteSize);

// The variable-width LZW code stream (before it is cut into sub-blocks), as GIF decoders expect it:
// a clear code first, codes growing from minCodeSize + 1 up to 12 bits, a clear when the table is full.
QByteArray gifLzwCompress(const std::vector<std::uint8_t>& indices, int minCodeSize);

// The whole file. Throws std::invalid_argument for an empty image, a palette of 0 or more than 256
// colours, or an index outside the palette.
QByteArray encodeGif(const IndexedImage& image);

// Writes encodeGif(image) to path; false when the file cannot be written.
bool writeGif(const QString& path, const IndexedImage& image);

// The picture as an opaque 32-bit image, for PNG export and comparisons.
QImage toQImage(const IndexedImage& image);

}  // namespace vellumine::artkit
