// Memory of the tune player: resident memory before a tune is opened, while it plays, and after it is
// closed, through the same command strings the program sends. Prints figures; judges nothing.
// Usage: tune_memory [path to Kouka.mid]   (default: the build's program folder)
#include <QCoreApplication>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "platform/mci.h"

namespace {

double ResidentMb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6)) / 1024.0;
    return -1;
}

int32_t Send(const std::string& command) { return platform::mciSendStringA(command, nullptr, 0, nullptr); }

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::string tune = argc > 1 ? argv[1] : VELLUMINE_TUNE;
    std::printf("before any tune: %.1f MB\n", ResidentMb());
    const int32_t opened = Send("open \"" + tune + "\" alias bgm");
    const int32_t played = Send("play bgm");
    std::this_thread::sleep_for(std::chrono::seconds(2));
    char mode[256] = {};
    platform::mciSendStringA("status bgm mode", mode, 255, nullptr);
    std::printf("while it plays (open %d, play %d, mode \"%s\"): %.1f MB\n", opened, played, mode, ResidentMb());
    Send("stop bgm");
    Send("close bgm");
    std::printf("after close: %.1f MB\n", ResidentMb());
    return 0;
}
