// The real corvane on Xvfb with a tray host: calls rung on the simulated line, the popup
// as the screen shows it, real clicks, the stored call list, what went out on the line,
// second starts with switches, and a router's CAPI over TCP that goes away and returns.
#include "lists/ListPrompts.h"
#include "lists/lists.h"
#include "settings/SettingsStore.h"
#include "tests/Libcapi20Files.h"
#include "tests/e2e/Desktop.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace e2e;

namespace {

const QRgb kYellow = qRgb(255, 255, 0);

void seedLists(const Corvane &corvane, const QList<NickRow> &nicks, const QList<MsnRow> &msns)
{
    SettingsStore settings(corvane.file(QStringLiteral("corvane.ini")));
    settings.readAll();
    ScriptedPrompts prompts;
    TLists lists(settings, prompts, corvane.home());
    lists.SetLanguage(Language::English);
    lists.nicks().setRows(nicks);
    lists.msns().setRows(msns);
    lists.SaveList(ListKind::Nicks);
    lists.SaveList(ListKind::Msn);
}

qint64 cpuTicks(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return -1;
    const QList<QByteArray> fields = stat.readAll().split(' ');
    return fields.value(13).toLongLong() + fields.value(14).toLongLong(); // utime + stime
}

} // namespace

class TestE2eCalls : public QObject
{
    Q_OBJECT

    std::unique_ptr<TrayHost> FTray;
    QString FShots;

    QString waitForPopup(const QString &shown)
    {
        return waitForWindow(
            QStringLiteral("^Corvane - %1$").arg(QRegularExpression::escape(shown)));
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

    void callsAreShownStoredAndAnswered()
    {
        Corvane corvane;
        corvane.writeIni("[Settings]\nShowNag=0\nRejectTime=1\nIntervall=0\nLanguage=1\n");
        seedLists(corvane, {NickRow{"Anna", "0441123", "", "log|popup|"}},
                  {MsnRow{true, "85606", "Office", "", "log|popup|"}});
        QVERIFY(corvane.start());
        QVERIFY(corvane.line(QStringLiteral("wait-listening --timeout 20")));

        QVERIFY(corvane.line(QStringLiteral("ring --from 441123 --type 0x21 --to 85606 "
                                            "--end-after 2 --reason 0x3490")));
        const QString popup = waitForPopup(QStringLiteral("Anna"));
        QVERIFY2(!popup.isEmpty(), "the popup shows the nickname");
        const QRect rect = windowGeometry(popup);
        QCOMPARE(rect.size(), QSize(400, 100));
        const QImage shot = screenshot(FShots + QStringLiteral("/popup-known.png"));
        QVERIFY2(countPixels(shot, rect, kYellow) > 200, "the caller is drawn in the text colour");

        QVERIFY(waitFor([&] {
            return corvane.readFile(QStringLiteral("Calls"))
                .contains(QStringLiteral(";0441123;Anna;Oldenburg;Office;not anwsered;"));
        }));
        // Listen, alert, let it ring on after a second, answer the end.
        const QStringList put = corvane.linePut();
        QCOMPARE(put.value(0), QStringLiteral("1d 00 01 00 05 80 00 00 01 00 00 00 7f 00 00 00 fe "
                                              "03 ff 1f 00 00 00 00 02 00 80 01 80"));
        QCOMPARE(put.mid(1, 3),
                 QStringList({"0d 00 01 00 01 80 00 00 01 01 00 00 00",
                              "13 00 01 00 02 83 00 00 01 01 00 00 01 00 00 00 00 00 00",
                              "0c 00 01 00 04 83 00 00 01 01 00 00"}));

        QVERIFY(corvane.line(QStringLiteral("ring --from 301234 --type 0x21 --to 85607 "
                                            "--end-after 0.5 --reason 0x34a2")));
        QVERIFY(!waitForPopup(QStringLiteral("0301234")).isEmpty());
        QVERIFY(waitFor([&] {
            return corvane.readFile(QStringLiteral("Calls"))
                .contains(QStringLiteral(";0301234; ;Berlin;85607;busy;"));
        }));

        QVERIFY(corvane.line(QStringLiteral("ring --to 85606 --end-after 0.5")));
        QVERIFY(!waitForPopup(QStringLiteral("-not transmitted-")).isEmpty());
        screenshot(FShots + QStringLiteral("/popup-unknown.png"));
        QVERIFY(corvane.stop());
    }

    // A user of an earlier version: the usual data directory and its files readable to
    // everyone. After a start and a call, nobody else can read them.
    void filesArePrivateAfterAStartAndACall()
    {
        Corvane corvane;
        const QString xdg = corvane.file(QStringLiteral("xdg"));
        const QString data = xdg + QStringLiteral("/corvane");
        QVERIFY(QDir().mkpath(data));
        QFile::setPermissions(data, QFile::Permissions(0x7755));
        const QByteArray header = "196608 # DO NOT EDIT / NICHT VERAENDERN/LOESCHEN!!\r\n";
        const QMap<QString, QByteArray> files = {
            {"corvane.ini", "[Settings]\nShowNag=0\nIntervall=0\nLanguage=1\nDebug=1\n"
                            "[StatusCodes]\n$3490=1\n"},
            {"Calls", header + "Date-Time;Date;Time;Phone number;Nickname;Town;Target;State;\r\n"},
            {"Calls.bak", header},
            {"Nicks.09.12.2025_18.00.00", "damaged"},
            {"corvane.log", "12:00:00: earlier\n"},
        };
        for (auto it = files.begin(); it != files.end(); ++it) {
            QFile file(data + u'/' + it.key());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(it.value());
            file.close();
            QVERIFY(file.setPermissions(QFile::Permissions(0x6644)));
        }
        QProcessEnvironment env = corvane.environment();
        env.remove(QStringLiteral("CORVANE_HOME"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), xdg);
        QVERIFY(corvane.start(env));
        QVERIFY(corvane.line(QStringLiteral("wait-listening --timeout 20")));
        QVERIFY(corvane.line(QStringLiteral("ring --from 301234 --type 0x21 --to 85606 "
                                            "--end-after 0.5 --reason 0x3490")));
        QVERIFY(waitFor([&] {
            QFile calls(data + QStringLiteral("/Calls"));
            return calls.open(QIODevice::ReadOnly) && calls.readAll().contains(";0301234;");
        }));
        QVERIFY(corvane.stop());

        QCOMPARE(int(QFileInfo(data).permissions() & 0x0FFF), 0x0700);
        const QStringList written = QDir(data).entryList(QDir::Files | QDir::Hidden);
        for (const char *name : {"Calls", "Calls.bak", "Nicks", "MSN", "corvane.ini", "corvane.log",
                                 "Nicks.09.12.2025_18.00.00"})
            QVERIFY2(written.contains(name), name);
        for (const QString &name : written)
            QVERIFY2((QFileInfo(data + u'/' + name).permissions() & 0x0FFF) == 0x0600,
                     qPrintable(name));
    }

    void rejectButtonClickedWithTheMouse()
    {
        Corvane corvane;
        corvane.writeIni("[Settings]\nShowNag=0\nRejectTime=10\nIntervall=0\nShowReject=1\n"
                         "Language=1\n");
        QVERIFY(corvane.start());
        QVERIFY(corvane.line(QStringLiteral("wait-listening --timeout 20")));
        QVERIFY(corvane.line(QStringLiteral("ring --from 171555 --type 0x21 --to 85606 "
                                            "--end-after 8")));
        const QString popup = waitForPopup(QStringLiteral("0171555"));
        QVERIFY(!popup.isEmpty());
        QVERIFY(waitFor([&] { return corvane.linePut().size() >= 2; })); // alerting
        const QRect rect = windowGeometry(popup);
        // The reject button sits in the top right corner, over the clock.
        const QRect button(rect.right() - 90, rect.top(), 86, 20);
        QVERIFY(waitFor([&] {
            const QImage shot = screenshot(FShots + QStringLiteral("/popup-reject-button.png"));
            return countPixels(shot, button, kYellow) + countPixels(shot, button, qRgb(255, 0, 0)) >
                   20;
        }));
        const QString take = QStringLiteral("1c 00 01 00 02 83 00 00 01 01 00 00 00 00 09 01 00 "
                                            "01 00 00 00 00 00 00 00 00 00 00");
        bool taken = false;
        for (int attempt = 0; attempt < 3 && !taken; ++attempt) {
            click(QPoint(rect.right() - 30, rect.top() + 8));
            taken = waitFor([&] { return corvane.linePut().contains(take); }, 3000);
        }
        if (!taken) {
            screenshot(FShots + QStringLiteral("/popup-reject-failed.png"));
            qWarning() << "line:" << corvane.linePut() << "calls:" << corvane.readFile("Calls");
        }
        QVERIFY2(taken, "the click on the reject button took the call");
        QVERIFY(waitFor([&] {
            return corvane.readFile(QStringLiteral("Calls"))
                .contains(QStringLiteral(";0171555; ; ;85606;rejected;"));
        }));
        const QStringList put = corvane.linePut();
        QVERIFY(put.contains(QStringLiteral("0f 00 01 00 82 83 00 00 01 01 01 00 02 00 00")));
        QVERIFY(put.contains(QStringLiteral("0d 00 01 00 04 80 00 00 01 01 00 00 00")));
        QVERIFY(corvane.stop());
    }

    void secondStartHandsOverItsCommand()
    {
        Corvane corvane;
        corvane.writeIni("[Settings]\nShowNag=0\nIntervall=0\nLanguage=1\n");
        QVERIFY(corvane.start());
        QVERIFY(corvane.line(QStringLiteral("wait-listening --timeout 20")));

        QCOMPARE(corvane.secondStart({QStringLiteral("/t"), QStringLiteral("0441999")}), 0);
        QVERIFY(!waitForPopup(QStringLiteral("0441999")).isEmpty());
        QVERIFY(waitFor([&] {
            return corvane.readFile(QStringLiteral("Calls")).contains(QStringLiteral(";0441999;"));
        }));
        // "/c" opens the call list in the running instance.
        QCOMPARE(corvane.secondStart({QStringLiteral("/c")}), 0);
        const QString lists = waitForWindow(QStringLiteral("^Lists - 1 Entries$"));
        QVERIFY2(!lists.isEmpty(), "the call list with the test call");
        screenshot(FShots + QStringLiteral("/lists-calls.png"));
        run(QStringLiteral("xdotool"),
            {QStringLiteral("windowactivate"), QStringLiteral("--sync"), lists});
        run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")});
        QVERIFY(waitFor([&] { return findWindow(QStringLiteral("^Lists - ")).isEmpty(); }));
        // Switches are case-sensitive; an unknown one sends nothing.
        QCOMPARE(corvane.secondStart({QStringLiteral("/T"), QStringLiteral("0441888")}), 0);
        QTest::qWait(500);
        QVERIFY(!corvane.readFile(QStringLiteral("Calls")).contains(QStringLiteral(";0441888;")));
        QVERIFY(corvane.running());
        QVERIFY(corvane.stop());
        // The settings were written on the way out.
        QVERIFY(
            corvane.readFile(QStringLiteral("corvane.ini")).contains(QStringLiteral("[MainPos]")));
    }

    void callAndCommandDuringTheStartScreen()
    {
        Corvane corvane;
        corvane.writeIni("[Settings]\nIntervall=0\nLanguage=1\nRejectTime=1\n"); // ShowNag on
        QVERIFY(corvane.start());
        QVERIFY(corvane.line(QStringLiteral("wait-listening --timeout 20")));
        QVERIFY2(!waitForWindow(QStringLiteral("^Info$")).isEmpty(), "the start screen shows");

        QVERIFY(corvane.line(QStringLiteral("ring --from 441321 --type 0x21 --to 85606 "
                                            "--end-after 1 --reason 0x3490")));
        QCOMPARE(corvane.secondStart({QStringLiteral("/c")}), 0);
        if (findWindow(QStringLiteral("^Info$")).isEmpty())
            QSKIP("the start screen closed before the call came (a very slow machine)");
        QVERIFY2(!waitForPopup(QStringLiteral("0441321")).isEmpty(), "the call is shown");
        const QString lists = waitForWindow(QStringLiteral("^Lists - "));
        QVERIFY2(!lists.isEmpty(), "/c opened the call list");
        screenshot(FShots + QStringLiteral("/start-screen-call.png"));
        QVERIFY(waitFor([&] {
            return corvane.readFile(QStringLiteral("Calls"))
                .contains(QStringLiteral(";0441321; ;Oldenburg;85606;not anwsered;"));
        }));
        run(QStringLiteral("xdotool"),
            {QStringLiteral("windowactivate"), QStringLiteral("--sync"), lists});
        run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")});
        QVERIFY(waitFor([&] { return findWindow(QStringLiteral("^Lists - ")).isEmpty(); }));
        QVERIFY(corvane.stop());
    }

    void remoteControllerGoesAwayAndReturns()
    {
        Corvane corvane;
        corvane.writeIni("[Settings]\nShowNag=0\nIntervall=0\nRejectTime=1\nLanguage=1\n");
        const Libcapi20Files libcapi20Files;

        QProcess server;
        int port = 0;
        auto startServer = [&](int p) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("CAPISIM_LOG"), corvane.lineLog());
            server.setProcessEnvironment(env);
            server.start(QStringLiteral(CAPISIM_TOOL),
                         {QStringLiteral("serve"), QStringLiteral("--rcapi-port"),
                          QString::number(p), QStringLiteral("--socket"), corvane.socket()});
            return server.waitForStarted(5000) && server.waitForReadyRead(5000) &&
                   server.readLine().contains("rcapi on");
        };
        for (int attempt = 0; attempt < 20 && !port; ++attempt) {
            const int p = 20000 + int(QRandomGenerator::global()->bounded(12000));
            if (startServer(p))
                port = p;
            else
                server.waitForFinished(1000);
        }
        QVERIFY(port);
        QFile rc(corvane.file(QStringLiteral(".capi20rc")));
        QVERIFY(rc.open(QIODevice::WriteOnly));
        rc.write(QStringLiteral("REMOTE rcapi 127.0.0.1 %1\nTRACELEVEL 0\n").arg(port).toLatin1());
        rc.close();
        QProcessEnvironment env = corvane.environment();
        env.remove(QStringLiteral("CORVANE_CAPI_LIBRARY"));
        env.insert(QStringLiteral("HOME"), corvane.home());

        QVERIFY(corvane.start(env));
        QVERIFY(corvane.line(QStringLiteral("wait-listening --timeout 20")));
        QVERIFY(corvane.line(QStringLiteral("ring --from 89123 --type 0x21 --to 85606 "
                                            "--end-after 0.5")));
        QVERIFY(!waitForPopup(QStringLiteral("089123")).isEmpty());

        server.terminate();
        QVERIFY(server.waitForFinished(5000));
        QTest::qWait(1000);
        const qint64 before = cpuTicks(corvane.pid());
        QTest::qWait(3000);
        const qint64 used = cpuTicks(corvane.pid()) - before;
        QVERIFY2(used < 60, qPrintable(QStringLiteral("%1 ticks of CPU in 3 s").arg(used)));
        // Still responsive while the line is away.
        QCOMPARE(corvane.secondStart({QStringLiteral("/t"), QStringLiteral("0441777")}), 0);
        QVERIFY(!waitForPopup(QStringLiteral("0441777")).isEmpty());

        QVERIFY(startServer(port));
        QVERIFY(corvane.line(QStringLiteral("wait-listening --timeout 90")));
        QVERIFY(corvane.line(QStringLiteral("ring --from 89456 --type 0x21 --to 85606 "
                                            "--end-after 0.5")));
        QVERIFY(!waitForPopup(QStringLiteral("089456")).isEmpty());
        QVERIFY(corvane.stop());
        server.terminate();
        server.waitForFinished(5000);
    }
};

QTEST_MAIN(TestE2eCalls)
#include "tst_e2e_calls.moc"
