#include "settings/account.h"

#include "core/program.h"
#include "platform/keyring.h"
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

namespace {
// What a person sees in the keyring's own tool: the program, the server and the ID.
QString KeyringLabel(const QString& id) {
    return QStringLiteral("Vellumine: POP3 %1 (ID %2)").arg(prog::Pop3Server, id);
}
}  // namespace

bool PasswordInKeyring(const Account& stored) {
    return !g_unsaved && !stored.id.isEmpty() && stored.password.isEmpty() && platform::KeyringPresent();
}

void ReadKeyringPasswordThen(const QString& id, std::function<void(const QString&)> answered) {
    platform::KeyringReadPasswordThen(id, [answered = std::move(answered)](const platform::KeyringRead& read) {
        answered(read.status == platform::KeyringStatus::Ok ? read.password : QString());
    });
}

Account ReadAccount() {
    Account account = ReadStoredAccount();
    if (!PasswordInKeyring(account)) return account;
    const platform::KeyringRead read = platform::KeyringReadPassword(account.id);
    if (read.status == platform::KeyringStatus::Ok) account.password = read.password;
    return account;
}

Saved SaveAccount(const Account& account) {
    bool kept = true;
    QString filePassword = account.password;
    if (platform::KeyringPresent()) {
        // Never in clear where a keyring exists: a keyring that does not take it leaves it in memory.
        filePassword.clear();
        kept = platform::KeyringStorePassword(KeyringLabel(account.id), account.id, account.password) ==
               platform::KeyringStatus::Ok;
    }
    // The three keys in one replacement: a killed program never leaves a new ID with an old password.
    const Saved saved =
        WriteKeys(paths::kIdPassFile, {{"NAME", account.id}, {"NAME2", filePassword}, {"NAME3", QStringLiteral("1")}});
    SetUnsavedAccount(saved.ok && kept ? std::nullopt : std::optional<Account>(account));
    return saved;
}

void MoveFilePasswordToKeyring() {
    const QString id = ReadTextKey(paths::kIdPassFile, "NAME", QString()).value;
    const QString password = ReadTextKey(paths::kIdPassFile, "NAME2", QString()).value;
    if (password.isEmpty() || !platform::KeyringPresent()) return;
    if (platform::KeyringStorePassword(KeyringLabel(id), id, password) != platform::KeyringStatus::Ok) return;
    const platform::KeyringRead back = platform::KeyringReadPassword(id);
    if (back.status != platform::KeyringStatus::Ok || back.password != password) return;
    // Only "NAME2" changes; every other line keeps its bytes. A failed write leaves the file whole.
    WriteKeys(paths::kIdPassFile, {{"NAME2", QString()}});
}

Account LastAcceptedAccount() { return g_lastAccepted; }

void SetLastAcceptedAccount(const Account& account) { g_lastAccepted = account; }

}  // namespace settings
