#include "platform/regions.h"

#include <QPointer>
#include <QRegion>
#include <QWidget>
#include <cstring>
#include <unordered_map>

namespace platform {

struct RegionObject {
    QRegion region;
};

namespace {

int g_live = 0;

HRGN Make(QRegion r) {
    ++g_live;
    return new RegionObject{std::move(r)};
}

int Kind(const QRegion& r) {
    if (r.isEmpty()) return NULLREGION;
    return r.rectCount() == 1 ? SIMPLEREGION : COMPLEXREGION;
}

// The region each window was given, kept until the next one replaces it.
std::unordered_map<const QWidget*, HRGN>& Owned() {
    static std::unordered_map<const QWidget*, HRGN> owned;
    return owned;
}

}  // namespace

HRGN CreateRectRgn(int left, int top, int right, int bottom) {
    // Corners may come in either order; an empty rectangle makes an empty region.
    const int l = std::min(left, right), r = std::max(left, right);
    const int t = std::min(top, bottom), b = std::max(top, bottom);
    return Make(QRegion(l, t, r - l, b - t));
}

int CombineRgn(HRGN dest, HRGN src1, HRGN src2, int mode) {
    if (!dest || !src1 || !src2 || mode != RGN_OR) return ERROR_REGION;
    dest->region = src1->region.united(src2->region);
    return Kind(dest->region);
}

int32_t DeleteObject(HRGN region) {
    if (!region) return 0;
    --g_live;
    delete region;
    return 1;
}

uint32_t GetRegionData(HRGN region, uint32_t count, void* data) {
    if (!region) return 0;
    const uint32_t rects = uint32_t(region->region.rectCount());
    const uint32_t needed = uint32_t(sizeof(RGNDATAHEADER)) + rects * uint32_t(sizeof(RECT));
    if (!data || count < needed) return needed;
    RGNDATAHEADER header{};
    header.dwSize = sizeof(RGNDATAHEADER);
    header.iType = 1;
    header.nCount = rects;
    header.nRgnSize = rects * sizeof(RECT);
    const QRect bound = region->region.boundingRect();
    header.rcBound = bound.isEmpty() ? RECT{0, 0, 0, 0}
                                     : RECT{bound.left(), bound.top(), bound.right() + 1, bound.bottom() + 1};
    auto* out = static_cast<unsigned char*>(data);
    std::memcpy(out, &header, sizeof header);
    out += sizeof header;
    for (const QRect& r : region->region) {
        const RECT rc{r.left(), r.top(), r.right() + 1, r.bottom() + 1};
        std::memcpy(out, &rc, sizeof rc);
        out += sizeof rc;
    }
    return needed;
}

HRGN ExtCreateRegion(const XFORM* transform, uint32_t count, const void* data) {
    if (transform && (transform->eM11 != 1 || transform->eM12 != 0 || transform->eM21 != 0 ||
                      transform->eM22 != 1 || transform->eDx != 0 || transform->eDy != 0))
        return nullptr;
    if (!data || count < sizeof(RGNDATAHEADER)) return nullptr;
    RGNDATAHEADER header;
    std::memcpy(&header, data, sizeof header);
    if (header.dwSize != sizeof(RGNDATAHEADER) || header.iType != 1) return nullptr;
    // Never read past what the caller says it handed over, whatever the header claims.
    const uint64_t available = (uint64_t(count) - sizeof header) / sizeof(RECT);
    if (header.nCount > available) return nullptr;
    QList<QRect> rects;
    rects.reserve(qsizetype(header.nCount));
    const auto* in = static_cast<const unsigned char*>(data) + sizeof header;
    for (uint32_t i = 0; i < header.nCount; ++i, in += sizeof(RECT)) {
        RECT rc;
        std::memcpy(&rc, in, sizeof rc);
        if (rc.right > rc.left && rc.bottom > rc.top)
            rects.append(QRect(rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top));
    }
    QRegion region;
    region.setRects(rects.constData(), int(rects.size()));
    return Make(std::move(region));
}

int32_t SetWindowRgn(HWND window, HRGN region, bool redraw) {
    if (!window) return 0;
    auto& owned = Owned();
    auto it = owned.find(window);
    if (it == owned.end()) {
        it = owned.emplace(window, nullptr).first;
        // The last region goes with the window.
        QObject::connect(window, &QObject::destroyed, [w = static_cast<const QWidget*>(window)] {
            auto& o = Owned();
            if (auto i = o.find(w); i != o.end()) {
                DeleteObject(i->second);
                o.erase(i);
            }
        });
    }
    if (it->second != region) DeleteObject(it->second);
    it->second = region;
    if (region)
        window->setMask(region->region);
    else
        window->clearMask();
    if (redraw) window->update();
    return 1;
}

int LiveRegionCount() { return g_live; }

}  // namespace platform

