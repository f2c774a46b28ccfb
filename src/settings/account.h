#pragma once
// The POP account: as saved in iniIdPass.ini, and as last taken with OK in the account dialog.
#include <QString>
#include <optional>

namespace settings {

struct Account {
    QString id;
    QString password;
    bool Complete() const { return !id.isEmpty() && !password.isEmpty(); }
};

// "NAME" and "NAME2" of iniIdPass.ini as they are now (empty texts when missing); or the account
// whose save failed in this run, which stays in use in place of what the file still holds.
Account ReadStoredAccount();

// The account the account dialog could not save (nullopt once a save has landed).
void SetUnsavedAccount(std::optional<Account> account);

// The account taken by the last OK of the account dialog in this run, saved or not.
Account LastAcceptedAccount();
void SetLastAcceptedAccount(const Account& account);

}  // namespace settings
