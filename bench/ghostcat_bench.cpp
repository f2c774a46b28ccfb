// Ghost cat costs: building the regions of all eight pictures, and one wandering tick (move, new
// region from kept data, picture, shape). Prints figures; judges nothing.
// Runs on Qt's offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/forms.h"
#include "core/program.h"
#include "core/virtual_event_loop.h"
#include "ghostcat/ghost_cat_form.h"

namespace {

double MedianMs(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    QApplication app(argc, argv);
    core::VirtualEventLoop loop;
    core::SetLoop(&loop);
    prog::ResetProgramValues();

    Form1& cat = forms::Form1();
    std::vector<double> build, tick;
    QElapsedTimer t;
    for (int i = 0; i < 200; ++i) {
        t.start();
        cat.BuildRegions();
        build.push_back(t.nsecsElapsed() / 1e6);
    }
    cat.Show();
    cat.SetLeft(6000);
    cat.SetTop(6000);
    for (int i = 0; i < 2000; ++i) {
        t.start();
        cat.Timer1_Timer();
        tick.push_back(t.nsecsElapsed() / 1e6);
    }
    size_t rects = 0;
    for (const auto& slot : cat.RegionSlots) rects = std::max(rects, (slot.size() - 50 - 32) / 16);
    std::printf("regions of all eight pictures: median %.3f ms over %zu builds (largest region %zu rectangles)\n",
                MedianMs(build), build.size(), rects);
    std::printf("one wandering tick: median %.4f ms over %zu ticks (platform %s)\n", MedianMs(tick), tick.size(),
                qPrintable(QGuiApplication::platformName()));
    forms::DestroyAll();
    return 0;
}
