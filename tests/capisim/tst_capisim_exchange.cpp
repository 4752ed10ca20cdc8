// The exchange core on its own: message bytes, call courses, faults and the
// control commands, with a recording application in place of a front end.

#include "tests/capisim/CapiTestSupport.h"
#include "tests/capisim/ExchangeTestSupport.h"
#include "tools/capisim/ControlCommands.h"
#include "tools/capisim/Exchange.h"
#include "tools/capisim/Faults.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

using namespace capitest;
using capisim::Exchange;

class TestCapisimExchange : public QObject
{
    Q_OBJECT

private:
    // Registers appl 1 and has it listen to every call.
    void listen(Exchange &exchange, RecordingClient &client, unsigned appl = 1)
    {
        QVERIFY(exchange.attach(appl, &client));
        QCOMPARE(put(exchange, appl, listenReq(appl, 1, 0x1FFF03FF)), 0u);
        QCOMPARE(commandOf(client.take()), 0x0581);
    }
    quint32 ring(Exchange &exchange, const QString &options)
    {
        const QString reply = command(exchange, "ring " + options);
        if (!reply.startsWith("ok 0x")) qWarning() << reply;
        return reply.mid(3).toUInt(nullptr, 16);
    }

private slots:
    void listenDecidesWhetherTheExchangeListens()
    {
        Exchange exchange;
        RecordingClient client;
        QVERIFY(exchange.attach(1, &client));
        QVERIFY(!exchange.attach(1, &client));
        QCOMPARE(put(exchange, 1, listenReq(1, 7, 0x1FFF03FF)), 0u);
        QCOMPARE(hex(client.take()), QString("0e 00 01 00 05 81 07 00 01 00 00 00 00 00"));
        QVERIFY(exchange.listening());
        // The program stops listening with CIP mask 0x2.
        put(exchange, 1, listenReq(1, 8, 0x2));
        QCOMPARE(u16(client.take(), 12), 0);
        QVERIFY(!exchange.listening());
        // An unknown controller is refused and changes nothing.
        put(exchange, 1, listenReq(1, 9, 0x1FFF03FF, 2));
        QCOMPARE(u16(client.take(), 12), 0x2002);
        QVERIFY(!exchange.listening());
        QCOMPARE(command(exchange, "fault listen-info 0x2002"), "ok faults=listen-info=0x2002");
        put(exchange, 1, listenReq(1, 10, 0x1FFF03FF));
        QCOMPARE(u16(client.take(), 12), 0x2002);
        QVERIFY(!exchange.listening());
        exchange.detach(1);
        QCOMPARE(command(exchange, "status"),
                 "ok appls=- listening=no faults=listen-info=0x2002 calls=-");
    }

    void connectIndMatchesTheWorkedExample()
    {
        Exchange exchange;
        RecordingClient client;
        listen(exchange, client, 2);
        QCOMPARE(ring(exchange, "--from 301234567 --type 0x21 --presentation 0x83 --to 5551234"),
                 0x101u);
        QByteArray ind = client.take();
        QCOMPARE(u16(ind, 6), 1); // indications count their own numbers
        ind[6] = char(0x01);
        ind[7] = char(0x40);
        QCOMPARE(hex(ind), QString("2e 00 02 00 02 82 01 40 01 01 00 00 10 00 08 81 35 35 35 31 "
                                   "32 33 34 0b 21 83 33 30 31 32 33 34 35 36 37 00 00 03 80 90 "
                                   "a3 00 02 91 81 00"));
        // Without numbers both structs keep their type octets; the next call counts on.
        QCOMPARE(ring(exchange, "--from \"\" --cip 1"), 0x201u);
        const QByteArray anonymous = client.take();
        QCOMPARE(u16(anonymous, 6), 2);
        QCOMPARE(u16(anonymous, 12), 1);
        QCOMPARE(hex(anonymous.mid(14, 5)), QString("01 81 02 01 80"));
    }

    void ringNeedsAMatchingListener()
    {
        Exchange exchange;
        RecordingClient client;
        QVERIFY(exchange.attach(1, &client));
        QCOMPARE(command(exchange, "ring --from 1"),
                 "error no application is listening for CIP 16");
        put(exchange, 1, listenReq(1, 1, 0x2 | 0x10000)); // speech and telephony only
        client.take();
        QVERIFY(exchange.listening());
        QCOMPARE(command(exchange, "ring --cip 4"), "error no application is listening for CIP 4");
        QCOMPARE(command(exchange, "ring --cip 16"), "ok 0x101");
        put(exchange, 1, listenReq(1, 2, 0x1)); // bit 0: every service
        client.take();
        client.take();
        QCOMPARE(command(exchange, "ring --cip 4"), "ok 0x201");
        QCOMPARE(client.pending(), 1);
    }

    void acceptedCallRunsUntilHangup()
    {
        Exchange exchange;
        RecordingClient client;
        listen(exchange, client);
        const quint32 plci = ring(exchange, "--from 0441123 --end-after 0.1");
        const QByteArray ind = client.take();
        put(exchange, 1, connectResp(1, u16(ind, 6), plci, 0));
        QCOMPARE(hex(client.take()), QString("0f 00 01 00 03 82 02 00 01 01 00 00 00 00 00"));
        QCOMPARE(hex(client.take()), QString("0d 00 01 00 82 82 03 00 01 01 01 00 00"));
        put(exchange, 1, connectB3Resp(1, 3, plci | 0x10000, 0));
        QCOMPARE(hex(client.take()), QString("0d 00 01 00 83 82 04 00 01 01 01 00 00"));
        // An accepted call no longer ends after --end-after.
        QVERIFY(client.take(300).isEmpty());
        QCOMPARE(command(exchange, "status"),
                 "ok appls=1 listening=yes faults=none calls=0x101:b3-active");
        QCOMPARE(command(exchange, "hangup --reason 0x3490"), "ok 0x101");
        QCOMPARE(hex(client.take()), QString("0f 00 01 00 84 82 05 00 01 01 01 00 00 00 00"));
        QCOMPARE(hex(client.take()), QString("0e 00 01 00 04 82 06 00 01 01 00 00 90 34"));
        QCOMPARE(command(exchange, "hangup"), "error no call to hang up");
        QCOMPARE(command(exchange, "hangup --plci 0x101"),
                 "error call 0x101 is already being cleared");
        put(exchange, 1, disconnectResp(1, 6, plci));
        QCOMPARE(command(exchange, "status"), "ok appls=1 listening=yes faults=none calls=-");
    }

    void programClearsTheCall()
    {
        Exchange exchange;
        RecordingClient client;
        listen(exchange, client);
        const quint32 plci = ring(exchange, "--from 1");
        client.take();
        put(exchange, 1, alertReq(1, 20, plci));
        QCOMPARE(hex(client.take()), QString("0e 00 01 00 01 81 14 00 01 01 00 00 00 00"));
        put(exchange, 1, alertReq(1, 21, plci));
        QCOMPARE(u16(client.take(), 12), 0x0003); // alert already sent
        put(exchange, 1, alertReq(1, 22, 0x301));
        QCOMPARE(u16(client.take(), 12), 0x2002);
        put(exchange, 1, connectResp(1, 1, plci, 0));
        client.take();
        client.take();
        put(exchange, 1, connectB3Resp(1, 3, plci | 0x10000, 0));
        client.take();
        put(exchange, 1, disconnectReq(1, 30, plci));
        QCOMPARE(hex(client.take()), QString("0e 00 01 00 04 81 1e 00 01 01 00 00 00 00"));
        QCOMPARE(commandOf(client.take()), 0x8482);
        const QByteArray ind = client.take();
        QCOMPARE(commandOf(ind), 0x0482);
        QCOMPARE(u16(ind, 12), 0); // cleared by the program itself
        put(exchange, 1, disconnectReq(1, 31, plci));
        QCOMPARE(u16(client.take(), 12), 0x2001);
        put(exchange, 1, disconnectReq(1, 32, 0x10101)); // an NCCI is no PLCI
        QCOMPARE(u16(client.take(), 12), 0x2002);
    }

    void refusedB3LeavesTheCallToTheProgram()
    {
        Exchange exchange;
        RecordingClient client;
        listen(exchange, client);
        const quint32 plci = ring(exchange, "");
        client.take();
        put(exchange, 1, connectResp(1, 1, plci, 0));
        client.take();
        client.take();
        put(exchange, 1, connectB3Resp(1, 3, plci | 0x10000, 2));
        QVERIFY(client.take(100).isEmpty());
        put(exchange, 1, disconnectReq(1, 4, plci));
        QCOMPARE(commandOf(client.take()), 0x0481);
        QCOMPARE(commandOf(client.take()), 0x0482); // no DISCONNECT_B3_IND: B3 never came up
    }

    void rejectedCallEndsAtOnce_data()
    {
        QTest::addColumn<QString>("options");
        QTest::addColumn<int>("reject");
        QTest::addColumn<int>("reason");
        QTest::newRow("reason") << "--reason 0x34a2" << 2 << 0x34a2;
        QTest::newRow("reject-reason") << "--reason 0x3400 --reject-reason 0x34bb" << 3 << 0x34bb;
    }
    void rejectedCallEndsAtOnce()
    {
        QFETCH(QString, options);
        QFETCH(int, reject);
        QFETCH(int, reason);
        Exchange exchange;
        RecordingClient client;
        listen(exchange, client);
        const quint32 plci = ring(exchange, options + " --end-after 30");
        client.take();
        put(exchange, 1, connectResp(1, 1, plci, quint16(reject)));
        const QByteArray ind = client.take(500);
        QCOMPARE(commandOf(ind), 0x0482);
        QCOMPARE(u16(ind, 12), reason);
    }

    void blockedCallEndsAtOnce()
    {
        Exchange exchange;
        RecordingClient client;
        listen(exchange, client);
        const quint32 plci = ring(exchange, "--from 1 --blocked --reason 0x3400 --end-after 30");
        QCOMPARE(commandOf(client.take()), 0x0282);
        const QByteArray ind = client.take(500);
        QCOMPARE(commandOf(ind), 0x0482);
        QCOMPARE(u32(ind, 8), plci);
        QCOMPARE(u16(ind, 12), 0x3490); // the number is blocked, whatever the end would have been
        put(exchange, 1, disconnectResp(1, u16(ind, 6), plci));
        QCOMPARE(command(exchange, "status"), "ok appls=1 listening=yes faults=none calls=-");
    }

    void routerOptionsLeaveTheCapiCallAlone()
    {
        Exchange exchange;
        RecordingClient client;
        listen(exchange, client);
        ring(exchange, "--from 441123 --type 0x21");
        const QByteArray plain = client.take();
        QElapsedTimer clock;
        clock.start();
        ring(exchange, "--from 441123 --type 0x21 --answer-after 0.05 --extension 40 "
                       "--router-caller \"+49 441#\" --end-after 0.3");
        QByteArray ind = client.take();
        ind[6] = plain[6]; // message number and PLCI differ
        ind[9] = plain[9];
        QCOMPARE(hex(ind), hex(plain));
        // An extension answering is nothing the program sees: the call ends at --end-after.
        const QByteArray end = client.take();
        QCOMPARE(commandOf(end), 0x0482);
        QVERIFY(clock.elapsed() >= 290);
    }

    void callEndsByItselfAfterEndAfter_data()
    {
        QTest::addColumn<bool>("ignore");
        QTest::newRow("ignored") << true;
        QTest::newRow("unanswered") << false;
    }
    void callEndsByItselfAfterEndAfter()
    {
        QFETCH(bool, ignore);
        Exchange exchange;
        RecordingClient client;
        listen(exchange, client);
        QElapsedTimer clock;
        clock.start();
        const quint32 plci = ring(exchange, "--end-after 0.2 --reason 0x3400");
        const quint32 later = ring(exchange, "--end-after 0.05");
        client.take();
        client.take();
        if (ignore) put(exchange, 1, connectResp(1, 1, plci, 1));
        QByteArray ind = client.take();
        QCOMPARE(u32(ind, 8), later); // the earlier deadline fires first
        ind = client.take();
        QVERIFY(clock.elapsed() >= 190);
        QCOMPARE(commandOf(ind), 0x0482);
        QCOMPARE(u32(ind, 8), plci);
        QCOMPARE(u16(ind, 12), 0x3400);
        put(exchange, 1, disconnectResp(1, u16(ind, 6), plci));
        QVERIFY(command(exchange, "status").endsWith("calls=0x201:disconnecting"));
    }

    void malformedMessagesAreRefused_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<unsigned>("result");
        QTest::addColumn<int>("reply"); // command of the answer, -1 for none

        QTest::newRow("length below header") << QByteArray::fromHex("0500010005") << 0x1102u << -1;
        QTest::newRow("length beyond data")
            << QByteArray::fromHex("1a000100058001000100") << 0x1102u << -1;
        QTest::newRow("unknown command")
            << QByteArray::fromHex("0c0001007780010001000000") << 0x1102u << -1;
        QTest::newRow("indication from program")
            << QByteArray::fromHex("0e00010004820100010100009034") << 0x1102u << -1;
        QTest::newRow("short ALERT_REQ")
            << QByteArray::fromHex("0a0001000180050001 01") << 0u << 0x0181;
        QTest::newRow("short LISTEN_REQ")
            << QByteArray::fromHex("0c00010005800600 01000000") << 0u << 0x0581;
        QTest::newRow("short CONNECT_RESP")
            << QByteArray::fromHex("0c0001000283070001010000") << 0u << -1;
        QTest::newRow("response for unknown PLCI") << connectResp(1, 8, 0x4401, 0) << 0u << -1;
        QTest::newRow("INFO_REQ") << QByteArray::fromHex("0d00010008800900010100 0000") << 0u
                                  << 0x0881;
    }
    void malformedMessagesAreRefused()
    {
        QFETCH(QByteArray, message);
        QFETCH(unsigned, result);
        QFETCH(int, reply);
        QTemporaryDir dir;
        const QByteArray logPath = dir.filePath("log").toLocal8Bit();
        qputenv("CAPISIM_LOG", logPath);
        Exchange exchange;
        std::string error;
        QVERIFY(exchange.configureFromEnvironment(&error));
        qunsetenv("CAPISIM_LOG");
        RecordingClient client;
        listen(exchange, client);
        QCOMPARE(put(exchange, 1, message), result);
        const QByteArray answer = client.take(50);
        QCOMPARE(commandOf(answer), reply);
        if (reply >= 0) {
            QCOMPARE(u16(answer, 6), u16(message, 6));
            QVERIFY(u16(answer, 12) >= 0x2000); // never "done"
        }
        QFile log(logPath);
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = log.readAll().split('\n');
        QVERIFY(lines.size() >= 3);
        // Every refusal leaves a trace besides or instead of the "> " line.
        if (result != 0 || reply != 0x0881) QVERIFY(lines.at(lines.size() - 2).startsWith("# "));
        QVERIFY(exchange.listening()); // the exchange goes on
    }

    void unsupportedRequestsAreStillConfirmed()
    {
        Exchange exchange;
        RecordingClient client;
        listen(exchange, client);
        put(exchange, 1, Message(1, 0x80, 0x80, 5).u32(1).u16(1).u8(0).bytes());
        QCOMPARE(hex(client.take()), QString("11 00 01 00 80 81 05 00 01 00 00 00 01 20 01 00 00"));
        put(exchange, 1,
            Message(1, 0x86, 0x80, 6).u32(0x10101).u32(0).u16(0).u16(0x77).u16(0).bytes());
        QCOMPARE(hex(client.take()), QString("10 00 01 00 86 81 06 00 01 01 01 00 77 00 01 20"));
    }

    void controlCommandsRefuseBadInput_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("error");
        QTest::newRow("empty") << ""
                               << "empty request";
        QTest::newRow("unknown") << "dial 123"
                                 << "unknown command 'dial' (try help)";
        QTest::newRow("unknown option") << "ring --colour red"
                                        << "unknown option --colour";
        QTest::newRow("twice") << "ring --from 1 --from 2"
                               << "option --from given twice";
        QTest::newRow("no value") << "ring --from"
                                  << "option --from needs a value";
        QTest::newRow("octet too big") << "ring --type 256"
                                       << "--type needs a number from 0 to 255, not '256'";
        QTest::newRow("not a number") << "ring --cip 1x"
                                      << "--cip needs a number from 0 to 65535, not '1x'";
        QTest::newRow("hex overflow")
            << "hangup --plci 0x100000000"
            << "--plci needs a number from 0 to 4294967295, not '0x100000000'";
        QTest::newRow("negative time") << "ring --end-after -1"
                                       << "--end-after needs seconds from 0 to 86400, not '-1'";
        QTest::newRow("infinite time") << "ring --end-after inf"
                                       << "--end-after needs seconds from 0 to 86400, not 'inf'";
        QTest::newRow("stray word") << "ring 0441123"
                                    << "unexpected argument '0441123'";
        QTest::newRow("quote") << "ring --from \"12"
                               << "unterminated quote";
        QTest::newRow("control char") << "ring --from \"1\t2\x01\""
                                      << "--from holds a character that is not printable ASCII";
        QTest::newRow("long number")
            << "ring --to " + QString(201, '1') << "--to is longer than 200";
        QTest::newRow("burst count") << "burst --count 101"
                                     << "burst needs --count from 1 to 100";
        QTest::newRow("burst zero") << "burst --count 0"
                                    << "burst needs --count from 1 to 100";
        QTest::newRow("odd hex") << "send-hex 0e0"
                                 << "'0e0' is not hex bytes";
        QTest::newRow("no hex") << "send-hex"
                                << "send-hex needs the message bytes";
        QTest::newRow("hex too long")
            << "send-hex " + QString(2177 * 2, 'a') << "send-hex takes at most 2176 bytes";
        QTest::newRow("fault") << "fault flood"
                               << "unknown fault 'flood' (none, not-installed, lose-line, "
                                  "register-error CODE, listen-info CODE)";
        QTest::newRow("fault code") << "fault register-error"
                                    << "fault register-error needs a code from 0 to 0xffff, not ''";
        QTest::newRow("fault extra") << "fault none 1"
                                     << "fault none takes no code";
        QTest::newRow("wait") << "wait-listening --timeout 1h"
                              << "--timeout needs seconds from 0 to 3600";
        QTest::newRow("status") << "status now"
                                << "status takes no arguments";
        QTest::newRow("extension") << "ring --extension 256"
                                   << "--extension needs a number from 0 to 255, not '256'";
        QTest::newRow("answer time") << "ring --answer-after 2m"
                                     << "--answer-after needs seconds from 0 to 86400, not '2m'";
        QTest::newRow("flag value") << "ring --blocked yes"
                                    << "unexpected argument 'yes'";
        QTest::newRow("router caller") << "ring --router-caller \"1\x7f\""
                                       << "--router-caller holds a character that is not "
                                          "printable ASCII";
        QTest::newRow("call without router")
            << "call --from 85606 --to 0302222"
            << "an outgoing call shows on the router monitor only (capisim serve --router-port "
               "PORT)";
        QTest::newRow("call without number") << "call --from 85606"
                                             << "call needs --from OWN and --to NUMBER";
        QTest::newRow("hangup twice over") << "hangup --plci 0x101 --id 0"
                                           << "hangup takes --plci or --id";
        QTest::newRow("hangup id") << "hangup --id 0"
                                   << "no call with connection id 0";
        QTest::newRow("router fault without router")
            << "router close"
            << "no router monitor is served (capisim serve --router-port PORT)";
        QTest::newRow("router fault") << "router reboot"
                                      << "usage: router close | refuse SECONDS | send TEXT | "
                                         "garbage BYTES";
        QTest::newRow("refuse time") << "router refuse -1"
                                     << "router refuse needs seconds from 0 to 3600";
        QTest::newRow("escape") << "router send a\\q"
                                << "unknown escape in router text (\\r \\n \\t \\0 \\\\ "
                                   "\\xHH)";
        QTest::newRow("hex escape") << "router send \\x4"
                                    << "\\x needs two hex digits";
        QTest::newRow("garbage") << "router garbage 0"
                                 << "router garbage needs bytes from 1 to 65536";
    }
    void controlCommandsRefuseBadInput()
    {
        QFETCH(QString, line);
        QFETCH(QString, error);
        Exchange exchange;
        RecordingClient client;
        listen(exchange, client);
        QCOMPARE(command(exchange, line), "error " + error);
        QCOMPARE(client.pending(), 0);
        QCOMPARE(command(exchange, "status"), "ok appls=1 listening=yes faults=none calls=-");
    }

    void burstCountsNumbersUp()
    {
        QCOMPARE(capisim::nextNumber("0441199"), "0441200");
        QCOMPARE(capisim::nextNumber("99"), "100");
        QCOMPARE(capisim::nextNumber("+4999"), "+5000");
        QCOMPARE(capisim::nextNumber(""), "");
        QCOMPARE(capisim::nextNumber("12a"), "12a");
        Exchange exchange;
        RecordingClient client;
        listen(exchange, client);
        QCOMPARE(command(exchange, "burst --count 3 --from 0441199 --type 0x21"),
                 "ok 0x101 0x201 0x301");
        for (const char *number : {"0441199", "0441200", "0441201"}) {
            const QByteArray ind = client.take();
            QCOMPARE(ind.mid(19, ind.at(16) - 2),
                     QByteArray(number)); // after the empty called number
        }
    }

    void faultSettings()
    {
        capisim::Faults faults;
        std::string error;
        QVERIFY(capisim::parseFaultList("not-installed,register-error=0x1008,listen-info=8194",
                                        &faults, &error));
        QCOMPARE(faults.describe(), "not-installed,register-error=0x1008,listen-info=0x2002");
        QVERIFY(!faults.installed());
        QVERIFY(!capisim::parseFaultList("register-error=0x10000", &faults, &error));
        QVERIFY(!capisim::parseFaultList("lose-line=1", &faults, &error));
        QVERIFY(!capisim::parseFaultList("offline", &faults, &error));
        QCOMPARE(faults.describe(), "not-installed,register-error=0x1008,listen-info=0x2002");

        Exchange exchange;
        RecordingClient first;
        RecordingClient second;
        listen(exchange, first, 1);
        listen(exchange, second, 2);
        ring(exchange, "--from 1");
        QCOMPARE(command(exchange, "fault lose-line"), "ok faults=lose-line");
        QVERIFY(first.lost());
        QVERIFY(second.lost());
        QVERIFY(!exchange.listening());
        QCOMPARE(command(exchange, "status"), "ok appls=- listening=no faults=lose-line calls=-");
        QCOMPARE(command(exchange, "fault none"), "ok faults=none");
        QVERIFY(exchange.faults().installed());
    }

    void sendHexGoesToTheNewestApplication()
    {
        Exchange exchange;
        RecordingClient first;
        RecordingClient second;
        QVERIFY(exchange.attach(5, &first));
        QVERIFY(exchange.attach(3, &second));
        QCOMPARE(command(exchange, "send-hex 0a00 0300 0282 01 00 0101"), "ok");
        QCOMPARE(hex(second.take()), QString("0a 00 03 00 02 82 01 00 01 01"));
        QCOMPARE(command(exchange, "send-hex --appl 5 FF"), "ok");
        QCOMPARE(hex(first.take()), QString("ff"));
        QCOMPARE(command(exchange, "send-hex --appl 4 00"), "error appl 4 is not registered");
        exchange.detach(5);
        exchange.detach(3);
        QCOMPARE(command(exchange, "send-hex 00"), "error no application is registered");
    }
};

QTEST_GUILESS_MAIN(TestCapisimExchange)
#include "tst_capisim_exchange.moc"
