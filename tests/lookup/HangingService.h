// An address-book service that hangs, for tests and benchmarks: it owns the address books'
// registry on the session bus (a private one) and answers nothing until released. The service
// lives in a thread of its own.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>

class HangingAddressBook
{
    class Service : public QDBusVirtualObject
    {
    public:
        QString introspect(const QString &) const override { return QString(); }
        bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
        {
            QMutexLocker lock(&mutex);
            if (released)
                connection.send(message.createErrorReply(QDBusError::Failed, "released"));
            else
                held.append(message);
            return true;
        }
        mutable QMutex mutex;
        QList<QDBusMessage> held;
        bool released = false;
    };

public:
    HangingAddressBook()
    {
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, Name);
        FRegistered = bus.registerVirtualObject("/", &FService, QDBusConnection::SubPath) &&
                      bus.registerService(Registry);
        FService.moveToThread(&FThread);
        FThread.start();
    }
    ~HangingAddressBook()
    {
        Release();
        QDBusConnection bus(Name);
        bus.unregisterService(Registry);
        bus.unregisterObject("/", QDBusConnection::UnregisterTree);
        QDBusConnection::disconnectFromBus(Name);
        FThread.quit();
        FThread.wait();
    }

    bool Registered() const { return FRegistered; }
    // Requests taken and not answered.
    qsizetype Held() const
    {
        QMutexLocker lock(&FService.mutex);
        return FService.held.size();
    }
    // Every request held, and every one from now on, gets an error.
    void Release()
    {
        QDBusConnection bus(Name);
        QMutexLocker lock(&FService.mutex);
        for (const QDBusMessage &message : std::as_const(FService.held))
            bus.send(message.createErrorReply(QDBusError::Failed, "released"));
        FService.held.clear();
        FService.released = true;
    }

private:
    static constexpr const char *Name = "hanging-address-book";
    static inline const QString Registry =
        QStringLiteral("org.gnome.evolution.dataserver.Sources5");
    QThread FThread;
    Service FService;
    bool FRegistered = false;
};
