// The whole program on a line through the real libcapi20 over TCP ("capisim serve" as the
// remote CAPI server), with empty lists and with 100,000 stored calls and 10,000 nicknames:
//   start-up: program start -> its LISTEN_REQ on the line (median of the starts)
//   calls: CONNECT_IND sent -> ALERT_REQ received (median and maximum)
// Both ends are timed by the simulator's log (CAPISIM_LOG_TIMES, the machine's monotonic
// clock). Several program files may be given (an older build beside a newer one): they are
// measured in turns in one run, so a loaded machine weighs on each alike.
//
// Run: bench_program [--calls N] [--starts N] [--stored N] PROGRAM...
//      (the default PROGRAM is this build's corvane)

#include "bench/ListData.h"
#include "lists/ListPrompts.h"
#include "lists/lists.h"
#include "settings/SettingsStore.h"
#include "tools/capisim/CapisimClient.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace {

qint64 nowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct LogLine
{
    bool fromProgram = false;
    QString command; // e.g. "0580" for LISTEN_REQ
    uint32_t address = 0;
    qint64 time = 0;
};

// The timed message lines of the simulator's log after the offset.
QList<LogLine> readLog(const QString &path, qint64 offset)
{
    QFile file(path);
    QList<LogLine> lines;
    if (!file.open(QIODevice::ReadOnly) || !file.seek(offset)) return lines;
    for (const QByteArray &raw : file.readAll().split('\n')) {
        const QString line = QString::fromLatin1(raw);
        const qsizetype at = line.lastIndexOf(QLatin1String(" @"));
        if (at < 0 || line.size() < 3) continue;
        const QStringList bytes = line.mid(2, at - 2).split(QLatin1Char(' '));
        if (bytes.size() < 12) continue;
        LogLine entry;
        entry.fromProgram = line.startsWith(QLatin1String("> "));
        entry.command = bytes.at(4) + bytes.at(5);
        for (int i = 0; i < 4; ++i)
            entry.address |= bytes.at(8 + i).toUInt(nullptr, 16) << (8 * i);
        entry.time = line.mid(at + 2).toLongLong();
        lines.append(entry);
    }
    return lines;
}

double median(std::vector<double> values)
{
    if (values.empty()) return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Figures
{
    std::vector<double> startMs;
    std::vector<double> alertMs;
};

class Bench
{
public:
    QString capisim;
    int calls = 200;
    int starts = 5;

    bool setUp()
    {
        FSocket = FDir.filePath("control.sock");
        FLog = FDir.filePath("line.log");
        for (int attempt = 0; attempt < 20 && !FServer.waitForStarted(0); ++attempt) {
            FPort = 20000 + int(QRandomGenerator::global()->bounded(12000));
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("CAPISIM_LOG", FLog);
            environment.insert("CAPISIM_LOG_TIMES", "1");
            FServer.setProcessEnvironment(environment);
            FServer.start(capisim,
                          {"serve", "--rcapi-port", QString::number(FPort), "--socket", FSocket});
            if (!FServer.waitForStarted(5000) || !FServer.waitForReadyRead(5000)) {
                FServer.kill();
                FServer.waitForFinished();
            }
        }
        QFile rc(FDir.filePath(".capi20rc"));
        if (!rc.open(QIODevice::WriteOnly)) return false;
        // libcapi20 drops the last character of every line: the newline must be there.
        rc.write(QStringLiteral("REMOTE rcapi 127.0.0.1 %1\nTRACELEVEL 0\n").arg(FPort).toLatin1());
        return FServer.state() == QProcess::Running;
    }

    ~Bench()
    {
        FServer.terminate();
        FServer.waitForFinished(5000);
    }

    // A data directory with the lists, and settings that skip the start screen.
    QString makeData(int stored)
    {
        const QString dir = FDir.filePath(QStringLiteral("data-%1-%2").arg(stored).arg(FRuns++));
        QDir().mkpath(dir);
        SettingsStore settings(dir + "/corvane.ini");
        settings.readAll();
        settings.settings.showNag = false;
        settings.settings.balloon = false;
        settings.writeAll();
        ScriptedPrompts prompts;
        TLists lists(settings, prompts, dir);
        lists.calls().setRows(makeCalls(stored));
        lists.nicks().setRows(makeNicks(stored > 0 ? 10000 : 0));
        lists.SaveList(ListKind::Calls);
        lists.SaveList(ListKind::Nicks);
        lists.SaveList(ListKind::Msn);
        return dir;
    }

    // One start of the program: the time to its LISTEN_REQ, then (last start only) calls.
    bool run(const QString &program, const QString &data, bool ring, Figures &figures)
    {
        const qint64 offset = QFileInfo(FLog).size();
        QProcess corvane;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("CORVANE_HOME", data);
        environment.insert("HOME", FDir.path());
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.remove("CORVANE_CAPI_LIBRARY");
        corvane.setProcessEnvironment(environment);
        corvane.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const qint64 started = nowUs();
        corvane.start(program, {});
        if (!corvane.waitForStarted(10000)) return false;
        qint64 listened = 0;
        QElapsedTimer clock;
        clock.start();
        while (!listened && clock.elapsed() < 60000) {
            for (const LogLine &line : readLog(FLog, offset))
                if (line.fromProgram && line.command == QLatin1String("0580")) {
                    listened = line.time;
                    break;
                }
            QThread::msleep(2);
        }
        if (!listened) return false;
        figures.startMs.push_back(double(listened - started) / 1000.0);
        QThread::msleep(1500); // the display timer's first ticks, the settled start

        for (int call = 0; ring && call < calls; ++call) {
            const qint64 before = QFileInfo(FLog).size();
            std::string reply;
            capisim::runCommand(FSocket.toStdString(),
                                "ring --from " + std::to_string(3010000 + call) +
                                    " --type 0x21 --to 85606 --end-after 0.05 --reason 0x3490",
                                &reply, 5000);
            const uint32_t plci =
                QString::fromStdString(reply).section(' ', 0, 0).toUInt(nullptr, 16);
            qint64 offered = 0, alerted = 0, ended = 0;
            clock.restart();
            while (!ended && clock.elapsed() < 10000) {
                QThread::msleep(5);
                for (const LogLine &line : readLog(FLog, before)) {
                    if (line.address != plci) continue;
                    if (!line.fromProgram && line.command == QLatin1String("0282"))
                        offered = line.time;
                    if (line.fromProgram && line.command == QLatin1String("0180") && !alerted)
                        alerted = line.time;
                    if (line.fromProgram && line.command == QLatin1String("0483"))
                        ended = line.time;
                }
            }
            if (offered && alerted) figures.alertMs.push_back(double(alerted - offered) / 1000.0);
            QThread::msleep(20);
        }
        corvane.terminate();
        return corvane.waitForFinished(30000);
    }

private:
    QTemporaryDir FDir;
    QString FSocket, FLog;
    int FPort = 0;
    int FRuns = 0;
    QProcess FServer;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    Bench bench;
    bench.capisim = QStringLiteral(CAPISIM_TOOL);
    QList<int> storedCounts = {0, 100000};
    QStringList programs;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == "--calls" && i + 1 < args.size())
            bench.calls = args[++i].toInt();
        else if (args[i] == "--starts" && i + 1 < args.size())
            bench.starts = args[++i].toInt();
        else if (args[i] == "--stored" && i + 1 < args.size())
            storedCounts = {0, args[++i].toInt()};
        else
            programs << args[i];
    }
    if (programs.isEmpty()) programs << QStringLiteral(CORVANE_PROGRAM);
    if (!bench.setUp()) {
        fprintf(stderr, "the simulator does not serve rcapi\n");
        return 1;
    }

    QHash<QString, Figures> figures; // program + stored
    QHash<int, QString> data;
    for (const int stored : storedCounts)
        data.insert(stored, bench.makeData(stored));
    // In turns: every program and list length once per round.
    for (int round = 0; round < bench.starts; ++round)
        for (const QString &program : programs)
            for (const int stored : storedCounts)
                if (!bench.run(program, data.value(stored), round == bench.starts - 1,
                               figures[program + QString::number(stored)])) {
                    fprintf(stderr, "%s did not listen\n", qPrintable(program));
                    return 1;
                }

    printf("%-50s %8s %14s %16s %14s\n", "program", "stored", "start_med_ms", "alert_med_ms",
           "alert_max_ms");
    for (const QString &program : programs) {
        double emptyStart = 0;
        for (const int stored : storedCounts) {
            const Figures &f = figures[program + QString::number(stored)];
            const double start = median(f.startMs);
            if (stored == 0) emptyStart = start;
            const double max =
                f.alertMs.empty() ? -1 : *std::max_element(f.alertMs.begin(), f.alertMs.end());
            printf("%-50s %8d %14.1f %16.2f %14.2f\n", qPrintable(program.right(50)), stored, start,
                   median(f.alertMs), max);
        }
        const double longStart =
            median(figures[program + QString::number(storedCounts.last())].startMs);
        printf("%-50s extra start-up with the long lists: %.1f ms\n", qPrintable(program.right(50)),
               longStart - emptyStart);
    }
    return 0;
}
