// The mail check: log in to the POP3 server and fetch every waiting message (or read the unseen count
// of an IMAP server's INBOX), then tell the user: start the mail program, or show the notice board
// and the cat show. Last, hang up dial-up if asked.
#include <algorithm>
#include <memory>
#include <vector>

#include "app/forms.h"
#include "app/main_form.h"
#include "core/beside.h"
#include "core/event_loop.h"
#include "core/msgbox.h"
#include "core/numbers.h"
#include "core/program.h"
#include "mail/certificate_trust.h"
#include "mail/msg_form.h"
#include "mail/push.h"
#include "platform/nmail.h"
#include "platform/process.h"
#include "settings/account.h"
#include "settings/id_pass_form.h"
#include "settings/profile_keys.h"
#include "settings/set_form.h"

namespace {

constexpr int32_t kTextBuffer = 8192;
// What comes back is thrown away, so a server claiming a giant message must not make us allocate it:
// anything past this is cut by the library.
constexpr int64_t kLargestBody = 64LL * 1024 * 1024;

struct Running {
    int& count;
    explicit Running(int& c) : count(c) { ++count; }
    ~Running() { --count; }
};

}  // namespace

void MainForm::CheckMail() { CheckMail(false); }

void MainForm::CheckMail(bool byInterval) {
    // One check talks to the server at a time: the library's waits let the menu, the buttons and the
    // interval trigger run, and a second session on the same mailbox would be refused as locked.
    if (checkRunning_ > 0) return;
    const int32_t count = TalkToServer();
    // The notice runs on the program's own stack as a handler of its own, not here beside it: the
    // board's wait and the cat show then nest like any handler's waits, and a check asked for during
    // them talks to the server at once instead of being dropped for the length of the show.
    ++notifying_;
    core::Loop().Post([this, alive = std::weak_ptr<int>(alive_), count, byInterval] {
        if (!alive.expired()) NotifyMail(count, byInterval);
    });
    if (pushHeardMeanwhile_) {
        pushHeardMeanwhile_ = false;
        core::Loop().Post([this, alive = std::weak_ptr<int>(alive_)] {
            if (!alive.expired()) PushNews();
        });
    }
}

int32_t MainForm::TalkToServer() {
    Running running(checkRunning_);
    ++checksStarted_;
    std::vector<char> first(kTextBuffer), second(kTextBuffer), third(kTextBuffer), fourth(kTextBuffer);
    int32_t count = 0;

    if (!prog::Pop3Server.isEmpty()) {
        mail::PinTrustedCertificate();
        int32_t handle = platform::NMailPop3Connect(core::Ansi(prog::Pop3Server));
        if (handle != -1) {
            // A dialog loaded just now has read the account itself, and one that still awaits the
            // keyring's answer has asked it: reading again would ask a locked keyring a second time.
            const bool loaded = forms::IdPassFormLoaded();
            const std::shared_ptr<const KeyringAnswer> answer = forms::IdPassForm().AwaitedKeyring();
            const settings::Account stored =
                answer   ? ::IdPassForm::AwaitKeyring(answer)
                : loaded ? settings::ReadAccount()
                         : settings::Account{forms::IdPassForm().IdText.Text(), forms::IdPassForm().PassText.Text()};
            // Only now: the person may have closed the dialog while the keyring asked.
            ::IdPassForm& dialog = forms::IdPassForm();
            // An account typed and taken with OK but not saved still counts, until one is saved.
            const settings::Account account = stored.Complete() ? stored : settings::LastAcceptedAccount();
            const settings::Account use = account.Complete() ? account : stored;
            dialog.IdText.SetText(use.id);
            dialog.PassText.SetText(use.password);
            prog::PopUserId = use.id;
            prog::PopPassword = use.password;
            if (prog::PopUserId.isEmpty() || prog::PopPassword.isEmpty()) dialog.Show();
            if (!prog::PopUserId.isEmpty() && !prog::PopPassword.isEmpty()) {
                const auto logIn = [&] {
                    return platform::NMailPop3Authenticate(handle, core::Ansi(prog::PopUserId),
                                                           core::Ansi(prog::PopPassword), prog::ApopFlag != 0 ? -1 : 0);
                };
                count = logIn();
                // A certificate just trusted: a new connection at once, so this check still brings the mail.
                const auto answer = count < 0 ? mail::AskToTrustCertificate() : mail::CertificateAnswer::NotAsked;
                if (answer == mail::CertificateAnswer::Trusted) {
                    platform::NMailPop3Close(handle);
                    handle = platform::NMailPop3Connect(core::Ansi(prog::Pop3Server));
                    count = handle == -1 ? 0 : logIn();
                }
                // A server that asks for time between logins, or refused for now, gets it from the
                // interval checks; such a refusal is no fault of the user's, so no box says it.
                int32_t wait = 0;
                const int32_t refusal = platform::NMailPop3LoginRefusal(handle, &wait);
                HoldIntervalChecks(wait);
                // An IMAP server's count is of unseen mail, read without downloading any.
                if (count > 0 && !platform::NMailIsImap(handle)) {
                    // A failed message is passed over, but a lost connection ends the loop: every call
                    // after it would fail at once, and a server may claim two thousand million messages.
                    constexpr int32_t lost = platform::kNMailConnectionLost;
                    for (int32_t n = 1; n <= count; ++n) {
                        if (platform::NMailPop3GetMailStatus(handle, n, first.data(), second.data(), third.data(),
                                                             fourth.data(), 0) == lost) {
                            break;
                        }
                        const int32_t reported = platform::NMailPop3GetMailSize(handle, n);
                        if (reported == lost) break;
                        const int64_t size = std::clamp<int64_t>(reported, 0, kLargestBody);
                        std::vector<char> body(size_t(size) + 1, ' ');
                        if (platform::NMailPop3GetMail(handle, n, first.data(), second.data(), third.data(),
                                                       fourth.data(), body.data(), int32_t(body.size()), 0, 0) == lost) {
                            break;
                        }
                    }
                } else if (count < 0 && answer != mail::CertificateAnswer::Refused &&
                           refusal != platform::kNMailRefusalTemporary) {
                    int32_t size = kTextBuffer;
                    platform::NMailGetMessage(0, first.data(), &size);
                    first.back() = '\0';
                    core::MsgBox(core::CutAtNul(QString::fromUtf8(first.data())), core::vbOKOnly,
                                 QStringLiteral("エラー"));
                }
            }
            platform::NMailPop3Close(handle);
        }
    }
    // The account may have been taken just now: push follows it.
    mail::UpdatePush();
    return count;
}

void MainForm::NotifyMail(int32_t count, bool byInterval) {
    struct Ended {
        int& count;
        ~Ended() { --count; }
    } ended{notifying_};
    if (count > 0) {
        ::SetForm& options = forms::SetForm();
        if (options.Check3.Value() == 1) {
            if (Text7.Text() != paths::kNotSet) platform::StartProgram(core::Ansi(Text7.Text().trimmed()));
        } else {
            forms::MsgForm().Text1.SetText(QStringLiteral("新着メールが有ります"));
            forms::MsgForm().Text2.SetText(core::DecimalText(count));
            if (options.Check2.Value() == 1) {
                forms::MsgForm().Show();
                core::WaitMs(1000);
                forms::UnloadMsgForm();
            } else {
                forms::MsgForm().Show();
            }
            // An interval check's show does not start inside another interval check's show: the
            // trigger comes round every few minutes and a show lasts five, so with mail left on the
            // server each would nest one deeper, without end. The show under way announces it too.
            if (!byInterval) {
                Command2_Click();
            } else if (intervalShows_ == 0) {
                Running show(intervalShows_);
                Command2_Click();
            }
        }
    }
    if (forms::SetForm().Check1.Value() == 1) Command5_Click();
}

// The check talks to the server beside the rest of the program: its waits hold up no other handler's,
// and no other handler's wait holds it up. While one talks, another request does nothing.
void MainForm::Command8_Click() { core::RunBeside([this] { CheckMail(); }); }
void MainForm::Picture7_Click() { core::RunBeside([this] { CheckMail(true); }); }
