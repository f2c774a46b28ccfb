#pragma once
// The real, built program, started from a scratch copy of its program folder (the executable, the
// pictures and the tune, an empty ★MailData) with that folder as its current directory, as a user
// would run it. Also the reference pictures and the settings files it reads and writes.
#include <QByteArray>
#include <QImage>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <optional>

#include "e2e/desktop.h"

namespace e2e {

inline const QString kClockTitle = QStringLiteral("Orlavue　Ver 1.0");  // a full-width space in it

class ProgramFolder {
public:
    ProgramFolder();
    bool ok() const { return ok_; }
    QString path() const { return dir_.path(); }
    QString file(const QString& name) const { return dir_.path() + "/" + name; }
    void write(const QString& name, const QByteArray& bytes) const;
    QByteArray read(const QString& name) const;
    bool exists(const QString& name) const;
    // One picture of the program's 画像データ, e.g. "Watch".
    QImage picture(const QString& name) const;

    // Settings files as a user who went through the dialogs before would have them.
    void writeServer(const QString& pop3) const;
    void writeAccount(const QString& id, const QString& password) const;
    void writeIni(const QByteArray& lines) const;  // key=value lines under [EXEINI], CR LF
    // The value of a key of ★MailData/ini.ini; none when the key is missing.
    std::optional<QString> iniValue(const QString& key) const;

private:
    QTemporaryDir dir_;
    bool ok_ = false;
};

struct StartOptions {
    // libfaketime: the local time the program starts at, e.g. "2026-12-08 12:59:58".
    QString fakeTime;
    // A start for the chime tests: twelve seconds before one o'clock. A clock built with the sanitizers
    // on a loaded machine has been seen to take more than four seconds to come up, and a clock that
    // comes up after the hour has missed its chime.
    static constexpr const char* kBeforeOne = "2026-12-08 12:59:48";
    // A PEM certificate the program is to trust, as if it were in the system's store: the program
    // runs in a mount namespace of its own where /etc/ssl/certs holds this certificate.
    QString trustedCertificate;
    // HOME for the program (an installed launcher makes the user's folder under it).
    QString home;
    // The D-Bus session bus the program is to find (DBUS_SESSION_BUS_ADDRESS), e.g. a private one
    // where the test is the desktop's StatusNotifier tray.
    QString sessionBus;
    // No session bus named (DBUS_SESSION_BUS_ADDRESS unset), as in a bare X session or a desktop
    // that leaves the bus at its standard place, $XDG_RUNTIME_DIR/bus, with XDG_RUNTIME_DIR this
    // folder (empty: one of its own, with no bus in it).
    bool noSessionBus = false;
    QString runtimeDir;
    // The locale it runs in (LC_ALL); empty: none at all, as under env -i, cron or a bare container.
    QString locale = QStringLiteral("C.UTF-8");
};

class RunningProgram {
public:
    RunningProgram(const ProgramFolder& folder, const StartOptions& options = {})
        : RunningProgram(folder.file("vellumine"), folder.path(), options) {}
    // Any other way in: an installed launcher, a program folder unpacked from the tarball.
    RunningProgram(const QString& program, const QString& workingDirectory, const StartOptions& options = {});
    ~RunningProgram();  // kills it when it is still running
    bool started() const { return started_; }
    QString error() const { return error_; }

    // The clock window, once it is on the screen; none if it never came.
    std::optional<WindowId> waitForClock(int ms = 15000);
    // Ended by itself (through its own UI) within ms; its exit code then.
    bool waitForExit(int ms = 8000);
    int exitCode() const { return process_.exitCode(); }
    bool running() const { return process_.state() != QProcess::NotRunning; }
    void kill();
    QString output();

private:
    QProcess process_;
    QTemporaryDir certs_;
    QTemporaryDir runtime_;
    bool started_ = false;
    QString error_;
};

// A short message to alice@example.org, the n-th of its kind.
QByteArray MailMessage(int n);

// ---- The clock face: a 100 × 100 area at (3,3) of the clock window's client area, under the menu bar.
QRect FaceRect(WindowId clock);
// Pixels differing between a grab of the face and a picture, leaving out the circle the hands are
// drawn in (radius 12 around (50,40)). Negative when the sizes do not agree.
int FaceDifference(const QImage& face, const QImage& picture);
// Which of the named pictures the face shows exactly (outside the hands' circle); "" for none.
QString FaceShows(const QImage& face, const ProgramFolder& folder, const QStringList& names);

// Chooses an item of the menu "ファイル(&F)" by keyboard: Alt+F, then Down (n - 1) times (separators
// are skipped), then Return. n counts the items without separators, from 1. Returns once the menu
// has gone, or at once after Return when the caller is to watch what happens from the first moment.
bool ChooseMenuItem(WindowId clock, int n, bool waitForTheMenuToGo = true);
// Menu items counted so.
enum MenuItem {
    kMailCheck = 1,
    kChooseMailer = 2,
    kToTray = 3,
    kSettings = 4,
    kShowCat = 5,
    kStopShow = 6,
    kTopMostOn = 7,
    kTopMostOff = 8,
    kHomepage = 9,
};

// Every test here needs the X server with-x-server.sh starts (this process is one of its clients,
// for the screen grabs and the clipboard).
class OnTheDesktop : public ::testing::Test {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != "xcb") GTEST_SKIP() << "needs an X server: run through with-x-server.sh";
    }
};

}  // namespace e2e
