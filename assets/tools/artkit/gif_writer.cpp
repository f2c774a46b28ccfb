#include "artkit/gif_writer.h"

#include <QFile>
#include <QSaveFile>

#include <stdexcept>

namespace vellumine::artkit {
namespace {

constexpr int kMaxCodeBits = 12;
constexpr int kTableLimit = 1 << kMaxCodeBits;

// Packs codes least significant bit first, as GIF requires.
class BitPacker {
public:
    void put(int code, int bits) {
        accumulator_ |= static_cast<std::uint32_t>(code) << filled_;
        filled_ += bits;
        while (filled_ >= 8) {
            out_.append(static_cast<char>(accumulator_ & 0xff));
            accumulator_ >>= 8;
            filled_ -= 8;
        }
    }
    QByteArray finish() {
        if (filled_ > 0) out_.append(static_cast<char>(accumulator_ & 0xff));
        accumulator_ = 0;
        filled_ = 0;
        return out_;
    }

private:
    QByteArray out_;
    std::uint32_t accumulator_ = 0;
    int filled_ = 0;
};

void putWord(QByteArray& out, int value) {
    out.append(static_cast<char>(value & 0xff));
    out.append(static_cast<char>((value >> 8) & 0xff));
}

}  // namespace

int gifMinimumCodeSize(std::size_t paletteSize) {
    int bits = 2;
    while ((std::size_t{1} << bits) < paletteSize) ++bits;
    return bits;
}

QByteArray gifLzwCompress(const std::vector<std::uint8_t>& indices, int minCodeSize) {
    const int clearCode = 1 << minCodeSize;
    const int endCode = clearCode + 1;

    // The string table as a trie: child[prefix * 256 + symbol] is the code for prefix+symbol, or 0.
    // 0 can never be a real child code (children start above endCode), so it marks "absent".
    std::vector<std::uint16_t> child(static_cast<std::size_t>(kTableLimit) * 256, 0);
    int codeBits = minCodeSize + 1;
    int nextCode = endCode + 1;

    BitPacker packer;
    packer.put(clearCode, codeBits);
    if (indices.empty()) {
        packer.put(endCode, codeBits);
        return packer.finish();
    }

    // After each code goes out, the decoder adds one table entry; widen the codes exactly when the
    // decoder will, that is when the entry about to be added no longer fits the current width.
    auto sendCode = [&](int code) {
        packer.put(code, codeBits);
        if (nextCode >= (1 << codeBits) && codeBits < kMaxCodeBits) ++codeBits;
    };

    int current = indices[0];
    for (std::size_t i = 1; i < indices.size(); ++i) {
        const int symbol = indices[i];
        const std::size_t slot = static_cast<std::size_t>(current) * 256 + symbol;
        if (child[slot] != 0) {
            current = child[slot];
            continue;
        }
        sendCode(current);
        if (nextCode >= kTableLimit - 1) {
            // Table full: start afresh rather than keep coding against a stale table.
            packer.put(clearCode, codeBits);
            std::fill(child.begin(), child.end(), 0);
            codeBits = minCodeSize + 1;
            nextCode = endCode + 1;
        } else {
            child[slot] = static_cast<std::uint16_t>(nextCode++);
        }
        current = symbol;
    }
    sendCode(current);
    packer.put(endCode, codeBits);
    return packer.finish();
}

QByteArray encodeGif(const IndexedImage& image) {
    if (image.width <= 0 || image.height <= 0 || image.width > 0xffff || image.height > 0xffff)
        throw std::invalid_argument("GIF: bad image size");
    if (image.palette.empty() || image.palette.size() > 256)
        throw std::invalid_argument("GIF: palette must hold 1 to 256 colours");
    if (image.indices.size() != static_cast<std::size_t>(image.width) * image.height)
        throw std::invalid_argument("GIF: pixel count does not match the size");
    for (std::uint8_t index : image.indices)
        if (index >= image.palette.size()) throw std::invalid_argument("GIF: index outside the palette");

    // The colour table holds 2^(n+1) entries; pad with black.
    int tableBits = 1;
    while ((std::size_t{1} << tableBits) < image.palette.size()) ++tableBits;
    const int tableSize = 1 << tableBits;

    QByteArray out("GIF89a");
    putWord(out, image.width);
    putWord(out, image.height);
    out.append(static_cast<char>(0x80 | (0x7 << 4) | (tableBits - 1)));  // global table, 8-bit colour
    out.append('\0');                                                   // background colour index
    out.append('\0');                                                   // pixel aspect ratio: not given
    for (int i = 0; i < tableSize; ++i) {
        const QRgb c = i < static_cast<int>(image.palette.size()) ? image.palette[i] : qRgb(0, 0, 0);
        out.append(static_cast<char>(qRed(c)));
        out.append(static_cast<char>(qGreen(c)));
        out.append(static_cast<char>(qBlue(c)));
    }

    out.append(',');  // image descriptor: the whole screen, not interlaced, no local table
    putWord(out, 0);
    putWord(out, 0);
    putWord(out, image.width);
    putWord(out, image.height);
    out.append('\0');

    const int minCodeSize = gifMinimumCodeSize(image.palette.size());
    out.append(static_cast<char>(minCodeSize));
    const QByteArray codes = gifLzwCompress(image.indices, minCodeSize);
    for (qsizetype pos = 0; pos < codes.size(); pos += 255) {
        const qsizetype chunk = std::min<qsizetype>(255, codes.size() - pos);
        out.append(static_cast<char>(chunk));
        out.append(codes.constData() + pos, chunk);
    }
    out.append('\0');  // block terminator
    out.append(';');   // trailer
    return out;
}

bool writeGif(const QString& path, const IndexedImage& image) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.write(encodeGif(image));
    return file.commit();
}

QImage toQImage(const IndexedImage& image) {
    QImage out(image.width, image.height, QImage::Format_RGB32);
    for (int y = 0; y < image.height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < image.width; ++x) line[x] = image.colour(x, y) | 0xff000000u;
    }
    return out;
}

}  // namespace vellumine::artkit
