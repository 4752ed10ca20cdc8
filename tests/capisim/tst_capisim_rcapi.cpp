// The rcapi front end: the real libcapi20.so.3 (rcapi module) talking to
// "capisim serve" over TCP, and raw frames that a broken client might send.
// HOME points at a temporary directory with the .capi20rc before libcapi20 is
// loaded, so this test runs in a process of its own.

#include "tests/Libcapi20Files.h"
#include "tests/capisim/CapiTestSupport.h"
#include "tools/capisim/CapisimClient.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace capitest;

namespace {

// A plain TCP client speaking rcapi frames, for what libcapi20 would never send.
class RawClient
{
public:
    explicit RawClient(int port)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        const int on = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        const timeval timeout{3, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(quint16(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    }
    ~RawClient() { ::close(fd_); }
    bool connected() const { return connected_; }
    bool send(const QByteArray &bytes)
    {
        return ::send(fd_, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) == bytes.size();
    }
    // One frame's body; empty when the server closed or said nothing.
    QByteArray frame()
    {
        const QByteArray head = read(2);
        if (head.size() < 2) return {};
        return read((quint8(head[0]) << 8 | quint8(head[1])) - 2);
    }
    // True once the server has closed the connection.
    bool closedByServer()
    {
        char byte;
        return ::recv(fd_, &byte, 1, 0) == 0;
    }

private:
    QByteArray read(int size)
    {
        QByteArray bytes;
        while (bytes.size() < size) {
            char buffer[4096];
            const ssize_t n =
                ::recv(fd_, buffer, size_t(qMin<qsizetype>(size - bytes.size(), 4096)), 0);
            if (n <= 0) return {};
            bytes.append(buffer, n);
        }
        return bytes;
    }
    int fd_;
    bool connected_ = false;
};

QByteArray frame(const QByteArray &body)
{
    QByteArray bytes(2, '\0');
    bytes[0] = char((body.size() + 2) >> 8);
    bytes[1] = char(body.size() + 2);
    return bytes + body;
}

const QByteArray RegisterBody = QByteArray::fromHex("00000000f2ff0000000000000008010007000008"
                                                    "02");

} // namespace

class TestCapisimRcapi : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir home_;
    QString socketPath_;
    QString logPath_;
    qint64 logOffset_ = 0;
    int port_ = 0;
    QProcess server_;
    std::unique_ptr<Libcapi20Files> libcapi20Files_;
    CapiFunctions capi_;
    unsigned (*getProfile_)(unsigned, unsigned char *) = nullptr;
    unsigned char *(*getManufacturer_)(unsigned, unsigned char *) = nullptr;
    unsigned char *(*getVersion_)(unsigned, unsigned char *) = nullptr;
    unsigned char *(*getSerialNumber_)(unsigned, unsigned char *) = nullptr;
    QList<unsigned> appls_;

    bool startServer(int port)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("CAPISIM_LOG", logPath_);
        environment.remove("CAPISIM_FAULT");
        server_.setProcessEnvironment(environment);
        server_.start(QStringLiteral(CAPISIM_TOOL),
                      {"serve", "--rcapi-port", QString::number(port), "--socket", socketPath_});
        if (!server_.waitForStarted(5000)) return false;
        // The tool prints its line once the port and the control socket are served.
        while (!server_.canReadLine()) {
            if (!server_.waitForReadyRead(5000)) {
                server_.waitForFinished(1000);
                qWarning() << "server:" << server_.readAllStandardError();
                return false;
            }
        }
        return server_.readLine().contains("rcapi on 127.0.0.1:" + QByteArray::number(port));
    }

    void stopServer()
    {
        if (server_.state() == QProcess::NotRunning) return;
        server_.terminate();
        QVERIFY(server_.waitForFinished(5000));
        const QByteArray errors = server_.readAllStandardError();
        if (!errors.isEmpty()) qWarning() << "server:" << errors;
        QCOMPARE(server_.exitCode(), 0);
    }

    QString control(const QString &command)
    {
        std::string reply;
        const bool ok =
            capisim::runCommand(socketPath_.toStdString(), command.toStdString(), &reply, 5000);
        return (ok ? "ok " : "error ") + QString::fromStdString(reply);
    }

    unsigned registerListening()
    {
        unsigned appl = 0;
        if (capi_.registerAppl(1, 7, 2048, &appl) != 0) return 0;
        appls_ << appl;
        if (capi_.put(appl, listenReq(appl, 1, 0x1FFF03FF)) != 0 ||
            commandOf(capi_.fetch(appl)) != 0x0581)
            return 0;
        return appl;
    }

    void releaseAll()
    {
        for (unsigned appl : std::as_const(appls_))
            capi_.release(appl);
        appls_.clear();
    }

    bool logHolds(const QByteArray &text)
    {
        QFile log(logPath_);
        return log.open(QIODevice::ReadOnly) && log.readAll().contains(text);
    }

    QStringList newLogLines()
    {
        QFile log(logPath_);
        if (!log.open(QIODevice::ReadOnly) || !log.seek(logOffset_)) return {};
        QStringList lines;
        for (const QString &line :
             QString::fromLatin1(log.readAll()).split('\n', Qt::SkipEmptyParts))
            if (!line.startsWith("# ")) lines << line;
        return lines;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(home_.isValid());
        socketPath_ = home_.filePath("control.sock");
        logPath_ = home_.filePath("capi.log");
        libcapi20Files_ = std::make_unique<Libcapi20Files>();
        std::signal(SIGPIPE, SIG_IGN); // libcapi20 sends without MSG_NOSIGNAL
        for (int attempt = 0; attempt < 20 && !port_; ++attempt) {
            const int port = 20000 + int(QRandomGenerator::global()->bounded(12000));
            if (startServer(port)) port_ = port;
        }
        QVERIFY2(port_, "no free port for the simulator");
        QFile rc(home_.filePath(".capi20rc"));
        QVERIFY(rc.open(QIODevice::WriteOnly));
        rc.write(QStringLiteral("REMOTE rcapi 127.0.0.1 %1\nTRACELEVEL 0\n").arg(port_).toLatin1());
        rc.close();
        // libcapi20 reads $HOME/.capi20rc; HOME must point there before it is loaded.
        qputenv("HOME", home_.path().toLocal8Bit());
        QString error;
        QVERIFY2(capi_.load("libcapi20.so.3", &error), qPrintable(error));
        getProfile_ =
            reinterpret_cast<decltype(getProfile_)>(dlsym(capi_.handle, "capi20_get_profile"));
        getManufacturer_ = reinterpret_cast<decltype(getManufacturer_)>(
            dlsym(capi_.handle, "capi20_get_manufacturer"));
        getVersion_ =
            reinterpret_cast<decltype(getVersion_)>(dlsym(capi_.handle, "capi20_get_version"));
        getSerialNumber_ = reinterpret_cast<decltype(getSerialNumber_)>(
            dlsym(capi_.handle, "capi20_get_serial_number"));
        QVERIFY(getProfile_ && getManufacturer_ && getVersion_ && getSerialNumber_);
    }

    void cleanupTestCase()
    {
        releaseAll();
        stopServer();
        libcapi20Files_.reset();
    }

    void init()
    {
        if (server_.state() == QProcess::NotRunning) QVERIFY(startServer(port_));
        logOffset_ = QFileInfo(logPath_).size();
    }

    void cleanup()
    {
        releaseAll();
        if (server_.state() == QProcess::Running) QCOMPARE(control("fault none"), "ok faults=none");
    }

    void remoteCommandsAreAnswered()
    {
        QCOMPARE(capi_.isinstalled(), 0u);
        unsigned char buffer[128] = {};
        QCOMPARE(getProfile_(0, buffer), 0u);
        QCOMPARE(buffer[0] | buffer[1] << 8, 1); // one controller
        QCOMPARE(getProfile_(1, buffer), 0u);
        QCOMPARE(buffer[2] | buffer[3] << 8, 2); // two B channels
        QCOMPARE(getProfile_(5, buffer), 0x2002u);
        QVERIFY(getManufacturer_(1, buffer));
        QCOMPARE(QByteArray(reinterpret_cast<char *>(buffer)),
                 QByteArray("capisim line simulator"));
        QVERIFY(getVersion_(1, buffer));
        QCOMPARE(u32(QByteArray(reinterpret_cast<char *>(buffer), 16), 0), 2u);
        QCOMPARE(u32(QByteArray(reinterpret_cast<char *>(buffer), 16), 8), 1u);
        QVERIFY(getSerialNumber_(1, buffer));
        QCOMPARE(QByteArray(reinterpret_cast<char *>(buffer)), QByteArray("0000001"));
        QVERIFY(newLogLines().isEmpty()); // remote commands are no CAPI messages
    }

    void ignoredCallOverTcp()
    {
        unsigned appl = 0;
        QCOMPARE(capi_.registerAppl(1, 7, 2048, &appl), 0u);
        appls_ << appl;
        const QByteArray listen = listenReq(appl, 1, 0x1FFF03FF);
        QCOMPARE(capi_.put(appl, listen), 0u);
        const QByteArray listenConf = capi_.fetch(appl);
        QCOMPARE(hex(listenConf), hex(Message(appl, 0x05, 0x81, 1).u32(1).u16(0).bytes()));
        QCOMPARE(control("wait-listening --timeout 5"), "ok listening");
        QCOMPARE(control("status"),
                 QString("ok appls=%1 listening=yes faults=none calls=-").arg(appl));

        QElapsedTimer clock;
        clock.start();
        const QString rung =
            control("ring --from 0441123 --type 0x21 --to 85606 --end-after 0.2 --reason 0x3490");
        QVERIFY2(rung.startsWith("ok 0x"), qPrintable(rung));
        const quint32 plci = rung.mid(3).toUInt(nullptr, 16);
        const QByteArray ind = capi_.fetch(appl);
        QCOMPARE(u16(ind, 2), appl);
        QCOMPARE(commandOf(ind), 0x0282);
        QCOMPARE(u32(ind, 8), plci);
        QCOMPARE(hex(ind.mid(12)), QString("10 00 06 81 38 35 36 30 36 09 21 80 30 34 34 31 31 32 "
                                           "33 00 00 03 80 90 a3 00 02 91 81 00"));
        const QByteArray alert = alertReq(appl, 2, plci);
        QCOMPARE(capi_.put(appl, alert), 0u);
        const QByteArray alertConf = capi_.fetch(appl);
        QCOMPARE(u16(alertConf, 12), 0);
        const QByteArray ignore = connectResp(appl, u16(ind, 6), plci, 1);
        QCOMPARE(capi_.put(appl, ignore), 0u);
        const QByteArray disconnect = capi_.fetch(appl);
        QVERIFY(clock.elapsed() >= 190);
        QCOMPARE(u32(disconnect, 8), plci);
        QCOMPARE(u16(disconnect, 12), 0x3490);
        const QByteArray response = disconnectResp(appl, u16(disconnect, 6), plci);
        QCOMPARE(capi_.put(appl, response), 0u);

        const QStringList expected = {"> " + hex(listen),     "< " + hex(listenConf),
                                      "< " + hex(ind),        "> " + hex(alert),
                                      "< " + hex(alertConf),  "> " + hex(ignore),
                                      "< " + hex(disconnect), "> " + hex(response)};
        QTRY_COMPARE(newLogLines(), expected);
    }

    void acceptedCallAndBurstOverTcp()
    {
        const unsigned appl = registerListening();
        QVERIFY(appl);
        const quint32 plci = control("ring --from 1").mid(3).toUInt(nullptr, 16);
        QCOMPARE(commandOf(capi_.fetch(appl)), 0x0282);
        QCOMPARE(capi_.put(appl, connectResp(appl, 1, plci, 0)), 0u);
        QCOMPARE(commandOf(capi_.fetch(appl)), 0x0382);
        QCOMPARE(commandOf(capi_.fetch(appl)), 0x8282);
        QCOMPARE(capi_.put(appl, connectB3Resp(appl, 3, plci | 0x10000, 0)), 0u);
        QCOMPARE(commandOf(capi_.fetch(appl)), 0x8382);
        QCOMPARE(control("hangup"), QString("ok 0x%1").arg(plci, 0, 16));
        QCOMPARE(commandOf(capi_.fetch(appl)), 0x8482);
        QCOMPARE(commandOf(capi_.fetch(appl)), 0x0482);

        // Many frames in one segment: each one still arrives on its own.
        QVERIFY(control("burst --count 5 --from 100").startsWith("ok 0x"));
        for (int i = 0; i < 5; ++i) {
            const QByteArray ind = capi_.fetch(appl);
            QCOMPARE(commandOf(ind), 0x0282);
            QCOMPARE(ind.mid(19, 3), QByteArray::number(100 + i));
        }
    }

    void faultsOverTcp()
    {
        QCOMPARE(control("fault register-error 0x1007"), "ok faults=register-error=0x1007");
        unsigned appl = 0;
        QCOMPARE(capi_.registerAppl(1, 7, 2048, &appl), 0x1008u); // libcapi20 says 0x1008 for all
        QCOMPARE(control("fault listen-info 0x2002"),
                 "ok faults=register-error=0x1007,listen-info=0x2002");
        QCOMPARE(control("fault register-error 0"), "ok faults=listen-info=0x2002");
        QCOMPARE(capi_.registerAppl(1, 7, 2048, &appl), 0u);
        appls_ << appl;
        QCOMPARE(capi_.put(appl, listenReq(appl, 5, 0x1FFF03FF)), 0u);
        QCOMPARE(u16(capi_.fetch(appl), 12), 0x2002);
        releaseAll(); // also closes libcapi20's control connection

        QCOMPARE(control("fault not-installed"), "ok faults=not-installed,listen-info=0x2002");
        QCOMPARE(capi_.isinstalled(), 0x1009u);
        QCOMPARE(capi_.registerAppl(1, 7, 2048, &appl), 0x1009u);
        QCOMPARE(control("fault none"), "ok faults=none");
        QCOMPARE(capi_.isinstalled(), 0u);
    }

    void lostLineWhenTheServerEnds()
    {
        const unsigned appl = registerListening();
        QVERIFY(appl);
        stopServer();
        QVERIFY(!QFile::exists(socketPath_));
        // libcapi20's view of a vanished server: readable, but get fails, and put soon too.
        timeval timeout{2, 0};
        QCOMPARE(capi_.waitForMessage(appl, &timeout), 0u);
        unsigned char *msg = nullptr;
        QCOMPARE(capi_.getMessage(appl, &msg), 0x1104u);
        unsigned result = capi_.put(appl, listenReq(appl, 2, 0x1FFF03FF));
        if (result == 0) result = capi_.put(appl, listenReq(appl, 3, 0x1FFF03FF));
        QCOMPARE(result, 0x1108u);
        releaseAll();
        QCOMPARE(capi_.isinstalled(), 0x1009u);

        // A restarted server takes the same port at once.
        QVERIFY(startServer(port_));
        const unsigned again = registerListening();
        QVERIFY(again);
    }

    void loseLineFaultClosesEveryConnection()
    {
        const unsigned appl = registerListening();
        QVERIFY(appl);
        QCOMPARE(control("fault lose-line"), "ok faults=lose-line");
        timeval timeout{2, 0};
        QCOMPARE(capi_.waitForMessage(appl, &timeout), 0u);
        unsigned char *msg = nullptr;
        QCOMPARE(capi_.getMessage(appl, &msg), 0x1104u);
        releaseAll();
        QCOMPARE(capi_.isinstalled(), 0x1009u);
        QCOMPARE(control("fault none"), "ok faults=none");
        QVERIFY(registerListening());
    }

    void framesInPiecesAndTogether()
    {
        RawClient control(port_);
        RawClient app(port_);
        QVERIFY(control.connected() && app.connected());
        const QByteArray reg = frame(RegisterBody);
        QVERIFY(app.send(reg.left(5)));
        QTest::qWait(20); // let the first piece arrive on its own
        QVERIFY(app.send(reg.mid(5)));
        QCOMPARE(hex(app.frame()), QString("0a 00 00 00 f3 ff 00 00 00 00"));
        // The control connection is served while the application's stays open.
        QVERIFY(control.send(frame(QByteArray::fromHex("00000000e0ff000000000000"))));
        QCOMPARE(hex(control.frame()), QString("0c 00 00 00 e1 ff 00 00 00 00 01 00"));

        // Two frames in one send; the ApplID comes with the first message.
        QVERIFY(app.send(frame(listenReq(77, 1, 0x1FFF03FF)) + frame(alertReq(77, 2, 0x4401))));
        QCOMPARE(hex(app.frame()), hex(Message(77, 0x05, 0x81, 1).u32(1).u16(0).bytes()));
        QCOMPARE(hex(app.frame()), hex(Message(77, 0x01, 0x81, 2).u32(0x4401).u16(0x2002).bytes()));
        QCOMPARE(this->control("status"), "ok appls=77 listening=yes faults=none calls=-");

        // A frame too short for a message is skipped; the connection goes on.
        QVERIFY(app.send(frame(QByteArray::fromHex("0102"))));
        QVERIFY(app.send(frame(disconnectReq(77, 3, 0x101))));
        QCOMPARE(u16(app.frame(), 12), 0x2002);
    }

    void brokenClientsAreDropped_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("note");
        QTest::newRow("oversized frame")
            << frame(RegisterBody) + QByteArray::fromHex("138800000000")
            << "frame length 5000 out of range, closing";
        QTest::newRow("length below 2")
            << QByteArray::fromHex("0001") << "frame length 1 out of range, closing";
        QTest::newRow("message without register")
            << frame(listenReq(5, 1, 1)) << "CAPI message without a successful REGISTER, closing";
        QTest::newRow("register twice") << frame(RegisterBody) + frame(RegisterBody)
                                        << "REGISTER on a connection in use, closing";
        QTest::newRow("ApplID 0") << frame(RegisterBody) + frame(listenReq(0, 1, 1))
                                  << "appl 0 is invalid or taken, closing";
    }
    void brokenClientsAreDropped()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, note);
        RawClient client(port_);
        QVERIFY(client.connected());
        QVERIFY(client.send(bytes));
        while (client.frame().size() > 0) {
        }
        QVERIFY(client.closedByServer());
        QVERIFY(logHolds(note.toLatin1()));
        QVERIFY(registerListening()); // the server goes on
    }

    void clientVanishingMidFrame()
    {
        {
            RawClient client(port_);
            QVERIFY(client.send(frame(RegisterBody)));
            QCOMPARE(client.frame().size(), 10);
            QVERIFY(client.send(frame(listenReq(9, 1, 1)).left(10)));
        }
        QTRY_VERIFY(logHolds("closed in the middle of a frame"));
        QCOMPARE(control("status"), "ok appls=- listening=no faults=none calls=-");
    }
};

QTEST_GUILESS_MAIN(TestCapisimRcapi)
#include "tst_capisim_rcapi.moc"
