#include "platform/nmail.h"

namespace platform {

namespace {
int32_t g_bufferSize = 8192;
bool g_ready = false;
}  // namespace

int32_t NMailInitializeWinSock() {
    g_ready = true;
    return 0;
}

int32_t NMailSetOption(int32_t option, int32_t value) {
    if (option != 1 || value < 1) return -1;
    const int32_t old = g_bufferSize;
    g_bufferSize = value;
    return old;
}

int32_t NMailEndWinSock() {
    g_ready = false;
    return 0;
}

int32_t NMailBufferSize() { return g_bufferSize; }

bool NMailReady() { return g_ready; }

}  // namespace platform
