#pragma once
// The ghost cat: a borderless, always-on-top window cut to the outline of a cat picture, which
// wanders over the screen, can be dragged with the left button and ends the program on the right.
#include <array>
#include <cstdint>
#include <vector>

#include "core/controls.h"
#include "core/form.h"
#include "core/timer.h"
#include "platform/pointer.h"
#include "platform/regions.h"

class Form1 : public core::Form {
public:
    Form1();
    ~Form1() override;

    void Form_Load() override;
    void Form_Unload(int& cancel) override;
    void Form_MouseDown(int button, int shift) override;
    void Timer1_Timer();

    // Turns each of the eight pictures into a region and keeps the region's data in its slot.
    void BuildRegions();

    // The picture store: eight 100 x 100 cat pictures on silver; 2 and 3 mirror 0 and 1, 4-7 copy 0-3.
    std::array<QImage, 8> Picture1;
    // Region data of each picture, as GetRegionData writes it; sized by what the region needs.
    std::array<std::vector<unsigned char>, 8> RegionSlots;

    core::PictureBox Picture;  // what the window shows
    core::Timer Timer1;

    float TwipsX = 15, TwipsY = 15;
    int16_t StepX = 0, StepY = 0;
    int16_t StepsLeft = 0;
    platform::XFORM IdentityTransform{};
    platform::HRGN CurrentRegion = nullptr;

    // Shows frame i, cut to its outline (a new region from the kept data, handed to the window).
    void ApplyRegion(int i);

    // The frame for a walk: parity of the steps left, then right-or-not, then up-or-not.
    static int FrameIndex(int16_t stepsLeft, int16_t stepX, int16_t stepY);
};

namespace prog {
extern platform::POINT CursorPoint;  // where the pointer was when the ghost cat came
}
