#include "ghostcat/ghost_cat_form.h"

#include <algorithm>
#include <cstring>

#include "app/forms.h"
#include "app/main_form.h"
#include "core/event_loop.h"
#include "core/numbers.h"
#include "core/random.h"
#include "core/screen.h"
#include "platform/window.h"

namespace prog {
platform::POINT CursorPoint{0, 0};
}

namespace {

QImage StoredFrame(int k) {
    QImage img(QStringLiteral(":/ghostcat/Picture1_%1.png").arg(k));
    return img.isNull() ? img : img.convertToFormat(QImage::Format_RGB32);
}

}  // namespace

Form1::Form1()
    : core::Form(QStringLiteral("Form1"), 1500, 1500),
      Picture(client(), core::Place{0, 0, 1500, 1500}, StoredFrame(0)),
      Timer1(200) {
    // Borderless, never taking the focus from what the user is doing. A wandering cat is no program
    // of its own: not in the task bar or a pager, never asking for attention (a tool window alone
    // does not keep it out of every task bar: KWin lists it).
    hWnd()->setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::Tool);
    platform::NeverFocus(hWnd());
    platform::KeepOutOfTaskBars(hWnd());
    for (int k = 0; k < 8; ++k) Picture1[k] = StoredFrame(k);
    Timer1.OnTimer = [this] { Timer1_Timer(); };
}

Form1::~Form1() = default;

void Form1::Form_Load() {
    BuildRegions();
    const QSize size = Picture1[0].isNull() ? QSize(100, 100) : Picture1[0].size();
    client()->setFixedSize(size);
    platform::SetWindowPos(hWnd(), platform::HWND_TOPMOST, 0, 0, 0, 0, platform::SWP_NOSIZE | platform::SWP_NOMOVE);
    TwipsX = core::TwipsPerPixelX();
    TwipsY = core::TwipsPerPixelY();
    core::Randomize(core::Loop().TimeGetTime());
    platform::GetCursorPos(&prog::CursorPoint);
    SetTop(int(TwipsY * float(prog::CursorPoint.y)));
    SetLeft(int(TwipsX * float(prog::CursorPoint.x)));
    StepX = -5;
    StepY = -2;
    // Cut to the first frame's outline from the moment it comes out, not only from the first tick:
    // otherwise the whole silver square shows for a fifth of a second.
    ApplyRegion(0);
}

void Form1::ApplyRegion(int i) {
    IdentityTransform = platform::XFORM{1, 0, 0, 1, 0, 0};
    const std::vector<unsigned char>& slot = RegionSlots[i];
    uint32_t bytes = 0;
    if (slot.size() >= sizeof(platform::RGNDATAHEADER)) {
        platform::RGNDATAHEADER header;
        std::memcpy(&header, slot.data(), sizeof header);
        bytes = header.dwSize + header.nRgnSize;
    }
    CurrentRegion = platform::ExtCreateRegion(&IdentityTransform, std::min<size_t>(bytes, slot.size()), slot.data());
    Picture.SetPicture(Picture1[i]);
    // The window owns the region from here on and releases the previous one.
    platform::SetWindowRgn(hWnd(), CurrentRegion, true);
}

void Form1::Form_Unload(int&) {
    // No wandering between the unload and the window's destruction.
    Timer1.SetEnabled(false);
}

int Form1::FrameIndex(int16_t stepsLeft, int16_t stepX, int16_t stepY) {
    return (stepsLeft % 2) + 2 * (stepX > 0 ? 1 : 0) + 4 * (stepY < 0 ? 1 : 0);
}

void Form1::Timer1_Timer() {
    if (StepsLeft < 1) {
        StepsLeft = core::RoundToInt16((core::Rnd() * 10 + 3) * 2);
        StepX = core::RoundToInt16((core::Rnd() * 10 - 5) * TwipsX);
        StepY = core::RoundToInt16((core::Rnd() * 10 - 5) * TwipsY);
    }
    StepsLeft -= 1;

    int32_t newLeft = core::RoundToInt32(double(StepX) + Left());
    int32_t newTop = core::RoundToInt32(double(StepY) + Top());
    if (newLeft < 0) newLeft = 0;
    if (newTop < 0) newTop = 0;
    const float screenW = float(core::ScreenWidthTwips()), screenH = float(core::ScreenHeightTwips());
    const float picW = float(Picture1[0].width()) * TwipsX, picH = float(Picture1[0].height()) * TwipsY;
    if (float(newLeft) + picW > screenW) newLeft = core::RoundToInt32(screenW - picW);
    if (float(newTop) + picH > screenH) newTop = core::RoundToInt32(screenH - picH);
    SetTop(newTop);
    SetLeft(newLeft);

    ApplyRegion(FrameIndex(StepsLeft, StepX, StepY));
    platform::RaiseWindow(hWnd());
}

void Form1::Form_MouseDown(int button, int) {
    if (button & 1) {
        platform::ReleaseCapture();
        const int32_t zero = 0;
        platform::SendMessageA(hWnd(), platform::WM_NCLBUTTONDOWN, platform::HTCAPTION, &zero);
    } else if (button == 2) {
        // Ends the program at once, but through the same shut-down as the main window's close box,
        // so the tune is closed and nothing the user chose is lost.
        forms::MainForm().Unload();
    }
}
