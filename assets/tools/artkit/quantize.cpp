#include "artkit/quantize.h"

#include <algorithm>
#include <array>
#include <limits>
#include <stdexcept>
#include <unordered_map>

namespace vellumine::artkit {
namespace {

struct Entry {
    std::array<int, 3> c;
    double weight;
};

struct Box {
    std::vector<Entry> entries;
    double error = 0;  // sum of weight * squared distance to the mean

    std::array<double, 3> mean() const {
        std::array<double, 3> sum{0, 0, 0};
        double total = 0;
        for (const Entry& e : entries) {
            for (int k = 0; k < 3; ++k) sum[k] += e.c[k] * e.weight;
            total += e.weight;
        }
        for (double& s : sum) s /= total;
        return sum;
    }
    void updateError() {
        const auto m = mean();
        error = 0;
        for (const Entry& e : entries)
            for (int k = 0; k < 3; ++k) error += e.weight * (e.c[k] - m[k]) * (e.c[k] - m[k]);
    }
};

// Splits along the channel and position that leave the least total squared error in the two halves.
std::pair<Box, Box> split(Box box) {
    double bestError = std::numeric_limits<double>::max();
    int bestAxis = 0;
    std::size_t bestCut = 1;
    for (int axis = 0; axis < 3; ++axis) {
        std::sort(box.entries.begin(), box.entries.end(),
                  [axis](const Entry& a, const Entry& b) { return a.c[axis] < b.c[axis]; });
        // Prefix sums of weight, weight*c and weight*c^2 over all three channels give each side's
        // squared error in constant time per cut.
        const std::size_t n = box.entries.size();
        std::vector<double> w(n + 1, 0), s(3 * (n + 1), 0), q(n + 1, 0);
        for (std::size_t i = 0; i < n; ++i) {
            const Entry& e = box.entries[i];
            w[i + 1] = w[i] + e.weight;
            q[i + 1] = q[i];
            for (int k = 0; k < 3; ++k) {
                s[3 * (i + 1) + k] = s[3 * i + k] + e.weight * e.c[k];
                q[i + 1] += e.weight * e.c[k] * e.c[k];
            }
        }
        auto sideError = [&](std::size_t from, std::size_t to) {
            const double weight = w[to] - w[from];
            double sq = q[to] - q[from];
            for (int k = 0; k < 3; ++k) {
                const double sum = s[3 * to + k] - s[3 * from + k];
                sq -= sum * sum / weight;
            }
            return sq;
        };
        for (std::size_t cut = 1; cut < n; ++cut) {
            if (box.entries[cut].c[axis] == box.entries[cut - 1].c[axis]) continue;
            const double e = sideError(0, cut) + sideError(cut, n);
            if (e < bestError) {
                bestError = e;
                bestAxis = axis;
                bestCut = cut;
            }
        }
    }
    std::sort(box.entries.begin(), box.entries.end(),
              [bestAxis](const Entry& a, const Entry& b) { return a.c[bestAxis] < b.c[bestAxis]; });
    Box low, high;
    low.entries.assign(box.entries.begin(), box.entries.begin() + static_cast<std::ptrdiff_t>(bestCut));
    high.entries.assign(box.entries.begin() + static_cast<std::ptrdiff_t>(bestCut), box.entries.end());
    low.updateError();
    high.updateError();
    return {std::move(low), std::move(high)};
}

}  // namespace

std::vector<QRgb> buildPalette(const std::vector<QImage>& images, int maxColours) {
    if (maxColours < 1 || maxColours > 256) throw std::invalid_argument("palette size must be 1..256");
    std::unordered_map<QRgb, double> histogram;
    for (const QImage& source : images) {
        const QImage image = source.convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x) histogram[line[x] | 0xff000000u] += 1;
        }
    }
    // Sorted so that the result never depends on the hash table's order.
    std::vector<QRgb> colours;
    colours.reserve(histogram.size());
    for (const auto& [colour, count] : histogram) colours.push_back(colour);
    std::sort(colours.begin(), colours.end());
    if (colours.size() <= static_cast<std::size_t>(maxColours)) return colours;

    std::vector<Box> boxes(1);
    for (QRgb c : colours) boxes[0].entries.push_back({{qRed(c), qGreen(c), qBlue(c)}, histogram[c]});
    boxes[0].updateError();
    while (boxes.size() < static_cast<std::size_t>(maxColours)) {
        auto worst = std::max_element(boxes.begin(), boxes.end(),
                                      [](const Box& a, const Box& b) { return a.error < b.error; });
        if (worst->error <= 0) break;
        auto [low, high] = split(std::move(*worst));
        *worst = std::move(low);
        boxes.push_back(std::move(high));
    }
    std::vector<QRgb> palette;
    for (const Box& box : boxes) {
        const auto m = box.mean();
        palette.push_back(qRgb(static_cast<int>(m[0] + 0.5), static_cast<int>(m[1] + 0.5),
                               static_cast<int>(m[2] + 0.5)));
    }
    std::sort(palette.begin(), palette.end());
    palette.erase(std::unique(palette.begin(), palette.end()), palette.end());
    return palette;
}

IndexedImage toIndexed(const QImage& source, const std::vector<QRgb>& palette) {
    if (palette.empty() || palette.size() > 256) throw std::invalid_argument("palette must hold 1..256 colours");
    const QImage image = source.convertToFormat(QImage::Format_RGB32);
    IndexedImage out;
    out.width = image.width();
    out.height = image.height();
    out.palette = palette;
    out.indices.resize(static_cast<std::size_t>(out.width) * out.height);
    std::unordered_map<QRgb, std::uint8_t> nearest;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = line[x] | 0xff000000u;
            auto found = nearest.find(c);
            if (found == nearest.end()) {
                int best = 0;
                long bestDistance = std::numeric_limits<long>::max();
                for (std::size_t i = 0; i < palette.size(); ++i) {
                    const long dr = qRed(c) - qRed(palette[i]);
                    const long dg = qGreen(c) - qGreen(palette[i]);
                    const long db = qBlue(c) - qBlue(palette[i]);
                    const long d = dr * dr + dg * dg + db * db;
                    if (d < bestDistance) {
                        bestDistance = d;
                        best = static_cast<int>(i);
                    }
                }
                found = nearest.emplace(c, static_cast<std::uint8_t>(best)).first;
            }
            out.indices[static_cast<std::size_t>(y) * out.width + x] = found->second;
        }
    }
    return out;
}

}  // namespace vellumine::artkit
