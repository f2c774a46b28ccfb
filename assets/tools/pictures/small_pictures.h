#pragma once
// The strip under the clock, the mail lamp, and the small pictures of the main window.
#include <QColor>
#include <QImage>

namespace vellumine::pictures {

constexpr int kStripWidth = 113, kStripHeight = 20, kLampSize = 16;

enum class LampColour { Green, Red };

// 113 x 20, opaque: dark walnut, calm enough for a light single-line ticker.
QImage drawStrip();

// 16 x 16, opaque: the lamp over the strip's own top-left corner, since that is where it sits.
QImage drawLamp(LampColour colour, const QImage& strip);

// 22 x 22 each, transparent background.
QImage drawSmallClock();
QImage drawSmallEnvelope();
QImage drawSmallCatFace();
QImage drawSmallHouse();

}  // namespace vellumine::pictures
