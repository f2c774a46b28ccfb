// Push's policy: when a connection idles, what news starts, and how a lost connection comes back.
// It runs in a lane of its own beside the program (core/beside.h), so that its hours of waiting hold
// neither the clock nor the mail check: the check keeps its own connection and its own lane.
#include "mail/push.h"

#include <algorithm>
#include <optional>

#include "app/forms.h"
#include "app/main_form.h"
#include "core/beside.h"
#include "core/event_loop.h"
#include "core/program.h"
#include "mail/certificate_trust.h"
#include "platform/imap_push.h"
#include "platform/nmail.h"
#include "platform/pop3_text.h"
#include "settings/account.h"
#include "settings/id_pass_form.h"

namespace mail {

namespace {

// IDLE is ended and started again this often: well within the 30 minutes after which a server may
// drop an idle client, and often enough that a server gone silent is noticed within minutes (the
// round trip has the usual reply limit). One wake-up in five minutes costs nothing.
constexpr uint32_t kRoundMs = 5 * 60 * 1000;
constexpr int32_t kFirstBackOffMs = 1000, kLongestBackOffMs = 5 * 60 * 1000;
// A connection that idled this long was sound: the next drop waits only the first back-off again.
constexpr uint32_t kSoundMs = 60 * 1000;

struct Settings {
    QString server;
    int16_t apop = 0;
    settings::Account account;
    bool operator==(const Settings& o) const {
        return server == o.server && apop == o.apop && account.id == o.account.id && account.password == o.account.password;
    }
};

// What the push lane was started with; none while push is off.
std::optional<Settings> g_running;
int64_t g_connections = 0, g_idling = 0;

// The account the check logs in with, as far as it is known without asking the keyring again: the
// one the last check or the account dialog took, else what the account dialog read at start-up.
settings::Account CheckAccount() {
    const settings::Account taken{prog::PopUserId, prog::PopPassword};
    if (taken.Complete()) return taken;
    const settings::Account accepted = settings::LastAcceptedAccount();
    if (accepted.Complete()) return accepted;
    if (forms::IdPassFormLoaded()) return {forms::IdPassForm().IdText.Text(), forms::IdPassForm().PassText.Text()};
    return {};
}

void News() {
    core::Loop().Post([] {
        if (forms::MainFormLoaded()) forms::MainForm().PushNews();
    });
}

// The lane's work; it ends only when the server has no IDLE (or names no IMAP server).
void Run(const Settings s) {
    const std::string server = core::Ansi(s.server);
    int32_t backOff = kFirstBackOffMs;
    for (;;) {
        // The certificate the person trusted for this server holds here as for the check.
        PinTrustedCertificate();
        const std::unique_ptr<platform::imap::Push> push = platform::NMailImapPush(server);
        if (!push) return;
        ++g_connections;
        const auto opened = push->open(core::Ansi(s.account.id), core::Ansi(s.account.password), s.apop != 0);
        if (opened == platform::imap::Push::Opened::NoIdle) {
            push->quit();
            return;
        }
        if (opened == platform::imap::Push::Opened::Idling) {
            ++g_idling;
            const uint32_t start = core::Loop().TimeGetTime();
            uint32_t since = start;
            for (;;) {
                using Heard = platform::imap::Push::Heard;
                const uint32_t elapsed = core::Loop().TimeGetTime() - since;
                Heard heard;
                if (elapsed >= kRoundMs) {
                    heard = push->renew();
                    since = core::Loop().TimeGetTime();
                } else {
                    heard = push->listen(kRoundMs - elapsed);
                }
                if (heard == Heard::Lost) break;
                if (heard == Heard::News) News();
            }
            if (core::Loop().TimeGetTime() - start >= kSoundMs) backOff = kFirstBackOffMs;
        }
        // Whatever went wrong is the interval check's to show, if it is still wrong then.
        push->abort();
        core::WaitMs(backOff);
        backOff = std::min(backOff * 2, kLongestBackOffMs);
    }
}

}  // namespace

void UpdatePush() {
    // The lane can be stopped only from the loop's own stack.
    if (core::OnBeside()) {
        core::Loop().Post([] { UpdatePush(); });
        return;
    }
    const bool on = forms::MainFormLoaded() && forms::MainForm().Check3.Value() == 1;
    Settings now{prog::Pop3Server, prog::ApopFlag, CheckAccount()};
    const auto address = platform::pop3::parseServerText(core::Ansi(now.server));
    const bool wanted = on && now.account.Complete() && address && address->imap;
    if (wanted && g_running && *g_running == now) return;
    StopPush();
    if (!wanted) return;
    g_running = now;
    core::RunBeside([now] { Run(now); }, core::Lane::Push);
}

void StopPush() {
    core::AbandonBeside(core::Lane::Push);
    g_running.reset();
}

int64_t PushConnections() { return g_connections; }
int64_t PushIdling() { return g_idling; }

}  // namespace mail
