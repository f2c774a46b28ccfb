#include "pictures/ghost_cat.h"

#include "pictures/canvas.h"

#include <QPainterPath>
#include <QPainterPathStroker>

#include <algorithm>
#include <initializer_list>
#include <vector>

namespace vellumine::pictures {
namespace {

// Pale, cool colours, all far from silver, so that cutting by the key colour can never take any
// of the cat for background.
const QColor kOutline(112, 120, 158);
const QColor kRim(204, 210, 236);    // just inside the outline: a soft glow
const QColor kBodyTop(246, 248, 255);
const QColor kBodyBottom(218, 224, 244);
const QColor kFarLimb(208, 214, 238);  // the legs on the far side, a shade dimmer
const QColor kEarInner(236, 208, 234);
const QColor kNose(220, 148, 196);
const QColor kEyeRim(92, 104, 150);
const QColor kEyeGlow(140, 250, 222);
const QColor kEyeCore(236, 255, 248);

struct Leg {
    QPointF hip, knee, paw;
};

struct Pose {
    Leg nearFront, farFront, nearHind, farHind;
    QPointF tailTip, tailBend;
};

Pose poseFor(int step) {
    if (step == 0) {  // stride: legs apart
        return {{{36, 56}, {32, 67}, {27, 78}},
                {{42, 56}, {44, 67}, {46, 78}},
                {{66, 57}, {72, 66}, {76, 78}},
                {{61, 57}, {59.5, 67}, {58, 78}},
                {79, 13},
                {88, 30}};
    }
    return {{{36, 56}, {35.5, 67}, {35, 78}},  // passing: legs together
            {{42, 56}, {41, 67}, {41, 78}},
            {{66, 57}, {67, 67}, {66, 78}},
            {{61, 57}, {61, 67}, {60, 78}},
            {82, 14},
            {89, 31}};
}

QPainterPath stroked(const QPainterPath& spine, double width) {
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    return stroker.createStroke(spine).united(QPainterPath());
}

QPainterPath legPath(const Leg& leg) {
    QPainterPath spine(leg.hip);
    spine.lineTo(leg.knee);
    spine.lineTo(leg.paw);
    QPainterPath path = stroked(spine, 6.2);
    QPainterPath paw;
    paw.addEllipse(leg.paw + QPointF(-1.0, 0.8), 3.8, 2.4);
    return path.united(paw);
}

QPainterPath ellipse(QPointF centre, double rx, double ry) {
    QPainterPath path;
    path.addEllipse(centre, rx, ry);
    return path;
}

QPainterPath polygon(std::initializer_list<QPointF> points) {
    QPainterPath path;
    path.addPolygon(QPolygonF(points));
    path.closeSubpath();
    return path;
}

QPainterPath bodyPath(const Pose& pose) {
    // United piece by piece: overlapping shapes in one path would cancel under the odd-even rule.
    QPainterPath body = ellipse({22, 40}, 12, 10.5);         // head
    body = body.united(ellipse({13.5, 45}, 4.8, 3.6));        // muzzle
    body = body.united(ellipse({25, 46}, 8, 5.5));            // cheek
    body = body.united(ellipse({51, 50.5}, 19.5, 11));        // trunk
    body = body.united(ellipse({55, 47.5}, 14, 8.5));         // a little arch in the back
    body = body.united(ellipse({35, 51.5}, 9, 9.5));          // chest
    body = body.united(ellipse({65.5, 53}, 9, 10));           // haunch
    body = body.united(polygon({{26, 31}, {40, 40}, {38, 57}, {22, 51}}));  // neck
    body = body.united(polygon({{11.5, 37}, {13.5, 20}, {22.5, 31.5}}));    // near ear
    body = body.united(polygon({{21, 31.5}, {28.5, 19.5}, {32.5, 37}}));    // far ear
    QPainterPath tailSpine(QPointF(70, 47));
    tailSpine.cubicTo(QPointF(80, 45), pose.tailBend, pose.tailBend + QPointF(-3, -10));
    tailSpine.quadTo(pose.tailBend + QPointF(-5, -16), pose.tailTip);
    return body.united(stroked(tailSpine, 5.6));
}

using Mask = std::vector<std::uint8_t>;

Mask rasterise(const QPainterPath& path) {
    // Drawn large and thresholded at half coverage: smooth curves, yet every pixel is in or out.
    Canvas canvas(kGhostSize, kGhostSize, Qt::transparent);
    canvas.painter().fillPath(path, Qt::white);
    const QImage image = canvas.finish();
    Mask mask(kGhostSize * kGhostSize, 0);
    for (int y = 0; y < kGhostSize; ++y)
        for (int x = 0; x < kGhostSize; ++x) mask[y * kGhostSize + x] = qAlpha(image.pixel(x, y)) >= 128;
    return mask;
}

bool inside(const Mask& m, int x, int y) {
    return x >= 0 && y >= 0 && x < kGhostSize && y < kGhostSize && m[y * kGhostSize + x];
}

int neighbours4(const Mask& m, int x, int y) {
    return inside(m, x - 1, y) + inside(m, x + 1, y) + inside(m, x, y - 1) + inside(m, x, y + 1);
}

// Shaves one-pixel spurs and fills one-pixel notches until nothing changes, then keeps only the
// largest 4-connected piece: the window shape should be one clean outline.
void tidy(Mask& mask) {
    for (bool changed = true; changed;) {
        changed = false;
        for (int y = 0; y < kGhostSize; ++y) {
            for (int x = 0; x < kGhostSize; ++x) {
                const int n = neighbours4(mask, x, y);
                std::uint8_t& cell = mask[y * kGhostSize + x];
                if (cell && n <= 1) {
                    cell = 0;
                    changed = true;
                } else if (!cell && n >= 3) {
                    cell = 1;
                    changed = true;
                }
            }
        }
    }
    std::vector<int> label(mask.size(), -1);
    int best = -1;
    std::size_t bestSize = 0;
    int next = 0;
    for (int start = 0; start < static_cast<int>(mask.size()); ++start) {
        if (!mask[start] || label[start] >= 0) continue;
        std::vector<int> stack{start};
        label[start] = next;
        std::size_t size = 0;
        while (!stack.empty()) {
            const int i = stack.back();
            stack.pop_back();
            ++size;
            const int x = i % kGhostSize, y = i / kGhostSize;
            const int around[4][2] = {{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}};
            for (const auto& a : around) {
                if (!inside(mask, a[0], a[1])) continue;
                const int j = a[1] * kGhostSize + a[0];
                if (label[j] < 0) {
                    label[j] = next;
                    stack.push_back(j);
                }
            }
        }
        if (size > bestSize) {
            bestSize = size;
            best = next;
        }
        ++next;
    }
    for (std::size_t i = 0; i < mask.size(); ++i) mask[i] = mask[i] && label[i] == best;
}

// Distance in pixels (4-steps) to the nearest pixel outside the mask.
std::vector<int> depth(const Mask& mask) {
    std::vector<int> d(mask.size(), 0);
    std::vector<int> frontier;
    for (int y = 0; y < kGhostSize; ++y)
        for (int x = 0; x < kGhostSize; ++x)
            if (inside(mask, x, y) && neighbours4(mask, x, y) < 4) {
                d[y * kGhostSize + x] = 1;
                frontier.push_back(y * kGhostSize + x);
            }
    for (int level = 1; !frontier.empty(); ++level) {
        std::vector<int> nextFrontier;
        for (int i : frontier) {
            const int x = i % kGhostSize, y = i / kGhostSize;
            const int around[4][2] = {{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}};
            for (const auto& a : around) {
                if (!inside(mask, a[0], a[1])) continue;
                const int j = a[1] * kGhostSize + a[0];
                if (d[j] == 0) {
                    d[j] = level + 1;
                    nextFrontier.push_back(j);
                }
            }
        }
        frontier = std::move(nextFrontier);
    }
    return d;
}

// Paints a detail only where the cat already is, never onto the background.
void paintDetail(QImage& image, const Mask& cat, const Mask& detail, QColor colour) {
    for (int y = 0; y < kGhostSize; ++y)
        for (int x = 0; x < kGhostSize; ++x)
            if (detail[y * kGhostSize + x] && cat[y * kGhostSize + x] && image.pixel(x, y) != kOutline.rgb())
                image.setPixelColor(x, y, colour);
}

}  // namespace

QImage drawGhostCat(int step) {
    const Pose pose = poseFor(step);
    const QPainterPath far = legPath(pose.farFront).united(legPath(pose.farHind));
    const QPainterPath nearLegs = legPath(pose.nearFront).united(legPath(pose.nearHind));
    const QPainterPath body = bodyPath(pose);

    Mask cat = rasterise(body.united(far).united(nearLegs));
    tidy(cat);
    const std::vector<int> d = depth(cat);
    const Mask farOnly = [&] {
        Mask m = rasterise(far);
        const Mask front = rasterise(body.united(nearLegs));
        for (std::size_t i = 0; i < m.size(); ++i) m[i] = m[i] && !front[i];
        return m;
    }();

    const Mask nearMask = rasterise(nearLegs);

    QImage image(kGhostSize, kGhostSize, QImage::Format_RGB32);
    image.fill(kGhostKey);
    for (int y = 0; y < kGhostSize; ++y) {
        for (int x = 0; x < kGhostSize; ++x) {
            const int i = y * kGhostSize + x;
            if (!cat[i]) continue;
            QColor c = mix(kBodyTop, kBodyBottom, std::clamp((y - 20) / 62.0, 0.0, 1.0));
            if (farOnly[i]) c = kFarLimb;
            if (d[i] == 2) c = kRim;
            // Where a near leg passes in front of a far one, a line keeps the two apart.
            if (nearMask[i] && !farOnly[i] &&
                ((x > 0 && farOnly[i - 1]) || (x + 1 < kGhostSize && farOnly[i + 1])))
                c = kOutline;
            if (d[i] == 1) c = kOutline;
            image.setPixelColor(x, y, c);
        }
    }

    // Face details: inner ear, nose, mouth, and the glowing eye.
    QPainterPath earInner;
    earInner.addPolygon(QPolygonF({QPointF(15, 33), QPointF(15.5, 24.5), QPointF(20.5, 31.5)}));
    paintDetail(image, cat, rasterise(earInner), kEarInner);
    QPainterPath nose;
    nose.addEllipse(QPointF(9.9, 43.0), 1.6, 1.2);
    paintDetail(image, cat, rasterise(nose), kNose);
    QPainterPath mouth(QPointF(10.5, 47.0));
    mouth.quadTo(QPointF(13, 48.6), QPointF(15.5, 46.8));
    paintDetail(image, cat, rasterise(stroked(mouth, 0.9)), kOutline);
    QPainterPath eye;
    eye.moveTo(12.6, 38.8);
    eye.quadTo(QPointF(16.8, 34.6), QPointF(21.0, 38.4));
    eye.quadTo(QPointF(16.8, 42.4), QPointF(12.6, 38.8));
    paintDetail(image, cat, rasterise(eye), kEyeRim);
    QPainterPath glow;
    glow.addEllipse(QPointF(16.9, 38.6), 3.0, 1.7);
    paintDetail(image, cat, rasterise(glow), kEyeGlow);
    QPainterPath core;
    core.addEllipse(QPointF(17.0, 38.5), 1.0, 1.0);
    paintDetail(image, cat, rasterise(core), kEyeCore);
    return image;
}

}  // namespace vellumine::pictures
