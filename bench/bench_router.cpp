// The router monitor beside the ISDN line, in one run, into the program's own popup:
//   BM_RingToPopup/line:0   CONNECT_IND fetched from the simulated ISDN line -> popup painted
//   BM_RingToPopup/line:1   RING line written to the router's socket -> popup painted
//   BM_RouterBack/down_s:N  the router refuses for N s, then listens again: from then until
//                           the popup paints the first call it reports (the source's pause
//                           before its next try, its connect, the RING)
// The router is a TCP server in this process; its writes and the program share one clock.
//
// Run: bench_router --benchmark_counters_tabular=true

#include "app/main.h"
#include "bench/PopupTimes.h"
#include "bench/SimulatedLine.h"
#include "lists/ListPrompts.h"
#include "lists/lists.h"
#include "platform/Sound.h"
#include "settings/SettingsStore.h"
#include "tests/app/CallTestSupport.h"
#include "tools/capisim/CapisimClient.h"

#include <QApplication>
#include <QFile>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

constexpr int CallsRung = 200;

// The program's own objects on a data folder of their own; the line from the settings.
struct Program
{
    explicit Program(const QString &routerHost)
    {
        QFile ini(dir.filePath("corvane.ini"));
        ini.open(QIODevice::WriteOnly);
        ini.write("[Settings]\nBalloon=0\nScrollLED=0\nRouterMonitorHost=" + routerHost.toUtf8() +
                  "\n");
        ini.close();
        qputenv("CORVANE_HOME", dir.path().toLocal8Bit());
        lists.SetLanguage(Language::English);
        lists.LoadAtStartup();
        form.ReadIni();
        form.ApplyLanguage(Language::English);
        form.SetListsLoaded(true);
        form.SetDialogsReady(true);
        form.FFirstShow = false;
        form.findChild<QLabel *>(QStringLiteral("NumberLabel"))->installEventFilter(&watch);
    }
    ~Program() { form.CallHandler().StopLines(); }

    QTemporaryDir dir;
    SettingsStore settings{dir.filePath("corvane.ini")};
    ScriptedPrompts prompts;
    TLists lists{settings, prompts, dir.path()};
    AreaCodeTable towns;
    NoLed led;
    platform::Sound sound;
    TMainForm form{settings, lists, towns, prompts, led, sound};
    PaintWatch watch;
};

// A router's call monitor: accepts the program and says lines to it.
struct Router
{
    QTcpServer server;
    QPointer<QTcpSocket> peer;

    bool accept(int timeoutMs)
    {
        if (!WaitFor([this] { return server.hasPendingConnections(); }, timeoutMs)) return false;
        peer = server.nextPendingConnection();
        return peer != nullptr;
    }
    // Says a RING; the time it was handed to the kernel.
    qint64 ring(int id, const QString &caller)
    {
        peer->write(QStringLiteral("08.12.26 14:03:11;RING;%1;%2;85606;SIP0;\r\n")
                        .arg(id)
                        .arg(caller)
                        .toLatin1());
        peer->flush();
        return nowUs();
    }
    void end(int id)
    {
        peer->write(QStringLiteral("08.12.26 14:03:12;DISCONNECT;%1;0;\r\n").arg(id).toLatin1());
        peer->flush();
    }
};

QString caller(int call)
{
    return QStringLiteral("0771") + QString::number(100000 + call);
}

void BM_RingToPopup(benchmark::State &state)
{
    const bool onRouter = state.range(0) == 1;
    Router router;
    if (onRouter) router.server.listen(QHostAddress::LocalHost);
    Program program(onRouter ? QStringLiteral("127.0.0.1:%1").arg(router.server.serverPort())
                             : QString());
    TMainForm &form = program.form;
    if (!form.StartMonitor() || (onRouter && !router.accept(5000))) {
        state.SkipWithError("no line");
        return;
    }
    const std::string socket = qEnvironmentVariable("CAPISIM_SOCKET").toStdString();
    const QString log = qEnvironmentVariable("CAPISIM_LOG");
    const qint64 logStart = QFile(log).size();
    std::string reply;
    if (!onRouter) capisim::runCommand(socket, "wait-listening --timeout 10", &reply, 12000, 5000);

    std::vector<qint64> sent;
    for (auto _ : state) {
        for (int call = 0; call < CallsRung; ++call) {
            const QString number = caller(call);
            if (onRouter)
                sent.push_back(router.ring(call % 4, number));
            else
                capisim::runCommand(socket,
                                    "ring --from " + number.mid(1).toStdString() +
                                        " --type 0x21 --to 85606 --end-after 0.01",
                                    &reply, 5000);
            if (!WaitFor([&] { return program.watch.paintedAt.contains(number); }, 5000)) {
                state.SkipWithError("a call was not shown");
                return;
            }
            if (onRouter) router.end(call % 4);
            form.AcknowledgeCalls();
        }
    }
    if (!onRouter) sent = ReadLineTimes(log, logStart).offers;
    std::vector<qint64> paint;
    for (int call = 0; call < CallsRung && call < int(sent.size()); ++call)
        paint.push_back(program.watch.paintedAt.value(caller(call)) - sent[size_t(call)]);
    state.counters["paint_med_us"] = percentile(paint, 0.5);
    state.counters["paint_p99_us"] = percentile(paint, 0.99);
    state.counters["calls"] = double(paint.size());
}
BENCHMARK(BM_RingToPopup)
    ->ArgName("line")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_RouterBack(benchmark::State &state)
{
    const int downMs = int(state.range(0)) * 1000;
    Router router;
    router.server.listen(QHostAddress::LocalHost);
    const quint16 port = router.server.serverPort();
    Program program(QStringLiteral("127.0.0.1:%1").arg(port));
    if (!program.form.StartMonitor() || !router.accept(5000)) {
        state.SkipWithError("no line");
        return;
    }
    double backToShownMs = -1;
    for (auto _ : state) {
        // The router restarts: the connection goes and the port refuses meanwhile.
        router.server.close();
        delete router.peer;
        WaitFor([] { return false; }, downMs);
        router.server.listen(QHostAddress::LocalHost, port);
        const qint64 back = nowUs();
        if (!router.accept(70000)) {
            state.SkipWithError("the program did not come back");
            return;
        }
        router.ring(0, QStringLiteral("0441123456"));
        WaitFor([&] { return program.watch.paintedAt.contains(QStringLiteral("0441123456")); },
                5000);
        backToShownMs = double(program.watch.paintedAt.value(QStringLiteral("0441123456")) - back) / 1000;
    }
    state.counters["back_to_shown_ms"] = backToShownMs;
}
BENCHMARK(BM_RouterBack)
    ->ArgName("down_s")
    ->Arg(3)
    ->Arg(20)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir dir;
    UseSimulatedLine(dir);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
