#include "platform/ras.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QMap>
#include <QString>
#include <QVariant>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace platform {

namespace {

constexpr int kCallTimeoutMs = 2000;
constexpr std::chrono::milliseconds kConnectWait{2000};

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kManagerPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kManagerInterface = QStringLiteral("org.freedesktop.NetworkManager");
const QString kActiveInterface = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
const QString kDeviceInterface = QStringLiteral("org.freedesktop.NetworkManager.Device");
const QString kSettingsInterface = QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

// NetworkManager's active-connection states worth hanging up: activating (1) and activated (2). One that
// is already deactivating has been hung up.
constexpr uint kActivating = 1;
constexpr uint kActivated = 2;

using SettingsMap = QMap<QString, QVariantMap>;  // a{sa{sv}}

// One try at connecting to the bus, made on a thread of its own: libdbus waits up to 25 s for the bus's
// greeting, and Qt makes every caller wait for it, so the GUI thread only waits kConnectWait and looks
// again on its next call.
struct Attempt {
    QString name;  // Qt's name for the connection
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool abandoned = false;  // given up while connecting: the thread closes what it opened
    bool used = false;       // it has been found connected before
};

struct Lines {
    std::mutex mutex;  // one call at a time; it guards everything below
    std::string address;  // empty: the system bus
    std::shared_ptr<Attempt> attempt;
    unsigned serial = 0;
    std::map<HRASCONN, QString> pathByHandle;  // the latest listing
    HRASCONN nextHandle = 1;
};

Lines& TheLines() {
    static Lines lines;
    return lines;
}

void StartAttempt(Lines& lines) {
    auto attempt = std::make_shared<Attempt>();
    attempt->name = QStringLiteral("vellumine-ras-%1").arg(++lines.serial);
    lines.attempt = attempt;
    std::thread([attempt, address = lines.address] {
        if (address.empty()) {
            QDBusConnection::connectToBus(QDBusConnection::SystemBus, attempt->name);
        } else {
            QDBusConnection::connectToBus(QString::fromStdString(address), attempt->name);
        }
        std::lock_guard lock(attempt->mutex);
        attempt->done = true;
        if (attempt->abandoned) QDBusConnection::disconnectFromBus(attempt->name);
        attempt->finished.notify_all();
    }).detach();
}

void Abandon(Lines& lines) {
    if (!lines.attempt) return;
    Attempt& a = *lines.attempt;
    {
        std::lock_guard lock(a.mutex);
        if (a.done) {
            QDBusConnection::disconnectFromBus(a.name);
        } else {
            a.abandoned = true;
        }
    }
    lines.attempt.reset();
}

// The bus connection, or nullopt when there is none (yet). A connection that has dropped since it last
// answered (the bus was restarted) is replaced at once; one that failed to open is tried again on the next
// call.
std::optional<QDBusConnection> Bus(Lines& lines) {
    for (int round = 0; round < 2; ++round) {
        if (!lines.attempt) StartAttempt(lines);
        Attempt& a = *lines.attempt;
        {
            std::unique_lock lock(a.mutex);
            if (!a.finished.wait_for(lock, kConnectWait, [&a] { return a.done; })) return std::nullopt;
        }
        QDBusConnection bus(a.name);
        if (bus.isConnected()) {
            a.used = true;
            return bus;
        }
        const bool wasUsed = a.used;
        Abandon(lines);
        if (!wasUsed) return std::nullopt;
    }
    return std::nullopt;
}

QDBusMessage Call(const QDBusConnection& bus, const QString& path, const QString& interface, const QString& method,
                  const QVariantList& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(kService, path, interface, method);
    message.setArguments(arguments);
    // On the system bus NetworkManager may be activatable; starting it is not ours to do, and waiting
    // for it would stall the clock.
    message.setAutoStartService(false);
    return bus.call(message, QDBus::Block, kCallTimeoutMs);
}

bool Answered(const QDBusMessage& reply) { return reply.type() == QDBusMessage::ReplyMessage; }

// Errors that say the manager as a whole is out of reach, not that one object has gone: the listing stops
// at once rather than waiting again for every connection left.
bool ManagerUnreachable(const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ErrorMessage) return true;  // not even an error came back
    static const QStringList kUnreachable = {
        QStringLiteral("org.freedesktop.DBus.Error.NoReply"),
        QStringLiteral("org.freedesktop.DBus.Error.Timeout"),
        QStringLiteral("org.freedesktop.DBus.Error.TimedOut"),
        QStringLiteral("org.freedesktop.DBus.Error.Disconnected"),
        QStringLiteral("org.freedesktop.DBus.Error.NoServer"),
        QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown"),
        QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner"),
    };
    return kUnreachable.contains(reply.errorName());
}

// A property value as D-Bus delivered it: arrays of paths come wrapped in a QDBusArgument.
std::optional<QList<QDBusObjectPath>> PathList(const QVariant& value) {
    if (value.metaType() == QMetaType::fromType<QList<QDBusObjectPath>>()) {
        return value.value<QList<QDBusObjectPath>>();
    }
    if (value.metaType() != QMetaType::fromType<QDBusArgument>()) return std::nullopt;
    const QDBusArgument argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("ao")) return std::nullopt;
    QList<QDBusObjectPath> paths;
    argument >> paths;
    return paths;
}

QString Text(const QVariant& value) {
    return value.metaType() == QMetaType::fromType<QString>() ? value.toString() : QString();
}

// Properties.Get; nullopt with the reply kept in *failure when it failed.
std::optional<QVariant> Property(const QDBusConnection& bus, const QString& path, const QString& interface,
                                 const QString& name, QDBusMessage* failure) {
    QDBusMessage reply = Call(bus, path, kPropertiesInterface, QStringLiteral("Get"), {interface, name});
    if (!Answered(reply) || reply.signature() != QLatin1String("v")) {
        *failure = reply;
        return std::nullopt;
    }
    return reply.arguments().value(0).value<QDBusVariant>().variant();
}

std::optional<QVariantMap> AllProperties(const QDBusConnection& bus, const QString& path, const QString& interface,
                                         QDBusMessage* failure) {
    QDBusMessage reply = Call(bus, path, kPropertiesInterface, QStringLiteral("GetAll"), {interface});
    if (!Answered(reply) || reply.signature() != QLatin1String("a{sv}")) {
        *failure = reply;
        return std::nullopt;
    }
    return qdbus_cast<QVariantMap>(reply.arguments().value(0));
}

std::optional<SettingsMap> Settings(const QDBusConnection& bus, const QString& path, QDBusMessage* failure) {
    QDBusMessage reply = Call(bus, path, kSettingsInterface, QStringLiteral("GetSettings"), {});
    if (!Answered(reply) || reply.signature() != QLatin1String("a{sa{sv}}")) {
        *failure = reply;
        return std::nullopt;
    }
    return qdbus_cast<SettingsMap>(reply.arguments().value(0));
}

struct DialUp {
    QString path;
    QByteArray name;
    QByteArray deviceType;
    QByteArray deviceName;
};

// The Windows device type of a dial-up connection, or empty for any other kind. Bluetooth and ADSL need
// the connection's settings to tell; they are read only for those. Sets *lost when the manager stopped
// answering meanwhile.
QByteArray DeviceType(const QDBusConnection& bus, const QString& type, const QVariant& settingsPath, bool* lost) {
    if (type == QLatin1String("gsm") || type == QLatin1String("cdma")) return "modem";
    if (type == QLatin1String("pppoe")) return "PPPoE";
    if (type != QLatin1String("bluetooth") && type != QLatin1String("adsl")) return {};

    std::optional<SettingsMap> settings;
    if (settingsPath.metaType() == QMetaType::fromType<QDBusObjectPath>()) {
        QDBusMessage failure;
        settings = Settings(bus, settingsPath.value<QDBusObjectPath>().path(), &failure);
        if (!settings && ManagerUnreachable(failure)) {
            *lost = true;
            return {};
        }
    }
    if (type == QLatin1String("bluetooth")) {
        // The same type serves PAN tethering, which is not a line that we dialled.
        if (settings && Text(settings->value(QStringLiteral("bluetooth")).value(QStringLiteral("type"))) ==
                            QLatin1String("dun")) {
            return "modem";
        }
        return {};
    }
    const QString protocol = settings ? Text(settings->value(QStringLiteral("adsl")).value(QStringLiteral("protocol")))
                                      : QString();
    if (protocol == QLatin1String("ipoatm")) return {};
    if (protocol == QLatin1String("pppoe")) return "PPPoE";
    return "ATM";
}

// The dial-up connections in NetworkManager's order; false when the manager could not be asked.
bool List(const QDBusConnection& bus, std::vector<DialUp>* lines) {
    QDBusMessage failure;
    std::optional<QVariant> active =
        Property(bus, kManagerPath, kManagerInterface, QStringLiteral("ActiveConnections"), &failure);
    if (!active) return false;
    std::optional<QList<QDBusObjectPath>> paths = PathList(*active);
    if (!paths) return false;

    for (const QDBusObjectPath& path : *paths) {
        std::optional<QVariantMap> properties = AllProperties(bus, path.path(), kActiveInterface, &failure);
        if (!properties) {
            if (ManagerUnreachable(failure)) return false;
            continue;  // gone since the list was read
        }
        const QVariant state = properties->value(QStringLiteral("State"));
        if (state.metaType() != QMetaType::fromType<uint>()) continue;
        if (state.toUInt() != kActivating && state.toUInt() != kActivated) continue;

        bool lost = false;
        QByteArray deviceType = DeviceType(bus, Text(properties->value(QStringLiteral("Type"))),
                                           properties->value(QStringLiteral("Connection")), &lost);
        if (lost) return false;
        if (deviceType.isEmpty()) continue;

        QByteArray deviceName;
        std::optional<QList<QDBusObjectPath>> devices = PathList(properties->value(QStringLiteral("Devices")));
        if (devices && !devices->isEmpty()) {
            std::optional<QVariant> name =
                Property(bus, devices->first().path(), kDeviceInterface, QStringLiteral("Interface"), &failure);
            if (name) {
                deviceName = Text(*name).toUtf8();
            } else if (ManagerUnreachable(failure)) {
                return false;
            }
        }
        lines->push_back({path.path(), Text(properties->value(QStringLiteral("Id"))).toUtf8(), deviceType, deviceName});
    }
    return true;
}

// Copies text into a field of `size` bytes: cut to leave room for the NUL, at a character boundary, and
// the rest of the field zeroed.
void Fill(char* field, size_t size, const QByteArray& text) {
    std::memset(field, 0, size);
    size_t length = std::min<size_t>(qstrnlen(text.constData(), text.size()), size - 1);
    if (length < static_cast<size_t>(text.size())) {
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
    }
    std::memcpy(field, text.constData(), length);
}

// Keeps the handle a connection had in the previous listing, so a handle never comes to mean another line.
void Remember(Lines& lines, const std::vector<DialUp>& listed, std::vector<HRASCONN>* handles) {
    std::map<HRASCONN, QString> latest;
    for (const DialUp& line : listed) {
        HRASCONN handle = 0;
        for (const auto& [known, path] : lines.pathByHandle) {
            if (path == line.path) handle = known;
        }
        while (handle == 0 || latest.count(handle) != 0) {
            handle = lines.nextHandle++;
            if (lines.nextHandle == 0) lines.nextHandle = 1;
        }
        latest[handle] = line.path;
        handles->push_back(handle);
    }
    lines.pathByHandle = std::move(latest);
}

}  // namespace

uint32_t RasEnumConnectionsA(RASCONNA* records, uint32_t* bufferSize, uint32_t* count) {
    if (bufferSize == nullptr || count == nullptr) return kRasErrorInvalidParameter;
    *count = 0;
    const bool sizeOnly = records == nullptr || *bufferSize == 0;
    if (!sizeOnly && (*bufferSize < sizeof(uint32_t) || records[0].dwSize != sizeof(RASCONNA))) {
        return kRasErrorInvalidSize;
    }

    Lines& lines = TheLines();
    std::lock_guard lock(lines.mutex);
    std::optional<QDBusConnection> bus = Bus(lines);
    std::vector<DialUp> listed;
    bool listedAll = bus && List(*bus, &listed);
    if (bus && !listedAll && !bus->isConnected()) {
        // The bus went away (restarted) before Qt noticed: once more, on a new connection.
        Abandon(lines);
        listed.clear();
        bus = Bus(lines);
        listedAll = bus && List(*bus, &listed);
    }
    if (!listedAll) return kRasErrorCannotReachManager;

    std::vector<HRASCONN> handles;
    Remember(lines, listed, &handles);
    const uint64_t needed = uint64_t{listed.size()} * sizeof(RASCONNA);
    const uint32_t given = sizeOnly ? 0 : *bufferSize;
    *bufferSize = static_cast<uint32_t>(std::min<uint64_t>(needed, UINT32_MAX));
    if (needed > given) return kRasErrorBufferTooSmall;

    for (size_t i = 0; i < listed.size(); ++i) {
        RASCONNA& record = records[i];
        std::memset(&record, 0, sizeof record);
        record.dwSize = sizeof(RASCONNA);
        record.hrasconn = handles[i];
        Fill(record.szEntryName, sizeof record.szEntryName, listed[i].name);
        Fill(record.szDeviceType, sizeof record.szDeviceType, listed[i].deviceType);
        Fill(record.szDeviceName, sizeof record.szDeviceName, listed[i].deviceName);
    }
    *count = static_cast<uint32_t>(listed.size());
    return kRasSuccess;
}

uint32_t RasHangUpA(HRASCONN connection) {
    Lines& lines = TheLines();
    std::lock_guard lock(lines.mutex);
    auto known = lines.pathByHandle.find(connection);
    if (known == lines.pathByHandle.end()) return kRasErrorInvalidHandle;

    std::optional<QDBusConnection> bus = Bus(lines);
    if (!bus) return kRasErrorCannotReachManager;
    QDBusMessage reply = Call(*bus, kManagerPath, kManagerInterface, QStringLiteral("DeactivateConnection"),
                              {QVariant::fromValue(QDBusObjectPath(known->second))});
    const QString error = reply.errorName();
    if (Answered(reply) || error == QLatin1String("org.freedesktop.NetworkManager.ConnectionNotActive") ||
        error == QLatin1String("org.freedesktop.NetworkManager.UnknownConnection")) {
        lines.pathByHandle.erase(known);  // down, or already gone: either way the line is free
        return kRasSuccess;
    }
    if (error == QLatin1String("org.freedesktop.NetworkManager.PermissionDenied") ||
        error == QLatin1String("org.freedesktop.DBus.Error.AccessDenied")) {
        return kRasErrorAccessDenied;
    }
    return kRasErrorCannotReachManager;
}

void SetRasBusAddress(const std::string& address) {
    Lines& lines = TheLines();
    std::lock_guard lock(lines.mutex);
    Abandon(lines);
    lines.address = address;
    lines.pathByHandle.clear();
}

}  // namespace platform
