// The modem simulator (tools/modemsim) as a test's modem: started with its answers, its
// pseudo-terminal's path read from its first line, its log read back.
#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <time.h>

class ModemSimProcess
{
public:
    // answers: script lines tried before the built-in ones ("ATD*; OK | +2000 BUSY").
    bool start(const QStringList &answers = {}, const QStringList &extra = {})
    {
        QStringList arguments;
        for (const QString &answer : answers)
            arguments << QStringLiteral("--answer") << answer;
        arguments << QStringLiteral("--log") << logPath() << extra;
        FProcess.setProcessChannelMode(QProcess::SeparateChannels);
        FProcess.start(QStringLiteral(MODEMSIM_PROGRAM), arguments);
        if (!FProcess.waitForStarted(5000)) return false;
        QElapsedTimer clock;
        clock.start();
        while (!FProcess.canReadLine() && clock.elapsed() < 10000)
            FProcess.waitForReadyRead(200);
        FPath = QString::fromLocal8Bit(FProcess.readLine()).trimmed();
        return !FPath.isEmpty();
    }

    ~ModemSimProcess() { stop(); }

    void stop()
    {
        if (FProcess.state() == QProcess::NotRunning) return;
        FProcess.terminate();
        if (!FProcess.waitForFinished(5000)) {
            FProcess.kill();
            FProcess.waitForFinished();
        }
    }

    bool running() const { return FProcess.state() == QProcess::Running; }
    QString path() const { return FPath; }
    QString logPath() const { return FDir.filePath(QStringLiteral("modem.log")); }

    // The commands the modem received, in order ("AT", "ATD0441123;", "ATH").
    QStringList received() const { return entries('<'); }
    QStringList sent() const { return entries('>'); }

    // Microseconds of the monotonic clock at which the modem received command, each time.
    QList<qint64> receivedTimes(const QString &command) const { return times('<', command); }
    // The first time, or -1 when it has not.
    qint64 receivedAt(const QString &command) const
    {
        const QList<qint64> found = receivedTimes(command);
        return found.isEmpty() ? -1 : found.first();
    }
    // When the modem first sent reply, or -1.
    qint64 sentAt(const QString &reply) const
    {
        const QList<qint64> found = times('>', reply);
        return found.isEmpty() ? -1 : found.first();
    }

    static qint64 monotonicMicros()
    {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return qint64(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
    }

private:
    QStringList logLines() const
    {
        QFile log(logPath());
        if (!log.open(QIODevice::ReadOnly)) return {};
        return QString::fromLatin1(log.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }

    QList<qint64> times(char direction, const QString &text) const
    {
        QList<qint64> found;
        for (const QString &line : logLines()) {
            if (line.section(u' ', 1, 1) == QLatin1Char(direction) && line.section(u' ', 2) == text)
                found << line.section(u' ', 0, 0).toLongLong();
        }
        return found;
    }

    QStringList entries(char direction) const
    {
        QStringList found;
        for (const QString &line : logLines()) {
            if (line.section(u' ', 1, 1) == QLatin1Char(direction)) found << line.section(u' ', 2);
        }
        return found;
    }

    QTemporaryDir FDir;
    QProcess FProcess;
    QString FPath;
};
