// Saving the settings on a disk that is full: the program says so, keeps going, and the next save
// lands once there is room again. ★MailData is a 1 MB tmpfs of its own, filled to the last block.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <unistd.h>

#include "e2e/desktop.h"
#include "e2e/program.h"

using namespace e2e;

class FullDisk : public OnTheDesktop {};

namespace {

// A small tmpfs mounted over a folder for the length of a test (root only).
class SmallDisk {
public:
    explicit SmallDisk(const QString& at) : at_(at) {
        ok_ = ::geteuid() == 0 &&
              QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=1m,mode=0755", "vellumine-e2e", at}) == 0;
    }
    ~SmallDisk() {
        if (ok_) QProcess::execute("umount", {"-l", at_});
    }
    bool ok() const { return ok_; }
    // Fills it with one file until no block is left.
    bool fill(const QString& name) const {
        QFile f(at_ + "/" + name);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return false;
        const QByteArray chunk(4096, '\0');
        while (f.write(chunk) == chunk.size()) {
        }
        return true;
    }

private:
    QString at_;
    bool ok_ = false;
};

QStringList MailData(const ProgramFolder& folder) {
    return QDir(folder.file("★MailData")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

}  // namespace

TEST_F(FullDisk, SavingTheSettingsDialogSaysSoAndTheNextSaveLandsOnceThereIsRoom) {
    ProgramFolder folder;
    ASSERT_TRUE(folder.ok());
    SmallDisk disk(folder.file("★MailData"));
    if (!disk.ok()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
    folder.writeServer("pop.example.org");
    folder.writeAccount("alice", "secret");
    folder.writeIni("NUMBER=0\r\nNUMBER2=0\r\nNUMBER3=0\r\nNUMBER4=0\r\nNUMBER5=0\r\n");
    const QByteArray before = folder.read("★MailData/ini.ini");
    ASSERT_TRUE(disk.fill("filler"));

    RunningProgram program(folder);
    const auto clock = program.waitForClock();
    ASSERT_TRUE(clock) << program.error().toStdString();

    // The ghost cat's check box ticked, the dialog closed by its close box: the save fails.
    ASSERT_TRUE(ChooseMenuItem(*clock, kSettings));
    auto settings = WaitForWindow("設定");
    ASSERT_TRUE(settings) << "no settings dialog";
    Activate(*settings);
    Click(Info(*settings)->rect.topLeft() + QPoint(16, 272));
    Keys({"alt+F4"});
    const auto box = WaitForWindow(QStringLiteral("エラー"));
    ASSERT_TRUE(box) << "no error box; the program said: " << program.output().toStdString();
    Pause(300);  // drawn before the picture is taken
    SaveArtefact(Grab(FrameRect(*box)), "save-failed-box.png");
    EXPECT_EQ(folder.read("★MailData/ini.ini"), before);
    // No temp file left; the lock file the save took stays.
    EXPECT_EQ(MailData(folder), QStringList({".ini.ini.lock", "filler", "ini.ini", "iniIdPass.ini"}));

    // OK: the box and the dialog go, the program goes on.
    Activate(*box);
    Keys({"Return"});
    EXPECT_TRUE(WaitUntilGone(QStringLiteral("エラー")));
    EXPECT_TRUE(WaitUntilGone("設定"));
    EXPECT_TRUE(program.running());

    // Room again: the dialog still holds the tick, and closing it saves.
    ASSERT_TRUE(QFile::remove(folder.file("★MailData/filler")));
    ASSERT_TRUE(ChooseMenuItem(*clock, kSettings));
    settings = WaitForWindow("設定");
    ASSERT_TRUE(settings);
    Activate(*settings);
    Keys({"alt+F4"});
    EXPECT_TRUE(WaitUntilGone("設定"));
    EXPECT_TRUE(Until([&] { return folder.iniValue("NUMBER5") == QStringLiteral("1"); }))
        << folder.read("★MailData/ini.ini").toStdString();
    Pause(300);
    EXPECT_FALSE(FindWindow(QStringLiteral("エラー")).has_value());
    EXPECT_EQ(MailData(folder), QStringList({".ini.ini.lock", "ini.ini", "iniIdPass.ini"}));
    program.kill();
}
