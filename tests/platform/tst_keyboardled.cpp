// The Scroll Lock LED: toggled for real on an X server (Xvfb), a clean failure
// elsewhere. Registered twice: offscreen, and under Xvfb with CORVANE_EXPECT_X11 set.
#include "platform/KeyboardLed.h"
#include "platform/x11/X11KeyboardLed.h"

#include <QGuiApplication>
#include <QtTest>

using namespace platform;

class TestKeyboardLed : public QObject
{
    Q_OBJECT

    bool onX11() const { return QGuiApplication::platformName() == "xcb"; }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsSet("CORVANE_EXPECT_X11"))
            QCOMPARE(QGuiApplication::platformName(), QString("xcb"));
    }

    void withoutX11EveryOperationFails()
    {
        if (onX11()) QSKIP("runs without an X display");
        const std::unique_ptr<KeyboardLed> led = CreateKeyboardLed();
        bool on = true;
        QString error;
        QVERIFY(!led->ReadScrollLock(on, &error));
        QVERIFY(!on);
        QVERIFY2(error.contains(QGuiApplication::platformName()), qPrintable(error));
        error.clear();
        QVERIFY(!led->PressScrollLock(&error));
        QVERIFY(!error.isEmpty());
        // Callers may pass no error text.
        QVERIFY(!led->ReadScrollLock(on));
        QVERIFY(!led->PressScrollLock());
    }

    void unreachableDisplayFailsCleanly()
    {
        const QByteArray saved = qgetenv("DISPLAY");
        const auto restore = qScopeGuard([&] { qputenv("DISPLAY", saved); });
        qputenv("DISPLAY", ":4711");
        QString error;
        QVERIFY(!X11KeyboardLed::Open(&error));
        QVERIFY(!error.isEmpty());
    }

    void pressTogglesTheIndicator()
    {
        if (!onX11()) QSKIP("needs an X display");
        const std::unique_ptr<KeyboardLed> led = CreateKeyboardLed();
        bool before = false;
        QString error;
        QVERIFY2(led->ReadScrollLock(before, &error), qPrintable(error));

        QVERIFY2(led->PressScrollLock(&error), qPrintable(error));
        bool after = before;
        QVERIFY(led->ReadScrollLock(after, &error));
        QCOMPARE(after, !before);

        QVERIFY2(led->PressScrollLock(&error), qPrintable(error));
        QVERIFY(led->ReadScrollLock(after, &error));
        QCOMPARE(after, before);
    }

    // What the blinking does: bring the LED to a wanted state from either state.
    void reachesWantedStateFromBoth()
    {
        if (!onX11()) QSKIP("needs an X display");
        std::unique_ptr<X11KeyboardLed> led = X11KeyboardLed::Open();
        QVERIFY(led);
        for (bool start : {false, true}) {
            QVERIFY(led->SetScrollLockIndicator(start));
            bool state = !start;
            QVERIFY(led->ReadScrollLock(state));
            QCOMPARE(state, start);
            QVERIFY(led->PressScrollLock());
            QVERIFY(led->ReadScrollLock(state));
            QCOMPARE(state, !start);
        }
        // A second connection sees the same state: it is the server's, not ours.
        std::unique_ptr<X11KeyboardLed> other = X11KeyboardLed::Open();
        bool seen = false;
        QVERIFY(other->ReadScrollLock(seen));
        QCOMPARE(seen, false);
        QVERIFY(led->SetScrollLockIndicator(false));
    }
};

QTEST_MAIN(TestKeyboardLed)
#include "tst_keyboardled.moc"
