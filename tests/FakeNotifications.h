// A desktop notification service of the tests' own on the session bus (run the test under
// dbus-run-session): it records what the program asks it to show. It answers from a thread
// of its own, so a blocking call of the code under test gets its answer too.
#pragma once

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QMutex>
#include <QMutexLocker>
#include <QObject>
#include <QStringList>
#include <QThread>
#include <QVariantMap>

struct ShownNotification
{
    uint id = 0;
    uint replaces = 0;
    QString app;
    QString summary;
    QString body;
};

class FakeNotificationService : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    explicit FakeNotificationService(QStringList capabilities = {"body", "body-markup"},
                                     QString connection = QString())
        : FConnection(std::move(connection)), FCapabilities(std::move(capabilities))
    {
    }

    // The user dismisses the notification (or it expires): the service tells every client,
    // from its own thread, so after the answers it has given.
    void dismiss(uint id)
    {
        QMetaObject::invokeMethod(this, [this, id] { sendClosed(id, 2); }, Qt::QueuedConnection);
    }

    QList<ShownNotification> shown() const
    {
        QMutexLocker lock(&FMutex);
        return FShown;
    }
    QList<uint> closed() const
    {
        QMutexLocker lock(&FMutex);
        return FClosed;
    }
    // The summaries shown so far, in order.
    QStringList summaries() const
    {
        QStringList list;
        for (const ShownNotification &n : shown())
            list << n.summary;
        return list;
    }

public slots:
    uint Notify(const QString &app, uint replaces, const QString &, const QString &summary,
                const QString &body, const QStringList &, const QVariantMap &, int)
    {
        QMutexLocker lock(&FMutex);
        const uint id = replaces ? replaces : ++FNextId;
        FShown.append({id, replaces, app, summary, body});
        return id;
    }
    void CloseNotification(uint id)
    {
        {
            QMutexLocker lock(&FMutex);
            FClosed.append(id);
        }
        sendClosed(id, 3);
    }
    QStringList GetCapabilities() { return FCapabilities; }
    QString GetServerInformation(QString &vendor, QString &version, QString &specVersion)
    {
        vendor = QStringLiteral("tests");
        version = QStringLiteral("1");
        specVersion = QStringLiteral("1.2");
        return QStringLiteral("fake");
    }

private:
    void sendClosed(uint id, uint reason)
    {
        QDBusMessage signal = QDBusMessage::createSignal(
            QStringLiteral("/org/freedesktop/Notifications"),
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("NotificationClosed"));
        signal << id << reason;
        QDBusConnection(FConnection).send(signal);
    }

    const QString FConnection;
    mutable QMutex FMutex;
    QList<ShownNotification> FShown;
    QList<uint> FClosed;
    uint FNextId = 0;
    QStringList FCapabilities;
};

// Sees the service's NotificationClosed signals on a client's connection. Made after the
// client's own receiver, it hears each signal after that receiver: once it has seen one, the
// client has too.
class ClosedNotificationsSeen : public QObject
{
    Q_OBJECT

public:
    explicit ClosedNotificationsSeen(QDBusConnection bus = QDBusConnection::sessionBus())
    {
        const QString name = QStringLiteral("org.freedesktop.Notifications");
        bus.connect(name, QStringLiteral("/org/freedesktop/Notifications"), name,
                    QStringLiteral("NotificationClosed"), this, SLOT(closed(uint, uint)));
    }
    QList<uint> ids;

public slots:
    void closed(uint id, uint) { ids << id; }
};

// Registers the service on its own connection for the lifetime of the object.
class NotificationServiceOnBus
{
public:
    explicit NotificationServiceOnBus(QStringList capabilities = {"body", "body-markup"})
        : FService(std::move(capabilities), FConnection)
    {
        FService.moveToThread(&FThread);
        FThread.start();
        QDBusConnection bus =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, FConnection);
        FRegistered = bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"),
                                         &FService, QDBusConnection::ExportAllSlots) &&
                      bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
    }
    ~NotificationServiceOnBus()
    {
        QDBusConnection bus(FConnection);
        bus.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        bus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
        QDBusConnection::disconnectFromBus(FConnection);
        FThread.quit();
        FThread.wait();
    }
    bool registered() const { return FRegistered; }
    FakeNotificationService &service() { return FService; }

private:
    const QString FConnection = QStringLiteral("fake-notifications");
    QThread FThread;
    FakeNotificationService FService;
    bool FRegistered = false;
};
