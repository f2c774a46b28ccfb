#include "core/screen.h"

#include <QGuiApplication>
#include <QScreen>

#include "core/twips.h"

namespace core {

namespace {
QSize ScreenSize() {
    const QScreen* s = QGuiApplication::primaryScreen();
    return s ? s->geometry().size() : QSize(800, 600);
}
}  // namespace

int ScreenWidthTwips() { return Tw(ScreenSize().width()); }
int ScreenHeightTwips() { return Tw(ScreenSize().height()); }
float TwipsPerPixelX() { return float(kTwipsPerPixel); }
float TwipsPerPixelY() { return float(kTwipsPerPixel); }

}  // namespace core
