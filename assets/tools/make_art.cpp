// Build-time tool: draws every picture of the program and writes them where the build wants them.
//   vellumine_make_art GIF_DIR RESOURCE_DIR PREVIEW_DIR ICON_DIR ICON_SIZE...
// GIF_DIR gets the pictures the program loads at run time (Watch, Bird1-3, cat1-4, Green, Red);
// RESOURCE_DIR gets the PNGs compiled into the program (mainform/, ghostcat/); ICON_DIR gets the
// desktop entry's icon in every size asked for, laid out as in the hicolor theme
// (NxN/apps/vellumine.png); PREVIEW_DIR gets a PNG of each GIF, one contact sheet of everything and
// one of the icon's sizes, for people to look at.
#include "artkit/gif_writer.h"
#include "artkit/quantize.h"
#include "pictures/clock_house.h"
#include "pictures/ghost_cat.h"
#include "pictures/small_pictures.h"

#include <QDir>
#include <QCoreApplication>
#include <QPainter>
#include <QSaveFile>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

using namespace vellumine;

namespace {

[[noreturn]] void fail(const QString& what) {
    std::fprintf(stderr, "vellumine_make_art: %s\n", qPrintable(what));
    std::exit(1);
}

void savePng(const QImage& image, const QString& path) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") || !file.commit())
        fail("cannot write " + path);
}

void saveGif(const artkit::IndexedImage& image, const QString& path) {
    if (!artkit::writeGif(path, image)) fail("cannot write " + path);
}

struct Sheet {
    std::vector<std::pair<QString, QImage>> items;
    void add(const QString& name, const QImage& image) { items.emplace_back(name, image); }

    // Every picture at three times its size on the clock's window grey, in rows.
    QImage render() const {
        const int scale = 3, cell = 113 * scale + 12, columns = 5;
        const int rows = static_cast<int>((items.size() + columns - 1) / columns);
        QImage sheet(columns * cell, rows * cell, QImage::Format_RGB32);
        sheet.fill(QColor(48, 48, 48));
        QPainter p(&sheet);
        for (std::size_t i = 0; i < items.size(); ++i) {
            const QImage& image = items[i].second;
            const QPoint at(static_cast<int>(i % columns) * cell + 6, static_cast<int>(i / columns) * cell + 6);
            p.fillRect(QRect(at, image.size() * scale), QColor::fromRgb(pictures::kWindowGrey));
            p.drawImage(QRect(at, image.size() * scale), image);
        }
        return sheet;
    }
};

}  // namespace

int main(int argc, char** argv) {
    // Only images are painted, no text, so no GUI application (and no display) is needed.
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 6) {
        std::fprintf(stderr, "usage: %s GIF_DIR RESOURCE_DIR PREVIEW_DIR ICON_DIR ICON_SIZE...\n", argv[0]);
        return 2;
    }
    std::vector<int> iconSizes;
    for (qsizetype i = 5; i < args.size(); ++i) {
        bool number = false;
        const int size = args[i].toInt(&number);
        if (!number || size < 16 || size > 1024) fail("not an icon size: " + args[i]);
        iconSizes.push_back(size);
    }
    const QDir gifDir(args[1]), resourceDir(args[2]), previewDir(args[3]), iconDir(args[4]);
    for (const QString& sub : {resourceDir.filePath("mainform"), resourceDir.filePath("ghostcat"), gifDir.path(),
                               previewDir.path()})
        if (!QDir().mkpath(sub)) fail("cannot create " + sub);
    Sheet sheet;

    // The clock and its shows share one palette, so that the house and dial come out the same
    // pixels in every frame.
    using pictures::ClockScene;
    const std::vector<std::pair<QString, ClockScene>> scenes = {
        {"Watch", ClockScene::Plain},         {"Bird1", ClockScene::DoorOpen},
        {"Bird2", ClockScene::BirdLeaning},   {"Bird3", ClockScene::BirdSinging},
        {"cat4", ClockScene::CatOnRoof},      {"cat3", ClockScene::CatClimbing},
        {"cat2", ClockScene::CatSitting},     {"cat1", ClockScene::CatWaving},
    };
    std::vector<QImage> frames;
    for (const auto& [name, scene] : scenes) frames.push_back(pictures::drawClock(scene));
    const std::vector<QRgb> clockPalette = artkit::buildPalette(frames, 256);
    for (std::size_t i = 0; i < scenes.size(); ++i) {
        const artkit::IndexedImage indexed = artkit::toIndexed(frames[i], clockPalette);
        saveGif(indexed, gifDir.filePath(scenes[i].first + ".gif"));
        const QImage shown = artkit::toQImage(indexed);
        savePng(shown, previewDir.filePath(scenes[i].first + ".png"));
        sheet.add(scenes[i].first, shown);
        if (scenes[i].second == ClockScene::Plain) savePng(shown, resourceDir.filePath("mainform/picMain.png"));
    }

    // The strip and the lamp: 16 x 16 is 256 pixels, so the lamps keep their exact colours.
    const QImage strip = pictures::drawStrip();
    savePng(strip, resourceDir.filePath("mainform/Picture5.png"));
    sheet.add("Picture5", strip);
    for (const auto& [name, colour] : {std::pair{QStringLiteral("Green"), pictures::LampColour::Green},
                                       std::pair{QStringLiteral("Red"), pictures::LampColour::Red}}) {
        const QImage lamp = pictures::drawLamp(colour, strip);
        const artkit::IndexedImage indexed = artkit::toIndexed(lamp, artkit::buildPalette({lamp}, 256));
        saveGif(indexed, gifDir.filePath(name + ".gif"));
        const QImage shown = artkit::toQImage(indexed);
        savePng(shown, previewDir.filePath(name + ".png"));
        sheet.add(name, shown);
        if (colour == pictures::LampColour::Green) savePng(shown, resourceDir.filePath("mainform/Image1.png"));
    }

    const QImage icon = pictures::drawIcon(32);
    savePng(icon, resourceDir.filePath("mainform/icon.png"));
    sheet.add("icon", icon);
    const std::pair<QString, QImage> small[] = {
        {"Picture1", pictures::drawSmallClock()},
        {"Picture7", pictures::drawSmallEnvelope()},
        {"Picture8", pictures::drawSmallCatFace()},
        {"Picture10", pictures::drawSmallHouse()},
    };
    for (const auto& [name, image] : small) {
        savePng(image, resourceDir.filePath("mainform/" + name + ".png"));
        sheet.add(name, image);
    }

    // The ghost cat: two steps facing left, the same two facing right, then all four again.
    QImage ghost[4];
    ghost[0] = pictures::drawGhostCat(0);
    ghost[1] = pictures::drawGhostCat(1);
    ghost[2] = ghost[0].mirrored(true, false);
    ghost[3] = ghost[1].mirrored(true, false);
    for (int i = 0; i < 8; ++i)
        savePng(ghost[i % 4], resourceDir.filePath(QStringLiteral("ghostcat/Picture1_%1.png").arg(i)));
    for (int i = 0; i < 4; ++i) sheet.add(QStringLiteral("ghost%1").arg(i), ghost[i]);

    savePng(sheet.render(), previewDir.filePath("contact-sheet.png"));

    // The desktop entry's icon, each size drawn afresh, and all of them side by side on a light and
    // a dark panel, as menus and docks show them.
    int sheetWidth = 8, largest = 0;
    for (int size : iconSizes) sheetWidth += size + 8, largest = std::max(largest, size);
    QImage iconSheet(sheetWidth, 2 * largest + 16, QImage::Format_RGB32);
    iconSheet.fill(QColor(240, 240, 240));
    QPainter p(&iconSheet);
    p.fillRect(0, largest + 8, sheetWidth, largest + 8, QColor(48, 48, 48));
    int x = 8;
    for (int size : iconSizes) {
        const QString folder = iconDir.filePath(QStringLiteral("%1x%1/apps").arg(size));
        if (!QDir().mkpath(folder)) fail("cannot create " + folder);
        const QImage image = pictures::drawIcon(size);
        savePng(image, folder + "/vellumine.png");
        p.drawImage(x, 4, image);
        p.drawImage(x, largest + 12, image);
        x += size + 8;
    }
    p.end();
    savePng(iconSheet, previewDir.filePath("icons.png"));
    return 0;
}
