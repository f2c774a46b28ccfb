#pragma once
// Window regions: rectangles combined into shapes, their data kept and recreated, and a window cut
// to one. Handles are owned by the caller until handed to a window with SetWindowRgn.
#include <cstdint>
#include <vector>

#include "platform/window.h"

namespace platform {

struct RegionObject;
using HRGN = RegionObject*;

constexpr int RGN_OR = 2;
// Results of CombineRgn.
constexpr int ERROR_REGION = 0;
constexpr int NULLREGION = 1;
constexpr int SIMPLEREGION = 2;
constexpr int COMPLEXREGION = 3;

#pragma pack(push, 1)
struct RECT {
    int32_t left, top, right, bottom;
};
struct RGNDATAHEADER {
    uint32_t dwSize;    // 32
    uint32_t iType;     // 1: rectangles
    uint32_t nCount;    // rectangles that follow
    uint32_t nRgnSize;  // bytes of the rectangles
    RECT rcBound;
};
#pragma pack(pop)
static_assert(sizeof(RGNDATAHEADER) == 32 && sizeof(RECT) == 16, "the region data layout is fixed");

struct XFORM {
    float eM11, eM12, eM21, eM22, eDx, eDy;
};

HRGN CreateRectRgn(int left, int top, int right, int bottom);
// The destination becomes the union of the two sources (the only mode the program uses); another
// mode gives ERROR_REGION and changes nothing.
int CombineRgn(HRGN dest, HRGN src1, HRGN src2, int mode);
int32_t DeleteObject(HRGN region);
// Writes the header and the rectangles into data when count is enough and returns the bytes written;
// when data is null or count too small, writes nothing and returns the bytes needed.
uint32_t GetRegionData(HRGN region, uint32_t count, void* data);
// A new region from data kept by GetRegionData; only the identity transform (or none) is supported.
HRGN ExtCreateRegion(const XFORM* transform, uint32_t count, const void* data);
// The window shows only the pixels inside the region and takes the region over (it is deleted here
// when replaced or when the window goes). A null region shows the whole window again.
int32_t SetWindowRgn(HWND window, HRGN region, bool redraw);

// How many regions are alive: for tests that look for leaks.
int LiveRegionCount();

}  // namespace platform
