// The display platform chosen before QApplication: X11 on a Wayland desktop whose X server
// answers, the user's own choice and X sessions left alone, and an X server that does not
// answer costing no more than the time-out and leaving nothing behind. Registered twice:
// without a display, and under Xvfb with CORVANE_EXPECT_X11 set.
#include "platform/DisplayPlatform.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTcpServer>
#include <QtTest>
#include <sys/wait.h>

using namespace platform;

namespace {

// Sets an environment variable for one scope and puts the old value back.
class ScopedVariable
{
public:
    ScopedVariable(const char *name, const QByteArray &value)
        : FName(name), FWasSet(qEnvironmentVariableIsSet(name)), FOld(qgetenv(name))
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~ScopedVariable()
    {
        if (FWasSet)
            qputenv(FName, FOld);
        else
            qunsetenv(FName);
    }

private:
    const char *FName;
    bool FWasSet;
    QByteArray FOld;
};

} // namespace

class TestDisplayPlatform : public QObject
{
    Q_OBJECT

private slots:
    void choice_data()
    {
        QTest::addColumn<QByteArray>("qpaPlatform");
        QTest::addColumn<QByteArray>("waylandDisplay");
        QTest::addColumn<QByteArray>("sessionType");
        QTest::addColumn<bool>("platformArgument");
        QTest::addColumn<bool>("reachable");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<bool>("x11");

        QTest::newRow("Wayland with Xwayland")
            << QByteArray() << QByteArray("wayland-0") << QByteArray("wayland") << false << true
            << true << true;
        QTest::newRow("Wayland, no X server")
            << QByteArray() << QByteArray("wayland-0") << QByteArray("wayland") << false << false
            << true << false;
        QTest::newRow("only the session type says Wayland")
            << QByteArray() << QByteArray() << QByteArray("wayland") << false << true << true
            << true;
        QTest::newRow("only the Wayland display") << QByteArray() << QByteArray("wayland-1")
                                                  << QByteArray() << false << true << true << true;
        QTest::newRow("the user chose Wayland")
            << QByteArray("wayland") << QByteArray("wayland-0") << QByteArray("wayland") << false
            << true << false << false;
        QTest::newRow("the user chose -platform")
            << QByteArray() << QByteArray("wayland-0") << QByteArray("wayland") << true << true
            << false << false;
        QTest::newRow("an X session")
            << QByteArray() << QByteArray() << QByteArray("x11") << false << true << false << false;
        QTest::newRow("no session at all")
            << QByteArray() << QByteArray() << QByteArray() << false << true << false << false;
    }

    void choice()
    {
        QFETCH(QByteArray, qpaPlatform);
        QFETCH(QByteArray, waylandDisplay);
        QFETCH(QByteArray, sessionType);
        QFETCH(bool, platformArgument);
        QFETCH(bool, reachable);
        QFETCH(bool, asked);
        QFETCH(bool, x11);

        // The user's value stays as it was; only an unset variable is filled and taken back.
        const ScopedVariable variable("QT_QPA_PLATFORM",
                                      qpaPlatform.isEmpty() ? QByteArray() : qpaPlatform);
        DisplayEnvironment environment;
        environment.qpaPlatform = qpaPlatform;
        environment.waylandDisplay = waylandDisplay;
        environment.sessionType = sessionType;
        environment.platformArgument = platformArgument;
        int questions = 0;
        DisplayPlatformChoice choice(environment, [&] {
            ++questions;
            return reachable;
        });
        QCOMPARE(questions, asked ? 1 : 0);
        QCOMPARE(choice.X11Chosen(), x11);
        QCOMPARE(qgetenv("QT_QPA_PLATFORM"), x11 ? QByteArray("xcb") : qpaPlatform);
        choice.Restore();
        QCOMPARE(qEnvironmentVariableIsSet("QT_QPA_PLATFORM"), !qpaPlatform.isEmpty());
        QCOMPARE(qgetenv("QT_QPA_PLATFORM"), qpaPlatform);
    }

    void environmentAndCommandLine()
    {
        const ScopedVariable platform("QT_QPA_PLATFORM", "offscreen");
        const ScopedVariable wayland("WAYLAND_DISPLAY", "wayland-7");
        const ScopedVariable session("XDG_SESSION_TYPE", "wayland");
        const auto parse = [](QList<QByteArray> arguments) {
            std::vector<char *> argv;
            for (QByteArray &argument : arguments)
                argv.push_back(argument.data());
            argv.push_back(nullptr);
            return DisplayEnvironment::Current(int(arguments.size()), argv.data());
        };
        const DisplayEnvironment plain = parse({"corvane"});
        QCOMPARE(plain.qpaPlatform, QByteArray("offscreen"));
        QCOMPARE(plain.waylandDisplay, QByteArray("wayland-7"));
        QCOMPARE(plain.sessionType, QByteArray("wayland"));
        QVERIFY(!plain.platformArgument);

        QVERIFY(parse({"corvane", "-platform", "wayland"}).platformArgument);
        QVERIFY(parse({"corvane", "/d", "--platform", "xcb"}).platformArgument);
        // Qt takes "-platform" without a name as no choice; Corvane's switches are none.
        QVERIFY(!parse({"corvane", "-platform"}).platformArgument);
        QVERIFY(!parse({"corvane", "/t", "-platformx"}).platformArgument);
        QVERIFY(!parse({"corvane", "---platform", "xcb"}).platformArgument);
    }

    void noXServer()
    {
        {
            const ScopedVariable display("DISPLAY", QByteArray());
            QVERIFY(!XServerReachable(1000));
        }
        const ScopedVariable display("DISPLAY", ":4711");
        QVERIFY(!XServerReachable(5000));
    }

    // A display that accepts the connection but never answers holds the start no longer than
    // the time-out.
    void silentXServer()
    {
        QTcpServer silent;
        int number = 90;
        while (number < 200 && !silent.listen(QHostAddress::LocalHost, quint16(6000 + number)))
            ++number;
        QVERIFY2(silent.isListening(), "a free port for display 127.0.0.1:90 to :199");
        const ScopedVariable display("DISPLAY", "127.0.0.1:" + QByteArray::number(number));
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!XServerReachable(300));
        QVERIFY2(clock.elapsed() >= 250, qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
        // The asking process was ended and reaped.
        QCOMPARE(::waitpid(-1, nullptr, WNOHANG), -1);
    }

    void realXServer()
    {
        if (!qEnvironmentVariableIsSet("CORVANE_EXPECT_X11")) QSKIP("runs under Xvfb");
        QVERIFY(XServerReachable(5000));
        // The X authority file is what lets the connection in.
        const ScopedVariable authority("XAUTHORITY", "/nonexistent/corvane-no-authority");
        QVERIFY(!XServerReachable(5000));
    }
};

QTEST_GUILESS_MAIN(TestDisplayPlatform)
#include "tst_displayplatform.moc"
