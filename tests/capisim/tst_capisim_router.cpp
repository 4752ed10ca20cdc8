// The router's call monitor of the line simulator, read by plain TCP clients:
// the lines of each call course, connection ids, several clients, the faults
// of the port, and the exchange with a CAPI application beside it. The server
// runs in this process; the last tests drive a real "capisim serve".
// CTest runs this with TZ five and a half hours off UTC, so a stamp in UTC shows.

#include "tests/capisim/CapiTestSupport.h"
#include "tests/capisim/ExchangeTestSupport.h"
#include "tools/capisim/CapisimClient.h"
#include "tools/capisim/RouterServer.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <future>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace capitest;
using capisim::Exchange;
using capisim::RouterServer;

namespace {

// A client of the call monitor, as a desktop program would be one.
class MonitorClient
{
public:
    // receiveBuffer: a small one makes a client that does not read fill up quickly.
    explicit MonitorClient(int port, int receiveBuffer = 0)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (receiveBuffer)
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(quint16(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
            error_ = errno;
    }
    ~MonitorClient() { ::close(fd_); }
    MonitorClient(const MonitorClient &) = delete;
    MonitorClient &operator=(const MonitorClient &) = delete;

    // 0 when connected, else the errno of connect().
    int error() const { return error_; }
    bool send(const QByteArray &bytes)
    {
        return ::send(fd_, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) == bytes.size();
    }
    // The next line with its CR LF; empty on time-out or at the end.
    QByteArray line(int timeoutMs = 3000)
    {
        qsizetype end;
        while ((end = buffer_.indexOf("\r\n")) < 0) {
            if (!fill(timeoutMs)) return {};
        }
        const QByteArray line = buffer_.left(end + 2);
        buffer_.remove(0, end + 2);
        return line;
    }
    QByteArray bytes(int count, int timeoutMs = 3000)
    {
        while (buffer_.size() < count) {
            if (!fill(timeoutMs)) break;
        }
        const QByteArray bytes = buffer_.left(count);
        buffer_.remove(0, bytes.size());
        return bytes;
    }
    // True once the server has closed the connection; what came before is dropped.
    bool closedByServer(int timeoutMs = 3000)
    {
        while (fill(timeoutMs))
            buffer_.clear();
        return eof_;
    }
    // Nothing more arrives within timeoutMs.
    bool quiet(int timeoutMs) { return buffer_.isEmpty() && !fill(timeoutMs) && !eof_; }

private:
    bool fill(int timeoutMs)
    {
        pollfd fd{fd_, POLLIN, 0};
        if (eof_ || ::poll(&fd, 1, timeoutMs) <= 0) return false;
        char chunk[4096];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0) {
            eof_ = true; // closed or reset
            return false;
        }
        buffer_.append(chunk, n);
        return true;
    }

    int fd_ = -1;
    int error_ = 0;
    QByteArray buffer_;
    bool eof_ = false;
};

// The line after its time stamp, which must be the local time of now; the
// stamp's fault otherwise.
QByteArray withoutStamp(const QByteArray &line)
{
    static const QRegularExpression format(
        QStringLiteral("^(\\d\\d\\.\\d\\d\\.\\d\\d \\d\\d:\\d\\d:\\d\\d);(.*)\\r\\n$"),
        QRegularExpression::DotMatchesEverythingOption);
    const auto match = format.match(QString::fromLatin1(line));
    if (!match.hasMatch()) return "not a router line: " + line;
    const QDateTime stamp =
        QDateTime::fromString(match.captured(1), QStringLiteral("dd.MM.yy HH:mm:ss")).addYears(100);
    if (qAbs(stamp.secsTo(QDateTime::currentDateTime())) > 5)
        return "stamp is not the local time: " + line;
    return match.captured(2).toLatin1();
}

} // namespace

class TestCapisimRouter : public QObject
{
    Q_OBJECT

private:
    int port_ = 0;
    std::unique_ptr<Exchange> exchange_;
    std::unique_ptr<RouterServer> router_;

    QString command(const QString &line) { return capitest::command(*exchange_, line); }
    QString status() { return command("status"); }
    // The clients the server counts once its thread has taken or dropped them.
    int clients() { return status().section("router-clients=", 1).section(' ', 0, 0).toInt(); }
    // A client the server has taken, so that it gets the next call's lines.
    std::unique_ptr<MonitorClient> connected()
    {
        const int before = clients();
        auto client = std::make_unique<MonitorClient>(port_);
        // Should it never count the client, the test fails on the lines it then misses.
        if (client->error() == 0)
            static_cast<void>(QTest::qWaitFor([&] { return clients() > before; }, 5000));
        return client;
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("TZ")) qputenv("TZ", "IST-5:30");
        exchange_ = std::make_unique<Exchange>();
        router_ = std::make_unique<RouterServer>(*exchange_);
        std::string error;
        for (int attempt = 0; attempt < 20 && !port_; ++attempt) {
            const int port = 20000 + int(QRandomGenerator::global()->bounded(12000));
            if (router_->start(quint16(port), &error)) port_ = port;
        }
        QVERIFY2(port_, error.c_str());
        router_->stop();
    }

    // A fresh exchange and server on the same port for every test.
    void init()
    {
        exchange_ = std::make_unique<Exchange>();
        router_ = std::make_unique<RouterServer>(*exchange_);
        std::string error;
        QVERIFY2(router_->start(quint16(port_), &error), error.c_str());
    }

    void cleanup()
    {
        router_.reset();
        exchange_.reset();
    }

    void ringShowsTheCallerAsTheRouterDoes_data()
    {
        QTest::addColumn<QString>("options");
        QTest::addColumn<QByteArray>("ring");
        QTest::newRow("national") << "--from 441123456 --type 0x21 --to 85606"
                                  << QByteArray("RING;0;0441123456;85606;SIP0;");
        QTest::newRow("international") << "--from 4930123 --type 0x11 --to 85606"
                                       << QByteArray("RING;0;004930123;85606;SIP0;");
        QTest::newRow("unknown type")
            << "--from 0441123456 --to 85606" << QByteArray("RING;0;0441123456;85606;SIP0;");
        QTest::newRow("withheld") << "--from \"\" --type 0x21 --to 85606"
                                  << QByteArray("RING;0;;85606;SIP0;");
        QTest::newRow("restricted") << "--from 441123 --type 0x21 --presentation 0xa0 --to 1"
                                    << QByteArray("RING;0;;1;SIP0;");
        QTest::newRow("hash") << "--from 441123 --type 0x21 --router-caller 0441123# --to 85606"
                              << QByteArray("RING;0;0441123#;85606;SIP0;");
        QTest::newRow("hostile") << "--router-caller \"+49 ;<b>x</b>\""
                                 << QByteArray("RING;0;+49 ;<b>x</b>;;SIP0;");
    }
    void ringShowsTheCallerAsTheRouterDoes()
    {
        QFETCH(QString, options);
        QFETCH(QByteArray, ring);
        const auto client = connected();
        QCOMPARE(command("ring " + options), "ok router=0");
        QCOMPARE(withoutStamp(client->line()), ring);
        QCOMPARE(status().section(' ', -1), "router-calls=0:ringing");
    }

    void callCourses_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QList<QByteArray>>("events");
        const QByteArray ring = "RING;0;0441123;85606;SIP0;";
        const QString from = "--from 441123 --type 0x21 --to 85606 ";
        QTest::newRow("not answered")
            << from + "--end-after 0.1" << QList<QByteArray>{ring, "DISCONNECT;0;0;"};
        QTest::newRow("answered elsewhere")
            << from + "--end-after 0.1 --reason 0x3400"
            << QList<QByteArray>{ring, "CONNECT;0;1;0441123;", "DISCONNECT;0;0;"};
        QTest::newRow("answering machine")
            << from + "--answer-after 0.05 --extension 40 --end-after 0.2 --reason 0x3400"
            << QList<QByteArray>{ring, "CONNECT;0;40;0441123;", "DISCONNECT;0;0;"};
        QTest::newRow("gives up before the answer") << from + "--answer-after 0.3 --end-after 0.1"
                                                    << QList<QByteArray>{ring, "DISCONNECT;0;0;"};
        QTest::newRow("blocked") << from + "--blocked --reason 0x3400 --end-after 10"
                                 << QList<QByteArray>{ring, "DISCONNECT;0;0;"};
        QTest::newRow("outgoing")
            << "call --from 85606 --to 0302222 --answer-after 0.05 --end-after 0.2"
            << QList<QByteArray>{"CALL;0;1;85606;0302222;SIP0;", "CONNECT;0;1;0302222;",
                                 "DISCONNECT;0;0;"};
        QTest::newRow("outgoing, nobody answers")
            << "call --from 85606 --to 0302222 --extension 12 --end-after 0.1"
            << QList<QByteArray>{"CALL;0;12;85606;0302222;SIP0;", "DISCONNECT;0;0;"};
    }
    void callCourses()
    {
        QFETCH(QString, request);
        QFETCH(QList<QByteArray>, events);
        const auto client = connected();
        const QString verb = request.startsWith("call") ? "" : "ring ";
        QCOMPARE(command(verb + request), "ok router=0");
        for (const QByteArray &expected : events)
            QCOMPARE(withoutStamp(client->line()), expected);
        QVERIFY(client->quiet(100));
        QCOMPARE(status().section(' ', -1), "router-calls=-");
    }

    void durationCountsFromTheAnswer()
    {
        const auto client = connected();
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(command("ring --from 1 --answer-after 0.1 --end-after 1.8 --extension 40"),
                 "ok router=0");
        QCOMPARE(command("call --from 85606 --to 2 --answer-after 0.1"), "ok router=1");
        QCOMPARE(withoutStamp(client->line()), "RING;0;1;;SIP0;");
        QCOMPARE(withoutStamp(client->line()), "CALL;1;1;85606;2;SIP0;");
        QCOMPARE(withoutStamp(client->line()), "CONNECT;0;40;1;");
        QCOMPARE(withoutStamp(client->line()), "CONNECT;1;1;2;");
        QCOMPARE(status().section(' ', -1), "router-calls=0:connected,1:connected");
        QCOMPARE(withoutStamp(client->line()), "DISCONNECT;0;1;"); // 1.7 s talked
        QVERIFY(clock.elapsed() >= 1750);
        // Hung up by hand; answered elsewhere adds nothing to a call already answered.
        QCOMPARE(command("hangup --id 1 --reason 0x3400"), "ok router=1");
        QCOMPARE(withoutStamp(client->line()), "DISCONNECT;1;1;");
        QVERIFY(client->quiet(100));
    }

    void connectionIdsAreReused()
    {
        const auto client = connected();
        QCOMPARE(command("burst --count 3 --from 100"), "ok router=0,1,2");
        QCOMPARE(command("call --from 85606 --to 5"), "ok router=3");
        for (const char *ring : {"RING;0;100;;SIP0;", "RING;1;101;;SIP0;", "RING;2;102;;SIP0;",
                                 "CALL;3;1;85606;5;SIP0;"})
            QCOMPARE(withoutStamp(client->line()), ring);
        QCOMPARE(command("hangup --id 1"), "ok router=1");
        QCOMPARE(withoutStamp(client->line()), "DISCONNECT;1;0;");
        // The lowest id no live call has: 1 again, then 4.
        QCOMPARE(command("ring --from 7"), "ok router=1");
        QCOMPARE(command("ring --from 8"), "ok router=4");
        QCOMPARE(withoutStamp(client->line()), "RING;1;7;;SIP0;");
        QCOMPARE(withoutStamp(client->line()), "RING;4;8;;SIP0;");
        // Without an id, hangup ends the newest call.
        QCOMPARE(command("hangup"), "ok router=4");
        QCOMPARE(withoutStamp(client->line()), "DISCONNECT;4;0;");
        QCOMPARE(status().section(' ', -1), "router-calls=0:ringing,1:ringing,2:ringing,3:calling");
        QCOMPARE(command("hangup --id 4"), "error no call with connection id 4");
    }

    void everyClientGetsEveryLine()
    {
        const auto first = connected();
        const auto second = connected();
        QCOMPARE(command("ring --from 1 --to 2 --end-after 0.05"), "ok router=0");
        for (MonitorClient *client : {first.get(), second.get()}) {
            QCOMPARE(withoutStamp(client->line()), "RING;0;1;2;SIP0;");
            QCOMPARE(withoutStamp(client->line()), "DISCONNECT;0;0;");
        }
        // A client that comes later sees the calls from then on; what clients send is ignored.
        const auto third = connected();
        QVERIFY(third->send("ATZ\r\n" + QByteArray(100000, 'x')));
        QCOMPARE(command("call --from 3 --to 4"), "ok router=0");
        for (MonitorClient *client : {first.get(), second.get(), third.get()})
            QCOMPARE(withoutStamp(client->line()), "CALL;0;1;3;4;SIP0;");
    }

    void closeDropsEveryClient()
    {
        const auto first = connected();
        const auto second = connected();
        QCOMPARE(command("router close"), "ok closed=2");
        QVERIFY(first->closedByServer());
        QVERIFY(second->closedByServer());
        QTRY_VERIFY(clients() == 0);
        // The port still takes clients.
        const auto again = connected();
        QCOMPARE(again->error(), 0);
        QCOMPARE(command("ring --from 5"), "ok router=0");
        QCOMPARE(withoutStamp(again->line()), "RING;0;5;;SIP0;");
    }

    void refuseClosesThePortForAWhile()
    {
        const auto client = connected();
        QCOMPARE(command("router refuse 1"), "ok closed=1 refusing=1");
        QElapsedTimer clock;
        clock.start();
        QVERIFY(client->closedByServer());
        QCOMPARE(MonitorClient(port_).error(), ECONNREFUSED);
        // Calls go on meanwhile, and the port comes back on its own.
        QCOMPARE(command("ring --from 5"), "ok router=0");
        std::unique_ptr<MonitorClient> again;
        while (clock.elapsed() < 5000) {
            again = std::make_unique<MonitorClient>(port_);
            if (again->error() == 0) break;
            QCOMPARE(again->error(), ECONNREFUSED);
            QTest::qWait(50);
        }
        QCOMPARE(again->error(), 0);
        QVERIFY2(clock.elapsed() >= 900, qPrintable(QString::number(clock.elapsed())));
        QTRY_VERIFY(clients() == 1);
        QCOMPARE(command("hangup"), "ok router=0");
        QCOMPARE(withoutStamp(again->line()), "DISCONNECT;0;0;");
    }

    void rawTextAndGarbage()
    {
        const auto client = connected();
        QCOMPARE(command("router send \"half a li\""), "ok sent=1");
        QCOMPARE(command("router send ne\\r\\n\\x00\\t\\\\;\\n"), "ok sent=1");
        QCOMPARE(client->line(), "half a line\r\n");
        QCOMPARE(client->bytes(5), QByteArray("\0\t\\;\n", 5));
        QCOMPARE(command("router garbage 4000"), "ok sent=1");
        const QByteArray garbage = client->bytes(4000);
        QCOMPARE(garbage.size(), 4000);
        QVERIFY(garbage.contains('\0'));
        QVERIFY(!garbage.contains('\r') && !garbage.contains('\n'));
        QVERIFY(garbage.count(garbage.at(0)) < 200); // random, not one byte over and over
        // The next call's line follows right after the garbage.
        QCOMPARE(command("ring --from 1"), "ok router=0");
        QCOMPARE(withoutStamp(client->line()), "RING;0;1;;SIP0;");
    }

    void clientThatDoesNotReadIsDropped()
    {
        MonitorClient slow(port_, 4096);
        QTRY_VERIFY(clients() == 1);
        QElapsedTimer clock;
        for (int round = 0; round < 200 && !clients() == 0; ++round) {
            clock.restart();
            QCOMPARE(command("router garbage 65536").left(7), "ok sent");
            QVERIFY(clock.elapsed() < 500); // the exchange never waits for a client
            if (round % 8 == 7) QTest::qWait(20);
        }
        QTRY_VERIFY(clients() == 0);
        QVERIFY(slow.closedByServer());
        const auto reader = connected();
        QCOMPARE(command("ring --from 1"), "ok router=0");
        QCOMPARE(withoutStamp(reader->line()), "RING;0;1;;SIP0;");
    }

    void capiApplicationBesideTheMonitor()
    {
        // No application yet: the call rings on the router all the same.
        const auto client = connected();
        QCOMPARE(command("ring --from 1 --to 2"), "ok router=0");
        QCOMPARE(withoutStamp(client->line()), "RING;0;1;2;SIP0;");
        QCOMPARE(command("hangup"), "ok router=0");
        QCOMPARE(withoutStamp(client->line()), "DISCONNECT;0;0;");

        RecordingClient app;
        QVERIFY(exchange_->attach(1, &app));
        QCOMPARE(put(*exchange_, 1, listenReq(1, 1, 0x1FFF03FF)), 0u);
        app.take();
        // The program rejects: the call ends for the caller too.
        QCOMPARE(command("ring --from 3 --reason 0x3400 --reject-reason 0x34a2"),
                 "ok 0x101 router=0");
        QCOMPARE(commandOf(app.take()), 0x0282);
        QCOMPARE(withoutStamp(client->line()), "RING;0;3;;SIP0;");
        put(*exchange_, 1, connectResp(1, 1, 0x101, 3));
        QCOMPARE(u16(app.take(), 12), 0x34a2);
        QCOMPARE(withoutStamp(client->line()), "DISCONNECT;0;0;");
        put(*exchange_, 1, disconnectResp(1, 2, 0x101));

        // The program answers: the router sees the call answered, and hangup ends it.
        QCOMPARE(command("ring --from 4 --extension 21"), "ok 0x201 router=0");
        app.take();
        QCOMPARE(withoutStamp(client->line()), "RING;0;4;;SIP0;");
        put(*exchange_, 1, connectResp(1, 3, 0x201, 0));
        QCOMPARE(withoutStamp(client->line()), "CONNECT;0;21;4;");
        QCOMPARE(command("hangup"), "ok 0x201");
        QCOMPARE(withoutStamp(client->line()), "DISCONNECT;0;0;");

        // The application goes away while its call rings: the call ends there.
        QCOMPARE(command("ring --from 5"), "ok 0x301 router=0");
        QCOMPARE(withoutStamp(client->line()), "RING;0;5;;SIP0;");
        exchange_->detach(1);
        QCOMPARE(withoutStamp(client->line()), "DISCONNECT;0;0;");
        QVERIFY(status().endsWith("router-calls=-"));
    }

    void routerClientCountsAsListening()
    {
        QVERIFY(!exchange_->listening());
        {
            const auto client = connected();
            QVERIFY(exchange_->listening());
            QVERIFY(status().startsWith("ok appls=- listening=no faults=none calls=- "
                                        "router-port="));
        }
        QTRY_VERIFY(!exchange_->listening());
    }

    void servedByTheTool()
    {
        router_.reset(); // the tool takes the port
        QTemporaryDir dir;
        const QString socket = dir.filePath("control.sock");
        QProcess server;
        int rcapiPort = 0;
        for (int attempt = 0; attempt < 10 && !rcapiPort; ++attempt) {
            const int port = 20000 + int(QRandomGenerator::global()->bounded(12000));
            if (port == port_) continue;
            server.start(QStringLiteral(CAPISIM_TOOL),
                         {"serve", "--rcapi-port", QString::number(port), "--router-port",
                          QString::number(port_), "--socket", socket});
            QVERIFY(server.waitForStarted(5000));
            while (!server.canReadLine() && server.waitForReadyRead(5000)) {
            }
            if (server.readLine() ==
                QStringLiteral("capisim: rcapi on 127.0.0.1:%1, router monitor on 127.0.0.1:%2, "
                               "control socket %3\n")
                    .arg(port)
                    .arg(port_)
                    .arg(socket)
                    .toLocal8Bit())
                rcapiPort = port;
            else
                server.waitForFinished(2000);
        }
        QVERIFY(rcapiPort);
        auto tool = [&socket](const QStringList &arguments) {
            QProcess process;
            process.start(QStringLiteral(CAPISIM_TOOL),
                          QStringList{"--socket", socket} + arguments);
            process.waitForFinished(10000);
            return QString::fromLocal8Bit(process.readAllStandardOutput() +
                                          process.readAllStandardError())
                .trimmed();
        };

        // Scripts wait for the program on the router as on the ISDN line.
        auto waiting = std::async(std::launch::async, [&tool] {
            return tool({"wait-listening", "--timeout", "20"});
        });
        QCOMPARE(waiting.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
        MonitorClient client(port_);
        QCOMPARE(client.error(), 0);
        // Answered as the client comes, not at the end of the wait.
        QCOMPARE(waiting.wait_for(std::chrono::seconds(5)), std::future_status::ready);
        QCOMPARE(waiting.get(), "listening");
        QCOMPARE(tool({"ring", "--from", "441123", "--type", "0x21", "--to", "85606", "--end-after",
                       "0.1", "--reason", "0x3400"}),
                 "router=0");
        QCOMPARE(withoutStamp(client.line()), "RING;0;0441123;85606;SIP0;");
        QCOMPARE(withoutStamp(client.line()), "CONNECT;0;1;0441123;");
        QCOMPARE(withoutStamp(client.line()), "DISCONNECT;0;0;");
        QCOMPARE(tool({"status"}),
                 QStringLiteral("appls=- listening=no faults=none calls=- router-port=%1 "
                                "router-clients=1 router-calls=-")
                     .arg(port_));
        server.terminate();
        QVERIFY(server.waitForFinished(5000));
        QCOMPARE(server.exitCode(), 0);
        QVERIFY(client.closedByServer());
    }

    void serveRefusesBadPorts_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("error");
        QTest::newRow("no port") << QStringList{}
                                 << "usage: capisim serve [--rcapi-port PORT] [--router-port "
                                    "PORT] [--socket PATH]";
        QTest::newRow("port 0") << QStringList{"--router-port", "0"}
                                << "the router port must be from 1 to 65535";
        QTest::newRow("port too big")
            << QStringList{"--router-port", "65536"} << "the router port must be from 1 to 65535";
        QTest::newRow("rcapi port") << QStringList{"--router-port", "1012", "--rcapi-port", "40000"}
                                    << "the rcapi port must be from 1 to 32767 (libcapi20 keeps it "
                                       "in a short)";
        QTest::newRow("port in use") << QStringList{"--router-port", "IN-USE"}
                                     << "router monitor: cannot listen on 127.0.0.1:IN-USE: "
                                        "Address already in use";
    }
    void serveRefusesBadPorts()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, error);
        arguments.replaceInStrings("IN-USE", QString::number(port_)); // held by router_
        error.replace("IN-USE", QString::number(port_));
        QTemporaryDir dir;
        QProcess server;
        server.start(QStringLiteral(CAPISIM_TOOL),
                     QStringList{"serve", "--socket", dir.filePath("control.sock")} + arguments);
        QVERIFY(server.waitForFinished(5000));
        QCOMPARE(server.exitCode(), 1);
        QCOMPARE(QString::fromLocal8Bit(server.readAllStandardError()), "capisim: " + error + "\n");
    }
};

QTEST_GUILESS_MAIN(TestCapisimRouter)
#include "tst_capisim_router.moc"
