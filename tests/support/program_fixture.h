#pragma once
// A whole program in a box for one test: its own program folder (with ★MailData, unless a test asks
// for none) and current directory, virtual time, fresh program-wide values, and a process end that
// unwinds into the test instead of ending it.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "app/forms.h"
#include "app/main_form.h"
#include "core/beside.h"
#include "core/program.h"
#include "core/virtual_event_loop.h"
#include "platform/mci.h"
#include "platform/process.h"
#include "settings/account.h"
#include "settings/set_form.h"
#include "support/temp_folder.h"

namespace testsupport {

struct ProcessEnded {
    int code;
};

class ProgramTest : public ::testing::Test {
protected:
    // The local time the program starts at; tests that care pick their own before Start.
    QDateTime startTime{QDate(2026, 12, 8), QTime(9, 30, 0)};
    std::unique_ptr<core::VirtualEventLoop> loop;
    TempFolder folder;  // the program folder
    TempFolder cwd;     // the current directory, where qorvel.ini lives

    void SetUp() override {
        QDir().mkpath(folder.file(QStringLiteral("★MailData")));
        savedCwd_ = QDir::currentPath();
        QDir::setCurrent(cwd.path());
        prog::ResetProgramValues();
        settings::SetLastAcceptedAccount({});
        settings::SetUnsavedAccount(std::nullopt);
        settings::SetUnsavedOptions(std::nullopt);
        core::SetProgramFolder(folder.path());
        loop = std::make_unique<core::VirtualEventLoop>(startTime);
        core::SetLoop(loop.get());
        platform::SetEndProcessHandler([](int code) { throw ProcessEnded{code}; });
        // Tunes keep their length in virtual time and make no sound.
        platform::SetMciSilent(true);
        platform::SetMciClock([this] { return uint64_t(loop->Elapsed()); });
    }

    void TearDown() override {
        forms::DestroyAll();
        QCoreApplication::processEvents();  // queued deletions of unloaded forms
        platform::SetEndProcessHandler(nullptr);
        platform::mciSendStringA("close all", nullptr, 0, nullptr);
        platform::SetMciClock(nullptr);
        core::SetLoop(nullptr);
        loop.reset();
        QDir::setCurrent(savedCwd_);
    }

    // Restarts virtual time at another local time (before the program starts).
    void StartAt(const QDateTime& t) {
        loop = std::make_unique<core::VirtualEventLoop>(t);
        core::SetLoop(loop.get());
    }

    // Paths of the settings files in this program folder.
    QString IniName() const { return QStringLiteral("★MailData/ini.ini"); }
    QString IdPassName() const { return QStringLiteral("★MailData/iniIdPass.ini"); }
    void WriteIni(const QByteArray& text) const { folder.write(IniName(), text); }
    void WriteIdPass(const QByteArray& text) const { folder.write(IdPassName(), text); }
    void WriteServer(const QByteArray& text) const { cwd.write(QStringLiteral("qorvel.ini"), text); }

    // Unloads the main window as its close box does; true when the process ended.
    bool CloseMainWindow() {
        try {
            forms::MainForm().Unload();
        } catch (const ProcessEnded&) {
            return true;
        }
        return false;
    }

    // Lets the program run until the mail check under way has ended: its talk with the server
    // (beside everything else) and its notice after it. False when it has not within maxMs of virtual time.
    bool FinishCheck(int64_t maxMs = 10 * 60000) {
        return loop->RunUntil(
            [] { return !core::BesideRunning() && !(forms::MainFormLoaded() && forms::MainForm().notifying_ > 0); },
            maxMs);
    }

    // Copies the built pictures into this program folder.
    void InstallPictures() const {
        const QDir from(QStringLiteral(VELLUMINE_PROGRAM_DIR "/画像データ"));
        QDir().mkpath(folder.file(QStringLiteral("画像データ")));
        for (const QString& name : from.entryList(QDir::Files))
            QFile::copy(from.filePath(name), folder.file(QStringLiteral("画像データ/") + name));
    }

    // Serves Qt's events in real time, virtual time standing still, until pred holds (true) or maxMs of
    // real time have passed: for answers that come from another process in its own time (a keyring).
    static bool UntilInRealTime(const std::function<bool()>& pred, int maxMs = 60000) {
        QElapsedTimer waited;
        waited.start();
        QTimer wake;
        wake.setSingleShot(true);
        while (!pred()) {
            if (waited.elapsed() >= maxMs) return false;
            wake.start(100);
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        }
        return true;
    }

    // Lets queued work (deferred deletion of unloaded forms) run.
    static void Settle() { QCoreApplication::processEvents(); }

private:
    QString savedCwd_;
};

}  // namespace testsupport
