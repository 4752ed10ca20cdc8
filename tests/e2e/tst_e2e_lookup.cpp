// The real corvane on Xvfb with the built-in reverse lookup asking a local server: the popup
// shows an unknown caller at once and grows by the answer's lines when it comes, the call list
// keeps the name, and the program ends at once while a lookup hangs or a plug-in sleeps. With
// E2E_FIGURES=1 it measures instead how long a call takes to reach the screen with and without a
// slow lookup server, and how long an answer takes to fill the popup.
#include "tests/e2e/Desktop.h"
#include "tests/lookup/LookupServer.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QtTest>

#include <algorithm>

using namespace e2e;
using testing::LookupServer;

namespace {

const QRgb kYellow = qRgb(255, 255, 0);

QByteArray lookupIni(const QString &url)
{
    QByteArray ini = "[Settings]\nShowNag=0\nIntervall=0\nLanguage=1\nRejectTime=1\n";
    if (!url.isEmpty()) ini += "InternalReverseSearch=1\nReverseLookupURL=" + url.toUtf8() + "\n";
    return ini;
}

// Polls the window titles as fast as xdotool answers; the moment (on the clock) the title
// matched, or -1.
qint64 titleSeenAt(const QElapsedTimer &clock, const QString &pattern, int timeoutMs = 20000)
{
    const qint64 end = clock.elapsed() + timeoutMs;
    while (clock.elapsed() < end)
        if (!findWindow(pattern).isEmpty()) return clock.elapsed();
    return -1;
}

QString summary(QList<qint64> times)
{
    std::sort(times.begin(), times.end());
    if (times.isEmpty()) return QStringLiteral("no samples");
    return QStringLiteral("median %1 ms, min %2 ms, max %3 ms, n=%4")
        .arg(times.at(times.size() / 2))
        .arg(times.first())
        .arg(times.last())
        .arg(times.size());
}

} // namespace

class TestE2eLookup : public QObject
{
    Q_OBJECT

    std::unique_ptr<TrayHost> FTray;
    QString FShots;

    // The program on its line, asking the server at the URL (no lookup when it is empty).
    static bool startOnLine(Corvane &corvane, const QString &url)
    {
        corvane.writeIni(lookupIni(url));
        return corvane.start() && corvane.line(QStringLiteral("wait-listening --timeout 20"));
    }

    // CONNECT_IND to the popup on screen, for each of `calls` unknown callers.
    QList<qint64> popupTimes(Corvane &corvane, int calls, int firstNumber)
    {
        QList<qint64> times;
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < calls; ++i) {
            const QString number = QStringLiteral("30%1").arg(firstNumber + i);
            const qint64 rung = clock.elapsed();
            if (!corvane.line(QStringLiteral("ring --from %1 --type 0x21 --to 85606 "
                                             "--end-after 0.3")
                                  .arg(number)))
                break;
            const qint64 seen = titleSeenAt(clock, QStringLiteral("^Corvane - 0%1$").arg(number));
            if (seen < 0) break;
            times << seen - rung;
            QThread::msleep(600); // the call ends before the next one
        }
        return times;
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

    void unknownCallerIsNamedByTheServer()
    {
        if (qEnvironmentVariableIsSet("E2E_FIGURES")) QSKIP("measuring the figures only");
        LookupServer server;
        server.answer("0301234", "Name: M&uuml;ller\r\nHauptstra%C3%9Fe 1\r\n10115 Berlin", 1000);
        server.behave("0301999", LookupServer::Behaviour::Hang);
        Corvane corvane;
        QVERIFY(startOnLine(corvane, server.baseUrl()));

        QVERIFY(corvane.line(QStringLiteral("ring --from 301234 --type 0x21 --to 85606 "
                                            "--end-after 4")));
        const QString popup = waitForWindow(QStringLiteral("^Corvane - 0301234$"));
        QVERIFY2(!popup.isEmpty(), "the popup shows the number while the server is asked");
        const QRect asked = windowGeometry(popup);
        QCOMPARE(asked.size(), QSize(400, 100));
        screenshot(FShots + QStringLiteral("/lookup-asked.png"));

        QVERIFY2(!waitForWindow(QString::fromUtf8("^Corvane - Name=Müller$"), 15000).isEmpty(),
                 "the answer names the caller");
        QRect answered;
        QVERIFY(waitFor([&] {
            answered = windowGeometry(popup);
            return answered.height() > asked.height() + 20;
        }));
        QCOMPARE(answered.topLeft(), asked.topLeft());
        const QImage shot = screenshot(FShots + QStringLiteral("/lookup-answered.png"));
        const QRect infoArea(answered.left(), answered.top() + asked.height(), answered.width(),
                             answered.height() - asked.height());
        QVERIFY2(countPixels(shot, infoArea, kYellow) > 30, "the address lines are drawn");

        QVERIFY(waitFor([&] {
            return corvane.readFile(QStringLiteral("Calls"))
                .contains(QString::fromUtf8(";0301234;Name=Müller;Berlin;85606;"));
        }));

        // A lookup that hangs does not hold up the end of the program.
        QVERIFY(corvane.line(QStringLiteral("ring --from 301999 --type 0x21 --to 85606 "
                                            "--end-after 1")));
        QVERIFY(!waitForWindow(QStringLiteral("^Corvane - 0301999$")).isEmpty());
        QVERIFY(waitFor([&] { return server.busy() == 1; }));
        QElapsedTimer clock;
        clock.start();
        QVERIFY(corvane.stop());
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(corvane.readFile(QStringLiteral("corvane.ini"))
                    .contains("ReverseLookupURL=" + server.baseUrl() + "\n"));
    }

    // A dial waits for a number plug-in that sleeps: a call rings and is answered meanwhile,
    // and the program still ends at once, the plug-in left asleep in its thread.
    void aSleepingPluginHoldsUpNeitherCallsNorTheEnd()
    {
        if (qEnvironmentVariableIsSet("E2E_FIGURES")) QSKIP("measuring the figures only");
        Corvane corvane;
        const QString entered = corvane.file(QStringLiteral("plugin.log"));
        corvane.writeIni(lookupIni(QString()) + "UseTAPI=1\nTAPIDevice=Modem on /dev/null\n"
                                                "ExternalNumberManipulationDLL=" SLEEPING_PLUGIN
                                                "\n");
        QProcessEnvironment env = corvane.environment();
        env.insert(QStringLiteral("TEST_PLUGIN_LOG"), entered);
        QVERIFY(corvane.start(env));
        QVERIFY(corvane.line(QStringLiteral("wait-listening --timeout 20")));

        // This test owns the clipboard and must keep answering it: never block from here on.
        QGuiApplication::clipboard()->setText(QStringLiteral("0441123"));
        QProcess second;
        second.setProcessEnvironment(env);
        second.start(QStringLiteral(CORVANE_PROGRAM), {QStringLiteral("/d")});
        QTRY_VERIFY_WITH_TIMEOUT(QFile(entered).size() > 0, 20000);

        const auto alerts = [&corvane] {
            int n = 0;
            for (const QString &message : corvane.linePut())
                n += message.mid(12, 5) == QLatin1String("01 80");
            return n;
        };
        const int alertsBefore = alerts();
        QElapsedTimer clock;
        clock.start();
        QVERIFY(corvane.line(QStringLiteral("ring --from 301234 --type 0x21 --to 85606 "
                                            "--end-after 5")));
        QTRY_VERIFY_WITH_TIMEOUT(alerts() > alertsBefore, 5000);
        const qint64 alerted = clock.elapsed();
        QVERIFY2(alerted < 500, qPrintable(QString::number(alerted)));

        clock.restart();
        QVERIFY(corvane.stop());
        const qint64 ended = clock.elapsed();
        qInfo("while a plug-in sleeps: ring to ALERT_REQ %lld ms, SIGTERM to the end %lld ms",
              alerted, ended);
        QVERIFY2(ended < 1000, qPrintable(QString::number(ended)));
        QVERIFY(corvane.readFile(QStringLiteral("corvane.ini")).contains("UseTAPI=1"));
        QVERIFY(corvane.readFile(QStringLiteral("Calls")).contains(QStringLiteral(";0301234;")));
        QFile log(entered);
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll(), QByteArray("0441123\n"));
    }

    void figures()
    {
        if (!qEnvironmentVariableIsSet("E2E_FIGURES")) QSKIP("set E2E_FIGURES=1 to measure");
        const int calls = qEnvironmentVariableIntValue("E2E_FIGURES_CALLS") > 0
                              ? qEnvironmentVariableIntValue("E2E_FIGURES_CALLS")
                              : 15;
        const auto measure = [&](const QString &url, int firstNumber) {
            Corvane corvane;
            if (!startOnLine(corvane, url)) return QList<qint64>();
            popupTimes(corvane, 2, firstNumber); // warm-up
            return popupTimes(corvane, calls, firstNumber + 1000);
        };
        const QList<qint64> without = measure(QString(), 10000);
        LookupServer slowServer;
        slowServer.answerAll("Slow %n\nSomewhere", 5000);
        const QList<qint64> slow = measure(slowServer.baseUrl(), 20000);
        QList<qint64> filled;
        {
            LookupServer server;
            server.answerAll("Filled %n\nSomewhere", 1000);
            Corvane corvane;
            QVERIFY(startOnLine(corvane, server.baseUrl()));
            for (int i = 0; i < calls; ++i) {
                const QString number = QStringLiteral("0%1").arg(3031000 + i);
                QVERIFY(corvane.line(QStringLiteral("ring --from %1 --type 0x21 --to 85606 "
                                                    "--end-after 2")
                                         .arg(number.mid(1))));
                const auto answeredAt = [&]() -> qint64 {
                    for (const auto &[n, at] : server.answered())
                        if (QString::fromStdString(n) == number) return at;
                    return -1;
                };
                QVERIFY(waitFor([&] { return server.busy() == 1 || answeredAt() >= 0; }));
                // Polled from before the answer goes out until the popup shows it.
                const qint64 seen = titleSeenAt(
                    server.clockTimer(), QStringLiteral("^Corvane - Filled %1$").arg(number));
                QVERIFY(seen >= 0);
                QVERIFY(answeredAt() >= 0);
                filled << seen - answeredAt();
                QThread::msleep(2500);
            }
        }
        QVERIFY(!without.isEmpty() && !slow.isEmpty());
        qInfo().noquote() << "CONNECT_IND to popup without lookup:          " << summary(without);
        qInfo().noquote() << "CONNECT_IND to popup, server answers after 5 s:" << summary(slow);
        qInfo().noquote() << "server answer to filled popup:                " << summary(filled);
    }
};

QTEST_MAIN(TestE2eLookup)
#include "tst_e2e_lookup.moc"
