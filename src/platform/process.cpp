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
#include <QDir>
#include <QFileInfo>
#include <cstring>

namespace platform {

std::string ExecutableFolder(const char* argv0) {
    // Started by a path (not found on PATH): its folder, links left as they are.
    if (argv0 && std::strchr(argv0, '/')) {
        const QFileInfo started(QString::fromLocal8Bit(argv0));
        if (started.exists()) return QDir::cleanPath(started.absolutePath()).toStdString();
    }
    return QCoreApplication::applicationDirPath().toStdString();
}

}  // namespace platform

#include <QProcess>

#include "platform/desktop.h"

namespace platform {

namespace {
std::function<bool(const std::string&)> g_startHook;
}

bool StartProgram(const std::string& path) {
    if (g_startHook) return g_startHook(path);
    if (path.empty()) return false;
    QProcess process;
    process.setProgram(QString::fromStdString(path));
    // The user's environment, not the one the clock set up for itself.
    process.setProcessEnvironment(UserEnvironment());
    return process.startDetached();
}

void SetStartProgramHook(std::function<bool(const std::string&)> hook) { g_startHook = std::move(hook); }

}  // namespace platform
