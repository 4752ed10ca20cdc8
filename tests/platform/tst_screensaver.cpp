// Waking the display: the X server's reset under Xvfb, the desktop's D-Bus service on a
// private session bus (dbus-run-session), a service that never answers, and a clean failure
// with neither.
#include "platform/ScreenSaver.h"
#include "tests/platform/FakeScreenSaver.h"

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QtTest>

using namespace platform;

class TestScreenSaver : public QObject
{
    Q_OBJECT

    struct Outcome
    {
        int count = 0;
        bool woken = false;
        QString error;
    };

    // Wakes once; the outcome fills in when it is known.
    void wake(DisplayWaker &waker, Outcome &outcome)
    {
        waker.OnWoken = [&outcome](bool woken, const QString &error) {
            ++outcome.count;
            outcome.woken = woken;
            outcome.error = error;
        };
        waker.Wake();
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsSet("CORVANE_EXPECT_X11"))
            QCOMPARE(QGuiApplication::platformName(), QString("xcb"));
    }

    void failsCleanlyWithoutDisplayAndService()
    {
        if (QGuiApplication::platformName() == "xcb" || FakeScreenSaver::PrivateBus())
            QSKIP("runs offscreen without a session bus");
        DisplayWaker waker;
        Outcome outcome;
        wake(waker, outcome);
        QTRY_COMPARE(outcome.count, 1);
        QVERIFY(!outcome.woken);
        QVERIFY2(outcome.error.contains("X11"), qPrintable(outcome.error));
    }

    void resetsTheXScreenSaver()
    {
        if (QGuiApplication::platformName() != "xcb") QSKIP("needs an X display");
        DisplayWaker waker;
        Outcome outcome;
        wake(waker, outcome);
        QTRY_COMPARE(outcome.count, 1);
        QVERIFY2(outcome.woken, qPrintable(outcome.error));
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
        if (!FakeScreenSaver::PrivateBus()) QSKIP("needs a private session bus (dbus-run-session)");
        if (QGuiApplication::platformName() == "xcb") QSKIP("the X path would succeed on its own");

        DisplayWaker waker;
        {
            // No service yet: nothing reached.
            Outcome outcome;
            wake(waker, outcome);
            QTRY_COMPARE(outcome.count, 1);
            QVERIFY(!outcome.woken);
        }
        FakeScreenSaver fake(path);
        QVERIFY(fake.Registered());
        Outcome outcome;
        wake(waker, outcome);
        QTRY_COMPARE(outcome.count, 1);
        QVERIFY2(outcome.woken, qPrintable(outcome.error));
        QCOMPARE(fake.Calls(), 1);
    }

    void aServiceThatNeverAnswersHoldsNothingUp()
    {
        if (!FakeScreenSaver::PrivateBus()) QSKIP("needs a private session bus (dbus-run-session)");
        FakeScreenSaver fake(QStringLiteral("/org/freedesktop/ScreenSaver"),
                             FakeScreenSaver::NeverAnswer);
        QVERIFY(fake.Registered());
        DisplayWaker waker;
        waker.ServiceTimeoutMs = 60000;
        Outcome outcome;
        QElapsedTimer clock;
        clock.start();
        wake(waker, outcome);
        QVERIFY2(clock.elapsed() < 100, qPrintable(QString::number(clock.elapsed())));
        QTRY_COMPARE(fake.Calls(), 1);
        QCOMPARE(outcome.count, 0); // still waiting, in the background
    }
};

QTEST_MAIN(TestScreenSaver)
#include "tst_screensaver.moc"
