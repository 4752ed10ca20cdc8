// The real corvane on Xvfb on a home router's call monitor, played by the line simulator's
// router port: a nickname, an unknown number with its town, a withheld caller, an answering
// machine and a blocked number; the popup without a reject button; the stored statuses; a
// router that restarts while a call rings; and the next morning on the same files.
#include "lists/ListPrompts.h"
#include "lists/lists.h"
#include "settings/SettingsStore.h"
#include "tests/e2e/Desktop.h"

#include <QtTest>

using namespace e2e;

namespace {

const QRgb kYellow = qRgb(255, 255, 0);
const QRgb kRed = qRgb(255, 0, 0);

bool hasCapiLibrary(qint64 pid)
{
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("capi");
}

} // namespace

class TestE2eRouter : public QObject
{
    Q_OBJECT

    std::unique_ptr<TrayHost> FTray;
    QString FShots;

    static QString waitForPopup(const QString &shown)
    {
        return waitForWindow(QStringLiteral("^Corvane - %1$").arg(QRegularExpression::escape(shown)));
    }
    static bool stored(Corvane &corvane, const QString &row)
    {
        return waitFor([&] { return corvane.readFile(QStringLiteral("Calls")).contains(row); });
    }
    // The program on the router's call monitor, without a CAPI library to load.
    static bool startOnRouter(Corvane &corvane)
    {
        QProcessEnvironment env = corvane.environment();
        env.remove(QStringLiteral("CORVANE_CAPI_LIBRARY"));
        return corvane.start(env) &&
               corvane.line(QStringLiteral("wait-listening --timeout 20"));
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "runs on an X server (xvfb-run)");
        FTray = std::make_unique<TrayHost>();
        QVERIFY(FTray->start());
        FShots = QStringLiteral(E2E_SCREENSHOTS);
        QDir().mkpath(FShots);
    }

    void cleanupTestCase() { FTray.reset(); }

    void callsOnTheRouterAndTheNextMorning()
    {
        Corvane corvane;
        RouterSim router;
        QVERIFY(router.start(corvane));
        corvane.writeIni(QStringLiteral("[Settings]\nShowNag=0\nIntervall=0\nLanguage=1\n"
                                        "ShowReject=1\nRejectTime=10\nStoreNotSubmitted=1\n"
                                        "Debug=1\nRouterMonitorHost=127.0.0.1:%1\n")
                             .arg(router.port())
                             .toLatin1());
        {
            SettingsStore settings(corvane.file(QStringLiteral("corvane.ini")));
            settings.readAll();
            ScriptedPrompts prompts;
            TLists lists(settings, prompts, corvane.home());
            lists.SetLanguage(Language::English);
            // Anna's entry would reject her on an ISDN line; the router cannot.
            lists.nicks().setRows({NickRow{"Anna", "0441123", "", "log|popup|reject all|"}});
            lists.msns().setRows({MsnRow{true, "85606", "Office", "", "log|popup|"}});
            lists.SaveList(ListKind::Nicks);
            lists.SaveList(ListKind::Msn);
        }
        QVERIFY(startOnRouter(corvane));
        QVERIFY2(!hasCapiLibrary(corvane.pid()), "no CAPI library is loaded");

        // Anna rings, then a telephone takes the call.
        QVERIFY(corvane.line(QStringLiteral("ring --from 441123 --type 0x21 --to 85606 "
                                            "--answer-after 2 --end-after 3")));
        const QString popup = waitForPopup(QStringLiteral("Anna"));
        QVERIFY2(!popup.isEmpty(), "the popup shows the nickname");
        const QRect rect = windowGeometry(popup);
        // Where the reject button would blink red over the clock, every 300 ms: nothing red
        // in three looks while the call rings.
        const QRect corner(rect.right() - 90, rect.top(), 86, 20);
        for (int look = 0; look < 3; ++look) {
            const QImage ringing =
                screenshot(FShots + QStringLiteral("/router-popup-ringing-%1.png").arg(look));
            QVERIFY2(countPixels(ringing, rect, kYellow) > 200, "the caller is drawn");
            QCOMPARE(countPixels(ringing, corner, kRed), 0);
            QTest::qWait(350);
        }
        QVERIFY(stored(corvane, QStringLiteral(";0441123;Anna;Oldenburg;Office;answered;")));

        // An unknown caller, international in the router's form, taken by the answering
        // machine: missed at the desk.
        QVERIFY(corvane.line(QStringLiteral("ring --router-caller 00431234567# --to 85606 "
                                            "--answer-after 0.3 --extension 40 --end-after 1")));
        QVERIFY(!waitForPopup(QStringLiteral("++431234567")).isEmpty());
        QVERIFY(stored(corvane, QStringLiteral(";++431234567; ;Österreich;Office;not anwsered;")));
        // An unknown national number with its town, and a withheld caller the router blocks.
        QVERIFY(corvane.line(QStringLiteral("ring --from 301234 --type 0x21 --to 85606 "
                                            "--end-after 0.5")));
        QVERIFY(!waitForPopup(QStringLiteral("0301234")).isEmpty());
        QVERIFY(corvane.line(QStringLiteral("ring --to 85606 --blocked")));
        QVERIFY(!waitForPopup(QStringLiteral("-not transmitted-")).isEmpty());
        screenshot(FShots + QStringLiteral("/router-popup-withheld.png"));
        QVERIFY(stored(corvane, QStringLiteral(";0301234; ;Berlin;Office;not anwsered;")));
        QVERIFY(stored(corvane, QStringLiteral(";-not transmitted-; ; ;Office;not anwsered;")));
        // An outgoing call is no call of the line.
        QVERIFY(corvane.line(QStringLiteral("call --from 85606 --to 0302222 --answer-after 0.2 "
                                            "--end-after 0.5")));

        // The router restarts while a call rings: the call ends as "unknown", and the program
        // is back on its own once the port answers again.
        QVERIFY(corvane.line(QStringLiteral("ring --from 171555 --type 0x21 --to 85606")));
        QVERIFY(!waitForPopup(QStringLiteral("0171555")).isEmpty());
        QVERIFY(corvane.line(QStringLiteral("router refuse 2")));
        QVERIFY(stored(corvane, QStringLiteral(";0171555; ; ;Office;unknown;")));
        QVERIFY(corvane.line(QStringLiteral("wait-listening --timeout 20")));
        QVERIFY(corvane.line(QStringLiteral("ring --from 89456 --type 0x21 --to 85606 "
                                            "--end-after 0.5")));
        QVERIFY(!waitForPopup(QStringLiteral("089456")).isEmpty());
        QVERIFY(stored(corvane, QStringLiteral(";089456; ;München;Office;not anwsered;")));
        const QString log = corvane.readFile(QStringLiteral("corvane.log"));
        QVERIFY2(log.contains(QStringLiteral("router monitor: connection lost")), qPrintable(log));
        QVERIFY(!corvane.readFile(QStringLiteral("Calls")).contains(QStringLiteral("0302222")));
        QVERIFY(corvane.stop());

        // The next morning: the setting and the calls are still there, and the router's calls
        // go on into the same list.
        QVERIFY(corvane.readFile(QStringLiteral("corvane.ini"))
                    .contains(QStringLiteral("RouterMonitorHost=127.0.0.1:%1").arg(router.port())));
        QVERIFY(startOnRouter(corvane));
        QVERIFY(corvane.line(QStringLiteral("ring --from 441123 --type 0x21 --to 85606 "
                                            "--end-after 0.5")));
        QVERIFY(!waitForPopup(QStringLiteral("Anna")).isEmpty());
        QVERIFY(waitFor([&] {
            return corvane.readFile(QStringLiteral("Calls"))
                       .count(QStringLiteral(";0441123;Anna;Oldenburg;Office;")) == 2;
        }));
        const QString calls = corvane.readFile(QStringLiteral("Calls"));
        QVERIFY(calls.contains(QStringLiteral(";0171555; ; ;Office;unknown;")));
        QVERIFY(corvane.stop());
    }
};

QTEST_MAIN(TestE2eRouter)
#include "tst_e2e_router.moc"
