#include "support/keyring_session.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>

#include <signal.h>

namespace testsupport {

namespace {

// No <servicedir>: nothing is started on demand, so "no keyring" stays no keyring.
const char kBusConfig[] = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

const QString kLook = QStringLiteral("keyring-session-test");
const QString kPrompter = QStringLiteral("keyring-session-prompter");

}  // namespace

KeyringSession::KeyringSession(bool withKeyring) {
    savedHome_ = qgetenv("HOME");
    home_.write(QStringLiteral("bus.conf"), kBusConfig);
    QProcess bus;
    bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--config-file=") + home_.file("bus.conf"),
                                              QStringLiteral("--fork"), QStringLiteral("--print-address=1"),
                                              QStringLiteral("--print-pid=1")});
    if (!bus.waitForFinished(30000) || bus.exitCode() != 0) {
        error_ = QStringLiteral("dbus-daemon did not start: ") + QString::fromUtf8(bus.readAllStandardError());
        return;
    }
    const QList<QByteArray> lines = bus.readAllStandardOutput().trimmed().split('\n');
    if (lines.size() < 2) {
        error_ = QStringLiteral("dbus-daemon printed no address and pid");
        return;
    }
    address_ = lines[0].trimmed();
    busPid_ = lines[1].trimmed().toLongLong();
    qputenv("DBUS_SESSION_BUS_ADDRESS", address_);
    qputenv("HOME", home_.path().toUtf8());  // the keyring's files, and libsecret's view of them
    if (!withKeyring) return;

    QProcess keyring;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    keyring.setProcessEnvironment(env);
    keyring.start(QStringLiteral("gnome-keyring-daemon"), {QStringLiteral("--unlock"), QStringLiteral("--components=secrets")});
    keyring.write("test-password");
    keyring.closeWriteChannel();
    if (!keyring.waitForFinished(30000) || keyring.exitCode() != 0) {
        error_ = QStringLiteral("gnome-keyring-daemon did not start: ") + QString::fromUtf8(keyring.readAllStandardError());
        return;
    }
    // It forks and takes its name on the bus a moment later.
    QDBusConnection look = QDBusConnection::connectToBus(QString::fromUtf8(address_), kLook);
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 30000) {
        const QDBusReply<uint> pid = look.interface()->servicePid(QStringLiteral("org.freedesktop.secrets"));
        if (pid.isValid()) {
            keyringPid_ = pid.value();
            break;
        }
        QThread::msleep(20);
    }
    QDBusConnection::disconnectFromBus(kLook);
    if (keyringPid_ == 0) error_ = QStringLiteral("gnome-keyring-daemon never took org.freedesktop.secrets");
}

KeyringSession::~KeyringSession() {
    if (realPrompter_) {
        realPrompter_->terminate();
        realPrompter_->waitForFinished(30000);
    }
    EndPrompts();
    EndKeyring();
    if (busPid_ > 0) ::kill(pid_t(busPid_), SIGTERM);
    qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    qputenv("HOME", savedHome_);
}

QByteArray KeyringSession::SecretTool(const QStringList& arguments) const {
    QProcess tool;
    tool.start(QStringLiteral("secret-tool"), arguments);
    tool.closeWriteChannel();
    tool.waitForFinished(30000);
    return tool.readAllStandardOutput() + tool.readAllStandardError();
}

QByteArray KeyringSession::Lookup(const QString& user) const {
    QProcess tool;
    tool.start(QStringLiteral("secret-tool"),
               {QStringLiteral("lookup"), QStringLiteral("application"), QStringLiteral("vellumine"),
                QStringLiteral("user"), user});
    tool.waitForFinished(30000);
    return tool.readAllStandardOutput();
}

bool KeyringSession::Store(const QString& user, const QByteArray& password) const {
    QProcess tool;
    tool.start(QStringLiteral("secret-tool"),
               {QStringLiteral("store"), QStringLiteral("--label=Vellumine"), QStringLiteral("xdg:schema"),
                QStringLiteral("org.example.vellumine.Password"), QStringLiteral("application"),
                QStringLiteral("vellumine"), QStringLiteral("user"), user});
    tool.write(password);
    tool.closeWriteChannel();
    return tool.waitForFinished(30000) && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
}

bool KeyringSession::RealPrompter() {
    const QString path = QStringLiteral("/usr/libexec/gcr-prompter");
    const QString name = QStringLiteral("org.gnome.keyring.SystemPrompter");
    realPrompter_ = std::make_unique<QProcess>();
    realPrompter_->setProgram(path);
    realPrompter_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    realPrompter_->start();
    if (!realPrompter_->waitForStarted(30000)) return false;
    QDBusConnection look = QDBusConnection::connectToBus(QString::fromUtf8(address_), kLook);
    QElapsedTimer waited;
    waited.start();
    bool there = false;
    while (!(there = look.interface()->isServiceRegistered(name).value()) && waited.elapsed() < 30000 &&
           realPrompter_->state() == QProcess::Running)
        QThread::msleep(20);
    QDBusConnection::disconnectFromBus(kLook);
    return there;
}

bool KeyringSession::Lock() {
    QDBusConnection look = QDBusConnection::connectToBus(QString::fromUtf8(address_), kLook);
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.secrets"),
                                                       QStringLiteral("/org/freedesktop/secrets"),
                                                       QStringLiteral("org.freedesktop.Secret.Service"),
                                                       QStringLiteral("Lock"));
    call << QVariant::fromValue(QList<QDBusObjectPath>{QDBusObjectPath("/org/freedesktop/secrets/aliases/default")});
    const QDBusMessage reply = look.call(call, QDBus::Block, 30000);
    QDBusConnection::disconnectFromBus(kLook);
    return reply.type() == QDBusMessage::ReplyMessage;
}

void HeldPrompter::BeginPrompting(const QDBusObjectPath&, const QDBusMessage& call) {
    ++begun;
    if (hold) return;
    call.setDelayedReply(true);
    QDBusConnection(kPrompter).send(call.createErrorReply(QDBusError::Failed, QStringLiteral("closed")));
}

bool KeyringSession::HoldPrompts() {
    prompter_ = std::make_unique<HeldPrompter>();
    QDBusConnection bus = QDBusConnection::connectToBus(QString::fromUtf8(address_), kPrompter);
    return bus.registerObject(QStringLiteral("/org/gnome/keyring/Prompter"), prompter_.get(),
                              QDBusConnection::ExportAllSlots) &&
           bus.registerService(QStringLiteral("org.gnome.keyring.SystemPrompter"));
}

void KeyringSession::EndPrompts() {
    if (!prompter_) return;
    QDBusConnection::disconnectFromBus(kPrompter);
    prompter_.reset();
}

void KeyringSession::EndKeyring() {
    if (keyringPid_ <= 0) return;
    ::kill(pid_t(keyringPid_), SIGTERM);
    // Gone once its name is free on the bus.
    QDBusConnection look = QDBusConnection::connectToBus(QString::fromUtf8(address_), kLook);
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 30000 &&
           look.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.secrets")).value())
        QThread::msleep(20);
    QDBusConnection::disconnectFromBus(kLook);
    keyringPid_ = 0;
}

}  // namespace testsupport
