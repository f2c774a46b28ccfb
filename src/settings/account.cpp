#include "settings/account.h"

#include "core/program.h"
#include "settings/profile_keys.h"

namespace settings {

namespace {
Account g_lastAccepted;
std::optional<Account> g_unsaved;
}  // namespace

void SetUnsavedAccount(std::optional<Account> account) { g_unsaved = std::move(account); }

Account ReadStoredAccount() {
    if (g_unsaved) return *g_unsaved;
    return Account{ReadTextKey(paths::kIdPassFile, "NAME", QString()).value,
                   ReadTextKey(paths::kIdPassFile, "NAME2", QString()).value};
}

Account LastAcceptedAccount() { return g_lastAccepted; }

void SetLastAcceptedAccount(const Account& account) { g_lastAccepted = account; }

}  // namespace settings
