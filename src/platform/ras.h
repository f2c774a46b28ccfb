#pragma once
// The two Remote Access calls the program makes to drop dial-up lines after a mail check, rebuilt over
// NetworkManager on the system D-Bus. They are blocking calls made from the GUI thread: every D-Bus call
// gives up after 2 s, and so does the wait for the bus connection itself, so a stuck bus costs the clock
// at most a few seconds, never a freeze. Nothing is ever printed.
//
// What counts as a dial-up line (NetworkManager's connection types, in activating or activated state):
//   gsm, cdma        mobile broadband modems                       device type "modem"
//   bluetooth        Bluetooth dial-up only (its settings say
//                    bluetooth.type "dun"); PAN tethering is left
//                    alone, and so is a Bluetooth connection whose
//                    settings cannot be read                        device type "modem"
//   pppoe            PPP over Ethernet                             device type "PPPoE"
//   adsl             a PPP session over the DSL line, as Windows
//                    dialled it: protocol pppoe gives "PPPoE",
//                    pppoa (or settings that cannot be read) "ATM";
//                    ipoatm is a routed link without a session and
//                    is left alone
// NetworkManager has no connection type of plain PPP: a PPP link always comes as one of the above.
// Wi-Fi, Ethernet, VPNs and everything else are never listed.
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

using HRASCONN = uint32_t;  // 32-bit handles, as the program stores them

constexpr uint32_t kRasMaxEntryName = 256;
constexpr uint32_t kRasMaxDeviceType = 16;
constexpr uint32_t kRasMaxDeviceName = 128;

// One connection, laid out byte for byte as the 32-bit Windows record the program allocates.
struct RASCONNA {
    uint32_t dwSize;
    HRASCONN hrasconn;
    char szEntryName[kRasMaxEntryName + 1];    // the connection's name (NetworkManager's Id)
    char szDeviceType[kRasMaxDeviceType + 1];  // "modem", "PPPoE" or "ATM", see above
    char szDeviceName[kRasMaxDeviceName + 1];  // the network interface, e.g. "ttyUSB0" or "eth0"
};
static_assert(sizeof(RASCONNA) == 412, "the program allocates 412-byte records");
static_assert(offsetof(RASCONNA, hrasconn) == 4 && offsetof(RASCONNA, szEntryName) == 8 &&
                  offsetof(RASCONNA, szDeviceType) == 265 && offsetof(RASCONNA, szDeviceName) == 282,
              "field offsets of the Windows record");

// Results, with their Windows values.
constexpr uint32_t kRasSuccess = 0;
constexpr uint32_t kRasErrorAccessDenied = 5;           // ERROR_ACCESS_DENIED: NetworkManager refused
constexpr uint32_t kRasErrorInvalidHandle = 6;          // ERROR_INVALID_HANDLE
constexpr uint32_t kRasErrorInvalidParameter = 87;      // ERROR_INVALID_PARAMETER: a null size or count
constexpr uint32_t kRasErrorBufferTooSmall = 603;       // ERROR_BUFFER_TOO_SMALL
constexpr uint32_t kRasErrorInvalidSize = 632;          // ERROR_INVALID_SIZE: records[0].dwSize is not 412
// ERROR_RASMAN_CANNOT_INITIALIZE: the connection manager cannot be reached. No bus, no NetworkManager on
// it, or no answer in time.
constexpr uint32_t kRasErrorCannotReachManager = 711;

// Lists the active dial-up connections, in NetworkManager's order, into records (*bufferSize bytes).
// records[0].dwSize must be 412 (else 632), unless records is null or *bufferSize is 0, which asks
// only for the size. On return *bufferSize is the number of bytes all connections need, and *count the
// number of records written. Returns 0; 603 when the connections do not fit (nothing is written then);
// 711 when NetworkManager cannot be asked (*count is 0). Each record written gets dwSize 412, a handle,
// and its texts cut to fit, NUL-terminated and zero-padded, never splitting a UTF-8 character; nothing
// is ever written past *bufferSize bytes.
// Handles are small nonzero numbers. A connection keeps its handle from one listing to the next; only
// the connections of the latest listing can be hung up.
uint32_t RasEnumConnectionsA(RASCONNA* records, uint32_t* bufferSize, uint32_t* count);

// Asks NetworkManager to take the connection down (DeactivateConnection) and returns without waiting for
// the line to drop. 0 also when it was already gone; the handle is free afterwards. 6 for a handle the
// latest listing did not give; 5 when NetworkManager refuses; 711 when it cannot be asked (the handle
// stays valid then, to try again).
uint32_t RasHangUpA(HRASCONN connection);

// Tests point the calls at a private bus (a D-Bus address); empty goes back to the system bus.
// The handles of the former bus are forgotten.
void SetRasBusAddress(const std::string& address);

}  // namespace platform
