// A desktop notification service of the tests' own on the session bus (run the test under
// dbus-run-session): it records what the program asks it to show. It answers from a thread
// of its own, so a blocking call of the code under test gets its answer too.
#pragma once

#include <QDBusConnection>
#include <QDBusConnectionInterface>
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
    explicit FakeNotificationService(QStringList capabilities = {"body", "body-markup"})
        : FCapabilities(std::move(capabilities))
    {
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
        QMutexLocker lock(&FMutex);
        FClosed.append(id);
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
    mutable QMutex FMutex;
    QList<ShownNotification> FShown;
    QList<uint> FClosed;
    uint FNextId = 0;
    QStringList FCapabilities;
};

// Registers the service on its own connection for the lifetime of the object.
class NotificationServiceOnBus
{
public:
    explicit NotificationServiceOnBus(QStringList capabilities = {"body", "body-markup"})
        : FService(std::move(capabilities))
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
