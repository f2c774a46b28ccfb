#pragma once
// The ghost cat: a window cut to the cat's outline wanders the desktop. Every pixel that is not cat
// is exactly silver, the key colour, and no cat pixel is blended with it: a blend would survive the
// cut as a grey fringe.
#include <QImage>
#include <QRgb>

namespace vellumine::pictures {

constexpr QRgb kGhostKey = 0xffc0c0c0;  // (192, 192, 192)
constexpr int kGhostSize = 100;

// A walking cat seen from the side, facing left. step 0 has the legs apart, step 1 together.
QImage drawGhostCat(int step);

}  // namespace vellumine::pictures
