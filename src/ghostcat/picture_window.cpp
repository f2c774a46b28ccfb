// The outline of each ghost-cat picture as a window region.
#include "ghostcat/ghost_cat_form.h"

namespace {

// Colour of a point, reading points outside the picture as -1, which never equals a key colour.
inline int64_t ColourAt(const QImage& img, int x, int y) {
    if (x < 0 || y < 0 || x >= img.width() || y >= img.height()) return -1;
    return int64_t(reinterpret_cast<const QRgb*>(img.constScanLine(y))[x] & 0x00FFFFFFu);
}

}  // namespace

void Form1::BuildRegions() {
    for (int k = 0; k < 8; ++k) {
        const QImage& pic = Picture1[k];
        const int64_t key = ColourAt(pic, 0, 0);
        platform::HRGN region = platform::CreateRectRgn(0, 0, 0, 0);
        // Every point of 0..100 x 0..100 whose colour is not the key belongs to the region. Whole runs
        // of a row are added at once: the same region as point by point, for a fraction of the unions.
        for (int y = 0; y <= 100; ++y) {
            int x = 0;
            while (x <= 100) {
                if (ColourAt(pic, x, y) == key) {
                    ++x;
                    continue;
                }
                const int start = x;
                while (x <= 100 && ColourAt(pic, x, y) != key) ++x;
                platform::HRGN run = platform::CreateRectRgn(start, y, x, y + 1);
                platform::CombineRgn(region, region, run, platform::RGN_OR);
                platform::DeleteObject(run);
            }
        }
        // Ask for the size first, then take the data with room to spare.
        std::vector<unsigned char>& slot = RegionSlots[k];
        slot.assign(100, 0);
        const uint32_t needed = platform::GetRegionData(region, 100, slot.data());
        slot.assign(needed + 50, 0);
        platform::GetRegionData(region, needed + 50, slot.data());
        platform::DeleteObject(region);
    }
}
