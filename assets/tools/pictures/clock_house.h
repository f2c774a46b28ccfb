#pragma once
// The cuckoo-clock house (100 x 100) and the frames of its two little shows. Every frame shares the
// house and the dial, whose centre is pixel (50, 40): the program draws the hands over it.
#include <QImage>
#include <QPoint>

namespace vellumine::pictures {

enum class ClockScene {
    Plain,
    DoorOpen,     // Bird1
    BirdLeaning,  // Bird2
    BirdSinging,  // Bird3, held for a second
    CatOnRoof,    // cat4, the first of the cat show
    CatClimbing,  // cat3
    CatSitting,   // cat2
    CatWaving,    // cat1
};

constexpr QPoint kDialCentre(50, 40);
constexpr int kClockSize = 100;
constexpr QRgb kWindowGrey = 0xff404040;  // the clock window's own colour, (64, 64, 64)

// Opaque, unquantised.
QImage drawClock(ClockScene scene);

// The window icon: the house, simplified, on a transparent background.
QImage drawIcon(int size = 32);

}  // namespace vellumine::pictures
