// Dialling back in the real program on Xvfb, on the modem simulator: a number in the
// clipboard and "/d" from a second start, Shift and a click on the popup's caller (through
// the number plug-in and the outside-line prefix), the dial window in both languages and
// its hang-up button. The steps of a dial and the contacts' import are traces: in the log
// with "Debug" on, never on standard error. Reports the time from the second start
// to the dial command on the port.
#include "tests/e2e/Desktop.h"
#include "tests/tapi/ModemSimProcess.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QtTest>

using namespace e2e;

class TestE2eDial : public QObject
{
    Q_OBJECT

    std::unique_ptr<TrayHost> FTray;
    QString FShots;

    static QByteArray ini(int language, const QString &port)
    {
        return QStringLiteral("[Settings]\nShowNag=0\nIntervall=0\nRejectTime=1\nLanguage=%1\n"
                              "UseTAPI=1\nModemPorts=%2\nTAPIDevice=Modem on %2\n")
            .arg(language)
            .arg(port)
            .toUtf8();
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

    void dialTheClipboard_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("debug");
        QTest::newRow("English") << 1 << "^Calling$"
                                 << "english" << false;
        QTest::newRow("German, Debug") << 0 << "^Anruf$"
                                       << "german" << true;
    }

    void dialTheClipboard()
    {
        QFETCH(int, language);
        QFETCH(QString, title);
        QFETCH(QString, name);
        QFETCH(bool, debug);
        ModemSimProcess modem;
        QVERIFY(modem.start({QStringLiteral("ATD*; OK")}));
        Corvane corvane;
        QFile card(corvane.file(QStringLiteral("contacts.vcf")));
        QVERIFY(card.open(QIODevice::WriteOnly));
        card.write("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Anna Example\r\n"
                   "TEL;TYPE=HOME:0441 123456\r\nEND:VCARD\r\n");
        card.close();
        corvane.writeIni(ini(language, modem.path()) + "SearchOutlook=1\nContactsVCard=" +
                         card.fileName().toUtf8() + (debug ? "\nDebug=1\n" : "\n"));
        corvane.captureErrors();
        QVERIFY(corvane.start());
        QVERIFY(corvane.line(QStringLiteral("wait-listening --timeout 20")));

        // This test owns the clipboard and must keep answering it: never block from here on.
        QGuiApplication::clipboard()->setText(QStringLiteral("+49441123\n"));
        QProcess second;
        second.setProcessEnvironment(corvane.environment());
        const qint64 started = ModemSimProcess::monotonicMicros();
        second.start(QStringLiteral(CORVANE_PROGRAM), {QStringLiteral("/d")});
        QTRY_VERIFY_WITH_TIMEOUT(modem.receivedAt(QStringLiteral("ATD0049441123;")) > 0, 20000);
        const qint64 dialled = modem.receivedAt(QStringLiteral("ATD0049441123;"));
        qInfo("from the second start with /d to ATD on the port: %.1f ms",
              (dialled - started) / 1000.0);
        QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 15000);
        QCOMPARE(second.exitCode(), 0);

        const QString window = waitForWindow(title);
        QVERIFY2(!window.isEmpty(), "the dial window is on the screen");
        const QRect rect = windowGeometry(window);
        QCOMPARE(rect.size(), QSize(200, 116));
        QTest::qWait(500); // the ringback state is painted
        screenshot(FShots + QStringLiteral("/dial-%1.png").arg(name));

        // "Hang up", clicked with the mouse, puts the modem on hook and hides the window.
        click(QPoint(rect.center().x(), rect.top() + rect.height() - 24));
        QTRY_COMPARE_WITH_TIMEOUT(modem.received(), QStringList({"ATD0049441123;", "ATH"}), 10000);
        QTRY_VERIFY(findWindow(title).isEmpty());
        QVERIFY(corvane.stop());

        const QString errors = corvane.errorOutput();
        QVERIFY2(errors.isEmpty(), qPrintable(errors));
        const QString log = corvane.readFile(QStringLiteral("corvane.log"));
        QCOMPARE(log.contains(QStringLiteral(": Dial: make call\n")), debug);
        QCOMPARE(log.contains(QStringLiteral(": Contacts imported: 1\n")), debug);
    }

    void shiftClickOnThePopupDialsTheCaller()
    {
        ModemSimProcess modem;
        QVERIFY(modem.start({QStringLiteral("ATD*; OK | +300 BUSY")}));
        Corvane corvane;
        // The number plug-in puts a 9 in front, then the outside-line prefix comes first.
        corvane.writeIni(ini(1, modem.path()) +
                         "DoPrependNum=1\nPrependNum=0\nExternalNumberManipulationDLL=" +
                         QByteArray(NUMBER_PLUGIN) + "\n");
        QVERIFY(corvane.start());
        QVERIFY(corvane.line(QStringLiteral("wait-listening --timeout 20")));
        QVERIFY(corvane.line(QStringLiteral("ring --from 441123 --type 0x21 --to 85606 "
                                            "--end-after 1")));
        const QString popup = waitForWindow(QStringLiteral("^Corvane - 0441123$"));
        QVERIFY2(!popup.isEmpty(), "the popup shows the caller");
        const QRect rect = windowGeometry(popup);
        run(QStringLiteral("xdotool"),
            {QStringLiteral("mousemove"), QString::number(rect.center().x()),
             QString::number(rect.center().y()), QStringLiteral("keydown"), QStringLiteral("shift"),
             QStringLiteral("click"), QStringLiteral("1"), QStringLiteral("keyup"),
             QStringLiteral("shift")});
        QTRY_COMPARE_WITH_TIMEOUT(modem.received().value(0), QString("ATD090441123;"), 10000);
        // Busy: the window says so, then closes the call by itself.
        QVERIFY(!waitForWindow(QStringLiteral("^Calling$")).isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(modem.received(), QStringList({"ATD090441123;", "ATH"}), 20000);
        QTRY_VERIFY(findWindow(QStringLiteral("^Calling$")).isEmpty());
        QVERIFY(corvane.stop());
    }
};

QTEST_MAIN(TestE2eDial)
#include "tst_e2e_dial.moc"
