// The desktop's screen saver service for tests, on the session bus (a private one: the tests
// run under dbus-run-session with CORVANE_PRIVATE_BUS set). It lives in a thread of its own,
// so that it answers while the test's main thread waits, and can be told never to answer.
#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QObject>
#include <QThread>

#include <atomic>

class FakeScreenSaverService : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")

public:
    std::atomic<int> calls{0};
    bool answer = true;
    QList<QDBusMessage> unanswered;

public slots:
    void SimulateUserActivity()
    {
        ++calls;
        if (answer) return;
        setDelayedReply(true);
        unanswered << message();
    }
};

class FakeScreenSaver
{
public:
    enum Mode
    {
        Answer,
        NeverAnswer
    };

    static bool PrivateBus()
    {
        return qEnvironmentVariableIsSet("CORVANE_PRIVATE_BUS") &&
               QDBusConnection::sessionBus().isConnected();
    }

    explicit FakeScreenSaver(const QString &path, Mode mode = Answer) : FPath(path)
    {
        FService.answer = mode == Answer;
        FService.moveToThread(&FThread);
        FThread.start();
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, Name);
        FRegistered = bus.registerObject(path, &FService, QDBusConnection::ExportAllSlots) &&
                      bus.registerService(QStringLiteral("org.freedesktop.ScreenSaver"));
    }
    ~FakeScreenSaver()
    {
        QDBusConnection bus(Name);
        bus.unregisterService(QStringLiteral("org.freedesktop.ScreenSaver"));
        bus.unregisterObject(FPath);
        QDBusConnection::disconnectFromBus(Name);
        FThread.quit();
        FThread.wait();
    }

    bool Registered() const { return FRegistered; }
    int Calls() const { return FService.calls.load(); }

private:
    static constexpr const char *Name = "fake-screensaver";
    QString FPath;
    QThread FThread;
    FakeScreenSaverService FService;
    bool FRegistered = false;
};
