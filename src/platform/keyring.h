#pragma once
// The desktop's keyring: the freedesktop Secret Service on the session bus (GNOME Keyring, KDE
// Wallet, KeePassXC), reached through libsecret. Each call waits for the keyring the way the network
// layer waits for a server: in the check it suspends only the check, elsewhere it turns the event
// loop; either way the clock runs on while a keyring asks to be unlocked.
#include <QString>

#include <cstdint>
#include <functional>

namespace platform {

// A Secret Service answers on the session bus, or the bus would start one. No bus: false, at once.
bool KeyringPresent();

// An unlock prompt waits for the person; after this long the answer counts as no answer.
constexpr uint32_t kKeyringLongestWaitMs = 10 * 60 * 1000;

enum class KeyringStatus {
    Ok,
    NotFound,   // nothing stored for that user
    Refused,    // the keyring stayed locked: its unlock was refused or cancelled
    Failed,     // no keyring, or it failed or went away
};

struct KeyringRead {
    KeyringStatus status;
    QString password;
};

// The program's POP password for user, stored under label (what a person sees in the keyring's tool).
// One item for the program: storing replaces it, and once stored, the items of other users go.
KeyringStatus KeyringStorePassword(const QString& label, const QString& user, const QString& password);
KeyringRead KeyringReadPassword(const QString& user);
// The same without waiting: answered runs on the program's thread, as an event's handler, once the
// keyring has answered (which an unlock prompt may put off for as long as the person takes).
void KeyringReadPasswordThen(const QString& user, std::function<void(const KeyringRead&)> answered);

}  // namespace platform
