#pragma once
// A real Secret Service for one test: a private D-Bus session bus (it starts no service by itself)
// with gnome-keyring-daemon on it, its keyring unlocked with a test password and kept in a scratch
// HOME. The process's DBUS_SESSION_BUS_ADDRESS names the bus while the session lives, and is put back
// to "disabled:" (no bus) afterwards.
#include <QByteArray>
#include <QProcess>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <atomic>
#include <memory>

#include "support/temp_folder.h"

namespace testsupport {

// Stands in for the desktop's unlock window (the keyring's system prompter): it takes each prompt the
// keyring begins and never answers it, like a person who has not decided yet.
class HeldPrompter : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.gnome.keyring.internal.Prompter")
public:
    std::atomic<int> begun{0};
    bool hold = true;  // false: each prompt is closed at once, as a person cancelling it
public slots:
    void BeginPrompting(const QDBusObjectPath&, const QDBusMessage& call);
    void PerformPrompt(const QDBusObjectPath&, const QString&, const QVariantMap&, const QString&) {}
    void StopPrompting(const QDBusObjectPath&) {}
};

class KeyringSession {
public:
    explicit KeyringSession(bool withKeyring = true);
    ~KeyringSession();
    // Why the session could not be set up; empty when it runs.
    QString error() const { return error_; }

    // The keyring's own command-line tool, on this bus: what it prints.
    QByteArray SecretTool(const QStringList& arguments) const;
    // The password stored for the program's user, as secret-tool finds it (empty when none).
    QByteArray Lookup(const QString& user) const;
    // Stores a password for the program's user, as the program does; true when secret-tool took it.
    bool Store(const QString& user, const QByteArray& password) const;
    // Runs the desktop's own unlock window, gcr's prompter, on this bus and on this process's X
    // display: a locked keyring's prompt is then a real window. True once it is on the bus.
    bool RealPrompter();
    // Locks the default collection, as logging out of the wallet does. No prompter runs on this bus,
    // so an unlock asked for afterwards ends refused.
    bool Lock();
    // From now on the keyring's unlock prompts are held unanswered (HeldPrompter) until
    // EndPrompts, which closes the prompter as a person closing the window would.
    bool HoldPrompts();
    int PromptsBegun() const { return prompter_ ? prompter_->begun.load() : 0; }
    // Answers each later prompt as closed at once, as a person would, counting them.
    void CancelPrompts() { if (prompter_) prompter_->hold = false; }
    // Holds each later prompt again.
    void HoldLaterPrompts() { if (prompter_) prompter_->hold = true; }
    void EndPrompts();
    // Ends the keyring daemon: the bus stays, with no Secret Service on it.
    void EndKeyring();

private:
    TempFolder home_;
    QByteArray address_;
    qint64 busPid_ = 0;
    qint64 keyringPid_ = 0;
    QByteArray savedHome_;
    QString error_;
    std::unique_ptr<HeldPrompter> prompter_;
    std::unique_ptr<QProcess> realPrompter_;
};

}  // namespace testsupport
