// The program's boxes belong to the clock, as the window manager sees them: above the clock and the
// ghost cat, and still on the screen when the clock is in the tray.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include "app/forms.h"
#include "core/msgbox.h"
#include "ghostcat/ghost_cat_form.h"
#include "mail/msg_form.h"
#include "settings/id_pass_form.h"
#include "settings/option_form.h"
#include "settings/set_form.h"
#include "support/program_fixture.h"
#include "platform/window.h"
#include "x11_probe.h"

using testsupport::ProgramTest;

namespace {

class BoxesOnX11 : public ProgramTest {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != "xcb") GTEST_SKIP() << "needs an X server";
        ProgramTest::SetUp();
        WriteServer("POP3=pop.example.org\r\n");
        WriteIdPass("[EXEINI]\r\nNAME=alice\r\nNAME2=secret\r\n");
    }

    // Shows a box as the program does ("エラー"), runs look while it is open, then closes it.
    static void WhileABoxIsOpen(const std::function<void(QWidget* box)>& look) {
        QTimer::singleShot(0, [&] {
            QWidget* box = QApplication::activeModalWidget();
            for (QWidget* w : QApplication::topLevelWidgets())
                if (qobject_cast<QMessageBox*>(w) && w->isVisible()) box = w;
            if (box) {
                look(box);
                qobject_cast<QMessageBox*>(box)->accept();
            } else {
                ADD_FAILURE() << "no box";
            }
        });
        core::MsgBox(QStringLiteral("-ERR [AUTH] Authentication failed."), core::vbOKOnly, QStringLiteral("エラー"));
    }

    static bool Managed(const QWidget* w) {
        return x11probe::Run("xprop", {"-root", "_NET_CLIENT_LIST"}).contains(
            "0x" + QString::number(w->winId(), 16));
    }
};

}  // namespace

TEST_F(BoxesOnX11, ABoxIsTheClocksAndStaysAboveItAndTheGhostCat) {
    QWidget* clock = forms::MainForm().hWnd();
    Form1& cat = forms::Form1();
    cat.Show();
    QWidget* ghost = cat.hWnd();
    ASSERT_TRUE(x11probe::Until([&] { return Managed(clock) && Managed(ghost); }));
    WhileABoxIsOpen([&](QWidget* box) {
        ASSERT_TRUE(x11probe::Until([&] { return Managed(box); }));
        EXPECT_EQ(x11probe::TransientFor(box).toStdString(), x11probe::WindowId(clock).toStdString());
        EXPECT_TRUE(x11probe::Until([&] { return x11probe::StackedAbove(box, clock); })) << "the box is under the clock";
        // The cat's walk puts it back on top of the other top-most windows at every step, but not over
        // the box. (One look after a step might come before the window manager has restacked: five
        // steps.)
        for (int step = 1; step <= 5; ++step) {
            cat.Timer1_Timer();
            EXPECT_TRUE(x11probe::Until([&] { return x11probe::StackedAbove(box, ghost); }))
                << "the cat walked over the box in step " << step;
        }
        EXPECT_TRUE(x11probe::StackedAbove(box, clock)) << "the box is under the clock";
    });
}

TEST_F(BoxesOnX11, WithTheClockInTheTrayABoxStillShowsAndIsTiedOnceTheClockIsBack) {
    QWidget* clock = forms::MainForm().hWnd();
    ASSERT_TRUE(x11probe::Until([&] { return Managed(clock); }));
    forms::MainForm().Hide();
    ASSERT_TRUE(x11probe::Until([&] { return !Managed(clock); }));
    WhileABoxIsOpen([&](QWidget* box) {
        // Tied to a withdrawn window, a box is left unmanaged or hidden by some window managers.
        EXPECT_TRUE(x11probe::Until([&] { return Managed(box); })) << "the box is not on the screen";
        EXPECT_NE(x11probe::TransientFor(box).toStdString(), x11probe::WindowId(clock).toStdString());
        EXPECT_TRUE(x11probe::Run("xwininfo", {"-id", x11probe::WindowId(box)}).contains("IsViewable"));
        forms::MainForm().Show();
        EXPECT_TRUE(x11probe::Until([&] { return x11probe::TransientFor(box) == x11probe::WindowId(clock); }));
        EXPECT_TRUE(x11probe::Until([&] { return x11probe::StackedAbove(box, clock); })) << "the box is under the clock";
    });
}

TEST_F(BoxesOnX11, EveryDialogIsTheClocksTopMostOrNot) {
    QWidget* clock = forms::MainForm().hWnd();
    ASSERT_TRUE(x11probe::Until([&] { return Managed(clock); }));
    for (const bool topMost : {true, false}) {
        SCOPED_TRACE(topMost ? "top-most" : "top-most off");
        platform::SetWindowPos(clock, topMost ? platform::HWND_TOPMOST : platform::HWND_NOTOPMOST, 0, 0, 0, 0,
                               platform::SWP_SHOWWINDOW | platform::SWP_NOMOVE | platform::SWP_NOSIZE);
        const std::pair<const char*, core::Form*> dialogs[] = {
            {"settings", &forms::SetForm()},
            {"account", &forms::IdPassForm()},
            {"server", &forms::OptionForm()},
            {"notice board", &forms::MsgForm()},
        };
        for (const auto& [name, dialog] : dialogs) {
            SCOPED_TRACE(name);
            dialog->Show();
            QWidget* w = dialog->hWnd();
            ASSERT_TRUE(x11probe::Until([&] { return Managed(w); }));
            EXPECT_EQ(x11probe::TransientFor(w).toStdString(), x11probe::WindowId(clock).toStdString());
            // The clock brought forward, as a click on it does: the dialog stays above it.
            platform::SetWindowPos(clock, topMost ? platform::HWND_TOPMOST : platform::HWND_NOTOPMOST, 0, 0, 0, 0,
                                   platform::SWP_SHOWWINDOW | platform::SWP_NOMOVE | platform::SWP_NOSIZE);
            EXPECT_TRUE(x11probe::Until([&] { return x11probe::StackedAbove(w, clock); })) << "under the clock";
            dialog->Hide();
            ASSERT_TRUE(x11probe::Until([&] { return !Managed(w); }));
        }
    }
}
