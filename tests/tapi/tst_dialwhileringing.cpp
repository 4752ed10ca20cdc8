// A call rings on the simulated line while the dial window waits for a modem that never
// answers: the call is answered at once, and the dial goes out once the port is free.
#include "capi/CpConst.h"
#include "capi/CpMoni.h"
#include "lists/ListPrompts.h"
#include "settings/SettingsStore.h"
#include "tapi/ModemProvider.h"
#include "tapi/tapifrm.h"
#include "tests/capi/SimLine.h"
#include "tests/tapi/ModemSimProcess.h"

#include <QLabel>
#include <QtTest>

class TestDialWhileRinging : public QObject
{
    Q_OBJECT

    SimLine FLine;

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(FLine.setUp(SimLine::InProcess, &error), qPrintable(error));
    }

    void cleanupTestCase() { FLine.tearDown(); }

    void callIsAnsweredWhileTheDialWaitsForAModemProbe()
    {
        // A udev modem that swallows AT: its probe holds the port for three seconds.
        ModemSimProcess modem;
        QVERIFY(modem.start({"AT"}));
        tapi::ModemProvider modems([] { return QString(); });
        modems.FindCandidates = [path = modem.path()] { return QStringList(path); };
        modems.ProbeTimeoutMs = 3000;
        tapi::LineApi lines;
        lines.addProvider(&modems, QStringLiteral("modems"));
        QTemporaryDir dir;
        SettingsStore settings(dir.filePath(QStringLiteral("corvane.ini")));
        ScriptedPrompts prompts;
        TTapiForm form(lines, settings, prompts);
        form.ApplyLanguage(Language::English);

        TCapiMonitor monitor;
        monitor.OnRejectCallQuestion = [](const QString &, const QString &, uint16_t,
                                          uint16_t &cause,
                                          uint32_t) { cause = capi::RejectUndecided; };
        QVERIFY(monitor.Start(1, 30));
        QVERIFY(FLine.command(QStringLiteral("wait-listening --timeout 10")));
        FLine.mark();

        modems.probe();
        QTRY_COMPARE(modem.received(), QStringList({"AT"}));
        QVERIFY(FLine.command(QStringLiteral("ring --from 441123 --type 0x21 --to 85606 "
                                             "--end-after 20")));
        QElapsedTimer clock;
        clock.start();
        const QString device = tapi::ModemProvider::DeviceName(modem.path());
        QString error;
        const bool dialled = form.Dial(device, QStringLiteral("0301234"), &error);
        // ALERT_REQ while the probe still holds the port.
        QVERIFY(FLine.waitForPut(QStringLiteral("0d 00"), 500));
        QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(modem.received(), QStringList({"AT"}));
        QVERIFY2(dialled, qPrintable(error));

        // The dial waited for the probe, not for another program.
        QTRY_COMPARE_WITH_TIMEOUT(modem.received(), QStringList({"AT", "ATD0301234;"}), 10000);
        QVERIFY(prompts.messages.isEmpty());
        QTRY_COMPARE(form.findChild<QLabel *>(QStringLiteral("lblDial"))->text(),
                     QStringLiteral("Ringback"));
        form.Cleanup();
        QTRY_COMPARE(modem.received().value(2), QStringLiteral("ATH"));
    }
};

QTEST_MAIN(TestDialWhileRinging)
#include "tst_dialwhileringing.moc"
