#include "platform/keyring.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QEvent>

#include <atomic>
#include <memory>
#include <thread>

#include "platform/net_wait.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

// libsecret's headers use "signals" as a name, which Qt defines away.
#undef signals
#include <libsecret/secret.h>

namespace platform {

namespace {

const char* const kServiceName = "org.freedesktop.secrets";

// The items carry the program's name and the user: `secret-tool search application vellumine` finds them.
const SecretSchema* Schema() {
    static const SecretSchema schema = {
        "org.example.vellumine.Password",
        SECRET_SCHEMA_NONE,
        {{"application", SECRET_SCHEMA_ATTRIBUTE_STRING}, {"user", SECRET_SCHEMA_ATTRIBUTE_STRING}, {nullptr, {}}},
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    return &schema;
}

struct Job {
    std::atomic<bool> done{false};
    KeyringStatus status = KeyringStatus::Failed;
    QString password;
};

// For the leak checker of the sanitizer build only: libsecret 0.21 (Debian 13) keeps the GIO proxy it
// makes for every unlock prompt (_secret_prompt_instance, g_initable_new) until exit. A job's thread
// runs libsecret's calls and nothing of ours that could leak (its answer belongs to the job), so what
// is allocated on it is not counted.
struct LibraryAllocations {
#if defined(__SANITIZE_ADDRESS__)
    LibraryAllocations() { __lsan_disable(); }
    ~LibraryAllocations() { __lsan_enable(); }
#endif
};

// The program keeps one account: once the new one is stored, an item kept for an earlier ID goes, as an
// earlier password in the file is overwritten. One that will not go (locked elsewhere) stays.
void RemoveOtherUsers(SecretService* service, const QByteArray& user) {
    GHashTable* attributes = secret_attributes_build(Schema(), "application", "vellumine", nullptr);
    GList* items = secret_service_search_sync(service, Schema(), attributes, SECRET_SEARCH_ALL, nullptr, nullptr);
    g_hash_table_unref(attributes);
    for (GList* i = items; i; i = i->next) {
        SecretItem* item = SECRET_ITEM(i->data);
        GHashTable* found = secret_item_get_attributes(item);
        const auto* owner = static_cast<const char*>(g_hash_table_lookup(found, "user"));
        if (!owner || user != owner) secret_item_delete_sync(item, nullptr, nullptr);
        g_hash_table_unref(found);
    }
    g_list_free_full(items, g_object_unref);
}

// libsecret's calls block until the keyring answers, and an unlock prompt waits for the person: they
// run on a thread of their own. A job given up on finishes alone; it owns what it writes to. Once it is
// done, answered runs on the program's thread, as any event's handler.
template <class Work>
std::shared_ptr<Job> StartJob(Work work, std::function<void(const Job&)> answered) {
    auto job = std::make_shared<Job>();
    std::thread([job, work, answered = std::move(answered)] {
        {
            [[maybe_unused]] const LibraryAllocations library;
            // GIO ends the whole process when the session bus closes under the connection it shares
            // (libsecret's); a clock whose bus went away runs on, with no keyring. Held for the job: the
            // shared connection lives as long as someone holds it.
            GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
            if (bus) g_dbus_connection_set_exit_on_close(bus, FALSE);
            work(*job);
            // The next call connects afresh: a keyring that went away or was replaced meanwhile (logged
            // out of, restarted) is then found as it is now, not through a session it no longer knows.
            secret_service_disconnect();
            if (bus) g_object_unref(bus);
        }
        job->done = true;
        // Any event wakes a loop that sleeps; a wait then finds the job done.
        if (QCoreApplication* app = QCoreApplication::instance()) {
            if (answered)
                QMetaObject::invokeMethod(app, [job, answered] { answered(*job); }, Qt::QueuedConnection);
            else
                QCoreApplication::postEvent(app, new QEvent(QEvent::User));
        }
    }).detach();
    return job;
}

// The program waits for the answer as for a socket's.
template <class Work>
std::shared_ptr<Job> RunJob(Work work) {
    const std::shared_ptr<Job> job = StartJob(work, nullptr);
    const std::function<bool()> ready = [job] { return job->done.load(); };
    if (!Net().WaitUntil(ready, kKeyringLongestWaitMs)) return nullptr;
    return job;
}

}  // namespace

bool KeyringPresent() {
    // The program sets the bus address to "disabled:" when it has none: no bus, no keyring, no delay.
    // A connection of its own for each look, made from the address as it is now: Qt's shared session
    // bus keeps the first answer for the whole run.
    const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (address.isEmpty() || address.startsWith(QLatin1String("disabled:"))) return false;
    const QString name = QStringLiteral("vellumine-keyring-look");
    bool present = false;
    {
        QDBusConnection bus = QDBusConnection::connectToBus(address, name);
        // Running, not merely startable: a bus that could start a keyring daemon on demand (a bare X
        // session with the package installed) has no keyring of the person's, and starting one there
        // would only ask them to make one.
        if (bus.isConnected() && bus.interface())
            present = bus.interface()->isServiceRegistered(QString::fromLatin1(kServiceName)).value();
    }
    QDBusConnection::disconnectFromBus(name);
    return present;
}

KeyringStatus KeyringStorePassword(const QString& label, const QString& user, const QString& password) {
    const QByteArray l = label.toUtf8(), u = user.toUtf8(), p = password.toUtf8();
    const std::shared_ptr<Job> job = RunJob([l, u, p](Job& j) {
        GError* error = nullptr;
        SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &error);
        // A locked collection takes no item: it is unlocked first, through the keyring's own prompt.
        SecretCollection* collection =
            service ? secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE,
                                                       nullptr, &error)
                    : nullptr;
        if (collection && secret_collection_get_locked(collection)) {
            GList* objects = g_list_append(nullptr, collection);
            secret_service_unlock_sync(service, objects, nullptr, nullptr, &error);
            g_list_free(objects);
            if (secret_collection_get_locked(collection)) j.status = KeyringStatus::Refused;
        }
        if (collection) g_object_unref(collection);
        if (service && !error && j.status != KeyringStatus::Refused) {
            // Through the service already at hand: the password convenience call makes its own, and
            // GIO leaves a few blocks behind each time it does.
            GHashTable* attributes = secret_attributes_build(Schema(), "application", "vellumine", "user",
                                                             u.constData(), nullptr);
            SecretValue* value = secret_value_new(p.constData(), p.size(), "text/plain");
            const bool stored = secret_service_store_sync(service, Schema(), attributes, SECRET_COLLECTION_DEFAULT,
                                                          l.constData(), value, nullptr, &error);
            secret_value_unref(value);
            g_hash_table_unref(attributes);
            j.status = stored ? KeyringStatus::Ok : KeyringStatus::Failed;
            if (stored) RemoveOtherUsers(service, u);
        }
        if (service) g_object_unref(service);
        if (error) g_error_free(error);
    });
    return job ? job->status : KeyringStatus::Refused;
}

namespace {
// The first item found for the user, with its secret; a locked one is unlocked first, through the
// keyring's own prompt.
void ReadPassword(const QByteArray& user, Job& j) {
    GError* error = nullptr;
    GHashTable* attributes =
        secret_attributes_build(Schema(), "application", "vellumine", "user", user.constData(), nullptr);
    GList* items = secret_service_search_sync(nullptr, Schema(), attributes,
                                              SecretSearchFlags(SECRET_SEARCH_UNLOCK | SECRET_SEARCH_LOAD_SECRETS),
                                              nullptr, &error);
    g_hash_table_unref(attributes);
    if (error) {
        j.status = KeyringStatus::Failed;
        g_error_free(error);
    } else if (!items) {
        j.status = KeyringStatus::NotFound;
    } else {
        SecretItem* item = SECRET_ITEM(items->data);
        SecretValue* value = secret_item_get_locked(item) ? nullptr : secret_item_get_secret(item);
        const char* text = value ? secret_value_get_text(value) : nullptr;
        if (text) {
            j.status = KeyringStatus::Ok;
            j.password = QString::fromUtf8(text);
        } else {
            j.status = KeyringStatus::Refused;
        }
        if (value) secret_value_unref(value);
    }
    g_list_free_full(items, g_object_unref);
}
}  // namespace

KeyringRead KeyringReadPassword(const QString& user) {
    const QByteArray u = user.toUtf8();
    const std::shared_ptr<Job> job = RunJob([u](Job& j) { ReadPassword(u, j); });
    if (!job) return {KeyringStatus::Refused, QString()};
    return {job->status, job->password};
}

void KeyringReadPasswordThen(const QString& user, std::function<void(const KeyringRead&)> answered) {
    const QByteArray u = user.toUtf8();
    StartJob([u](Job& j) { ReadPassword(u, j); },
             [answered = std::move(answered)](const Job& j) { answered({j.status, j.password}); });
}

}  // namespace platform
