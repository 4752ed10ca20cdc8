// The real program on a desktop as a newcomer may meet it: without a tray at first (the
// message on standard error and as a notification, a second start opens the call list, "/q"
// ends it), a tray that comes and goes; the line lost and back (one notification each, the
// tray icon's badge); notifications that name the newest caller. The desktop's notification
// service is the test's own, on the session bus of dbus-run-session.
#include "tests/FakeNotifications.h"
#include "tests/e2e/Desktop.h"

#include <QtTest>

using namespace e2e;

namespace {

const QString NoTray = QStringLiteral("Corvane runs without a tray icon");

bool isBadgeRed(QRgb pixel)
{
    return qRed(pixel) > 180 && qGreen(pixel) < 90 && qBlue(pixel) < 90;
}

// Red pixels of the line's badge in the tray host's strip (top right, 120 × 24).
int badgePixels(const QString &file)
{
    const QImage shot = screenshot(file);
    int n = 0;
    for (int y = 0; y < 24; ++y)
        for (int x = shot.width() - 120; x < shot.width(); ++x)
            n += isBadgeRed(shot.pixel(x, y));
    return n;
}

} // namespace

class TestE2eDesktop : public QObject
{
    Q_OBJECT

    std::unique_ptr<NotificationServiceOnBus> FBus;
    QString FShots;

    FakeNotificationService &notifications() { return FBus->service(); }

private slots:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "runs on an X server (xvfb-run)");
        QVERIFY2(QDBusConnection::sessionBus().isConnected(), "runs under dbus-run-session");
        FShots = QStringLiteral(E2E_SCREENSHOTS);
        QDir().mkpath(FShots);
    }

    void init()
    {
        FBus = std::make_unique<NotificationServiceOnBus>();
        QVERIFY(FBus->registered());
    }
    void cleanup() { FBus.reset(); }

    void reachableWithoutATray()
    {
        Corvane corvane;
        corvane.writeIni("[Settings]\nShowNag=0\nIntervall=0\nLanguage=1\n");
        corvane.captureErrors();
        QVERIFY(corvane.start());
        QVERIFY(waitFor([&] { return notifications().summaries().contains(NoTray); }, 20000));
        QVERIFY(corvane.errorOutput().contains(NoTray + ". This desktop shows no tray"));
        const QString help = notifications().shown().constLast().body;
        for (const char *way : {"Start Corvane again", "/n", "/m", "/o", "/q"})
            QVERIFY2(help.contains(way), way);

        // Said once, not at every look.
        QTest::qWait(7000);
        QCOMPARE(notifications().summaries().count(NoTray), 1);
        QCOMPARE(corvane.errorOutput().count(NoTray), 1);

        // Started again without a switch: the call list, since there is no tray to click.
        QCOMPARE(corvane.secondStart({}), 0);
        const QString lists = waitForWindow(QStringLiteral("^Lists - 0 Entries"));
        QVERIFY2(!lists.isEmpty(), "the call list opens");
        run(QStringLiteral("xdotool"),
            {QStringLiteral("windowactivate"), QStringLiteral("--sync"), lists});
        run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")});
        QVERIFY(waitFor([&] { return findWindow(QStringLiteral("^Lists - ")).isEmpty(); }));

        // A tray comes: the icon goes there and the message is taken back; the tray goes:
        // said again.
        {
            TrayHost tray;
            QVERIFY(tray.start());
            QVERIFY(waitFor([&] { return notifications().closed().size() == 1; }, 15000));
            // With a tray, a second start brings the popup forward and opens no list.
            QCOMPARE(corvane.secondStart({}), 0);
            QVERIFY2(!waitForWindow(QStringLiteral("^Corvane$")).isEmpty(),
                     "the popup comes forward");
            QVERIFY(findWindow(QStringLiteral("^Lists - ")).isEmpty());
        }
        QVERIFY(waitFor([&] { return notifications().summaries().count(NoTray) == 2; }, 15000));
        QVERIFY(waitFor([&] { return corvane.errorOutput().count(NoTray) == 2; }));

        // The menu entry's Exit: the running program ends as by the menu, settings written.
        QCOMPARE(corvane.secondStart({QStringLiteral("/q")}), 0);
        QVERIFY(corvane.ended(15000));
        QCOMPARE(corvane.exitCode(), 0);
        QVERIFY(corvane.readFile(QStringLiteral("corvane.ini")).contains("[MainPos]"));
    }

    void lineLostAndBackAndTheNewestCaller()
    {
        TrayHost tray;
        QVERIFY(tray.start());
        Corvane corvane;
        corvane.writeIni("[Settings]\nShowNag=0\nIntervall=0\nLanguage=1\nRejectTime=1\n");
        QFile nicks(corvane.file(QStringLiteral("Nicks")));
        QVERIFY(nicks.open(QIODevice::WriteOnly));
        nicks.write("196608 # DO NOT EDIT / NICHT VERAENDERN/LOESCHEN!!\r\n"
                    "Nickname;Phone number;Soundfile;Action;\r\nAnna;0441123;;log|popup|;\r\n");
        nicks.close();
        QVERIFY(corvane.start());
        QVERIFY(corvane.line(QStringLiteral("wait-listening --timeout 20")));

        // Each new call updates one notification, which names the newest caller.
        QVERIFY(corvane.line("ring --from 441123 --type 0x21 --to 85606 --end-after 1"));
        QVERIFY(waitFor([&] { return notifications().shown().size() == 1; }));
        QCOMPARE(notifications().shown()[0].summary, QStringLiteral("Hint"));
        QCOMPARE(notifications().shown()[0].body,
                 QStringLiteral("1 new call\nAnna, Oldenburg \u2192 85606"));
        QVERIFY(corvane.line("ring --from 301234 --type 0x21 --to 85607 --end-after 1"));
        QVERIFY(waitFor([&] { return notifications().shown().size() == 2; }));
        QCOMPARE(notifications().shown()[1].body,
                 QStringLiteral("2 new calls\n0301234, Berlin \u2192 85607"));
        QCOMPARE(notifications().shown()[1].replaces, notifications().shown()[0].id);
        QCOMPARE(badgePixels(FShots + QStringLiteral("/tray-line-up.png")), 0);

        // Lost: one notification, however often the monitor tries again; the tray says so.
        QVERIFY(corvane.line(QStringLiteral("fault lose-line")));
        const QString down = QStringLiteral("The ISDN line cannot be used");
        QVERIFY(waitFor([&] { return notifications().summaries().contains(down); }, 15000));
        QVERIFY(waitFor(
            [&] { return badgePixels(FShots + QStringLiteral("/tray-line-down.png")) > 10; }));
        QTest::qWait(8000); // attempts after 1, 2 and 4 seconds
        QCOMPARE(notifications().summaries().count(down), 1);

        QVERIFY(corvane.line(QStringLiteral("fault none")));
        const QString back = QStringLiteral("The ISDN line is back");
        QVERIFY(waitFor([&] { return notifications().summaries().contains(back); }, 30000));
        QVERIFY(waitFor([&] { return badgePixels(FShots + "/tray-line-back.png") == 0; }));
        QTest::qWait(2000);
        QCOMPARE(notifications().summaries().count(down), 1);
        QCOMPARE(notifications().summaries().count(back), 1);
        QVERIFY(corvane.stop());
    }
};

QTEST_MAIN(TestE2eDesktop)
#include "tst_e2e_desktop.moc"
