#include "pictures/clock_house.h"

#include "pictures/canvas.h"

#include <QLinearGradient>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <numbers>

namespace vellumine::pictures {
namespace {

// Geometry, in final pixels; pixel (x, y) spans x..x+1, so its middle is (x + 0.5, y + 0.5).
const QPointF kCentre(kDialCentre.x() + 0.5, kDialCentre.y() + 0.5);
constexpr double kFaceRadius = 12.5;
constexpr double kRingRadius = 14.5;
constexpr double kMid = 50.5;           // the house is symmetric about this line
constexpr double kRoofThickness = 7.0;  // measured vertically
constexpr double kRoofApexY = 0.5;      // top of the roof boards
constexpr double kEaveX = 11.5;         // where the left board is cut off (the right one mirrors it)
constexpr double kWallLeft = 22, kWallRight = 79, kWallBottom = 68;
const QPointF kDoorArch(kMid, 16.5);    // centre of the door's round top
constexpr double kDoorHalfWidth = 4.5, kDoorBottom = 23.5;

double roofOuterY(double x) { return kRoofApexY + std::abs(x - kMid); }
double roofInnerY(double x) { return roofOuterY(x) + kRoofThickness; }

// Colours: warm woods, a red shingled roof, a deep blue dial so that yellow and white hands read.
const QColor kWood(140, 86, 48);
const QColor kWoodSeam(108, 63, 34);
const QColor kWoodLight(190, 130, 76);
const QColor kWoodDark(88, 50, 27);
const QColor kOutline(44, 24, 13);
const QColor kRoof(164, 60, 42);
const QColor kRoofLight(216, 116, 76);
const QColor kRoofDark(110, 36, 26);
const QColor kBrassLight(246, 214, 130);
const QColor kBrass(204, 158, 70);
const QColor kBrassDark(124, 88, 34);
const QColor kFaceCentre(32, 44, 104);
const QColor kFaceEdge(15, 21, 56);
const QColor kTick(178, 192, 238);
const QColor kDoorway(24, 13, 8);
const QColor kLeaf(112, 156, 66);
const QColor kLeafDark(54, 88, 34);
const QColor kBerry(214, 58, 46);
const QColor kHeart(206, 64, 52);

QPen outlinePen(double width = 0.7, QColor colour = kOutline) {
    QPen pen(colour, width);
    pen.setJoinStyle(Qt::RoundJoin);
    pen.setCapStyle(Qt::RoundCap);
    return pen;
}

QPainterPath wallPath() {
    QPainterPath wall;
    wall.moveTo(kWallLeft, roofInnerY(kWallLeft));
    wall.lineTo(kMid, roofInnerY(kMid));
    wall.lineTo(kWallRight, roofInnerY(kWallRight));
    wall.lineTo(kWallRight, kWallBottom);
    wall.lineTo(kWallLeft, kWallBottom);
    wall.closeSubpath();
    return wall;
}

QPainterPath doorPath() {
    QPainterPath door;
    door.moveTo(kMid - kDoorHalfWidth, kDoorBottom);
    door.lineTo(kMid - kDoorHalfWidth, kDoorArch.y());
    door.arcTo(QRectF(kMid - kDoorHalfWidth, kDoorArch.y() - kDoorHalfWidth, 2 * kDoorHalfWidth, 2 * kDoorHalfWidth),
               180, -180);
    door.lineTo(kMid + kDoorHalfWidth, kDoorBottom);
    door.closeSubpath();
    return door;
}

void paintWall(QPainter& p) {
    const QPainterPath wall = wallPath();
    QLinearGradient shade(0, 8, 0, kWallBottom);
    shade.setColorAt(0, kWood.lighter(110));
    shade.setColorAt(1, kWood.darker(108));
    p.fillPath(wall, shade);
    p.save();
    p.setClipPath(wall);
    p.setPen(QPen(kWoodSeam, 0.75));
    for (int k = 1; k <= 3; ++k) {
        p.drawLine(QPointF(kMid - 7 * k, 0), QPointF(kMid - 7 * k, kWallBottom));
        p.drawLine(QPointF(kMid + 7 * k, 0), QPointF(kMid + 7 * k, kWallBottom));
    }
    p.restore();
    p.setPen(outlinePen(0.9));
    p.setBrush(Qt::NoBrush);
    p.drawPath(wall);
}

QPainterPath roofBoard(int side) {  // side -1 left, +1 right
    const double eave = side < 0 ? kEaveX : 2 * kMid - kEaveX;
    QPainterPath board;
    board.moveTo(kMid, roofOuterY(kMid));
    board.lineTo(eave, roofOuterY(eave));
    board.lineTo(eave, roofInnerY(eave));
    board.lineTo(kMid, roofInnerY(kMid));
    board.closeSubpath();
    return board;
}

void paintRoof(QPainter& p) {
    for (int side : {-1, 1}) {
        const QPainterPath board = roofBoard(side);
        p.fillPath(board, kRoof);
        p.save();
        p.setClipPath(board);
        // Two rows of shingles: a line along the middle and staggered joints across each row.
        const double r2 = std::sqrt(2.0);
        const double across = kRoofThickness / r2;  // the board's thickness at right angles
        const QPointF down(side / r2, 1 / r2);       // along the board, away from the apex
        const QPointF in(-side / r2, 1 / r2);        // across the board, from its top edge inwards
        const QPointF apex(kMid, kRoofApexY);
        p.setPen(QPen(kRoofDark, 0.8));
        p.drawLine(apex + in * (across / 2), apex + in * (across / 2) + down * 60);
        for (int i = 1; i < 14; ++i) {
            const QPointF top = apex + down * (i * 4.0);
            p.drawLine(top, top + in * (across / 2));
            const QPointF mid = apex + down * (i * 4.0 + 2.0) + in * (across / 2);
            p.drawLine(mid, mid + in * (across / 2));
        }
        p.setPen(QPen(kRoofLight, 0.8));
        p.drawLine(apex + in * 1.1, apex + in * 1.1 + down * 60);
        p.restore();
        p.setPen(outlinePen(0.8));
        p.setBrush(Qt::NoBrush);
        p.drawPath(board);
    }
    // A carved wooden cap hides the joint at the apex.
    QPainterPath cap;
    cap.moveTo(kMid, 0.3);
    cap.lineTo(kMid + 3.2, 3.6);
    cap.lineTo(kMid, 9.2);
    cap.lineTo(kMid - 3.2, 3.6);
    cap.closeSubpath();
    p.setPen(outlinePen(0.7));
    p.setBrush(kWoodLight);
    p.drawPath(cap);
    // Little carved drops hang from the eaves.
    for (int side : {-1, 1}) {
        const double x = side < 0 ? kEaveX + 1.8 : 2 * kMid - kEaveX - 1.8;
        const double y = roofInnerY(x);
        QPainterPath drop;
        drop.moveTo(x - 1.4, y - 0.5);
        drop.cubicTo(x - 1.6, y + 2.5, x - 0.4, y + 3.6, x, y + 4.4);
        drop.cubicTo(x + 0.4, y + 3.6, x + 1.6, y + 2.5, x + 1.4, y - 0.5);
        drop.closeSubpath();
        p.setPen(outlinePen(0.6));
        p.setBrush(kWoodLight);
        p.drawPath(drop);
    }
}

enum class Door { Closed, Open };

void paintDoor(QPainter& p, Door state) {
    const QPainterPath door = doorPath();
    // The ledge the bird stands on.
    p.setPen(outlinePen(0.6));
    p.setBrush(kWoodLight);
    p.drawRect(QRectF(kMid - 6.5, kDoorBottom, 13, 1.6));
    if (state == Door::Closed) {
        QLinearGradient shade(kMid - kDoorHalfWidth, 0, kMid + kDoorHalfWidth, 0);
        shade.setColorAt(0, kWoodLight);
        shade.setColorAt(1, kWoodLight.darker(118));
        p.fillPath(door, shade);
        p.setPen(QPen(kWoodSeam, 0.6));
        p.drawLine(QPointF(kMid, kDoorArch.y() - kDoorHalfWidth + 0.4), QPointF(kMid, kDoorBottom));
        p.setPen(Qt::NoPen);
        p.setBrush(kBrass);
        p.drawEllipse(QPointF(kMid + 2.4, kDoorArch.y() + 3.2), 0.8, 0.8);
    } else {
        p.fillPath(door, kDoorway);
        // The door swung open on its left hinge, seen almost edge on.
        QPainterPath leaf;
        const double hinge = kMid - kDoorHalfWidth;
        leaf.moveTo(hinge, kDoorBottom);
        leaf.lineTo(hinge, kDoorArch.y());
        leaf.cubicTo(hinge - 0.6, kDoorArch.y() - 3.0, hinge - 2.2, kDoorArch.y() - 3.6, hinge - 3.6, kDoorArch.y() - 2.2);
        leaf.lineTo(hinge - 3.6, kDoorBottom + 0.8);
        leaf.closeSubpath();
        p.setPen(outlinePen(0.6));
        p.setBrush(kWoodLight.darker(108));
        p.drawPath(leaf);
    }
    p.setPen(outlinePen(0.9, kWoodDark));
    p.setBrush(Qt::NoBrush);
    p.drawPath(door);
}

void paintDial(QPainter& p) {
    // Brass ring, lit from the top left.
    QLinearGradient brass(kCentre + QPointF(-10, -10), kCentre + QPointF(10, 10));
    brass.setColorAt(0, kBrassLight);
    brass.setColorAt(0.55, kBrass);
    brass.setColorAt(1, kBrassDark);
    p.setPen(outlinePen(0.7));
    p.setBrush(brass);
    p.drawEllipse(kCentre, kRingRadius, kRingRadius);
    QRadialGradient face(kCentre, kFaceRadius);
    face.setColorAt(0, kFaceCentre);
    face.setColorAt(1, kFaceEdge);
    p.setPen(QPen(kBrassDark, 0.5));
    p.setBrush(face);
    p.drawEllipse(kCentre, kFaceRadius, kFaceRadius);
}

// Tick marks go in as whole pixels after averaging: blurred dots would muddy the dial.
void stampTicks(QImage& image) {
    const int cx = kDialCentre.x(), cy = kDialCentre.y();
    const QPoint cardinal[] = {{0, -11}, {0, -10}};
    const QPoint diagonal[] = {{5, -9}, {9, -5}};
    for (int quarter = 0; quarter < 4; ++quarter) {
        auto rotate = [quarter](QPoint d) {
            for (int i = 0; i < quarter; ++i) d = QPoint(-d.y(), d.x());
            return d;
        };
        for (QPoint d : cardinal) setPixel(image, cx + rotate(d).x(), cy + rotate(d).y(), kTick);
        for (QPoint d : diagonal) setPixel(image, cx + rotate(d).x(), cy + rotate(d).y(), kTick.darker(115));
    }
}

void paintLeaf(QPainter& p, QPointF base, double angleDeg, double length) {
    p.save();
    p.translate(base);
    p.rotate(angleDeg);
    QPainterPath leaf;
    leaf.moveTo(0, 0);
    leaf.cubicTo(length * 0.3, -length * 0.38, length * 0.75, -length * 0.3, length, 0);
    leaf.cubicTo(length * 0.75, length * 0.3, length * 0.3, length * 0.38, 0, 0);
    p.setPen(outlinePen(0.55, kLeafDark));
    p.setBrush(kLeaf);
    p.drawPath(leaf);
    p.restore();
}

// Painted either side of the dial: a stem with leaves and a red berry on top.
void paintSprig(QPainter& p, int side) {
    const double x = kMid + side * 21.5;
    p.setPen(outlinePen(0.8, kLeafDark));
    p.drawLine(QPointF(x, 57), QPointF(x - side * 0.8, 39));
    struct Leaf {
        double dx, y, angle, length;  // as on the left-hand sprig; the right one mirrors it
    };
    const Leaf leaves[] = {{0.6, 42, 60, 5.6},   {0.3, 48, -30, 5.6}, {0.3, 48, 210, 5.0},
                           {0.0, 54, -20, 5.0},  {0.0, 54, 200, 4.6}};
    for (const Leaf& leaf : leaves)
        paintLeaf(p, QPointF(x - side * leaf.dx, leaf.y), side < 0 ? leaf.angle : 180 - leaf.angle, leaf.length);
    p.setPen(outlinePen(0.5, kBerry.darker(170)));
    p.setBrush(kBerry);
    p.drawEllipse(QPointF(x - side * 0.8, 38.6), 1.3, 1.3);
}

void paintHeart(QPainter& p) {
    QPainterPath heart;
    const double y = 58.5;
    heart.moveTo(kMid, y + 6.2);
    heart.cubicTo(kMid - 2.5, y + 4.2, kMid - 4.8, y + 2.4, kMid - 4.4, y + 0.2);
    heart.cubicTo(kMid - 4.0, y - 2.0, kMid - 1.0, y - 2.2, kMid, y + 0.4);
    heart.cubicTo(kMid + 1.0, y - 2.2, kMid + 4.0, y - 2.0, kMid + 4.4, y + 0.2);
    heart.cubicTo(kMid + 4.8, y + 2.4, kMid + 2.5, y + 4.2, kMid, y + 6.2);
    p.setPen(outlinePen(0.7, kHeart.darker(190)));
    p.setBrush(kHeart);
    p.drawPath(heart);
    p.setPen(QPen(kHeart.lighter(150), 0.7, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(kMid - 2.8, y + 0.4), QPointF(kMid - 2.0, y - 0.4));
}

void paintBase(QPainter& p) {
    // The shelf the house stands on, and a scalloped trim under it.
    p.setPen(outlinePen(0.8));
    p.setBrush(kWoodDark);
    p.drawRect(QRectF(18, kWallBottom, 65, 3.6));
    p.setPen(QPen(kWoodLight, 0.8));
    p.drawLine(QPointF(18.6, kWallBottom + 0.6), QPointF(82.4, kWallBottom + 0.6));
    QPainterPath trim;
    trim.moveTo(24.5, kWallBottom + 3.6);
    for (double x = 24.5; x < 76.4; x += 5.2)
        trim.arcTo(QRectF(x, kWallBottom + 1.2, 5.2, 5.2), 180, 180);
    trim.lineTo(76.5, kWallBottom + 3.6);
    trim.closeSubpath();
    p.setPen(outlinePen(0.7));
    p.setBrush(kWood);
    p.drawPath(trim);
}

void paintChain(QPainter& p, double x, double top, double bottom) {
    p.setPen(Qt::NoPen);
    bool light = true;
    for (double y = top; y < bottom; y += 1.0, light = !light) {
        p.setBrush(light ? kBrassLight : kBrassDark);
        p.drawRect(QRectF(x - 0.5, y, 1, 1));
    }
}

void paintPineCone(QPainter& p, double x, double top) {
    const double h = 12.5;
    p.setPen(outlinePen(0.6));
    p.setBrush(kBrass);
    p.drawRect(QRectF(x - 1.6, top - 1.2, 3.2, 1.6));
    QPainterPath cone;
    cone.moveTo(x, top);
    cone.cubicTo(x + 4.6, top + 0.4, x + 3.6, top + h * 0.65, x, top + h);
    cone.cubicTo(x - 3.6, top + h * 0.65, x - 4.6, top + 0.4, x, top);
    QLinearGradient shade(x - 3.5, 0, x + 3.5, 0);
    shade.setColorAt(0, QColor(150, 94, 50));
    shade.setColorAt(1, QColor(84, 48, 24));
    p.setPen(outlinePen(0.7));
    p.setBrush(shade);
    p.drawPath(cone);
    // Scales: little arcs in rows.
    p.save();
    p.setClipPath(cone);
    p.setPen(QPen(QColor(58, 32, 16), 0.55));
    p.setBrush(Qt::NoBrush);
    for (int row = 0; row < 5; ++row) {
        const double y = top + 1.6 + row * 2.2;
        const double offset = (row % 2) ? 1.3 : 0;
        for (double sx = x - 5.2 + offset; sx < x + 5; sx += 2.6)
            p.drawArc(QRectF(sx, y - 1.3, 2.6, 2.6), 180 * 16, 180 * 16);
    }
    p.restore();
}

void paintPendulum(QPainter& p) {
    p.setPen(QPen(kBrassDark, 1.0));
    p.drawLine(QPointF(kMid, kWallBottom + 3.6), QPointF(kMid, 87));
    QRadialGradient bob(QPointF(kMid - 1.4, 89.4), 5);
    bob.setColorAt(0, kBrassLight);
    bob.setColorAt(1, kBrassDark);
    p.setPen(outlinePen(0.7));
    p.setBrush(bob);
    p.drawEllipse(QPointF(kMid, 91), 4.6, 4.6);
    p.setPen(QPen(kBrassLight.lighter(112), 0.8, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(kMid - 3.2, 87.8, 6.4, 6.4), 100 * 16, 70 * 16);
}

void paintHouse(QPainter& p, Door door) {
    paintChain(p, 36.5, kWallBottom + 5, 81);
    paintChain(p, 64.5, kWallBottom + 5, 85);
    paintPendulum(p);
    paintPineCone(p, 36.5, 81.5);
    paintPineCone(p, 64.5, 85.5);
    paintBase(p);
    paintWall(p);
    paintSprig(p, -1);
    paintSprig(p, 1);
    paintHeart(p);
    paintRoof(p);
    paintDoor(p, door);
    paintDial(p);
}

// ---- The bird ------------------------------------------------------------------------------

const QColor kBirdBlue(84, 156, 226);
const QColor kBirdBlueDark(40, 88, 156);
const QColor kBirdBreast(252, 160, 72);
const QColor kBeak(252, 204, 56);
const QColor kBeakDark(176, 116, 20);
const QColor kMouth(200, 40, 50);
const QColor kBirdOutline(24, 36, 70);

void paintEyesInTheDark(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 246, 200));
    p.drawEllipse(QPointF(kMid - 1.6, 19.6), 0.75, 0.75);
    p.drawEllipse(QPointF(kMid + 1.6, 19.6), 0.75, 0.75);
}

void paintBirdLeaning(QPainter& p) {
    // Seen from the side, leaning out of the doorway to the right (the door opened to the left)
    // to see what time it is.
    p.setPen(outlinePen(0.6, kBirdOutline));
    p.setBrush(kBirdBlueDark);
    p.drawPolygon(QPolygonF({QPointF(48.0, 20.5), QPointF(46.4, 23.2), QPointF(49.6, 22.6)}));  // tail
    p.save();
    p.translate(50.8, 20.6);
    p.rotate(-28);
    p.setBrush(kBirdBlue);
    p.drawEllipse(QPointF(0, 0), 3.9, 2.9);
    p.restore();
    p.setPen(Qt::NoPen);
    p.setBrush(kBirdBreast);
    p.drawEllipse(QPointF(52.6, 20.2), 1.9, 1.8);
    p.setPen(QPen(kBirdBlueDark, 0.9, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(52.6, 13.4), QPointF(51.0, 11.8));  // crest
    p.setPen(outlinePen(0.6, kBirdOutline));
    p.setBrush(kBirdBlue);
    p.drawEllipse(QPointF(54.0, 16.4), 3.4, 3.2);
    QPainterPath beak;
    beak.moveTo(56.8, 15.5);
    beak.lineTo(60.4, 16.9);
    beak.lineTo(56.9, 17.9);
    beak.closeSubpath();
    p.setPen(outlinePen(0.45, kBeakDark));
    p.setBrush(kBeak);
    p.drawPath(beak);
    p.setPen(outlinePen(0.4, kBirdOutline));
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(54.9, 15.6), 1.25, 1.3);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(10, 10, 20));
    p.drawEllipse(QPointF(55.4, 15.7), 0.7, 0.8);
}

void paintMusicNote(QPainter& p, QPointF at, bool pair) {
    // Pixel-aligned so that the stems stay one crisp pixel wide.
    const QColor ink(255, 240, 200);
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawRect(QRectF(at.x() + 1, at.y() - 5, 1, 5));
    p.drawEllipse(QPointF(at.x() + 0.6, at.y() + 0.2), 1.4, 1.05);
    if (pair) {
        p.drawRect(QRectF(at.x() + 5, at.y() - 6, 1, 5.5));
        p.drawEllipse(QPointF(at.x() + 4.6, at.y() - 0.8), 1.4, 1.05);
        p.drawRect(QRectF(at.x() + 1, at.y() - 6, 5, 1.5));
    } else {
        p.drawRect(QRectF(at.x() + 2, at.y() - 5, 1, 1));
        p.drawRect(QRectF(at.x() + 3, at.y() - 4, 1, 1.5));
    }
}

void paintBirdSinging(QPainter& p) {
    // Shot out on its stick: wings flung wide, eyes popping, beak open far too wide.
    const QPointF body(kMid, 19.0);
    const QPointF head(kMid, 11.2);
    p.setPen(outlinePen(0.6, kBirdOutline));
    for (int side : {-1, 1}) {
        QPainterPath wing;
        wing.moveTo(body + QPointF(side * 3.5, 1.5));
        wing.cubicTo(body + QPointF(side * 8.0, 1.0), body + QPointF(side * 12.5, -4.0), body + QPointF(side * 13.5, -9.5));
        wing.cubicTo(body + QPointF(side * 10.5, -8.0), body + QPointF(side * 10.0, -7.5), body + QPointF(side * 9.0, -8.6));
        wing.cubicTo(body + QPointF(side * 8.5, -5.5), body + QPointF(side * 6.0, -4.0), body + QPointF(side * 3.0, -2.5));
        wing.closeSubpath();
        p.setBrush(kBirdBlueDark);
        p.drawPath(wing);
    }
    p.setBrush(kBirdBlue);
    p.drawEllipse(body, 5.4, 4.6);
    p.setBrush(kBirdBreast);
    p.setPen(Qt::NoPen);
    p.drawEllipse(body + QPointF(0, 1.2), 3.4, 2.9);
    p.setPen(QPen(kBeakDark, 0.8, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(body + QPointF(-1.6, 4.0), body + QPointF(-1.8, 4.8));
    p.drawLine(body + QPointF(1.6, 4.0), body + QPointF(1.8, 4.8));
    // A startled crest.
    p.setPen(QPen(kBirdBlueDark, 1.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(head + QPointF(0, -5.5), head + QPointF(-2.6, -9.6));
    p.drawLine(head + QPointF(0, -5.5), head + QPointF(0.2, -10.4));
    p.drawLine(head + QPointF(0, -5.5), head + QPointF(2.8, -9.4));
    p.setPen(outlinePen(0.6, kBirdOutline));
    p.setBrush(kBirdBlue);
    p.drawEllipse(head, 6.6, 6.0);
    // Eyes popping, pupils crossed.
    p.setBrush(Qt::white);
    p.setPen(outlinePen(0.5, kBirdOutline));
    p.drawEllipse(head + QPointF(-2.6, -2.2), 2.2, 2.4);
    p.drawEllipse(head + QPointF(2.6, -2.2), 2.2, 2.4);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(10, 10, 20));
    p.drawEllipse(head + QPointF(-1.7, -1.7), 1.0, 1.1);
    p.drawEllipse(head + QPointF(1.7, -1.7), 1.0, 1.1);
    // Rosy cheeks.
    p.setBrush(QColor(240, 120, 150));
    p.drawEllipse(head + QPointF(-4.4, 1.4), 1.2, 0.8);
    p.drawEllipse(head + QPointF(4.4, 1.4), 1.2, 0.8);
    // The beak, wide open: a red mouth with a tongue, yellow above and below.
    p.setPen(outlinePen(0.55, kBeakDark));
    p.setBrush(kMouth);
    p.drawEllipse(head + QPointF(0, 3.4), 2.6, 2.9);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 130, 140));
    p.drawEllipse(head + QPointF(0, 5.0), 1.3, 0.9);
    p.setPen(outlinePen(0.55, kBeakDark));
    p.setBrush(kBeak);
    QPainterPath upper;
    upper.moveTo(head + QPointF(-3.0, 0.6));
    upper.quadTo(head + QPointF(0, -0.8), head + QPointF(3.0, 0.6));
    upper.lineTo(head + QPointF(0, 2.6));
    upper.closeSubpath();
    p.drawPath(upper);
    QPainterPath lower;
    lower.moveTo(head + QPointF(-2.2, 6.0));
    lower.quadTo(head + QPointF(0, 5.2), head + QPointF(2.2, 6.0));
    lower.lineTo(head + QPointF(0, 8.0));
    lower.closeSubpath();
    p.drawPath(lower);
    // Notes flying off.
    paintMusicNote(p, QPointF(68, 12), true);
    paintMusicNote(p, QPointF(78, 5), false);
    paintMusicNote(p, QPointF(28, 9), false);
}

// ---- The cat -------------------------------------------------------------------------------

const QColor kCatFur(236, 150, 64);
const QColor kCatStripe(190, 100, 38);
const QColor kCatCream(252, 230, 188);
const QColor kCatOutline(66, 34, 18);
const QColor kCatPink(244, 150, 160);
const QColor kCatEye(18, 16, 24);

enum class CatFace { Curious, Happy };

// A cat's head seen from the front, size s = half its width.
void paintCatHead(QPainter& p, QPointF centre, double s, double tiltDeg, CatFace face, QPointF look = {}) {
    p.save();
    p.translate(centre);
    p.rotate(tiltDeg);
    const QPen outline = outlinePen(0.7, kCatOutline);
    for (int side : {-1, 1}) {
        QPainterPath ear;
        ear.moveTo(side * 0.92 * s, -0.25 * s);
        ear.lineTo(side * 0.78 * s, -1.18 * s);
        ear.lineTo(side * 0.18 * s, -0.74 * s);
        ear.closeSubpath();
        p.setPen(outline);
        p.setBrush(kCatFur);
        p.drawPath(ear);
        QPainterPath inner;
        inner.moveTo(side * 0.76 * s, -0.42 * s);
        inner.lineTo(side * 0.72 * s, -0.96 * s);
        inner.lineTo(side * 0.38 * s, -0.70 * s);
        inner.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(kCatPink);
        p.drawPath(inner);
    }
    // The head: round, a little wider at the cheeks.
    QPainterPath head;
    head.moveTo(0, -0.86 * s);
    head.cubicTo(0.62 * s, -0.86 * s, 0.98 * s, -0.5 * s, 1.0 * s, 0.05 * s);
    head.cubicTo(1.04 * s, 0.55 * s, 0.6 * s, 0.82 * s, 0, 0.82 * s);
    head.cubicTo(-0.6 * s, 0.82 * s, -1.04 * s, 0.55 * s, -1.0 * s, 0.05 * s);
    head.cubicTo(-0.98 * s, -0.5 * s, -0.62 * s, -0.86 * s, 0, -0.86 * s);
    p.setPen(outline);
    p.setBrush(kCatFur);
    p.drawPath(head);
    // Tabby marks on the forehead.
    p.setPen(QPen(kCatStripe, 0.11 * s + 0.25, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(0, -0.8 * s), QPointF(0, -0.52 * s));
    p.drawLine(QPointF(-0.3 * s, -0.76 * s), QPointF(-0.24 * s, -0.52 * s));
    p.drawLine(QPointF(0.3 * s, -0.76 * s), QPointF(0.24 * s, -0.52 * s));
    // Muzzle.
    p.setPen(Qt::NoPen);
    p.setBrush(kCatCream);
    p.drawEllipse(QPointF(-0.22 * s, 0.36 * s), 0.3 * s, 0.26 * s);
    p.drawEllipse(QPointF(0.22 * s, 0.36 * s), 0.3 * s, 0.26 * s);
    // Eyes.
    if (face == CatFace::Curious) {
        for (int side : {-1, 1}) {
            const QPointF eye(side * 0.42 * s, -0.08 * s);
            p.setBrush(kCatEye);
            p.drawEllipse(eye + look * 0.08 * s, 0.2 * s, 0.24 * s);
            p.setBrush(Qt::white);
            p.drawEllipse(eye + look * 0.08 * s + QPointF(-0.07 * s, -0.09 * s), 0.075 * s + 0.1, 0.075 * s + 0.1);
        }
    } else {
        p.setPen(QPen(kCatEye, 0.09 * s + 0.3, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        for (int side : {-1, 1}) {
            const QPointF eye(side * 0.42 * s, -0.04 * s);
            p.drawArc(QRectF(eye.x() - 0.2 * s, eye.y() - 0.14 * s, 0.4 * s, 0.36 * s), 20 * 16, 140 * 16);
        }
    }
    // Nose and mouth.
    QPainterPath nose;
    nose.moveTo(-0.13 * s, 0.17 * s);
    nose.lineTo(0.13 * s, 0.17 * s);
    nose.lineTo(0, 0.3 * s);
    nose.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(kCatPink.darker(115));
    p.drawPath(nose);
    p.setPen(QPen(kCatOutline, 0.07 * s + 0.2, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    if (face == CatFace::Happy) {
        QPainterPath open;
        open.moveTo(-0.2 * s, 0.42 * s);
        open.quadTo(0, 0.74 * s, 0.2 * s, 0.42 * s);
        open.closeSubpath();
        p.setBrush(kMouth);
        p.drawPath(open);
    } else {
        p.drawArc(QRectF(-0.26 * s, 0.22 * s, 0.26 * s, 0.24 * s), 200 * 16, 160 * 16);
        p.drawArc(QRectF(0, 0.22 * s, 0.26 * s, 0.24 * s), 180 * 16, 160 * 16);
    }
    // Whiskers: short, inside the picture.
    p.setPen(QPen(kCatCream.darker(105), 0.45, Qt::SolidLine, Qt::RoundCap));
    for (int side : {-1, 1}) {
        p.drawLine(QPointF(side * 0.5 * s, 0.36 * s), QPointF(side * 1.25 * s, 0.24 * s));
        p.drawLine(QPointF(side * 0.5 * s, 0.46 * s), QPointF(side * 1.22 * s, 0.54 * s));
    }
    p.restore();
}

void paintPaw(QPainter& p, QPointF at, double r, double angleDeg = 0) {
    p.save();
    p.translate(at);
    p.rotate(angleDeg);
    p.setPen(outlinePen(0.6, kCatOutline));
    p.setBrush(kCatCream);
    p.drawEllipse(QPointF(0, 0), r * 1.15, r);
    p.setPen(QPen(kCatOutline, 0.45, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(-r * 0.38, -r * 0.1), QPointF(-r * 0.38, r * 0.75));
    p.drawLine(QPointF(r * 0.38, -r * 0.1), QPointF(r * 0.38, r * 0.75));
    p.restore();
}

QPainterPath tailPath(const QPointF& from, const QPointF& c1, const QPointF& c2, const QPointF& to) {
    QPainterPath tail(from);
    tail.cubicTo(c1, c2, to);
    return tail;
}

void paintTail(QPainter& p, const QPainterPath& spine, double width) {
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kCatOutline, width + 1.3, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(spine);
    p.setPen(QPen(kCatFur, width, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(spine);
    // Rings along the tail.
    p.setPen(QPen(kCatStripe, width * 0.9, Qt::SolidLine, Qt::FlatCap));
    for (double t = 0.3; t < 0.95; t += 0.22) {
        const QPointF a = spine.pointAtPercent(t);
        const QPointF b = spine.pointAtPercent(std::min(1.0, t + 0.05));
        p.drawLine(a, b);
    }
}

// cat4: peeking over the right-hand slope of the roof, the tail sticking up behind the left one.
void paintCatPeekingBehind(QPainter& p) {
    paintTail(p, tailPath(QPointF(30, 22), QPointF(27, 14), QPointF(24, 10), QPointF(28.5, 6.5)), 2.6);
    paintCatHead(p, QPointF(73.0, 15.5), 8.0, 30, CatFace::Curious, QPointF(-1, 0.6));
}

void paintCatPeekingFront(QPainter& p) {
    paintPaw(p, QPointF(65.0, 15.2), 1.9, 45);
    paintPaw(p, QPointF(73.8, 24.0), 1.9, 45);
}

// cat3: going down the side of the house backwards, as cats do, looking over its shoulder.
void paintCatClimbing(QPainter& p) {
    const double x = 74.5;
    paintTail(p, tailPath(QPointF(x, 60), QPointF(x + 1.5, 66), QPointF(x + 8, 66), QPointF(x + 8.5, 60.5)), 2.4);
    // Hind legs reaching down.
    for (int side : {-1, 1}) {
        p.setPen(outlinePen(0.7, kCatOutline));
        p.setBrush(kCatFur);
        p.drawEllipse(QPointF(x + side * 4.3, 57.5), 2.4, 4.0);
        paintPaw(p, QPointF(x + side * 5.0, 62.0), 1.6);
    }
    // The back, with stripes across it.
    QPainterPath back;
    back.addEllipse(QPointF(x, 49.5), 6.2, 10.5);
    p.setPen(outlinePen(0.7, kCatOutline));
    p.setBrush(kCatFur);
    p.drawPath(back);
    p.save();
    p.setClipPath(back);
    p.setPen(QPen(kCatStripe, 1.1, Qt::SolidLine, Qt::RoundCap));
    for (double y = 45; y < 60; y += 3.2) {
        p.drawLine(QPointF(x - 6, y + 1.2), QPointF(x - 2.2, y));
        p.drawLine(QPointF(x + 6, y + 1.2), QPointF(x + 2.2, y));
    }
    p.restore();
    // Front legs stretched up, paws holding on under the roof.
    for (int side : {-1, 1}) {
        p.setPen(outlinePen(0.7, kCatOutline));
        p.setBrush(kCatFur);
        p.drawEllipse(QPointF(x + side * 5.2, 38.5), 2.0, 4.6);
        paintPaw(p, QPointF(x + side * 5.6, 33.6), 1.6);
    }
    paintCatHead(p, QPointF(x, 41.5), 6.6, -8, CatFace::Curious, QPointF(-1, 0.4));
}

void paintSittingCatBody(QPainter& p, bool waving) {
    const double x = kMid;
    // The tail curls round the front paws.
    paintTail(p, tailPath(QPointF(x + 10, 94), QPointF(x + 17, 93), QPointF(x + 16, 84), QPointF(x + 12.5, 80.5)), 3.0);
    QPainterPath body;
    body.moveTo(x - 6.5, 71);
    body.cubicTo(x - 12, 78, x - 14, 90, x - 12.5, 97.5);
    body.lineTo(x + 12.5, 97.5);
    body.cubicTo(x + 14, 90, x + 12, 78, x + 6.5, 71);
    body.closeSubpath();
    p.setPen(outlinePen(0.8, kCatOutline));
    p.setBrush(kCatFur);
    p.drawPath(body);
    p.save();
    p.setClipPath(body);
    p.setPen(QPen(kCatStripe, 1.3, Qt::SolidLine, Qt::RoundCap));
    for (double y = 80; y < 96; y += 4) {
        p.drawLine(QPointF(x - 14, y), QPointF(x - 9.5, y - 1.4));
        p.drawLine(QPointF(x + 14, y), QPointF(x + 9.5, y - 1.4));
    }
    p.restore();
    // Cream bib.
    QPainterPath bib;
    bib.moveTo(x - 5, 72);
    bib.cubicTo(x - 6.5, 80, x - 4.5, 86, x, 88);
    bib.cubicTo(x + 4.5, 86, x + 6.5, 80, x + 5, 72);
    bib.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(kCatCream);
    p.drawPath(bib);
    // Front legs; with one waving, only the other stands on the ground.
    p.setPen(outlinePen(0.7, kCatOutline));
    p.setBrush(kCatFur);
    if (!waving) p.drawRoundedRect(QRectF(x - 7.6, 82, 5.2, 15.5), 2.4, 2.4);
    p.drawRoundedRect(QRectF(x + 2.4, 82, 5.2, 15.5), 2.4, 2.4);
    if (!waving) paintPaw(p, QPointF(x - 5.0, 96.4), 2.4);
    paintPaw(p, QPointF(x + 5.0, 96.4), 2.4);
    if (waving) {
        // The raised paw, beside the head, with a couple of swish lines.
        QPainterPath arm;
        arm.moveTo(x - 7.8, 79);
        arm.cubicTo(x - 12.5, 76, x - 15.5, 70, x - 15.6, 63.5);
        arm.lineTo(x - 11.2, 63.2);
        arm.cubicTo(x - 11.2, 68, x - 8.8, 72.5, x - 4.8, 76);
        arm.closeSubpath();
        p.setPen(outlinePen(0.7, kCatOutline));
        p.setBrush(kCatFur);
        p.drawPath(arm);
        p.setPen(outlinePen(0.7, kCatOutline));
        p.setBrush(kCatCream);
        p.drawEllipse(QPointF(x - 13.4, 62.2), 3.1, 2.8);
        p.setBrush(kCatPink);
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPointF(x - 13.4, 62.9), 1.2, 1.0);
        p.drawEllipse(QPointF(x - 15.0, 61.0), 0.6, 0.6);
        p.drawEllipse(QPointF(x - 13.4, 60.3), 0.6, 0.6);
        p.drawEllipse(QPointF(x - 11.8, 61.0), 0.6, 0.6);
        p.setPen(QPen(QColor(255, 244, 214), 0.8, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(x - 24, 56, 10, 12), 110 * 16, 70 * 16);
        p.drawArc(QRectF(x - 27, 54, 14, 16), 115 * 16, 60 * 16);
    }
}

void paintCatSitting(QPainter& p, bool waving) {
    paintSittingCatBody(p, waving);
    if (waving)
        paintCatHead(p, QPointF(kMid + 1.0, 67.2), 9.0, 7, CatFace::Happy);
    else
        paintCatHead(p, QPointF(kMid, 66.5), 9.0, 0, CatFace::Curious, QPointF(0, -1));
}

}  // namespace

QImage drawClock(ClockScene scene) {
    Canvas canvas(kClockSize, kClockSize, QColor::fromRgb(kWindowGrey));
    QPainter& p = canvas.painter();
    if (scene == ClockScene::CatOnRoof) paintCatPeekingBehind(p);
    const bool open = scene == ClockScene::DoorOpen || scene == ClockScene::BirdLeaning ||
                      scene == ClockScene::BirdSinging;
    paintHouse(p, open ? Door::Open : Door::Closed);
    switch (scene) {
    case ClockScene::Plain: break;
    case ClockScene::DoorOpen: paintEyesInTheDark(p); break;
    case ClockScene::BirdLeaning: paintBirdLeaning(p); break;
    case ClockScene::BirdSinging: paintBirdSinging(p); break;
    case ClockScene::CatOnRoof: paintCatPeekingFront(p); break;
    case ClockScene::CatClimbing: paintCatClimbing(p); break;
    case ClockScene::CatSitting: paintCatSitting(p, false); break;
    case ClockScene::CatWaving: paintCatSitting(p, true); break;
    }
    QImage image = canvas.finish().convertToFormat(QImage::Format_RGB32);
    stampTicks(image);
    return image;
}

QImage drawIcon(int size) {
    // One drawing on a 32-unit grid for every size, the 32 px window icon being the reference. From
    // 48 px up there is room for the big clock's planks, shingles, brass and ticks, and from 128 px the
    // outlines grow less than the picture so that they do not turn heavy. At 16 px the gable door is a
    // smudge: it makes way for hands thick enough to read.
    const bool detailed = size >= 48, tiny = size < 24;
    const double weight = size >= 128 ? 0.7 : 1.0;
    Canvas canvas(size, size, Qt::transparent);
    QPainter& p = canvas.painter();
    p.scale(size / 32.0, size / 32.0);
    const QPen line = outlinePen(1.0 * weight);
    // Wall.
    QPainterPath wall;
    wall.moveTo(6, 14);
    wall.lineTo(16, 5);
    wall.lineTo(26, 14);
    wall.lineTo(26, 28);
    wall.lineTo(6, 28);
    wall.closeSubpath();
    p.setPen(line);
    if (detailed) {
        QLinearGradient shade(0, 5, 0, 28);
        shade.setColorAt(0, kWood.lighter(110));
        shade.setColorAt(1, kWood.darker(108));
        p.setBrush(shade);
        p.drawPath(wall);
        p.save();
        p.setClipPath(wall);
        p.setPen(QPen(kWoodSeam, 0.3));
        for (double x : {9.5, 13.0, 19.0, 22.5}) p.drawLine(QPointF(x, 0), QPointF(x, 32));
        p.restore();
        p.setPen(line);
        p.setBrush(Qt::NoBrush);
        p.drawPath(wall);
    } else {
        p.setBrush(kWood);
        p.drawPath(wall);
    }
    // Roof boards.
    for (int side : {-1, 1}) {
        QPainterPath board;
        board.moveTo(16, 1.2);
        board.lineTo(16 + side * 15, 16.2);
        board.lineTo(16 + side * 15, 19.4);
        board.lineTo(16, 4.6);
        board.closeSubpath();
        p.setPen(line);
        p.setBrush(kRoof);
        p.drawPath(board);
        if (!detailed) continue;
        // Two rows of shingles with staggered joints and a lit top edge, as on the big clock.
        p.save();
        p.setClipPath(board);
        const double r2 = std::sqrt(2.0);
        const double across = 3.4 / r2;         // the board's thickness at right angles
        const QPointF down(side / r2, 1 / r2);  // along the board, away from the apex
        const QPointF in(-side / r2, 1 / r2);   // across the board, from its top edge inwards
        const QPointF apex(16, 1.2);
        p.setPen(QPen(kRoofDark, 0.3));
        p.drawLine(apex + in * (across / 2), apex + in * (across / 2) + down * 22);
        for (int i = 1; i < 11; ++i) {
            const QPointF top = apex + down * (i * 2.0);
            p.drawLine(top, top + in * (across / 2));
            const QPointF mid = apex + down * (i * 2.0 + 1.0) + in * (across / 2);
            p.drawLine(mid, mid + in * (across / 2));
        }
        p.setPen(QPen(kRoofLight, 0.35));
        p.drawLine(apex + in * 0.55, apex + in * 0.55 + down * 22);
        p.restore();
        p.setPen(line);
        p.setBrush(Qt::NoBrush);
        p.drawPath(board);
    }
    if (detailed) {
        // The carved cap over the joint at the apex.
        QPainterPath cap;
        cap.moveTo(16, 0.5);
        cap.lineTo(17.5, 2.3);
        cap.lineTo(16, 5.2);
        cap.lineTo(14.5, 2.3);
        cap.closeSubpath();
        p.setPen(outlinePen(0.6 * weight));
        p.setBrush(kWoodLight);
        p.drawPath(cap);
    }
    // Dial with hands at ten past ten, so that it reads as a clock even this small.
    const QPointF c(16, 18.5);
    p.setPen(outlinePen(0.9 * weight));
    if (detailed) {
        QLinearGradient brass(c + QPointF(-5, -5), c + QPointF(5, 5));
        brass.setColorAt(0, kBrassLight);
        brass.setColorAt(0.55, kBrass);
        brass.setColorAt(1, kBrassDark);
        p.setBrush(brass);
    } else {
        p.setBrush(kBrass);
    }
    p.drawEllipse(c, 6.6, 6.6);
    p.setBrush(QColor(250, 240, 214));
    p.setPen(Qt::NoPen);
    p.drawEllipse(c, 5.0, 5.0);
    if (detailed) {
        // Twelve ticks, the quarters longer; at 48 px the others would be grey dust.
        for (int hour = 0; hour < 12; hour += size >= 64 ? 1 : 3) {
            const double a = hour * std::numbers::pi / 6;
            const QPointF dir(std::sin(a), -std::cos(a));
            const bool quarter = hour % 3 == 0;
            p.setPen(QPen(kOutline, quarter ? 0.5 : 0.35, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(c + dir * (quarter ? 3.5 : 3.95), c + dir * 4.5);
        }
    }
    p.setPen(QPen(kOutline, tiny ? 2.0 : 1.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c, c + QPointF(-2.4, -1.4));
    p.setPen(QPen(kOutline, tiny ? 1.6 : 1.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c, c + QPointF(1.2, -4.0));
    if (detailed) {
        p.setPen(Qt::NoPen);
        p.setBrush(kBrass);
        p.drawEllipse(c, 0.55, 0.55);
    }
    // Door in the gable.
    if (!tiny) {
        const QRectF door(14.4, 7.6, 3.2, 3.8);
        p.setPen(outlinePen(0.7 * weight));
        if (detailed) {
            QLinearGradient shade(door.left(), 0, door.right(), 0);
            shade.setColorAt(0, kWoodLight);
            shade.setColorAt(1, kWoodLight.darker(118));
            p.setBrush(shade);
        } else {
            p.setBrush(kWoodLight);
        }
        p.drawRoundedRect(door, 1.4, 1.4);
        if (detailed) {
            p.setPen(QPen(kWoodSeam, 0.25));
            p.drawLine(QPointF(16, door.top() + 0.4), QPointF(16, door.bottom() - 0.3));
            p.setPen(Qt::NoPen);
            p.setBrush(kBrass);
            p.drawEllipse(QPointF(16.85, 9.9), 0.28, 0.28);
        }
    }
    // Shelf and a weight.
    p.setPen(line);
    p.setBrush(kWoodDark);
    p.drawRect(QRectF(4.5, 28, 23, 2.4));
    if (detailed) {
        p.setPen(QPen(kWoodLight, 0.3));
        p.drawLine(QPointF(5.0, 28.55), QPointF(27.0, 28.55));
    }
    return canvas.finish();
}

}  // namespace vellumine::pictures
