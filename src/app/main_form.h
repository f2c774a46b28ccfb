#pragma once
// The clock window: the program's start-up window, whose lifetime is the program's lifetime.
// It holds the menus, the seven timers, the command controls (named handlers that menus and other
// parts call) and the hidden fields that keep state. Handlers live with the part whose behaviour
// they hold: the clock's in clock/, the mail watch's in mail/, and so on.
#include <QMenu>
#include <array>
#include <cstdint>
#include <memory>

#include "core/controls.h"
#include "core/form.h"
#include "core/timer.h"
#include "platform/tray.h"

class MainForm : public core::Form {
public:
    MainForm();
    ~MainForm() override;

    void Form_Load() override;
    void Form_Unload(int& cancel) override;
    void Form_SeenChanged(bool seen) override;

    // What the user sees: the clock face and, under it, the strip with the ticker and the lamp.
    core::PictureBox picMain;
    core::PictureBox Picture5;
    core::DrawnLabel Label1;
    core::PictureBox Image1;

    // Command controls, never shown.
    core::CommandButton Command1, Command2, Command3, Command4, Command5, Command7, Command8, Command9,
        Command10, Command11;
    core::PictureBox Picture1, Picture7, Picture8, Picture10;
    core::Label Label2;

    // Hidden fields.
    core::TextBox Text1, Text3, Text4, Text5, Text6, Text7, Text8, Text9;
    core::CheckBox Check1, Check3;
    core::Label Label4;

    core::Timer Timer1, Timer2, Timer3, Timer4, Timer5, Timer6, Timer7;
    platform::TrayControl TrayControl1;

    // The menu "ファイル(&F)" and the tray's popup menu.
    QMenu* mfile;
    core::MenuItem mcheck, mline, mset, mtask, mset2, mline40, mkakunin, mmodosu, mline2, mzenmen, mkaijyo,
        mline4, mhp;
    QMenu* mnuPopup;
    std::array<core::MenuItem, 3> mnu_Popup;

    // Application shell
    void Command1_Click();   // go to the task tray
    void Command9_Click();   // open the settings dialog
    void Command10_Click();  // homepage prompt
    void Picture10_Click();
    void Command11_Click();
    void Label2_DblClick();
    void mzenmen_Click();
    void mkaijyo_Click();
    void mmodosu_Click();
    void mnu_Popup_Click(int16_t index);
    void TrayControl1_TrayEvent(int16_t code);
    void Command5_Click();  // hang up dial-up connections
    void Command7_Click();  // choose the mail program

    // Clock and shows
    void Timer6_Timer();    // hands
    void Timer7_Timer();    // digital time and hourly chime
    void Command4_Click();  // hourly chime bird show
    void Timer2_Timer();    // tune loop
    void Command2_Click();  // cat show
    void Command3_Click();  // stop the cat show

    // Mail watch
    void CheckMail();
    void Command8_Click();
    void Picture7_Click();
    void Timer1_Timer();  // interval trigger
    void Timer3_Timer();  // interval counter
    void Timer4_Timer();  // ticker
    void Timer4_Ticks(int64_t ticks);  // the ticker, as that many ticks would leave it
    void Timer5_Timer();  // interval lamp
    // The push connection heard of a new message: a check starts as the interval's trigger starts one.
    void PushNews();
    // No interval check starts for that many seconds from now (a server asked us to keep away); a
    // longer hold already under way stays. Checks by hand still run.
    void HoldIntervalChecks(int32_t seconds);
    bool IntervalChecksHeld() const;
    uint32_t holdFrom_ = 0, holdMs_ = 0;  // on the millisecond counter
    int checkRunning_ = 0;  // a check talks to the server (its waits run other handlers; none starts another)
    bool pushHeardMeanwhile_ = false;  // push news came while a check talked: one more check follows it
    int notifying_ = 0;     // checks done talking whose notice (board, cat show, hang-up) has not ended
    long checksStarted_ = 0;  // checks started since start-up

private:
    void Wire();
    // byInterval: started by the interval trigger (Picture7), not by hand.
    void CheckMail(bool byInterval);
    // The two halves of a check: the talk with the server, beside the program, giving the message
    // count; then the notice, on the program's own stack.
    int32_t TalkToServer();
    void NotifyMail(int32_t count, bool byInterval);
    int intervalShows_ = 0;  // cat shows of interval checks under way
    // Gone with the window: a notice posted for it no longer runs.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    QString tickerPath_, tickerTitle_;  // the mail program's path and title the ticker last took
};
