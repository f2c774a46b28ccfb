#pragma once
// The POP account: as saved in iniIdPass.ini, and as last taken with OK in the account dialog.
#include <QString>
#include <functional>
#include <optional>

#include "settings/profile_keys.h"

namespace settings {

struct Account {
    QString id;
    QString password;
    bool Complete() const { return !id.isEmpty() && !password.isEmpty(); }
};

// "NAME" and "NAME2" of iniIdPass.ini as they are now (empty texts when missing); or the account
// whose save failed in this run, which stays in use in place of what the file still holds.
Account ReadStoredAccount();

// The stored account, with the password the desktop's keyring keeps for the ID when the file holds
// none. A keyring that stays locked, has nothing or has gone away gives no password.
Account ReadAccount();

// Whether the password of a stored account is the keyring's to give: an ID, no password in the
// file, and a keyring that answers.
bool PasswordInKeyring(const Account& stored);
// What the keyring gives for the ID, without waiting: answered runs, as an event's handler, once it
// has answered (the person may first be asked to unlock it). Empty when it stays locked, has nothing
// or has gone away.
void ReadKeyringPasswordThen(const QString& id, std::function<void(const QString&)> answered);

// What OK with the save box ticked does. Where a keyring answers, the password goes there and the
// file gets the ID, an empty "NAME2" and "NAME3" = "1"; without one, the file gets all three as
// always. An account the keyring or the file did not take stays in use for this run.
Saved SaveAccount(const Account& account);

// A password an older run left in the file moves into the keyring, when one answers: stored, read
// back identical, and only then emptied in the file. Otherwise nothing changes, to be tried again at
// the next start.
void MoveFilePasswordToKeyring();

// The account the account dialog could not save (nullopt once a save has landed).
void SetUnsavedAccount(std::optional<Account> account);

// The account taken by the last OK of the account dialog in this run, saved or not.
Account LastAcceptedAccount();
void SetLastAcceptedAccount(const Account& account);

}  // namespace settings
