// libcapisim.so as the program loads it: dlopen, the capi20_* functions from
// two threads, the control socket and the capisim tool, the message log.

#include "tests/capisim/CapiTestSupport.h"
#include "tools/capisim/CapisimClient.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <future>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace capitest;

class TestCapisimInProcess : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir_;
    QString socketPath_;
    QString logPath_;
    qint64 logOffset_ = 0;
    CapiFunctions capi_;
    QList<unsigned> appls_;

    QString control(const QString &command)
    {
        std::string reply;
        const bool ok = capisim::runCommand(socketPath_.toStdString(), command.toStdString(),
                                            &reply, 5000, 2000);
        return (ok ? "ok " : "error ") + QString::fromStdString(reply);
    }

    // Runs the capisim tool; returns its exit code, stdout and stderr.
    int tool(const QStringList &arguments, QString *out = nullptr, QString *err = nullptr)
    {
        QProcess process;
        process.start(QStringLiteral(CAPISIM_TOOL), arguments);
        if (!process.waitForFinished(15000)) return -1;
        if (out) *out = QString::fromUtf8(process.readAllStandardOutput());
        if (err) *err = QString::fromUtf8(process.readAllStandardError());
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    unsigned registerAppl()
    {
        unsigned appl = 0;
        const unsigned result = capi_.registerAppl(1, 7, 2048, &appl);
        if (result != 0) {
            qWarning("register returned 0x%x", result);
            return 0;
        }
        appls_.append(appl);
        return appl;
    }

    unsigned registerListening()
    {
        const unsigned appl = registerAppl();
        if (appl && (capi_.put(appl, listenReq(appl, 1, 0x1FFF03FF)) != 0 ||
                     commandOf(capi_.fetch(appl)) != 0x0581))
            return 0;
        return appl;
    }

    void release(unsigned appl)
    {
        QCOMPARE(capi_.release(appl), 0u);
        appls_.removeAll(appl);
    }

    quint32 ring(const QString &options)
    {
        const QString reply = control("ring " + options);
        if (!reply.startsWith("ok 0x")) qWarning() << reply;
        return reply.mid(3).toUInt(nullptr, 16);
    }

    QStringList newLogLines()
    {
        QFile log(logPath_);
        if (!log.open(QIODevice::ReadOnly) || !log.seek(logOffset_)) return {};
        return QString::fromLatin1(log.readAll()).split('\n', Qt::SkipEmptyParts);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        socketPath_ = dir_.filePath("control.sock");
        logPath_ = dir_.filePath("capi.log");
        qputenv("CAPISIM_SOCKET", socketPath_.toLocal8Bit());
        qputenv("CAPISIM_LOG", logPath_.toLocal8Bit());
        qunsetenv("CAPISIM_FAULT");
        QString error;
        QVERIFY2(capi_.load(CAPISIM_LIBRARY, &error), qPrintable(error));
    }

    void init() { logOffset_ = QFileInfo(logPath_).size(); }

    void cleanup()
    {
        capi_.isinstalled(); // the control socket only serves while the line is in use
        QCOMPARE(control("fault none"), "ok faults=none");
        for (unsigned appl : std::as_const(appls_))
            capi_.release(appl);
        appls_.clear();
    }

    void exportsOnlyTheCapiFunctions()
    {
        QProcess nm;
        nm.start("nm", {"-D", "--defined-only", CAPISIM_LIBRARY});
        if (!nm.waitForFinished(10000)) QSKIP("nm is not available");
        QStringList names;
        for (const QString &line : QString::fromLatin1(nm.readAllStandardOutput()).split('\n'))
            if (!line.isEmpty()) names << line.section(' ', 2);
        names.sort();
        QCOMPARE(names, QStringList({"capi20_fileno", "capi20_get_message", "capi20_isinstalled",
                                     "capi20_put_message", "capi20_register", "capi20_release",
                                     "capi20_waitformessage"}));
    }

    void ignoredCallEndsAfterEndAfter()
    {
        QCOMPARE(capi_.isinstalled(), 0u);
        const unsigned appl = registerAppl();
        QVERIFY(appl);
        struct stat info;
        QCOMPARE(::stat(socketPath_.toLocal8Bit().constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0600u);
        QCOMPARE(tool({"wait-listening", "--timeout", "0.1"}), 1);

        const QByteArray listen = listenReq(appl, 1, 0x1FFF03FF);
        QCOMPARE(capi_.put(appl, listen), 0u);
        const QByteArray listenConf = capi_.fetch(appl);
        QCOMPARE(commandOf(listenConf), 0x0581);
        QString out;
        QCOMPARE(tool({"wait-listening", "--timeout", "5"}, &out), 0);
        QCOMPARE(out, "listening\n");

        QElapsedTimer clock;
        clock.start();
        QCOMPARE(tool({"ring", "--from", "0441123", "--type", "0x21", "--to", "85606",
                       "--end-after", "0.2", "--reason", "0x34a2"},
                      &out),
                 0);
        const quint32 plci = out.trimmed().toUInt(nullptr, 16);
        QCOMPARE(plci & 0xFFFF00FF, 1u);
        const QByteArray ind = capi_.fetch(appl);
        QCOMPARE(u16(ind, 0), 42);
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
        QCOMPARE(control("status"),
                 QString("ok appls=%1 listening=yes faults=none calls=0x%2:ignored")
                     .arg(appl)
                     .arg(plci, 0, 16));

        const QByteArray disconnect = capi_.fetch(appl);
        QVERIFY(clock.elapsed() >= 190);
        QCOMPARE(commandOf(disconnect), 0x0482);
        QCOMPARE(u32(disconnect, 8), plci);
        QCOMPARE(u16(disconnect, 12), 0x34a2);
        const QByteArray response = disconnectResp(appl, u16(disconnect, 6), plci);
        QCOMPARE(capi_.put(appl, response), 0u);
        QVERIFY(control("status").endsWith("calls=-"));

        // The log holds every message in both directions, in order, and nothing else.
        const QStringList expected = {"> " + hex(listen),     "< " + hex(listenConf),
                                      "< " + hex(ind),        "> " + hex(alert),
                                      "< " + hex(alertConf),  "> " + hex(ignore),
                                      "< " + hex(disconnect), "> " + hex(response)};
        QCOMPARE(newLogLines(), expected);
    }

    void acceptedCallClearedByTheProgram()
    {
        const unsigned appl = registerListening();
        QVERIFY(appl);
        const quint32 plci = ring("--from 123 --end-after 0.1");
        QCOMPARE(commandOf(capi_.fetch(appl)), 0x0282);
        QCOMPARE(capi_.put(appl, connectResp(appl, 1, plci, 0)), 0u);
        QCOMPARE(commandOf(capi_.fetch(appl)), 0x0382);
        const QByteArray b3 = capi_.fetch(appl);
        QCOMPARE(commandOf(b3), 0x8282);
        QCOMPARE(u32(b3, 8), plci | 0x10000);
        QCOMPARE(capi_.put(appl, disconnectReq(appl, 9, plci)), 0u);
        const QByteArray conf = capi_.fetch(appl);
        QCOMPARE(commandOf(conf), 0x0481);
        QCOMPARE(u16(conf, 6), 9);
        QCOMPARE(u16(conf, 12), 0);
        const QByteArray ind = capi_.fetch(appl);
        QCOMPARE(commandOf(ind), 0x0482);
        QCOMPARE(u16(ind, 12), 0);
        QVERIFY(capi_.fetch(appl, 200).isEmpty()); // the cancelled end-after stays quiet
    }

    void hangupEndsARingingCall()
    {
        const unsigned appl = registerListening();
        QVERIFY(appl);
        const quint32 plci = ring("--from 5");
        capi_.fetch(appl);
        QCOMPARE(capi_.put(appl, connectResp(appl, 1, plci, 1)), 0u);
        QVERIFY(capi_.fetch(appl, 100).isEmpty()); // ignored calls ring on
        QCOMPARE(control(QString("hangup --plci 0x%1 --reason 0x3400").arg(plci, 0, 16)),
                 QString("ok 0x%1").arg(plci, 0, 16));
        const QByteArray ind = capi_.fetch(appl);
        QCOMPARE(u32(ind, 8), plci);
        QCOMPARE(u16(ind, 12), 0x3400);
    }

    void waitTimesOutAndReleaseWakesIt()
    {
        const unsigned appl = registerAppl();
        QVERIFY(appl);
        QElapsedTimer clock;
        clock.start();
        timeval timeout{0, 150000};
        QCOMPARE(capi_.waitForMessage(appl, &timeout), 0x1104u);
        QVERIFY(clock.elapsed() >= 140);
        unsigned char *msg = nullptr;
        QCOMPARE(capi_.getMessage(appl, &msg), 0x1104u);

        auto waiter = std::async(std::launch::async,
                                 [this, appl] { return capi_.waitForMessage(appl, nullptr); });
        QCOMPARE(waiter.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
        release(appl);
        QCOMPARE(waiter.wait_for(std::chrono::seconds(5)), std::future_status::ready);
        QCOMPARE(waiter.get(), 0x1101u);

        // The control socket goes with the last ApplID and comes back with the next use.
        QVERIFY(!QFile::exists(socketPath_));
        QCOMPARE(capi_.isinstalled(), 0u);
        QVERIFY(QFile::exists(socketPath_));
        QCOMPARE(capi_.release(appl), 0x1101u);
    }

    void applIdsAreTheLowestFree()
    {
        const unsigned first = registerAppl();
        const unsigned second = registerAppl();
        QCOMPARE(first, 1u);
        QCOMPARE(second, 2u);
        release(first);
        QCOMPARE(registerAppl(), 1u);
    }

    void putReadsOnlyTheMessage()
    {
        const unsigned appl = registerAppl();
        QVERIFY(appl);
        // Buffers of exactly the message's length: a read beyond them trips ASan.
        auto putExact = [this, appl](const QByteArray &bytes) {
            std::vector<unsigned char> exact(bytes.begin(), bytes.end());
            return capi_.putMessage(appl, exact.data());
        };
        QCOMPARE(putExact(QByteArray::fromHex("0500010005")), 0x1102u);
        QCOMPARE(putExact(QByteArray::fromHex("0100")), 0x1102u);
        QCOMPARE(putExact(QByteArray::fromHex("b80b")), 0x1102u); // 3000 > SEND_BUFSIZ
        QCOMPARE(putExact(listenReq(appl, 4, 0x1FFF03FF)), 0u);
        QCOMPARE(u16(capi_.fetch(appl), 6), 4);
        QCOMPARE(capi_.put(appl, QByteArray::fromHex("0c0001007780010001000000")), 0x1102u);
        QCOMPARE(capi_.put(appl + 100, listenReq(appl + 100, 1, 1)), 0x1101u);
        unsigned char *msg = nullptr;
        QCOMPARE(capi_.getMessage(appl + 100, &msg), 0x1101u);
        const QStringList log = newLogLines();
        QVERIFY(log.size() >= 5);
        QVERIFY(log.first().startsWith("# refused put of appl"));
    }

    void faultsOnCommand()
    {
        QCOMPARE(capi_.isinstalled(), 0u);
        QCOMPARE(control("fault register-error 0x1007"), "ok faults=register-error=0x1007");
        unsigned appl = 0;
        QCOMPARE(capi_.registerAppl(1, 7, 2048, &appl), 0x1007u);
        QCOMPARE(control("fault none"), "ok faults=none");
        appl = registerAppl();
        QVERIFY(appl);

        QCOMPARE(control("fault listen-info 0x2002"), "ok faults=listen-info=0x2002");
        QCOMPARE(capi_.put(appl, listenReq(appl, 3, 0x1FFF03FF)), 0u);
        QCOMPARE(u16(capi_.fetch(appl), 12), 0x2002);
        QVERIFY(control("status").contains("listening=no"));

        QCOMPARE(control("fault not-installed"), "ok faults=not-installed,listen-info=0x2002");
        QCOMPARE(capi_.isinstalled(), 0x1009u);
        unsigned refused = 0;
        QCOMPARE(capi_.registerAppl(1, 7, 2048, &refused), 0x1009u);
        // Registered applications keep working.
        QCOMPARE(control("fault listen-info 0"), "ok faults=not-installed");
        QCOMPARE(capi_.put(appl, listenReq(appl, 4, 0x1FFF03FF)), 0u);
        QCOMPARE(u16(capi_.fetch(appl), 12), 0);
        QCOMPARE(control("fault none"), "ok faults=none");
        QCOMPARE(capi_.isinstalled(), 0u);
    }

    void lostLineAndItsReturn()
    {
        const unsigned lost = registerListening();
        QVERIFY(lost);
        auto waiter = std::async(std::launch::async,
                                 [this, lost] { return capi_.waitForMessage(lost, nullptr); });
        QCOMPARE(waiter.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
        QCOMPARE(control("fault lose-line"), "ok faults=lose-line");
        QCOMPARE(waiter.wait_for(std::chrono::seconds(5)), std::future_status::ready);
        QCOMPARE(waiter.get(), 0u);
        // What libcapi20 shows when the far side went away: readable, but nothing to get.
        timeval timeout{0, 0};
        QCOMPARE(capi_.waitForMessage(lost, &timeout), 0u);
        unsigned char *msg = nullptr;
        QCOMPARE(capi_.getMessage(lost, &msg), 0x1104u);
        QCOMPARE(capi_.put(lost, listenReq(lost, 2, 0x1FFF03FF)), 0x1108u);
        QCOMPARE(capi_.isinstalled(), 0x1009u);
        unsigned appl = 0;
        QCOMPARE(capi_.registerAppl(1, 7, 2048, &appl), 0x1009u);
        QCOMPARE(control("ring --from 1"), "error no application is listening for CIP 16");

        QCOMPARE(control("fault none"), "ok faults=none");
        const unsigned fresh = registerListening();
        QVERIFY(fresh);
        QVERIFY(fresh != lost); // the lost ApplID is held until its release
        release(lost);
        ring("--from 1");
        QCOMPARE(commandOf(capi_.fetch(fresh)), 0x0282);
    }

    void sendHexDeliversTheBytesAsGiven()
    {
        const unsigned appl = registerAppl();
        QVERIFY(appl);
        QCOMPARE(control("send-hex 0a 00 01 00 02 82 05 00 01 01"), "ok ");
        unsigned char *msg = nullptr;
        QCOMPARE(capi_.waitForMessage(appl, nullptr), 0u);
        QCOMPARE(capi_.getMessage(appl, &msg), 0u);
        QCOMPARE(hex(QByteArray(reinterpret_cast<char *>(msg), 10)),
                 QString("0a 00 01 00 02 82 05 00 01 01"));
        // A length field beyond the bytes: the buffer still covers it, zero-filled.
        QCOMPARE(control("send-hex 2000ff"), "ok ");
        QCOMPARE(capi_.getMessage(appl, &msg), 0u);
        QCOMPARE(msg[2], 0xff);
        QCOMPARE(QByteArray(reinterpret_cast<char *>(msg) + 3, 29), QByteArray(29, '\0'));
        QCOMPARE(newLogLines(), QStringList({"< 0a 00 01 00 02 82 05 00 01 01", "< 20 00 ff"}));
    }

    void burstRingsNumberedCalls()
    {
        const unsigned appl = registerListening();
        QVERIFY(appl);
        QString out;
        QCOMPARE(tool({"burst", "--count", "3", "--from", "0441", "--to", "7"}, &out), 0);
        const QStringList plcis = out.trimmed().split(' ');
        QCOMPARE(plcis.size(), 3);
        for (int i = 0; i < 3; ++i) {
            const QByteArray ind = capi_.fetch(appl);
            QCOMPARE(u32(ind, 8), plcis.at(i).toUInt(nullptr, 16));
            QCOMPARE(ind.mid(20, 4), QByteArray::number(441 + i).prepend('0'));
        }
    }

    void concurrentPutsAndFetches()
    {
        const unsigned appl = registerAppl();
        QVERIFY(appl);
        constexpr int Count = 300;
        auto reader = std::async(std::launch::async, [this, appl] {
            QList<int> numbers;
            while (numbers.size() < Count) {
                const QByteArray conf = capi_.fetch(appl, 5000);
                if (conf.isEmpty()) break;
                numbers << u16(conf, 6);
            }
            return numbers;
        });
        QList<int> sent;
        for (int i = 1; i <= Count; ++i) {
            QCOMPARE(capi_.put(appl, listenReq(appl, quint16(i), i % 2 ? 0x1FFF03FF : 0x2)), 0u);
            sent << i;
        }
        QCOMPARE(reader.wait_for(std::chrono::seconds(20)), std::future_status::ready);
        QCOMPARE(reader.get(), sent);
    }

    void toolAndSocketRefuseBadRequests()
    {
        QVERIFY(registerAppl());
        QString out;
        QString err;
        QCOMPARE(tool({"frobnicate"}, &out, &err), 1);
        QCOMPARE(err, "capisim: unknown command 'frobnicate' (try help)\n");
        QCOMPARE(tool({"ring", "--type", "0x121"}, &out, &err), 1);
        QVERIFY(err.startsWith("capisim: --type needs a number"));
        QCOMPARE(tool({"--socket", dir_.filePath("nowhere.sock"), "status"}, &out, &err), 1);
        QVERIFY(err.startsWith("capisim: cannot reach the simulator"));
        QCOMPARE(tool({"status"}, &out), 0);
        QVERIFY(out.startsWith("appls="));

        // Raw clients: an endless line gets an error and the connection closes; a client
        // that shuts down its side after the request still gets the reply.
        auto exchange = [this](const QByteArray &request, bool halfClose) {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            qstrncpy(address.sun_path, socketPath_.toLocal8Bit().constData(),
                     sizeof address.sun_path);
            QByteArray reply;
            if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
                ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) ==
                    request.size()) {
                if (halfClose) ::shutdown(fd, SHUT_WR);
                char buffer[256];
                for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
                    reply.append(buffer, n);
            }
            ::close(fd);
            return reply;
        };
        QCOMPARE(exchange(QByteArray(20000, 'x'), false),
                 QByteArray("error request line longer than 8192 bytes\n"));
        QCOMPARE(exchange("hangup --plci 0x7f01\nfault\n", true),
                 QByteArray("error no call with PLCI 0x7f01\nerror usage: fault "
                            "none|not-installed|lose-line|register-error CODE|listen-info CODE\n"));
        QVERIFY(control("status").startsWith("ok appls="));
    }
};

QTEST_GUILESS_MAIN(TestCapisimInProcess)
#include "tst_capisim_inprocess.moc"
