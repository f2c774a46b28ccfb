#include <gtest/gtest.h>

#include "app/forms.h"
#include "app/main_form.h"
#include "settings/id_pass_form.h"
#include "settings/option_form.h"
#include "settings/set_form.h"
#include "support/program_fixture.h"

using testsupport::ProgramTest;

namespace {

class SettingsDialog : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        // Server and account complete, so that start-up opens no other dialog.
        WriteServer("POP3=pop.example.org\r\n");
        WriteIdPass("[EXEINI]\r\nNAME=alice\r\nNAME2=secret\r\n");
    }
    MainForm& Start() { return forms::MainForm(); }
    SetForm& Dialog() { return forms::SetForm(); }
    QByteArray Ini() const { return folder.read(IniName()); }
    // Closes the dialog as its close box does.
    void CloseDialog() {
        Dialog().Unload();
        Settle();
    }
};

}  // namespace

TEST_F(SettingsDialog, StoredIntervalAboveZeroArmsCheckingWithoutWriting) {
    WriteIni("[EXEINI]\r\nNUMBER2=5\r\n");
    MainForm& main = Start();
    EXPECT_EQ(Dialog().Text2.Text(), "5");
    EXPECT_EQ(main.Label4.Caption(), "ON");
    EXPECT_EQ(main.Check3.Value(), 1);
    EXPECT_EQ(main.Text5.Text(), "5");
    EXPECT_EQ(main.Timer3.Interval(), 1000);
    EXPECT_EQ(Ini(), "[EXEINI]\r\nNUMBER2=5\r\n");
    EXPECT_FALSE(Dialog().Visible());  // loaded, not shown
}

TEST_F(SettingsDialog, NoStoredIntervalDisarmsAndWritesZeroAtOnce) {
    MainForm& main = Start();
    EXPECT_EQ(Dialog().Text2.Text(), "0");
    EXPECT_EQ(main.Label4.Caption(), "OFF");
    EXPECT_EQ(main.Check3.Value(), 0);
    EXPECT_EQ(main.Text5.Text(), "0");
    EXPECT_EQ(main.Timer3.Interval(), 0);
    EXPECT_EQ(Ini(), "[EXEINI]\r\nNUMBER2=0\r\n");
}

TEST_F(SettingsDialog, NegativeStoredIntervalLeavesTheMainWindowAsCreated) {
    WriteIni("[EXEINI]\r\nNUMBER2=-3\r\n");
    MainForm& main = Start();
    EXPECT_EQ(Dialog().Text2.Text(), "-3");
    EXPECT_EQ(main.Label4.Caption(), "Label4");
    EXPECT_EQ(main.Check3.Value(), 0);
    EXPECT_EQ(main.Text5.Text(), "");
    EXPECT_EQ(main.Timer3.Interval(), 0);
}

TEST_F(SettingsDialog, EditingTheIntervalActsAtOnce) {
    WriteIni("[EXEINI]\r\nNUMBER2=3\r\n");
    MainForm& main = Start();
    SetForm& set = Dialog();

    // Deleting everything: the box shows 0 (set by a nested run of the handler), checking is off,
    // and the file has 0 at once.
    set.Text2.SetText("");
    EXPECT_EQ(set.Text2.Text(), "0");
    EXPECT_EQ(main.Label4.Caption(), "OFF");
    EXPECT_EQ(main.Text5.Text(), "0");
    EXPECT_EQ(main.Timer3.Interval(), 0);
    EXPECT_EQ(Ini(), "[EXEINI]\r\nNUMBER2=0\r\n");

    // Letters read as 0: off, and written as typed.
    set.Text2.SetText("abc");
    EXPECT_EQ(main.Label4.Caption(), "OFF");
    EXPECT_EQ(main.Text5.Text(), "abc");
    EXPECT_EQ(Ini(), "[EXEINI]\r\nNUMBER2=abc\r\n");

    // A fraction above 0 turns checking on and is copied as typed; nothing is written yet.
    set.Text2.SetText("2.5");
    EXPECT_EQ(main.Label4.Caption(), "ON");
    EXPECT_EQ(main.Check3.Value(), 1);
    EXPECT_EQ(main.Text5.Text(), "2.5");
    EXPECT_EQ(main.Timer3.Interval(), 1000);
    EXPECT_EQ(Ini(), "[EXEINI]\r\nNUMBER2=abc\r\n");

    // Straight from 3 to -5: the main window keeps ON and 3.
    set.Text2.SetText("3");
    set.Text2.SetText("-5");
    EXPECT_EQ(main.Label4.Caption(), "ON");
    EXPECT_EQ(main.Text5.Text(), "3");
    EXPECT_EQ(main.Timer3.Interval(), 1000);

    CloseDialog();
    EXPECT_TRUE(Ini().contains("NUMBER2=-5\r\n"));
    // Closing leaves the main window's interval state alone.
    EXPECT_EQ(main.Label4.Caption(), "ON");
}

TEST_F(SettingsDialog, FractionIsStoredAsTypedAndReadBackAsAWholeNumber) {
    Start();
    Dialog().Text2.SetText("2.5");
    CloseDialog();
    EXPECT_TRUE(Ini().contains("NUMBER2=2.5\r\n"));
    EXPECT_EQ(Dialog().Text2.Text(), "2");  // the next access loads it afresh
}

TEST_F(SettingsDialog, KeysPairWithTheirBoxesAndCloseWritesAllFiveInOrder) {
    WriteIni("[EXEINI]\r\nNUMBER=1\r\nNUMBER2=7\r\nNUMBER3=0\r\nNUMBER4=1\r\nNUMBER5=0\r\n");
    Start();
    SetForm& set = Dialog();
    EXPECT_EQ(set.Check1.Value(), 1);
    EXPECT_EQ(set.Check2.Value(), 1);
    EXPECT_EQ(set.Check3.Value(), 0);
    EXPECT_EQ(set.Check4.Value(), 0);
    EXPECT_EQ(set.Text2.Text(), "7");

    // Without changes, closing writes the same values back; into an empty file, in the dialog's order.
    folder.write(IniName(), "");
    CloseDialog();
    EXPECT_EQ(Ini(), "[EXEINI]\r\nNUMBER=1\r\nNUMBER2=7\r\nNUMBER4=1\r\nNUMBER3=0\r\nNUMBER5=0\r\n");
}

TEST_F(SettingsDialog, SwitchValuesOtherThanZeroOrOneLeaveTheBoxesClear) {
    WriteIni("[EXEINI]\r\nNUMBER=2\r\nNUMBER3=-1\r\nNUMBER4=7\r\nNUMBER5=1x\r\n");
    Start();
    EXPECT_EQ(Dialog().Check1.Value(), 0);
    EXPECT_EQ(Dialog().Check3.Value(), 0);
    EXPECT_EQ(Dialog().Check2.Value(), 0);
    EXPECT_EQ(Dialog().Check4.Value(), 1);  // "1x" reads as 1
}

TEST_F(SettingsDialog, StoredTextsReadAsWholeNumbers) {
    for (const auto& [stored, shown] : {std::pair{"abc", "0"}, {"12x", "12"}, {"5.5", "5"}}) {
        WriteIni(QByteArray("[EXEINI]\r\nNUMBER2=") + stored + "\r\n");
        Start();
        EXPECT_EQ(Dialog().Text2.Text(), shown) << stored;
        forms::DestroyAll();
        Settle();
    }
}

TEST_F(SettingsDialog, ShowingTwiceGivesOneWindowWithTheValuesItHolds) {
    MainForm& main = Start();
    main.Command9_Click();
    SetForm* first = &Dialog();
    first->Text2.SetText("4");
    main.Command9_Click();
    EXPECT_EQ(&Dialog(), first);
    EXPECT_TRUE(first->Visible());
    EXPECT_EQ(first->Text2.Text(), "4");
}

TEST_F(SettingsDialog, ButtonsOpenTheAccountAndServerDialogs) {
    Start();
    Dialog().Command1.Press();
    Dialog().Command2.Press();
    EXPECT_TRUE(forms::IdPassForm().Visible());
    EXPECT_TRUE(forms::OptionForm().Visible());
    EXPECT_FALSE(Dialog().Visible());  // the settings dialog itself was never shown
}

TEST_F(SettingsDialog, WithoutTheDataFolderNothingIsWrittenAndDefaultsHold) {
    QDir(folder.file("★MailData")).removeRecursively();
    MainForm& main = Start();
    SetForm& set = Dialog();
    EXPECT_EQ(set.Check1.Value() + set.Check2.Value() + set.Check3.Value() + set.Check4.Value(), 0);
    EXPECT_EQ(set.Text2.Text(), "0");
    EXPECT_EQ(main.Text7.Text(), QStringLiteral("未設定"));
    EXPECT_EQ(forms::IdPassForm().IdText.Text(), "");
    set.Check4.SetValue(1);
    CloseDialog();
    EXPECT_FALSE(QFileInfo::exists(folder.file("★MailData")));
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size(), 0);
}
