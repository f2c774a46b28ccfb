#include "app/main_form.h"

#include <QGuiApplication>
#include <QIcon>
#include <QMenuBar>
#include <QScreen>

#include "app/forms.h"
#include "core/beside.h"
#include "core/numbers.h"
#include "core/event_loop.h"
#include "core/program.h"
#include "mail/push.h"
#include "settings/account.h"
#include "platform/mci.h"
#include "platform/nmail.h"
#include "platform/process.h"
#include "platform/window.h"
#include "settings/id_pass_form.h"
#include "settings/option_form.h"
#include "settings/profile_keys.h"
#include "settings/server_file.h"
#include "settings/set_form.h"

using core::Place;
using core::Shown;

namespace {

constexpr Shown kHidden = Shown::Hidden;

QImage Stored(const char* name) { return QImage(QStringLiteral(":/mainform/%1.png").arg(name)); }

int32_t Mci(const char* command) { return platform::mciSendStringA(command, nullptr, 0, nullptr); }

}  // namespace

MainForm::MainForm()
    : core::Form(QStringLiteral("Orlavue　Ver 1.0"), 1590, 1845, /*withMenuBar=*/true),
      picMain(client(), Place{40, 40, 1500, 1500}, Stored("picMain")),
      Picture5(client(), Place{0, 1560, 1695, 300}, Stored("Picture5")),
      Label1(Picture5, QStringLiteral("インターバルチェック"), Place{1560, 0, 2415, 255}, QColor(245, 232, 200)),
      Image1(Picture5.widget(), Place{0, 0, 240, 240}, Stored("Image1")),
      Command1(client(), QStringLiteral("タスク"), Place{1920, 1200, 735, 375}, kHidden),
      Command2(client(), QStringLiteral("猫を出す"), Place{1920, 1560, 735, 375}, kHidden),
      Command3(client(), QStringLiteral("戻す"), Place{1920, 1920, 735, 375}, kHidden),
      Command4(client(), QStringLiteral("時報"), Place{2700, 1200, 735, 375}, kHidden),
      Command5(client(), QStringLiteral("切断"), Place{2700, 1560, 735, 375}, kHidden),
      Command7(client(), QStringLiteral("メ｜ラ｜設定"), Place{2700, 1920, 735, 375}, kHidden),
      Command8(client(), QStringLiteral("メ｜ルチェック"), Place{3480, 1200, 735, 375}, kHidden),
      Command9(client(), QStringLiteral("設定"), Place{3480, 1560, 735, 375}, kHidden),
      Command10(client(), QStringLiteral("HP"), Place{3480, 1920, 735, 375}, kHidden),
      Command11(client(), QStringLiteral("フラッシュ開始"), Place{3480, 2280, 735, 375}, kHidden),
      Picture1(client(), Place{1920, 2400, 330, 330}, Stored("Picture1"), kHidden),
      Picture7(client(), Place{2280, 2400, 330, 330}, Stored("Picture7"), kHidden),
      Picture8(client(), Place{2640, 2400, 330, 330}, Stored("Picture8"), kHidden),
      Picture10(client(), Place{3000, 2400, 330, 330}, Stored("Picture10"), kHidden),
      Label2(client(), QStringLiteral("分"), Place{4320, 120, 255, 255}, kHidden),
      Text1(client(), QStringLiteral("Text1"), Place{4320, 480, 735, 270}, kHidden),
      Text3(client(), QStringLiteral("Text3"), Place{1920, 120, 1455, 270}, kHidden),
      Text4(client(), QStringLiteral("Text4"), Place{4320, 840, 735, 270}, kHidden),
      Text5(client(), QString(), Place{4320, 1200, 735, 270}, kHidden),
      Text6(client(), QStringLiteral("Text6"), Place{1920, 480, 1455, 270}, kHidden),
      Text7(client(), QString(), Place{4320, 1560, 2415, 270}, kHidden),
      Text8(client(), QString(), Place{4320, 1920, 2415, 270}, kHidden),
      Text9(client(), QStringLiteral("Text9"), Place{1920, 840, 1455, 270}, kHidden),
      Check1(client(), QStringLiteral("ループ"), Place{4320, 2280, 1095, 255}, 1, kHidden),
      Check3(client(), QString(), Place{4320, 2640, 255, 255}, 0, kHidden),
      Label4(client(), QStringLiteral("Label4"), Place{4320, 3000, 735, 255}, kHidden),
      Timer1(100),
      Timer2(100),
      Timer3(0),
      Timer4(20),
      Timer5(1000),
      Timer6(100),
      Timer7(1000),
      mfile(menuBar()->addMenu(QStringLiteral("ファイル(&F)"))),
      mcheck(mfile, QStringLiteral("メールチェック（手動）")),
      mline(mfile, QStringLiteral("-")),
      mset(mfile, QStringLiteral("起動メーラーの設定")),
      mtask(mfile, QStringLiteral("タスクトレイに常駐")),
      mset2(mfile, QStringLiteral("設定")),
      mline40(mfile, QStringLiteral("-")),
      mkakunin(mfile, QStringLiteral("確認")),
      mmodosu(mfile, QStringLiteral("戻す")),
      mline2(mfile, QStringLiteral("-")),
      mzenmen(mfile, QStringLiteral("常に前面表示")),
      mkaijyo(mfile, QStringLiteral("前面表示解除")),
      mline4(mfile, QStringLiteral("-")),
      mhp(mfile, QStringLiteral("作者のホームページ")),
      mnuPopup(new QMenu(QStringLiteral("popup"), hWnd())),
      mnu_Popup{core::MenuItem(mnuPopup, QStringLiteral("メイン画面を表示")),
                core::MenuItem(mnuPopup, QStringLiteral("-")),
                core::MenuItem(mnuPopup, QStringLiteral("終了"))} {
    QWidget* w = hWnd();
    // A fixed single border: no resizing, no maximise box.
    w->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                      Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                      Qt::MSWindowsFixedSizeDialogHint);
    w->setWindowIcon(QIcon(QStringLiteral(":/mainform/icon.png")));
    // The program's boxes and dialogs are the clock's.
    platform::SetOwnerWindow(w);

    QPalette dark = client()->palette();
    dark.setColor(QPalette::Window, QColor(64, 64, 64));
    client()->setPalette(dark);

    Wire();

    // Centred on the screen; start-up neither moves nor sizes it.
    w->adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        w->move(area.center() - QPoint(w->width() / 2, w->height() / 2));
    }
}

// A check still waiting goes with its window, before anything it refers to.
MainForm::~MainForm() {
    mail::StopPush();
    core::AbandonBeside();
}

void MainForm::Wire() {
    Command1.Click = [this] { Command1_Click(); };
    Command2.Click = [this] { Command2_Click(); };
    Command3.Click = [this] { Command3_Click(); };
    Command4.Click = [this] { Command4_Click(); };
    Command5.Click = [this] { Command5_Click(); };
    Command7.Click = [this] { Command7_Click(); };
    Command8.Click = [this] { Command8_Click(); };
    Command9.Click = [this] { Command9_Click(); };
    Command10.Click = [this] { Command10_Click(); };
    Command11.Click = [this] { Command11_Click(); };
    Picture7.Click = [this] { Picture7_Click(); };
    Picture10.Click = [this] { Picture10_Click(); };
    Label2.DblClick = [this] { Label2_DblClick(); };

    Timer1.OnTimer = [this] { Timer1_Timer(); };
    Timer2.OnTimer = [this] { Timer2_Timer(); };
    Timer3.OnTimer = [this] { Timer3_Timer(); };
    Timer4.OnTimer = [this] { Timer4_Timer(); };
    Timer5.OnTimer = [this] { Timer5_Timer(); };
    Timer6.OnTimer = [this] { Timer6_Timer(); };
    Timer7.OnTimer = [this] { Timer7_Timer(); };

    // While the window is not on the screen, the ticker and the hands change only what nobody sees:
    // they wait, and on its return the ticker stands where its ticks would have taken it and the
    // hands show the time. They wait from the start, until the window first appears.
    Timer4.OnCatchUp = [this](int64_t ticks) { Timer4_Ticks(ticks); };
    Timer6.OnCatchUp = [this](int64_t) { Timer6_Timer(); };
    Timer4.SetDeferred(true);
    Timer6.SetDeferred(true);
    // The trigger only looks at the minute counter, which moves once a second: one look after each
    // count is as good as ten. A second late at the most, and only while nothing else wakes the program.
    Timer1.SetSlack(1000);

    // Each menu item calls its command's click handler and nothing else, but for the three below.
    mcheck.Click = [this] { Command8.Press(); };
    mset.Click = [this] { Command7.Press(); };
    mtask.Click = [this] { Command1.Press(); };
    mset2.Click = [this] { Command9.Press(); };
    mkakunin.Click = [this] { Command2.Press(); };
    mmodosu.Click = [this] { mmodosu_Click(); };
    mzenmen.Click = [this] { mzenmen_Click(); };
    mkaijyo.Click = [this] { mkaijyo_Click(); };
    mhp.Click = [this] { Command10.Press(); };
    TrayControl1.TrayEvent = [this](int16_t code) { TrayControl1_TrayEvent(code); };
    TrayControl1.SetPopupMenu(mnuPopup);
    for (int16_t i = 0; i < int16_t(mnu_Popup.size()); ++i) mnu_Popup[i].Click = [this, i] { mnu_Popup_Click(i); };
}

void MainForm::Form_Load() {
    // 1. Into the top-most band, shown where it stands.
    prog::LastApiResult = platform::SetWindowPos(hWnd(), platform::HWND_TOPMOST, 0, 0, 0, 0,
                                                 platform::SWP_SHOWWINDOW | platform::SWP_NOMOVE |
                                                     platform::SWP_NOSIZE);
    // Temp files of settings writes that a killed run left behind.
    settings::RemoveLeftoverTempFiles();
    // 2. The hang-up option; the first touch loads the settings dialog, hidden.
    const int32_t number = settings::ReadIntKey(paths::kIniFile, "NUMBER");
    if (number == 1)
        forms::SetForm().Check1.SetValue(1);
    else if (number == 0)
        forms::SetForm().Check1.SetValue(0);
    // 3. The server file in the current directory.
    ReadServerFile();
    // 4. The mail library.
    platform::NMailInitializeWinSock();
    platform::NMailSetOption(1, 8192);
    // 5. No server yet: ask for it.
    if (prog::Pop3Server.isEmpty()) forms::OptionForm().Show();
    // A password an older run kept in the file goes into the keyring, where there is one: after
    // start-up, as a handler of its own, so that a keyring asking to be unlocked holds nothing up.
    core::Loop().Post([] { settings::MoveFilePasswordToKeyring(); });
    // 6. No account yet: ask for it (where the keyring is asked for the password, once it has answered).
    forms::IdPassForm().ShowIfIncomplete();
    // 7. A tune left open by anyone.
    prog::LastApiResult = Mci("stop bgm");
    prog::LastApiResult = Mci("close bgm");
    // 8. The interval; the box's change handling arms or disarms interval checking.
    forms::SetForm().Text2.SetText(core::DecimalText(settings::ReadIntKey(paths::kIniFile, "NUMBER2")));
    // 9. The mail program's path.
    const settings::TextRead name = settings::ReadTextKey(paths::kIniFile, "NAME", paths::kNotSet);
    prog::LastApiResult = name.length;
    Text7.SetText(name.length < 1 ? paths::kNotSet : name.value);
    // The hands are there from the first paint on, not only from the first tick.
    Timer6_Timer();
    // The server, the account and the interval are all known now: push starts if they ask for it.
    mail::UpdatePush();
}

void MainForm::Form_SeenChanged(bool seen) {
    Timer4.SetDeferred(!seen);
    Timer6.SetDeferred(!seen);
}

void MainForm::Form_Unload(int&) {
    // Closed in the middle of a check's talk: the check is abandoned, its connection cut off without
    // another word, so that no server can hold the program up. Closed during its talk or its notice,
    // the hang-up that follows every check still runs. The push connection is cut off the same way.
    mail::StopPush();
    const bool talking = checkRunning_ > 0;
    if (talking) {
        platform::NMailAbortAll();
        core::AbandonBeside();
    }
    if ((talking || notifying_ > 0) && forms::SetForm().Check1.Value() == 1) Command5_Click();
    prog::LastApiResult = Mci("stop bgm");
    prog::LastApiResult = Mci("close bgm");
    Timer2.SetEnabled(false);
    // Options changed in a settings dialog that is still open would be lost with the process: save
    // those, and only those, so that values nobody touched stay in the file as they were written.
    // One replacement with the path; a failure must not hold up the end, so it is only logged.
    std::vector<settings::KeyValue> keys{{"NAME", Text7.Text()}};
    if (::SetForm* set = forms::SetFormIfLoaded())
        for (settings::KeyValue& option : set->ChangedOptions()) keys.push_back(std::move(option));
    const settings::Saved saved = settings::WriteKeys(paths::kIniFile, keys);
    prog::LastApiResult = saved.ok ? 1 : 0;
    settings::LogFailedSave(saved, settings::SavedFileName(paths::kIniFile));
    platform::NMailEndWinSock();
    platform::EndProcess(0);
}

void MainForm::Command9_Click() { forms::SetForm().Show(); }

void MainForm::mzenmen_Click() {
    platform::SetWindowPos(hWnd(), platform::HWND_TOPMOST, 0, 0, 0, 0,
                           platform::SWP_SHOWWINDOW | platform::SWP_NOMOVE | platform::SWP_NOSIZE);
}

void MainForm::mkaijyo_Click() {
    platform::SetWindowPos(hWnd(), platform::HWND_NOTOPMOST, 0, 0, 0, 0,
                           platform::SWP_SHOWWINDOW | platform::SWP_NOMOVE | platform::SWP_NOSIZE);
}
