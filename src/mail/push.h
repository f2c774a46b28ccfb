#pragma once
// Push: while interval checking is on and the server is IMAP, a connection beside the program idles on
// INBOX (platform/imap_push.h), and when the server tells of a new message a check starts at once, as
// the interval's trigger starts one. A connection that drops is opened again, quietly, after 1 s, then
// 2, 4 ... up to 5 minutes; a server without IDLE gets interval checks only.
#include <cstdint>

namespace mail {

// Takes the settings push depends on (the server, APOP, the account, interval checking on or off):
// starts, restarts or stops the push connection when they changed since the last call, and does
// nothing when they did not (a server found without IDLE is then not tried again).
void UpdatePush();
// Closes the push connection at once, without a word to its server.
void StopPush();

// Diagnostics: push connections opened (TCP) since start-up, and how many reached IDLE.
int64_t PushConnections();
int64_t PushIdling();

}  // namespace mail
