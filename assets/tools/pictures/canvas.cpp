#include "pictures/canvas.h"

namespace vellumine::pictures {

Canvas::Canvas(int width, int height, QColor background, int factor)
    : factor_(factor), big_(width * factor, height * factor, QImage::Format_ARGB32_Premultiplied) {
    big_.fill(background);
    painter_ = std::make_unique<QPainter>(&big_);
    painter_->setRenderHint(QPainter::Antialiasing, true);
    painter_->scale(factor, factor);
}

Canvas::~Canvas() = default;

QImage Canvas::finish() {
    painter_.reset();
    const int w = big_.width() / factor_;
    const int h = big_.height() / factor_;
    const int area = factor_ * factor_;
    QImage small(w, h, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < h; ++y) {
        auto* out = reinterpret_cast<QRgb*>(small.scanLine(y));
        for (int x = 0; x < w; ++x) {
            int a = 0, r = 0, g = 0, b = 0;
            for (int dy = 0; dy < factor_; ++dy) {
                const auto* in = reinterpret_cast<const QRgb*>(big_.constScanLine(y * factor_ + dy)) + x * factor_;
                for (int dx = 0; dx < factor_; ++dx) {
                    a += qAlpha(in[dx]);
                    r += qRed(in[dx]);
                    g += qGreen(in[dx]);
                    b += qBlue(in[dx]);
                }
            }
            const int half = area / 2;
            out[x] = qRgba((r + half) / area, (g + half) / area, (b + half) / area, (a + half) / area);
        }
    }
    return small.convertToFormat(QImage::Format_ARGB32);
}

QColor mix(QColor a, QColor b, double t) {
    return QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * t, a.greenF() + (b.greenF() - a.greenF()) * t,
                            a.blueF() + (b.blueF() - a.blueF()) * t, a.alphaF() + (b.alphaF() - a.alphaF()) * t);
}

void setPixel(QImage& image, int x, int y, QColor colour) {
    if (x >= 0 && y >= 0 && x < image.width() && y < image.height()) image.setPixelColor(x, y, colour);
}

}  // namespace vellumine::pictures
