// Check scheduling: a seconds and minutes counter kept in two hidden fields, the trigger that starts a
// check when the minutes reach the interval, and the ticker that scrolls the mail program's name.
#include <algorithm>
#include <cstring>
#include <limits>

#include "app/forms.h"
#include "app/main_form.h"
#include "core/event_loop.h"
#include "core/numbers.h"
#include "mail/schedule.h"
#include "platform/files.h"
#include "settings/set_form.h"

namespace schedule {

int32_t RoundedInterval() { return core::RoundToInt32(core::LeadingNumber(forms::SetForm().Text2.Text())); }

int TickerLeftAfter(int left, int64_t ticks) {
    constexpr int kStep = 20, kJumpAt = -1500, kJumpTo = 2760;
    if (ticks <= 0) return left;
    if (left >= kJumpAt && (left - kJumpAt) % kStep == 0) {
        // On a lap: down to the jump, then round and round the lap's positions.
        const int64_t toJump = (left - kJumpAt) / kStep;
        if (ticks <= toJump) return int(left - kStep * ticks);
        const int64_t lap = (kJumpTo - kJumpAt) / kStep + 1;
        return int(kJumpTo - kStep * ((ticks - toJump - 1) % lap));
    }
    // Off the lap it never meets the jump; a step that would leave the range fails and stays.
    const int64_t steps = std::min<int64_t>(ticks, (int64_t(left) - std::numeric_limits<int>::min()) / kStep);
    return int(left - kStep * steps);
}

}  // namespace schedule

void MainForm::Timer3_Timer() {
    const int32_t n = schedule::RoundedInterval();
    // Back to 0 once the minutes reach or pass the interval, so that an interval lowered below the
    // count, or one with a fraction, still comes round.
    if (core::LeadingNumber(Text1.Text()) >= n) Text1.SetText(QStringLiteral("0"));
    // The fields hold whatever text they were given; bring their numbers into range before counting on.
    const auto whole = [](double v) { return int64_t(std::clamp(v, -1e15, 1e15)); };
    const double seconds = core::LeadingNumber(Text4.Text());
    if (seconds >= 60) {
        Text4.SetText(QStringLiteral("0"));
        Text1.SetText(core::DecimalText(whole(core::LeadingNumber(Text1.Text())) + 1));
    } else {
        Text4.SetText(core::DecimalText(whole(seconds) + 1));
    }
}

void MainForm::Timer1_Timer() {
    if (core::LeadingNumber(forms::SetForm().Text2.Text()) <= 0) return;
    const int32_t n = schedule::RoundedInterval();
    if (n < 1 || core::LeadingNumber(Text1.Text()) != n) return;
    // One interval, one check: the count starts again now, and none starts while a check still talks
    // or while the server has asked us to keep away (the counter then starts the count again itself).
    if (checkRunning_ > 0 || IntervalChecksHeld()) return;
    Text1.SetText(QStringLiteral("0"));
    Picture7_Click();
}

void MainForm::PushNews() {
    // Under the trigger's own rules: none while the server asked us to keep away, and none while a
    // check talks. That check may have read its count before this message came, so one more follows it.
    if (Check3.Value() != 1 || IntervalChecksHeld()) return;
    if (checkRunning_ > 0) {
        pushHeardMeanwhile_ = true;
        return;
    }
    Picture7_Click();
}

void MainForm::HoldIntervalChecks(int32_t seconds) {
    const uint32_t ms = uint32_t(std::clamp(seconds, 0, 24 * 3600)) * 1000;
    const uint32_t elapsed = core::Loop().TimeGetTime() - holdFrom_;
    const uint32_t left = elapsed < holdMs_ ? holdMs_ - elapsed : 0;
    if (ms <= left) return;
    holdFrom_ = core::Loop().TimeGetTime();
    holdMs_ = ms;
}

// Modulo 2^32, so that the counter wrapping around neither ends nor lengthens a hold.
bool MainForm::IntervalChecksHeld() const { return uint32_t(core::Loop().TimeGetTime() - holdFrom_) < holdMs_; }

void MainForm::Timer4_Timer() { Timer4_Ticks(1); }

void MainForm::Timer4_Ticks(int64_t ticks) {
    try {
        const QString path = Text7.Text();
        // The title is taken again only when the path or the field changed since the last tick.
        if (path != tickerPath_ || Text8.Text() != tickerTitle_) {
            char title[250] = {};
            platform::GetFileTitleA(path.toStdString(), title, sizeof title);
            Text8.SetText(QString::fromUtf8(title, qsizetype(strnlen(title, sizeof title))));
            tickerPath_ = path;
            tickerTitle_ = Text8.Text();
        }
        Label1.SetCaption(path.isEmpty() ? QStringLiteral("設定されていません。") : Text8.Text());
        Label1.SetLeft(schedule::TickerLeftAfter(Label1.Left(), ticks));
    } catch (...) {
        // A failed tick ends silently; the next one tries again.
    }
}
