#pragma once
// Positions and sizes come in twips: 15 to one logical pixel (Qt scales logical pixels on HiDPI).
#include <QRect>

namespace core {

constexpr int kTwipsPerPixel = 15;

constexpr int Px(int twips) {
    // Nearest pixel; positions in the forms are mostly exact multiples anyway.
    return twips >= 0 ? (twips + kTwipsPerPixel / 2) / kTwipsPerPixel
                      : -((-twips + kTwipsPerPixel / 2) / kTwipsPerPixel);
}
constexpr int Tw(int pixels) { return pixels * kTwipsPerPixel; }

inline QRect PxRect(int left, int top, int width, int height) {
    return QRect(Px(left), Px(top), Px(width), Px(height));
}

}  // namespace core
