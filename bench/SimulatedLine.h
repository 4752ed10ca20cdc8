// What the benchmarks on the simulated line share: the simulator loaded in process with its
// control socket and timed log in a folder of the benchmark's, and a wait that lets the event
// loop turn.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <vector>

// Call before the application object: the line simulator in process (unless
// CORVANE_CAPI_LIBRARY names another library), the windows without a screen, the simulator's
// socket and log (with times) in dir.
inline void UseSimulatedLine(const QTemporaryDir &dir)
{
    if (qEnvironmentVariableIsEmpty("CORVANE_CAPI_LIBRARY"))
        qputenv("CORVANE_CAPI_LIBRARY", CAPISIM_LIBRARY);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("CAPISIM_SOCKET", dir.filePath("control.sock").toLocal8Bit());
    qputenv("CAPISIM_LOG", dir.filePath("line.log").toLocal8Bit());
    qputenv("CAPISIM_LOG_TIMES", "1");
}

// Lets the event loop turn until done or the time is up; false on time-out.
inline bool WaitFor(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// From the simulator's timed log, after offset from: when each CONNECT_IND was fetched, and how
// long its answer (ALERT_REQ or CONNECT_RESP) took, in microseconds of the steady clock.
struct LineTimes
{
    std::vector<qint64> offers;
    std::vector<qint64> answers;
};
inline LineTimes ReadLineTimes(const QString &log, qint64 from)
{
    auto plciOf = [](const QStringList &bytes) {
        return bytes.at(8).toUInt(nullptr, 16) | bytes.at(9).toUInt(nullptr, 16) << 8 |
               bytes.at(10).toUInt(nullptr, 16) << 16 | bytes.at(11).toUInt(nullptr, 16) << 24;
    };
    LineTimes times;
    QFile file(log);
    if (!file.open(QIODevice::ReadOnly)) return times;
    file.seek(from);
    QHash<uint32_t, qint64> waiting; // PLCI -> its CONNECT_IND, until the answer
    for (const QByteArray &raw : file.readAll().split('\n')) {
        const QString line = QString::fromLatin1(raw);
        const qsizetype at = line.lastIndexOf(QLatin1String(" @"));
        const QStringList bytes = line.mid(2, at - 2).split(QLatin1Char(' '));
        if (at < 0 || bytes.size() < 12) continue;
        const qint64 time = line.mid(at + 2).toLongLong();
        const QString command = bytes.at(4) + bytes.at(5);
        const uint32_t plci = plciOf(bytes);
        if (line.startsWith(QLatin1String("< ")) && command == QLatin1String("0282")) {
            times.offers.push_back(time);
            waiting.insert(plci, time);
        } else if (line.startsWith(QLatin1String("> ")) && waiting.contains(plci) &&
                   (command == QLatin1String("0180") || command == QLatin1String("0283"))) {
            times.answers.push_back(time - waiting.take(plci));
        }
    }
    return times;
}
