#pragma once
// Our own mail library: the calls the program makes to set it up and release it.
// (The POP3 calls come with the mail watch.)
#include <cstdint>

namespace platform {

// Makes the library ready; nothing to prepare for sockets on this system, so it always succeeds (0).
int32_t NMailInitializeWinSock();
// Option 1: the size in bytes of the text buffers the caller hands to the status and fetch calls.
// Returns the option's previous value, or -1 for an unknown option.
int32_t NMailSetOption(int32_t option, int32_t value);
int32_t NMailEndWinSock();

// The buffer size set through option 1 (8192 until changed).
int32_t NMailBufferSize();
// Whether the library is between NMailInitializeWinSock and NMailEndWinSock.
bool NMailReady();

}  // namespace platform
