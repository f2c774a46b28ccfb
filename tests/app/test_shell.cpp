#include <gtest/gtest.h>

#include <QAction>
#include <QCursor>
#include <QMenu>

#include "app/forms.h"
#include "app/main_form.h"
#include "core/msgbox.h"
#include "platform/browser.h"
#include "platform/tray.h"
#include "platform/window.h"
#include "support/program_fixture.h"

using testsupport::ProgramTest;

namespace {

class Shell : public ProgramTest {
protected:
    struct Box {
        QString prompt;
        int style;
        QString title;
    };
    std::vector<Box> boxes;
    int answer = core::vbNo;
    std::vector<QString> opened;

    void SetUp() override {
        ProgramTest::SetUp();
        WriteServer("POP3=pop.example.org\r\n");
        WriteIdPass("[EXEINI]\r\nNAME=alice\r\nNAME2=secret\r\n");
        core::SetMsgBoxHook([this](const QString& p, int s, const QString& t) {
            boxes.push_back({p, s, t});
            return answer;
        });
        platform::SetUrlOpenerHook([this](const QString& url) {
            opened.push_back(url);
            return true;
        });
        platform::TrayControl::SetAvailableForTests(true);
    }
    void TearDown() override {
        core::SetMsgBoxHook(nullptr);
        platform::SetUrlOpenerHook(nullptr);
        platform::TrayControl::SetAvailableForTests(std::nullopt);
        ProgramTest::TearDown();
    }
};

}  // namespace

TEST_F(Shell, TrayHidesTheClockAndItsMenuBringsItBackAsItWas) {
    MainForm& main = forms::MainForm();
    main.mkaijyo.action()->trigger();  // not top-most before going to the tray
    const QPoint where = main.hWnd()->pos();
    main.mtask.action()->trigger();
    EXPECT_FALSE(main.Visible());
    EXPECT_TRUE(main.TrayControl1.InTray());
    EXPECT_EQ(main.TrayControl1.ShownTip(), QLocale::system().toString(QDate(2026, 12, 8), QLocale::ShortFormat) +
                                                " 9:30:00");
    loop->RunFor(5000);  // the clock goes on behind the icon
    EXPECT_EQ(main.Text3.Text(), "9:30:05");

    main.mnu_Popup[0].action()->trigger();  // "メイン画面を表示"
    EXPECT_TRUE(main.Visible());
    EXPECT_EQ(main.hWnd()->pos(), where);
    EXPECT_FALSE(platform::IsTopMost(main.hWnd()));
    EXPECT_TRUE(main.TrayControl1.InTray());  // the icon stays

    // A second trip writes the new time and adds the icon again.
    loop->RunFor(60000);
    main.Command1_Click();
    EXPECT_EQ(main.TrayControl1.AddCount(), 2);
    EXPECT_TRUE(main.TrayControl1.ShownTip().endsWith(" 9:31:05"));
}

TEST_F(Shell, WithoutATrayTheClockStaysWhereItIs) {
    platform::TrayControl::SetAvailableForTests(false);
    MainForm& main = forms::MainForm();
    main.mtask.action()->trigger();
    EXPECT_TRUE(main.Visible());
    EXPECT_FALSE(main.TrayControl1.InTray());
}

TEST_F(Shell, TrayEventsShowTheMessageOrTheMenu) {
    MainForm& main = forms::MainForm();
    main.Command1_Click();
    main.TrayControl1.TrayEvent(0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].prompt, "Clicked!");
    EXPECT_EQ(boxes[0].style, core::vbExclamation);
    EXPECT_EQ(boxes[0].title, "Vellumine");
    main.TrayControl1.TrayEvent(1);
    EXPECT_TRUE(main.mnuPopup->isVisible());
    QStringList items;
    for (QAction* a : main.mnuPopup->actions()) items << (a->isSeparator() ? QStringLiteral("-") : a->text());
    EXPECT_EQ(items, (QStringList{"メイン画面を表示", "-", "終了"}));
    main.mnuPopup->hide();
    main.TrayControl1.TrayEvent(7);
    EXPECT_EQ(boxes.size(), 1u);

    // The tray is given this very menu to open itself at its icon; where it has (an X11 tray's icon
    // pops it up at the click), the context click leaves it there.
    EXPECT_EQ(main.TrayControl1.ShownMenu(), main.mnuPopup);
    const QPoint atTheIcon = QCursor::pos() + QPoint(50, 60);
    main.mnuPopup->popup(atTheIcon);
    main.TrayControl1.TrayEvent(1);
    EXPECT_EQ(main.mnuPopup->pos(), atTheIcon);
    main.mnuPopup->hide();
}

TEST_F(Shell, QuitFromTheTrayMenuSavesLikeTheCloseBox) {
    MainForm& main = forms::MainForm();
    main.Text7.SetText("/usr/bin/sylpheed");
    main.Command1_Click();
    // Called directly: the test's process end unwinds by throwing, which must not cross Qt's own frames.
    EXPECT_THROW(main.mnu_Popup[2].Click(), testsupport::ProcessEnded);
    EXPECT_TRUE(folder.read(IniName()).contains("NAME=/usr/bin/sylpheed\r\n"));
}

TEST_F(Shell, HomepageOpensOnlyWhenTheAnswerIsYes) {
    MainForm& main = forms::MainForm();
    answer = core::vbNo;
    main.mhp.action()->trigger();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].prompt, QStringLiteral("「Pelindra」作者のホームページです。ちょっと見てみますか？"));
    EXPECT_EQ(boxes[0].style, 36);
    EXPECT_EQ(boxes[0].title, QStringLiteral("確認"));
    EXPECT_TRUE(opened.empty());

    answer = core::vbYes;
    main.mhp.action()->trigger();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_TRUE(opened[0].startsWith("https://"));
}

TEST_F(Shell, TopMostOffThenTrayThenBackStaysOff) {
    MainForm& main = forms::MainForm();
    EXPECT_TRUE(platform::IsTopMost(main.hWnd()));
    main.mkaijyo.action()->trigger();
    main.mtask.action()->trigger();
    main.mnu_Popup[0].action()->trigger();
    EXPECT_FALSE(platform::IsTopMost(main.hWnd()));
    main.mzenmen.action()->trigger();
    main.mzenmen.action()->trigger();
    EXPECT_TRUE(platform::IsTopMost(main.hWnd()));
}
