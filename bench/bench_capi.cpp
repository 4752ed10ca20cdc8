// CAPI layer figures: decoding and dispatching CONNECT_IND, and the time from a call
// rung on the simulated line to the monitor's reject question.
//
// Run: CORVANE_CAPI_LIBRARY=<build>/tools/capisim/libcapisim.so bench_capi
// (the program sets up its own control socket and log).
#include "capi/CpConst.h"
#include "capi/CpHand.h"
#include "capi/CpMoni.h"
#include "capi/CpMsg.h"
#include "tools/capisim/CapisimClient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <chrono>

namespace {

const QByteArray kConnectInd = QByteArray::fromHex("2e00010002820140"
                                                   "01010000"
                                                   "1000"
                                                   "088135353531323334"
                                                   "0b2183333031323334353637"
                                                   "00"
                                                   "00"
                                                   "038090a3"
                                                   "00"
                                                   "029181"
                                                   "00");

const QByteArray kDisconnectInd = QByteArray::fromHex("0e00010004820140"
                                                      "01010000"
                                                      "9034");

void BM_DecodeConnectInd(benchmark::State &state)
{
    const auto *raw = reinterpret_cast<const uint8_t *>(kConnectInd.constData());
    for (auto _ : state) {
        auto message = CreateCapiMessage(raw, size_t(kConnectInd.size()));
        benchmark::DoNotOptimize(message.get());
    }
}
BENCHMARK(BM_DecodeConnectInd);

// The engine's dispatch of CONNECT_IND (a new connection, the hook) and of the
// DISCONNECT_IND that removes it again (answered on the simulated line).
void BM_DispatchConnectAndDisconnect(benchmark::State &state)
{
    TCapi capi(1, 2, 128);
    if (capi.LastError != 0) {
        state.SkipWithError("no CAPI line: set CORVANE_CAPI_LIBRARY to the simulator");
        return;
    }
    int hooks = 0;
    capi.OnMessage = [&hooks](TConnection *, TCapiMessage &, bool &) { ++hooks; };
    const auto *connect = reinterpret_cast<const uint8_t *>(kConnectInd.constData());
    const auto *disconnect = reinterpret_cast<const uint8_t *>(kDisconnectInd.constData());
    for (auto _ : state) {
        capi.Dispatch(connect);
        capi.Dispatch(disconnect);
    }
    benchmark::DoNotOptimize(hooks);
}
BENCHMARK(BM_DispatchConnectAndDisconnect);

std::string socketPath()
{
    return qEnvironmentVariable("CAPISIM_SOCKET").toStdString();
}

// One request on the simulator's control socket: subtract it from the ring figure.
void BM_ControlRoundTrip(benchmark::State &state)
{
    TCapi capi(1, 2, 128); // the in-process simulator serves while the line is in use
    if (capi.LastError != 0) {
        state.SkipWithError("no CAPI line");
        return;
    }
    for (auto _ : state) {
        std::string reply;
        if (!capisim::runCommand(socketPath(), "status", &reply, 2000))
            state.SkipWithError(reply.c_str());
    }
}
BENCHMARK(BM_ControlRoundTrip)->UseRealTime();

// From "ring" on the control socket to OnRejectCallQuestion in the main thread.
void BM_RingToRejectQuestion(benchmark::State &state)
{
    TCapiMonitor monitor;
    bool asked = false;
    bool gone = false;
    monitor.OnRejectCallQuestion = [&asked](const QString &, const QString &, uint16_t,
                                            uint16_t &cause, uint32_t) {
        asked = true;
        cause = capi::RejectUserBusy; // ends the call at once
    };
    monitor.OnDisconnectInfo = [&gone](uint16_t, uint16_t, uint32_t) { gone = true; };
    if (!monitor.Start(1, 10)) {
        state.SkipWithError("no CAPI line");
        return;
    }
    for (auto _ : state) {
        asked = gone = false;
        const auto start = std::chrono::steady_clock::now();
        std::string reply;
        capisim::runCommand(socketPath(), "ring --from 0441123 --type 0x21 --to 85606", &reply,
                            2000);
        while (!asked)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const auto end = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        while (!gone)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}
BENCHMARK(BM_RingToRejectQuestion)->UseManualTime()->Iterations(300);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    qputenv("CAPISIM_SOCKET", dir.filePath("control.sock").toLocal8Bit());
    qunsetenv("CAPISIM_LOG");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
