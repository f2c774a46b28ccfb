#pragma once
// The POP account: as saved in iniIdPass.ini, and as last taken with OK in the account dialog.
#include <QString>

namespace settings {

struct Account {
    QString id;
    QString password;
    bool Complete() const { return !id.isEmpty() && !password.isEmpty(); }
};

// "NAME" and "NAME2" of iniIdPass.ini as they are now (empty texts when missing).
Account ReadStoredAccount();

// The account taken by the last OK of the account dialog in this run, saved or not.
Account LastAcceptedAccount();
void SetLastAcceptedAccount(const Account& account);

}  // namespace settings
