#pragma once
// The screen the program's windows live on, in twips.

namespace core {

int ScreenWidthTwips();
int ScreenHeightTwips();
// Twips per screen pixel, horizontally and vertically (15 on every screen: Qt scales logical pixels).
float TwipsPerPixelX();
float TwipsPerPixelY();

}  // namespace core
