#include "platform/mci.h"

namespace platform {

// No player is wired in yet: every command finds no device open under its alias.
int32_t mciSendStringA(const std::string&, char* reply, uint32_t replySize, void*) {
    if (reply && replySize > 0) reply[0] = '\0';
    return MCIERR_INVALID_DEVICE_NAME;
}

}  // namespace platform
