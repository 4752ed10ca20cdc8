// The router monitor as a line source, against a router played by a TCP server in the test:
// the course of calls, ids the router uses again, a connection that is refused, closed or
// reset and comes back, the keep-alive options and an idle wait.
#include "router/RouterMonitorSource.h"

#include <QElapsedTimer>
#include <QHostInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <time.h>

using router::TRouterMonitorSource;

namespace {

// What the source told the call handling, one word per event.
struct Recorder
{
    QStringList events;
    QList<line::TCallId> offered;
    int lineStates = 0;

    void attach(TRouterMonitorSource &source)
    {
        source.OnCallOffered = [this](const line::TOfferedCall &call, bool &reject) {
            offered << call.Id;
            events << QStringLiteral("offer %1 %2 %3")
                          .arg(offered.size())
                          .arg(call.CallingPartyNumber.isEmpty() ? QStringLiteral("-")
                                                                 : call.CallingPartyNumber,
                               call.CalledPartyNumber);
            reject = true; // must change nothing: the router cannot reject
        };
        source.OnCallAnswered = [this](line::TCallId id) {
            events << QStringLiteral("answered %1").arg(offered.indexOf(id) + 1);
        };
        source.OnCallEnded = [this](line::TCallId id, uint16_t reason) {
            events << QStringLiteral("ended %1 %2").arg(offered.indexOf(id) + 1).arg(reason, 0, 16);
        };
        source.OnLineState = [this] { ++lineStates; };
    }
};

qint64 processCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

} // namespace

class TestRouterMonitorSource : public QObject
{
    Q_OBJECT

private:
    QTcpServer FRouter;
    QPointer<QTcpSocket> FPeer;
    quint16 FPort = 0;

    // The router accepts the source's connection.
    bool acceptSource(TRouterMonitorSource &source)
    {
        // The event loop turns meanwhile: the source resolves and connects in it.
        if (!QTest::qWaitFor([this] { return FRouter.hasPendingConnections(); }, 5000))
            return false;
        FPeer = FRouter.nextPendingConnection();
        return FPeer && QTest::qWaitFor([&] { return source.Connected(); }, 5000);
    }
    void say(const QByteArray &lines)
    {
        FPeer->write(lines);
        FPeer->flush();
    }

private slots:
    void init()
    {
        QVERIFY(FRouter.listen(QHostAddress::LocalHost));
        FPort = FRouter.serverPort();
    }
    void cleanup()
    {
        delete FPeer;
        FRouter.close();
    }

    void theCourseOfCalls_data()
    {
        QTest::addColumn<QByteArray>("said");
        QTest::addColumn<QStringList>("told");
        QTest::newRow("missed")
            << QByteArray("08.12.26 14:03:11;RING;0;0441123456;85606;SIP0;\r\n"
                          "08.12.26 14:03:20;DISCONNECT;0;0;\r\n")
            << QStringList{"offer 1 0441123456 85606", "ended 1 3490"};
        QTest::newRow("answered at an extension")
            << QByteArray("08.12.26 14:03:11;RING;0;0441123456;85606;SIP0;\r\n"
                          "08.12.26 14:03:15;CONNECT;0;12;0441123456;\r\n"
                          "08.12.26 14:05:20;DISCONNECT;0;125;\r\n")
            << QStringList{"offer 1 0441123456 85606", "answered 1", "ended 1 3400"};
        QTest::newRow("taken by the answering machine is missed")
            << QByteArray("08.12.26 14:03:11;RING;0;;85606;SIP0;\n"
                          "08.12.26 14:03:31;CONNECT;0;40;;\n"
                          "08.12.26 14:04:02;DISCONNECT;0;31;\n")
            << QStringList{"offer 1 - 85606", "ended 1 3490"};
        QTest::newRow("outgoing calls are no calls of the line")
            << QByteArray("08.12.26 14:10:02;CALL;1;12;85606;0302222;SIP0;\r\n"
                          "08.12.26 14:10:09;CONNECT;1;12;0302222;\r\n"
                          "08.12.26 14:12:09;DISCONNECT;1;120;\r\n")
            << QStringList{};
        QTest::newRow("overlapping calls, and an id used again")
            << QByteArray("08.12.26 14:00:00;RING;0;0441111;85606;SIP0;\r\n"
                          "08.12.26 14:00:01;RING;1;0302222;85606;SIP1;\r\n"
                          "08.12.26 14:00:02;CONNECT;1;12;0302222;\r\n"
                          "08.12.26 14:00:03;DISCONNECT;0;0;\r\n"
                          "08.12.26 14:00:04;RING;0;004412345;85606;SIP0;\r\n"
                          "08.12.26 14:00:05;DISCONNECT;1;3;\r\n"
                          "08.12.26 14:00:06;DISCONNECT;0;0;\r\n")
            << QStringList{"offer 1 0441111 85606", "offer 2 0302222 85606", "answered 2",
                           "ended 1 3490", "offer 3 ++4412345 85606", "ended 2 3400",
                           "ended 3 3490"};
        QTest::newRow("a ring on a live id ends the call whose end was lost")
            << QByteArray("08.12.26 14:00:00;RING;3;0441111;85606;SIP0;\r\n"
                          "08.12.26 14:00:09;RING;3;0302222#;85606;SIP0;\r\n"
                          "08.12.26 14:00:10;CALL;3;12;85606;0302222;SIP0;\r\n")
            << QStringList{"offer 1 0441111 85606", "ended 1 9004", "offer 2 0302222 85606",
                           "ended 2 9004"};
        QTest::newRow("the unknown and the malformed are passed over")
            << QByteArray("08.12.26 14:00:00;DISCONNECT;7;0;\r\n"
                          "08.12.26 14:00:00;CONNECT;7;12;;\r\n"
                          "\x01\x02garbage;RING\r\n"
                          "08.12.26 14:00:01;HOLD;0;\r\n"
                          "08.12.26 14:00:02;RING;0;<b>0441</b>;85606;SIP0;\r\n"
                          "08.12.26 14:00:03;DISCONNECT;0;0;\r\n")
            << QStringList{"offer 1 - 85606", "ended 1 3490"};
    }
    void theCourseOfCalls()
    {
        QFETCH(QByteArray, said);
        QFETCH(QStringList, told);
        TRouterMonitorSource source(QStringLiteral("127.0.0.1"), FPort);
        Recorder recorder;
        recorder.attach(source);
        QVERIFY(!source.CanRejectCalls());
        QVERIFY(source.Start());
        QVERIFY(acceptSource(source));
        QStringList log;
        source.OnLog = [&log](const QString &text) { log << text; };
        // Then a last call: once it is told, everything before it was handled.
        say(said + "08.12.26 15:00:00;RING;9;0999;85606;SIP0;\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(recorder.events.size(), told.size() + 1, 5000);
        recorder.events.removeLast();
        QCOMPARE(recorder.events, told);
        QCOMPARE(QSet<line::TCallId>(recorder.offered.begin(), recorder.offered.end()).size(),
                 recorder.offered.size());
        QVERIFY(!source.CanReject(recorder.offered.last()));
        QVERIFY(!source.RejectCall(recorder.offered.last()));
        if (QTest::currentDataTag() == QLatin1String("the unknown and the malformed are passed over"))
            QVERIFY2(log.size() >= 4, qPrintable(log.join('\n')));
    }

    void aConnectionThatGoesAndComesBack()
    {
        TRouterMonitorSource source(QStringLiteral("127.0.0.1"), FPort);
        source.SetRetryDelays(100, 800);
        Recorder recorder;
        recorder.attach(source);
        QVERIFY(source.Start());
        QVERIFY(acceptSource(source));
        QVERIFY(source.LineError().isEmpty());
        say("08.12.26 14:00:00;RING;0;0441111;85606;SIP0;\r\n");
        QTRY_COMPARE(recorder.events.size(), 1);

        // Closed by the router: the ringing call ends as on a lost line, the line is down.
        FPeer->close();
        QTRY_VERIFY(!source.LineError().isEmpty());
        QCOMPARE(recorder.events.last(), QStringLiteral("ended 1 9004"));
        QVERIFY(source.LineError().contains(QStringLiteral("closed")));

        // It comes back by itself.
        QVERIFY(acceptSource(source));
        QVERIFY(source.LineError().isEmpty());

        // Reset by the router (a restart): down again; refused while it restarts.
        const int delayBefore = source.RetryDelayMs();
        FPeer->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        const linger reset{1, 0};
        QCOMPARE(::setsockopt(int(FPeer->socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset,
                              sizeof reset),
                 0);
        FRouter.close();
        FPeer->abort();
        QTRY_VERIFY(!source.LineError().isEmpty());
        // Refused: the pauses grow.
        QTRY_VERIFY_WITH_TIMEOUT(source.RetryDelayMs() >= 4 * delayBefore, 8000);
        QVERIFY(source.LineError().contains(QStringLiteral("refused")));
        QVERIFY(FRouter.listen(QHostAddress::LocalHost, FPort));
        QVERIFY(acceptSource(source));
        QVERIFY(source.LineError().isEmpty());
        say("08.12.26 14:00:00;RING;0;0302222;85606;SIP0;\r\n");
        QTRY_COMPARE(recorder.events.last(), QStringLiteral("offer 2 0302222 85606"));
    }

    void aHostName()
    {
        // A fresh system may have no /etc/hosts: then "localhost" is no name of this machine.
        const QList<QHostAddress> addresses = QHostInfo::fromName(QStringLiteral("localhost")).addresses();
        if (!addresses.contains(QHostAddress(QHostAddress::LocalHost)))
            QSKIP("\"localhost\" does not resolve to 127.0.0.1 here");
        TRouterMonitorSource source(QStringLiteral("localhost"), FPort);
        QVERIFY(source.Start());
        QVERIFY(acceptSource(source));
        QCOMPARE(source.Address(), QStringLiteral("localhost:%1").arg(FPort));
    }

    void keepAliveNoticesADeadRouterWithinTwoMinutes()
    {
        TRouterMonitorSource source(QStringLiteral("127.0.0.1"), FPort);
        QVERIFY(source.Start());
        QVERIFY(acceptSource(source));
        const int fd = int(source.SocketDescriptor());
        QVERIFY(fd >= 0);
        int on = 0, idle = 0, interval = 0, count = 0;
        socklen_t size = sizeof(int);
        QCOMPARE(::getsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, &size), 0);
        QCOMPARE(::getsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, &size), 0);
        QCOMPARE(::getsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, &size), 0);
        QCOMPARE(::getsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, &size), 0);
        QVERIFY(on);
        QCOMPARE(idle, 60);
        QVERIFY(interval > 0 && count > 0);
        QVERIFY2(idle + interval * count <= 130, qPrintable(QString::number(idle + interval * count)));
    }

    void aRouterAwayCostsNoCpu()
    {
        FRouter.close(); // refused from the start
        TRouterMonitorSource source(QStringLiteral("127.0.0.1"), FPort);
        Recorder recorder;
        recorder.attach(source);
        QVERIFY(source.Start());
        QTRY_VERIFY(!source.LineError().isEmpty());
        const qint64 cpuBefore = processCpuMs();
        QElapsedTimer wall;
        wall.start();
        QTest::qWait(3000);
        const qint64 cpu = processCpuMs() - cpuBefore;
        QVERIFY2(cpu < 150, qPrintable(QStringLiteral("%1 ms CPU in %2 ms").arg(cpu).arg(wall.elapsed())));
        // One notice that the line is down, not one per try.
        QCOMPARE(recorder.lineStates, 1);
    }

    void anAddressThatCannotBeUsed()
    {
        TRouterMonitorSource source(QStringLiteral("The address \"x;y\" cannot be used"));
        QVERIFY(!source.Start());
        QCOMPARE(source.LineError(), QStringLiteral("The address \"x;y\" cannot be used"));
    }

    void stoppedItSaysNothingMore()
    {
        TRouterMonitorSource source(QStringLiteral("127.0.0.1"), FPort);
        Recorder recorder;
        recorder.attach(source);
        QVERIFY(source.Start());
        QVERIFY(acceptSource(source));
        say("08.12.26 14:00:00;RING;0;0441111;85606;SIP0;\r\n");
        QTRY_COMPARE(recorder.events.size(), 1);
        source.Stop();
        say("08.12.26 14:00:05;DISCONNECT;0;0;\r\n");
        FPeer->close();
        QTest::qWait(200);
        QCOMPARE(recorder.events.size(), 1);
        QVERIFY(!FRouter.hasPendingConnections());
    }
};

QTEST_GUILESS_MAIN(TestRouterMonitorSource)
#include "tst_routermonitorsource.moc"
