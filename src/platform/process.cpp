#include "platform/process.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace platform {

namespace {
std::function<void(int)> g_endHandler;
}

void EndProcess(int code) {
    if (g_endHandler) {
        g_endHandler(code);
        std::abort();  // a handler that returns breaks the promise of "at once"
    }
    std::fflush(nullptr);
    _exit(code);
}

void SetEndProcessHandler(std::function<void(int)> handler) { g_endHandler = std::move(handler); }

}  // namespace platform

#include <QCoreApplication>

namespace platform {

std::string ExecutableFolder() { return QCoreApplication::applicationDirPath().toStdString(); }

}  // namespace platform
