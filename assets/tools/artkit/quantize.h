#pragma once
// Colour reduction for GIF: anti-aliased drawings carry thousands of colours, GIF at most 256.
#include "artkit/gif_writer.h"

#include <QImage>
#include <QRgb>

#include <vector>

namespace vellumine::artkit {

// One palette of at most maxColours for all the given images together (alpha is ignored), so that a
// pixel of the same colour maps to the same entry in every one of them. When the images hold no
// more colours than that, the palette is exactly their colours. Otherwise boxes of colour space are
// split, the one with the largest squared error first, at the cut that lowers that error most.
std::vector<QRgb> buildPalette(const std::vector<QImage>& images, int maxColours = 256);

// Each pixel as the index of the nearest palette colour (no dithering: small pictures stay clean).
IndexedImage toIndexed(const QImage& image, const std::vector<QRgb>& palette);

}  // namespace vellumine::artkit
