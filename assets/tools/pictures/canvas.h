#pragma once
// Drawing at four times the final size and averaging each 4 x 4 block gives exact-coverage
// anti-aliasing, and keeps a pixel's colour a function of what lies inside that pixel alone: a region
// of the picture that no overlay touches comes out identical in every frame.
#include <QColor>
#include <QImage>
#include <QPainter>

#include <memory>

namespace vellumine::pictures {

class Canvas {
public:
    // width and height are the final size; draw in final-pixel units (pixel (x, y) spans x..x+1).
    Canvas(int width, int height, QColor background, int factor = 4);
    ~Canvas();
    QPainter& painter() { return *painter_; }
    // Ends drawing and returns the averaged picture (ARGB32, premultiplied alpha averaged properly).
    QImage finish();

private:
    int factor_;
    QImage big_;
    std::unique_ptr<QPainter> painter_;
};

// Small helpers used by every picture.
QColor mix(QColor a, QColor b, double t);  // t = 0 gives a, 1 gives b
void setPixel(QImage& image, int x, int y, QColor colour);

}  // namespace vellumine::pictures
