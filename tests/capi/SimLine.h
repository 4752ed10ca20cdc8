// A simulated ISDN line for the CAPI tests: the line simulator either loaded in
// process in place of libcapi20, or as "capisim serve" behind the real libcapi20
// (rcapi over TCP on 127.0.0.1). Drives the exchange through its control socket and
// reads what the program put on the line from the exchange's log.
#pragma once

#include "tests/Libcapi20Files.h"
#include "tools/capisim/CapisimClient.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

class SimLine
{
public:
    enum Mode
    {
        InProcess,
        RemoteRcapi
    };

    // Sets up the environment before the binding loads its library.
    bool setUp(Mode mode, QString *error)
    {
        FMode = mode;
        if (!FDir.isValid()) {
            *error = QStringLiteral("no temporary directory");
            return false;
        }
        FSocket = FDir.filePath(QStringLiteral("control.sock"));
        FLog = FDir.filePath(QStringLiteral("line.log"));
        qputenv("CAPISIM_SOCKET", FSocket.toLocal8Bit());
        qputenv("CAPISIM_LOG", FLog.toLocal8Bit());
        if (mode == InProcess) {
            qputenv("CORVANE_CAPI_LIBRARY", CAPISIM_LIBRARY);
            return true;
        }
        // libcapi20 sends without MSG_NOSIGNAL, and the binding leaves SIGPIPE alone when the
        // test framework has a handler for it: a lost line would end the test.
        std::signal(SIGPIPE, SIG_IGN);
        FLibcapi20Files = std::make_unique<Libcapi20Files>();
        for (int attempt = 0; attempt < 20 && !FPort; ++attempt) {
            const int port = 20000 + int(QRandomGenerator::global()->bounded(12000));
            if (startServer(port)) FPort = port;
        }
        if (!FPort) {
            *error = QStringLiteral("no free port for the simulator");
            return false;
        }
        QFile rc(FDir.filePath(QStringLiteral(".capi20rc")));
        if (!rc.open(QIODevice::WriteOnly)) return false;
        // libcapi20 drops the last character of every line: the newline must be there.
        rc.write(QStringLiteral("REMOTE rcapi 127.0.0.1 %1\nTRACELEVEL 0\n").arg(FPort).toLatin1());
        rc.close();
        qputenv("HOME", FDir.path().toLocal8Bit());
        qunsetenv("CORVANE_CAPI_LIBRARY");
        return true;
    }

    void tearDown()
    {
        stopServer();
        FLibcapi20Files.reset();
    }

    Mode mode() const { return FMode; }

    // The remote controller goes away (rcapi) or the library reports a lost line.
    bool loseLine()
    {
        if (FMode == RemoteRcapi) {
            stopServer();
            return true;
        }
        return command(QStringLiteral("fault lose-line"));
    }

    bool restoreLine()
    {
        if (FMode == RemoteRcapi) return startServer(FPort);
        return command(QStringLiteral("fault none"));
    }

    bool command(const QString &line, QString *reply = nullptr)
    {
        std::string text;
        const bool ok =
            capisim::runCommand(FSocket.toStdString(), line.toStdString(), &text, 5000, 3000);
        if (!ok) qWarning("capisim %s: %s", qPrintable(line), text.c_str());
        if (reply) *reply = QString::fromStdString(text);
        return ok;
    }

    // Starts a new section of the log; put() and got() see only what follows.
    void mark() { FLogOffset = QFileInfo(FLog).size(); }

    // The messages the program put on the line since the mark, as hex.
    QStringList put() const { return lines(QStringLiteral("> ")); }
    // The messages the program fetched since the mark.
    QStringList got() const { return lines(QStringLiteral("< ")); }

    // A CONNECT_IND of a telephony call from a national number to 85606 on this PLCI, as
    // hex for "send-hex": the exchange offers a PLCI it never cleared.
    static QString connectIndHex(uint16_t applId, uint32_t plci, const QByteArray &from)
    {
        const QByteArray body = QByteArray::fromHex("1000") // CIP telephony
                                + QByteArray::fromHex("0681") + "85606" // called party
                                + char(2 + from.size()) + QByteArray::fromHex("2180") + from +
                                QByteArray::fromHex("0000038090a30002918100");
        QByteArray message(8, '\0');
        const int length = 8 + 4 + int(body.size());
        message[0] = char(length & 0xFF);
        message[1] = char(length >> 8);
        message[2] = char(applId & 0xFF);
        message[3] = char(applId >> 8);
        message[4] = 0x02; // CONNECT
        message[5] = char(0x82); // IND
        for (int i = 0; i < 4; ++i)
            message.append(char((plci >> (8 * i)) & 0xFF));
        return QString::fromLatin1((message + body).toHex(' '));
    }

    // Waits until the program has put a message that starts with the given hex.
    bool waitForPut(const QString &prefix, int timeoutMs = 5000) const
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < timeoutMs) {
            for (const QString &line : put())
                if (line.startsWith(prefix)) return true;
            QTest::qWait(5);
        }
        return false;
    }

private:
    QStringList lines(const QString &direction) const
    {
        QFile log(FLog);
        if (!log.open(QIODevice::ReadOnly) || !log.seek(FLogOffset)) return {};
        QStringList result;
        for (const QString &line : QString::fromLatin1(log.readAll()).split(QLatin1Char('\n')))
            if (line.startsWith(direction)) result << line.mid(direction.size());
        return result;
    }

    bool startServer(int port)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("CAPISIM_LOG"), FLog);
        environment.remove(QStringLiteral("CAPISIM_FAULT"));
        FServer.setProcessEnvironment(environment);
        FServer.start(QStringLiteral(CAPISIM_TOOL),
                      {QStringLiteral("serve"), QStringLiteral("--rcapi-port"),
                       QString::number(port), QStringLiteral("--socket"), FSocket});
        if (!FServer.waitForStarted(5000)) return false;
        while (!FServer.canReadLine()) {
            if (!FServer.waitForReadyRead(5000)) {
                FServer.waitForFinished(1000);
                return false;
            }
        }
        return FServer.readLine().contains("rcapi on 127.0.0.1:" + QByteArray::number(port));
    }

    void stopServer()
    {
        if (FServer.state() == QProcess::NotRunning) return;
        FServer.terminate();
        FServer.waitForFinished(5000);
    }

    Mode FMode = InProcess;
    QTemporaryDir FDir;
    QString FSocket;
    QString FLog;
    qint64 FLogOffset = 0;
    int FPort = 0;
    QProcess FServer;
    std::unique_ptr<Libcapi20Files> FLibcapi20Files;
};
