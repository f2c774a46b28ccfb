#include "e2e/program.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace e2e {

namespace {

bool CopyFolder(const QString& from, const QString& to) {
    if (!QDir().mkpath(to)) return false;
    const QDir source(from);
    for (const QString& name : source.entryList(QDir::Files))
        if (!QFile::copy(source.filePath(name), to + "/" + name)) return false;
    return true;
}

QString FakeTimeLibrary() {
    // The multi-threaded variant: Qt runs threads of its own.
    for (const QString& dir : QDir("/usr/lib").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString candidate = "/usr/lib/" + dir + "/faketime/libfaketimeMT.so.1";
        if (QFileInfo::exists(candidate)) return candidate;
    }
    return QFileInfo::exists("/usr/lib/faketime/libfaketimeMT.so.1") ? "/usr/lib/faketime/libfaketimeMT.so.1" : QString();
}

}  // namespace

ProgramFolder::ProgramFolder() : dir_(QDir::tempPath() + "/vellumine-e2e-XXXXXX") {
    const QString built = QStringLiteral(VELLUMINE_PROGRAM_DIR);
    ok_ = dir_.isValid() && QFile::copy(QStringLiteral(VELLUMINE_E2E_PROGRAM), file("vellumine")) &&
          CopyFolder(built + "/画像データ", file("画像データ")) && CopyFolder(built + "/Sound", file("Sound")) &&
          QDir().mkpath(file("★MailData"));
}

void ProgramFolder::write(const QString& name, const QByteArray& bytes) const {
    QFile f(file(name));
    QDir().mkpath(QFileInfo(f).absolutePath());
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(bytes);
}

QByteArray ProgramFolder::read(const QString& name) const {
    QFile f(file(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool ProgramFolder::exists(const QString& name) const { return QFileInfo::exists(file(name)); }

QImage ProgramFolder::picture(const QString& name) const {
    return QImage(file("画像データ/" + name + ".gif")).convertToFormat(QImage::Format_RGB32);
}

void ProgramFolder::writeServer(const QString& pop3) const {
    write("qorvel.ini", ("SMTP=\r\nPOP3=" + pop3 + "\r\nMAIL=\r\nAPOP=0\r\n").toUtf8());
}

void ProgramFolder::writeAccount(const QString& id, const QString& password) const {
    write("★MailData/iniIdPass.ini", ("[EXEINI]\r\nNAME=" + id + "\r\nNAME2=" + password + "\r\nNAME3=1\r\n").toUtf8());
}

void ProgramFolder::writeIni(const QByteArray& lines) const { write("★MailData/ini.ini", "[EXEINI]\r\n" + lines); }

std::optional<QString> ProgramFolder::iniValue(const QString& key) const {
    const QString text = QString::fromUtf8(read("★MailData/ini.ini"));
    for (const QString& line : text.split("\r\n"))
        if (line.startsWith(key + "=")) return line.mid(key.size() + 1);
    return std::nullopt;
}

RunningProgram::RunningProgram(const QString& program, const QString& workingDirectory, const StartOptions& options) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // One locale wherever the suite runs: Qt's own dialogs are titled in English then ("Open").
    for (const QString& name : env.keys())
        if (name == "LANG" || name.startsWith("LC_")) env.remove(name);
    if (!options.locale.isEmpty()) env.insert("LC_ALL", options.locale);
    env.remove("LANGUAGE");
    if (!options.home.isEmpty()) {
        env.insert("HOME", options.home);
        env.remove("XDG_DATA_HOME");
    }
    if (!options.sessionBus.isEmpty()) env.insert("DBUS_SESSION_BUS_ADDRESS", options.sessionBus);
    if (options.noSessionBus) {
        env.remove("DBUS_SESSION_BUS_ADDRESS");
        env.insert("XDG_RUNTIME_DIR", options.runtimeDir.isEmpty() ? runtime_.path() : options.runtimeDir);
    }
    if (!options.fakeTime.isEmpty()) {
        const QString library = FakeTimeLibrary();
        if (library.isEmpty()) {
            error_ = "libfaketime is not installed (Debian package faketime)";
            return;
        }
        env.insert("LD_PRELOAD", library);
        env.insert("FAKETIME", "@" + options.fakeTime);
        // Qt's timers run on the monotonic clock; only the wall clock is to be moved.
        env.insert("FAKETIME_DONT_FAKE_MONOTONIC", "1");
    }
    process_.setProcessEnvironment(env);
    process_.setWorkingDirectory(workingDirectory);
    process_.setProcessChannelMode(QProcess::MergedChannels);
    if (!options.trustedCertificate.isEmpty()) {
        if (!certs_.isValid() || !QFile::copy(options.trustedCertificate, certs_.path() + "/vellumine-e2e.pem")) {
            error_ = "could not copy the certificate";
            return;
        }
        // unshare and sh exec in turn, so the process is the program itself in the end.
        process_.start("unshare", {"--mount", "sh", "-c", "mount --bind \"$0\" /etc/ssl/certs && exec \"$1\"",
                                   certs_.path(), program});
    } else {
        process_.start(program, {});
    }
    started_ = process_.waitForStarted(10000);
    if (!started_) error_ = process_.errorString();
}

RunningProgram::~RunningProgram() { kill(); }

std::optional<WindowId> RunningProgram::waitForClock(int ms) {
    std::optional<WindowId> clock;
    Until([&] { return !running() || (clock = WaitForWindow(kClockTitle, 0)).has_value(); }, ms);
    if (!clock) error_ = "no clock window; the program said: " + output();
    return clock;
}

bool RunningProgram::waitForExit(int ms) {
    return Until([&] { return !running(); }, ms) && process_.exitStatus() == QProcess::NormalExit;
}

void RunningProgram::kill() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.kill();
    process_.waitForFinished(5000);
}

QString RunningProgram::output() { return QString::fromUtf8(process_.readAll()); }

QByteArray MailMessage(int n) {
    return QString("From: sender%1@example.org\r\nTo: alice@example.org\r\nSubject: note %1\r\n"
                   "Date: Tue, 08 Dec 2026 09:00:00 +0000\r\n\r\nbody %1\r\n")
        .arg(n)
        .toUtf8();
}

QRect FaceRect(WindowId clock) {
    const auto info = Info(clock);
    if (!info) return {};
    // The client area is 123 pixels high (1845 twips); the menu bar takes the rest of the window.
    const int menuBar = info->rect.height() - 123;
    return QRect(info->rect.x() + 3, info->rect.y() + menuBar + 3, 100, 100);
}

int FaceDifference(const QImage& face, const QImage& picture) {
    if (face.size() != QSize(100, 100) || picture.size() != QSize(100, 100)) return -1;
    int differing = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x) {
            const int dx = x - 50, dy = y - 40;
            if (dx * dx + dy * dy <= 12 * 12) continue;
            if ((face.pixel(x, y) & 0xFFFFFF) != (picture.pixel(x, y) & 0xFFFFFF)) ++differing;
        }
    return differing;
}

QString FaceShows(const QImage& face, const ProgramFolder& folder, const QStringList& names) {
    for (const QString& name : names)
        if (FaceDifference(face, folder.picture(name)) == 0) return name;
    return {};
}

bool ChooseMenuItem(WindowId clock, int n, bool waitForTheMenuToGo) {
    Activate(clock);
    Keys({"alt+f"});
    if (!Until([] { return ProgramPopup().has_value(); })) return false;
    QStringList keys;
    for (int i = 1; i < n; ++i) keys << "Down";
    keys << "Return";
    Keys(keys);
    return !waitForTheMenuToGo || Until([] { return !ProgramPopup().has_value(); });
}

}  // namespace e2e
