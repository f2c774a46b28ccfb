#pragma once
// The multimedia command strings the program sends to play its tune.
#include <cstdint>
#include <string>

namespace platform {

constexpr int32_t MCIERR_INVALID_DEVICE_NAME = 263;  // no device open under that alias
constexpr int32_t MCIERR_FILE_NOT_FOUND = 275;
constexpr int32_t MCIERR_DUPLICATE_ALIAS = 289;

// Sends one command; the reply (for queries) goes into reply, NUL-terminated, at most replySize bytes.
int32_t mciSendStringA(const std::string& command, char* reply, uint32_t replySize, void* callbackWindow);

}  // namespace platform
