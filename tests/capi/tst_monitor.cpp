// The call monitor on a simulated line, through the real run-time loading of the
// driver library: either the simulator in process, or the real libcapi20 talking to
// the simulator over TCP (built twice, see CMakeLists).
#include "capi/CpConst.h"
#include "capi/CpMoni.h"
#include "tests/capi/SimLine.h"

#include <QtTest>
#include <ctime>

namespace {

QString hexWord(uint16_t value)
{
    return QStringLiteral("%1 %2")
        .arg(value & 0xFF, 2, 16, QLatin1Char('0'))
        .arg(value >> 8, 2, 16, QLatin1Char('0'));
}

QString hexDword(uint32_t value)
{
    return hexWord(uint16_t(value & 0xFFFF)) + QLatin1Char(' ') + hexWord(uint16_t(value >> 16));
}

double cpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

} // namespace

class TestMonitor : public QObject
{
    Q_OBJECT

    SimLine FLine;
    std::unique_ptr<TCapiMonitor> FMonitor;
    QStringList FEvents;
    std::function<void(uint16_t &)> FDecide;
    QElapsedTimer FClock;
    qint64 FQuestionAt = -1;
    QList<uint32_t> FQuestionPlcis;
    QList<uint32_t> FDisconnectPlcis;

    QString appl() const { return hexWord(uint16_t(FMonitor->Engine()->ApplID)); }

    // Messages as the program must put them, with its ApplID and no message number.
    QString alertReq(uint32_t plci) const
    {
        return QStringLiteral("0d 00 %1 01 80 00 00 %2 00").arg(appl(), hexDword(plci));
    }
    QString connectResp(uint32_t plci, uint16_t reject) const
    {
        if (reject == 0)
            return QStringLiteral("1c 00 %1 02 83 00 00 %2 00 00 "
                                  "09 01 00 01 00 00 00 00 00 00 00 00 00 00")
                .arg(appl(), hexDword(plci));
        return QStringLiteral("13 00 %1 02 83 00 00 %2 %3 00 00 00 00 00")
            .arg(appl(), hexDword(plci), hexWord(reject));
    }
    QString disconnectResp(uint32_t plci) const
    {
        return QStringLiteral("0c 00 %1 04 83 00 00 %2").arg(appl(), hexDword(plci));
    }

    void startMonitor(int rejectTimeOut, int countdownMs = 100)
    {
        createMonitor(countdownMs);
        FEvents.clear();
        QVERIFY(FMonitor->Start(1, rejectTimeOut));
        // LISTEN_CONF: the line is ready.
        QTRY_COMPARE(FEvents.count("state 0 1"), 2);
        FEvents.clear();
        FLine.mark();
    }

    void createMonitor(int countdownMs = 100)
    {
        FMonitor = std::make_unique<TCapiMonitor>();
        FMonitor->CountdownIntervalMs = countdownMs;
        FMonitor->ReconnectFirstPauseMs = 100;
        FMonitor->OnRejectCallQuestion = [this](const QString &calling, const QString &called,
                                                uint16_t cip, uint16_t &cause, uint32_t plci) {
            FQuestionAt = FClock.elapsed();
            FQuestionPlcis << plci;
            FEvents << QStringLiteral("question %1 %2 %3").arg(calling, called).arg(cip);
            QCOMPARE(cause, uint16_t(0xFFFF));
            if (FDecide) FDecide(cause);
        };
        FMonitor->OnIncomingCall = [this](const QString &calling, const QString &, uint16_t,
                                          const QString &cipText) {
            FEvents << QStringLiteral("incoming %1 %2").arg(calling, cipText);
        };
        FMonitor->OnStateChange = [this](bool canReject, bool canChange) {
            FEvents << QStringLiteral("state %1 %2").arg(int(canReject)).arg(int(canChange));
        };
        FMonitor->OnDisconnectInfo = [this](uint16_t cause, uint16_t reason, uint32_t plci) {
            FDisconnectPlcis << plci;
            FEvents << QStringLiteral("disconnect %1 %2").arg(cause).arg(reason, 0, 16);
        };
    }

    uint32_t ring(const QString &options)
    {
        QString reply;
        if (!FLine.command(QStringLiteral("ring ") + options, &reply)) return 0;
        return reply.section(QLatin1Char(' '), 0, 0).toUInt(nullptr, 16);
    }

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(FLine.setUp(SimLine::Mode(LINE_MODE), &error), qPrintable(error));
        FClock.start();
    }

    void cleanupTestCase() { FLine.tearDown(); }

    void init()
    {
        FEvents.clear();
        FDecide = nullptr;
        FQuestionAt = -1;
        FQuestionPlcis.clear();
        FDisconnectPlcis.clear();
    }

    void cleanup() { FMonitor.reset(); }

    void listensOnController1()
    {
        FLine.mark();
        createMonitor();
        QVERIFY(FMonitor->Start(1, 3));
        QTRY_COMPARE(FEvents, QStringList({"state 0 1", "state 0 1"}));
        QCOMPARE(FLine.put(),
                 QStringList({QStringLiteral("1d 00 %1 05 80 00 00 01 00 00 00 7f 00 00 "
                                             "00 fe 03 ff 1f 00 00 00 00 02 00 80 01 80")
                                  .arg(appl())}));
        QCOMPARE(FLine.got().size(), 1);
        QVERIFY(FLine.got().first().startsWith(QStringLiteral("0e 00 %1 05 81").arg(appl())));
        QCOMPARE(FMonitor->Error(), 0u);
        QCOMPARE(FMonitor->ErrorString(), QStringLiteral("OK"));
        QCOMPARE(FMonitor->Controller(), 1u);
        QCOMPARE(FMonitor->RejectTimeOut(), 3);

        // Releasing stops listening first: LISTEN_REQ for CIP 1 only.
        FLine.mark();
        const QString applText = appl();
        FMonitor.reset();
        QCOMPARE(FLine.put(),
                 QStringList({QStringLiteral("1a 00 %1 05 80 00 00 01 00 00 00 7f 00 00 "
                                             "00 02 00 00 00 00 00 00 00 00 00")
                                  .arg(applText)}));
    }

    void countdownIgnoresTheCallAfterTheThirdTick()
    {
        startMonitor(3);
        const uint32_t plci = ring("--from 301234 --type 0x21 --to 85606 --end-after 1.5 "
                                   "--reason 0x3490");
        QVERIFY(plci);
        QVERIFY(FLine.waitForPut(connectResp(plci, 1)));
        const qint64 answeredAfter = FClock.elapsed() - FQuestionAt;
        QVERIFY2(answeredAfter >= 280, qPrintable(QString::number(answeredAfter)));
        QTRY_VERIFY(FEvents.contains("state 0 1"));
        QCOMPARE(FEvents, QStringList({"question 0301234 85606 16", "state 1 0",
                                       "incoming 0301234 telephony", "state 0 0",
                                       "disconnect 1 3490", "state 0 1"}));
        QTRY_COMPARE(FLine.put(),
                     QStringList({alertReq(plci), connectResp(plci, 1), disconnectResp(plci)}));
        QCOMPARE(FMonitor->LastRejectCause(), uint16_t(1));
    }

    void handlerCauseRejectsAtOnce()
    {
        FDecide = [](uint16_t &cause) { cause = 3; };
        startMonitor(10);
        const uint32_t plci = ring("--from 0441123 --type 0x21 --to 85606 --reason 0x34a2");
        QTRY_VERIFY(FEvents.contains("state 0 1"));
        QCOMPARE(FEvents,
                 QStringList({"question 00441123 85606 16", "state 0 0", "state 0 0",
                              "incoming 00441123 telephony", "disconnect 3 34a2", "state 0 1"}));
        QTRY_COMPARE(FLine.put(), QStringList({connectResp(plci, 3), disconnectResp(plci)}));
    }

    void userRejectTakesAndClearsTheCall_data()
    {
        QTest::addColumn<bool>("byButton");
        QTest::newRow("reject button") << true;
        QTest::newRow("handler cause 0") << false;
    }

    void userRejectTakesAndClearsTheCall()
    {
        QFETCH(bool, byButton);
        if (!byButton) FDecide = [](uint16_t &cause) { cause = 0; };
        startMonitor(10);
        const uint32_t plci = ring("--from 123 --type 0x11 --to 85606 --end-after 5");
        if (byButton) {
            QTRY_VERIFY(FEvents.contains("state 1 0"));
            FMonitor->AnswerCall(0);
        }
        QTRY_VERIFY(FEvents.contains("state 0 1"));
        const uint32_t ncci = plci | 0x10000;
        QStringList expected;
        if (byButton) expected << alertReq(plci);
        expected << connectResp(plci, 0)
                 << QStringLiteral("0c 00 %1 03 83 00 00 %2").arg(appl(), hexDword(plci))
                 << QStringLiteral("0f 00 %1 82 83 00 00 %2 02 00 00").arg(appl(), hexDword(ncci))
                 << QStringLiteral("0d 00 %1 04 80 00 00 %2 00").arg(appl(), hexDword(plci))
                 << disconnectResp(plci);
        QTRY_COMPARE(FLine.put(), expected);
        QVERIFY(FEvents.contains(QStringLiteral("question ++123 85606 16")));
        QVERIFY(FEvents.last(2).first().startsWith(QStringLiteral("disconnect 0 ")));
    }

    void noDisturbModeTakesAndClearsAtOnce()
    {
        startMonitor(10);
        FMonitor->NoDisturbMode = true;
        const uint32_t plci = ring("--from 0301234 --type 0x21 --to 85606");
        QTRY_VERIFY(FEvents.contains("state 0 1"));
        QCOMPARE(FEvents.mid(0, 3),
                 QStringList({"question 00301234 85606 16", "state 0 0", "state 0 0"}));
        QVERIFY(FLine.put().startsWith(connectResp(plci, 0)));
        QVERIFY(!FLine.put().contains(alertReq(plci)));
    }

    void callerHangsUpDuringCountdown()
    {
        startMonitor(4, 50);
        const uint32_t plci = ring("--from 301234 --type 0x21 --to 85606 --end-after 0.05 "
                                   "--reason 0x3490");
        QTRY_VERIFY(FEvents.contains("disconnect 65535 3490"));
        QTest::qWait(300); // the countdown of 200 ms must have been stopped
        QCOMPARE(FLine.put(), QStringList({alertReq(plci), disconnectResp(plci)}));
        QCOMPARE(FEvents.last(), QStringLiteral("state 0 1"));
    }

    void overlappingCallsCountDownEachOnTheirOwn()
    {
        startMonitor(3);
        // A ends busy during its countdown; B rings on and is ignored after its own.
        const uint32_t a = ring("--from 111 --type 0x21 --to 85606 --end-after 0.15 "
                                "--reason 0x34a2");
        QTRY_COMPARE(FQuestionPlcis.size(), 1);
        const uint32_t b = ring("--from 222 --type 0x21 --to 85606 --end-after 3 "
                                "--reason 0x3490");
        QTRY_COMPARE(FQuestionPlcis.size(), 2);
        const qint64 bAskedAt = FQuestionAt;
        QCOMPARE(FQuestionPlcis, QList<uint32_t>({a, b}));
        QTRY_VERIFY(FEvents.contains("disconnect 65535 34a2"));
        QCOMPARE(FDisconnectPlcis, QList<uint32_t>({a}));
        QVERIFY(FMonitor->CanReject(b));
        QVERIFY(!FMonitor->CanReject(a));

        QVERIFY(FLine.waitForPut(connectResp(b, 1)));
        const qint64 answeredAfter = FClock.elapsed() - bAskedAt;
        QVERIFY2(answeredAfter >= 280, qPrintable(QString::number(answeredAfter)));
        QVERIFY(!FMonitor->CanReject(b));
        QTRY_VERIFY_WITH_TIMEOUT(FEvents.contains("disconnect 1 3490"), 10000);
        QCOMPARE(FDisconnectPlcis, QList<uint32_t>({a, b}));
        QVERIFY(!FLine.put().contains(connectResp(a, 1)));
    }

    void aCallIsAnsweredByItsOwnPlciAndOnlyOnce()
    {
        startMonitor(20);
        const uint32_t a = ring("--from 111 --type 0x21 --to 85606 --end-after 5");
        QTRY_COMPARE(FQuestionPlcis.size(), 1);
        const uint32_t b = ring("--from 222 --type 0x21 --to 85606 --end-after 0.3");
        QTRY_COMPARE(FQuestionPlcis.size(), 2);

        // The newer call is rejected; the older one rings on.
        QVERIFY(FMonitor->AnswerCall(0, b));
        QVERIFY(FLine.waitForPut(connectResp(b, 0)));
        QVERIFY(!FMonitor->AnswerCall(2, b)); // one answer per call
        QVERIFY(FMonitor->CanReject(a));
        QTRY_VERIFY(FDisconnectPlcis.contains(b));
        QCOMPARE(FEvents.filter(QStringLiteral("disconnect 0 ")).size(), 1); // B's own answer

        // Without a PLCI the oldest call still waiting is answered, once.
        FMonitor->AnswerCall(3);
        QVERIFY(FLine.waitForPut(connectResp(a, 3)));
        FLine.mark();
        FMonitor->AnswerCall(4);
        QTest::qWait(100);
        QVERIFY(!FLine.put().contains(connectResp(a, 4)));
        QVERIFY(!FMonitor->AnswerCall(0, 0x7777)); // no such call
    }

    void aPlciOfferedAgainEndsTheCallItHeld()
    {
        // The DISCONNECT_IND of a call was lost and the driver offers its PLCI again: the old
        // call ends as on a lost line before the new one is asked about.
        startMonitor(20);
        const uint32_t a = ring("--from 111 --type 0x21 --to 85606 --end-after 20");
        QTRY_COMPARE(FQuestionPlcis.size(), 1);
        QVERIFY(FLine.command(QStringLiteral("send-hex ") + SimLine::connectIndHex(FMonitor->Engine()->ApplID, a, "222")));
        QTRY_COMPARE(FQuestionPlcis.size(), 2);
        QCOMPARE(FDisconnectPlcis, QList<uint32_t>({a}));
        const int ended = FEvents.indexOf(QStringLiteral("disconnect 65535 9004"));
        QVERIFY2(ended >= 0 && ended < FEvents.indexOf(QStringLiteral("question 0222 85606 16")),
                 qPrintable(FEvents.join(", ")));
        QVERIFY(FMonitor->CanReject(a)); // the new call counts down
    }

    void callsRingingWhenTheLineIsLostEnd()
    {
        startMonitor(30);
        const uint32_t a = ring("--from 111 --type 0x21 --to 85606 --end-after 20");
        const uint32_t b = ring("--from 222 --type 0x21 --to 85606 --end-after 20");
        QTRY_COMPARE(FQuestionPlcis.size(), 2);
        QVERIFY(FLine.loseLine());
        QTRY_COMPARE(FDisconnectPlcis.size(), 2);
        QCOMPARE(QSet<uint32_t>(FDisconnectPlcis.begin(), FDisconnectPlcis.end()),
                 QSet<uint32_t>({a, b}));
        QCOMPARE(FEvents.count("disconnect 65535 9004"), 2);
        QVERIFY(!FMonitor->CanReject(a) && !FMonitor->CanReject(b));
        QVERIFY(FLine.restoreLine());
        QTRY_COMPARE_WITH_TIMEOUT(FMonitor->Error(), 0u, 10000);
    }

    void listenConfWithError()
    {
        // The in-process simulator serves its control socket while the line is in use.
        startMonitor(10);
        QVERIFY(FLine.command(QStringLiteral("fault listen-info 0x2002")));
        TCapiMonitor second;
        QStringList events;
        second.OnStateChange = [&events](bool a, bool b) {
            events << QStringLiteral("state %1 %2").arg(int(a)).arg(int(b));
        };
        QVERIFY(second.Start(1, 10));
        QTRY_COMPARE(events.size(), 2);
        QCOMPARE(events, QStringList({"state 0 1", "state 0 1"}));
        QCOMPARE(second.Error(), 0x2002u);
        QCOMPARE(second.ErrorString(), QStringLiteral("Illegal PLCI ($2002)"));
        QVERIFY(FLine.command(QStringLiteral("fault none")));
    }

    void lostLineIsReportedAndListenedAgain()
    {
        startMonitor(3);
        QVERIFY(FLine.loseLine());
        QTRY_COMPARE(FMonitor->Error(), capi::ErrorLineLost);
        QCOMPARE(FMonitor->ErrorString(),
                 QStringLiteral("Connection to the CAPI controller lost."));
        QVERIFY(FEvents.contains("state 0 0"));

        // Nothing spins while the controller is away.
        const double cpuBefore = cpuSeconds();
        QTest::qWait(1000);
        const double cpuUsed = cpuSeconds() - cpuBefore;
        QVERIFY2(cpuUsed < 0.25, qPrintable(QStringLiteral("%1 s of CPU").arg(cpuUsed)));
        QVERIFY(FMonitor->Reconnecting());
        QCOMPARE(FMonitor->Error(), capi::ErrorLineLost);

        FLine.mark();
        FEvents.clear();
        QVERIFY(FLine.restoreLine());
        QVERIFY(FLine.waitForPut(QStringLiteral("1d 00"), 10000));
        QTRY_COMPARE_WITH_TIMEOUT(FMonitor->Error(), 0u, 10000);
        QTRY_VERIFY(FEvents.contains("state 0 1"));
        QVERIFY(!FMonitor->Reconnecting());

        FEvents.clear();
        QVERIFY(ring("--from 0441123 --type 0x21 --to 85606 --end-after 0.1"));
        QTRY_VERIFY(FEvents.contains("question 00441123 85606 16"));
    }

    void releaseWhileCallsArrive()
    {
        // Stopping the engine while its signal thread hands over messages must neither
        // deadlock nor touch a released message.
        for (int round = 0; round < 10; ++round) {
            startMonitor(3);
            QVERIFY(FLine.command(QStringLiteral("burst --count 5 --from 100 --type 0x21 --to 1 "
                                                 "--end-after 0.05")));
            QTest::qWait(round * 3);
            FMonitor.reset();
        }
    }
};

QTEST_GUILESS_MAIN(TestMonitor)
#include "tst_monitor.moc"
