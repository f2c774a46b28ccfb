#include "settings/account.h"

#include "core/program.h"
#include "settings/profile_keys.h"

namespace settings {

namespace {
Account g_lastAccepted;
}

Account ReadStoredAccount() {
    return Account{ReadTextKey(paths::kIdPassFile, "NAME", QString()).value,
                   ReadTextKey(paths::kIdPassFile, "NAME2", QString()).value};
}

Account LastAcceptedAccount() { return g_lastAccepted; }

void SetLastAcceptedAccount(const Account& account) { g_lastAccepted = account; }

}  // namespace settings
