// Waking the display: the X server's reset under Xvfb, the desktop's D-Bus service on a
// private session bus (dbus-run-session), and a clean failure with neither.
#include "platform/ScreenSaver.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QGuiApplication>
#include <QThread>
#include <QtTest>
#include <atomic>

using namespace platform;

// Stands in for the desktop's screen saver; lives in its own thread so the blocking
// call of the code under test gets its answer.
class FakeScreenSaver : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")

public:
    std::atomic<int> calls{0};

public slots:
    void SimulateUserActivity() { ++calls; }
};

class TestScreenSaver : public QObject
{
    Q_OBJECT

    bool sessionBusUp() const
    {
        return QDBusConnection::sessionBus().isConnected() &&
               qEnvironmentVariableIsSet("CORVANE_PRIVATE_BUS");
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsSet("CORVANE_EXPECT_X11"))
            QCOMPARE(QGuiApplication::platformName(), QString("xcb"));
    }

    void failsCleanlyWithoutDisplayAndService()
    {
        if (QGuiApplication::platformName() == "xcb" || sessionBusUp())
            QSKIP("runs offscreen without a session bus");
        QString error;
        QVERIFY(!WakeUpDisplay(&error));
        QVERIFY2(error.contains("X11"), qPrintable(error));
        QVERIFY(!WakeUpDisplay());
    }

    void resetsTheXScreenSaver()
    {
        if (QGuiApplication::platformName() != "xcb") QSKIP("needs an X display");
        QString error;
        QVERIFY2(WakeUpDisplay(&error), qPrintable(error));
    }

    void callsTheDesktopService_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("freedesktop path") << "/org/freedesktop/ScreenSaver";
        QTest::newRow("KDE path") << "/ScreenSaver";
    }
    void callsTheDesktopService()
    {
        QFETCH(QString, path);
        if (!sessionBusUp()) QSKIP("needs a private session bus (dbus-run-session)");
        if (QGuiApplication::platformName() == "xcb") QSKIP("the X path would succeed on its own");

        // No service yet: nothing reached.
        QVERIFY(!WakeUpDisplay());

        QThread thread;
        FakeScreenSaver fake;
        fake.moveToThread(&thread);
        thread.start();
        const auto stop = qScopeGuard([&] {
            thread.quit();
            thread.wait();
        });
        QDBusConnection service =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, "fake-screensaver");
        const auto disconnect = qScopeGuard([&] {
            service.unregisterService("org.freedesktop.ScreenSaver");
            service.unregisterObject(path);
            QDBusConnection::disconnectFromBus("fake-screensaver");
        });
        QVERIFY(service.registerObject(path, &fake, QDBusConnection::ExportAllSlots));
        QVERIFY(service.registerService("org.freedesktop.ScreenSaver"));

        QString error;
        QVERIFY2(WakeUpDisplay(&error), qPrintable(error));
        QCOMPARE(fake.calls.load(), 1);
    }
};

QTEST_MAIN(TestScreenSaver)
#include "tst_screensaver.moc"
