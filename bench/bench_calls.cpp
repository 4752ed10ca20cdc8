// The call path with a long call list: 1,000 calls rung one after another through the line
// simulator (loaded in process), into the program's own objects (popup, lists dialog, call
// handling, list writer) with 0 or 100,000 stored calls and 10,000 nicknames. Counters:
//   answer_med_us, answer_p99_us   CONNECT_IND fetched -> the answer put (ALERT_REQ)
//   paint_med_us, paint_p99_us     CONNECT_IND fetched -> the popup paints the caller
//   bytes_per_call, rewrites_per_call   what the list writer wrote to disk
// The times come from the simulator's log (CAPISIM_LOG_TIMES) and the same monotonic clock.
//
// Run: bench_calls --benchmark_counters_tabular=true

#include "app/main.h"
#include "bench/ListData.h"
#include "bench/PopupTimes.h"
#include "bench/SimulatedLine.h"
#include "lists/ListDlg.h"
#include "lists/ListFiles.h"
#include "lists/ListPrompts.h"
#include "lists/lists.h"
#include "lists/nick.h"
#include "platform/KeyboardLed.h"
#include "platform/Sound.h"
#include "settings/SettingsStore.h"
#include "tests/app/CallTestSupport.h"
#include "tools/capisim/CapisimClient.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>

namespace {

constexpr int CallsRung = 1000;

void BM_RingCalls(benchmark::State &state)
{
    const int stored = int(state.range(0));
    QTemporaryDir dir;
    qputenv("CORVANE_HOME", dir.path().toLocal8Bit());
    SettingsStore settings(dir.filePath("corvane.ini"));
    settings.readAll();
    settings.settings.balloon = false;
    settings.settings.scrollLed = false;
    ScriptedPrompts prompts;
    TLists lists(settings, prompts, dir.path());
    {
        lists.SetLanguage(Language::English);
        lists.calls().setRows(makeCalls(stored));
        lists.nicks().setRows(makeNicks(10000));
        lists.SaveList(ListKind::Calls);
        lists.SaveList(ListKind::Nicks);
    }
    TLists loaded(settings, prompts, dir.path());
    loaded.SetLanguage(Language::English);
    if (!loaded.LoadAtStartup()) {
        state.SkipWithError("the lists do not load");
        return;
    }
    AreaCodeTable towns;
    towns.load(QStringLiteral(CORVANE_SHIPPED_ORTE));
    NoLed led;
    platform::Sound sound;
    TMainForm form(settings, loaded, towns, prompts, led, sound);
    TNickForm nickForm(loaded);
    TListDlg listDlg(loaded, nickForm);
    form.ApplyLanguage(Language::English);
    form.SetListsLoaded(true);
    form.SetDialogsReady(true);
    form.FFirstShow = false;
    PaintWatch watch;
    form.findChild<QLabel *>(QStringLiteral("NumberLabel"))->installEventFilter(&watch);
    const std::string socket = qEnvironmentVariable("CAPISIM_SOCKET").toStdString();
    if (!form.StartMonitor()) {
        state.SkipWithError("no line: the simulator did not load");
        return;
    }
    std::string reply;
    capisim::runCommand(socket, "wait-listening --timeout 10", &reply, 12000, 5000);

    const TListWriter &writer = loaded.files().writer();
    const qint64 bytesBefore = writer.BytesWritten;
    const qint64 rewritesBefore = writer.Rewrites;
    const QString log = qEnvironmentVariable("CAPISIM_LOG");
    const qint64 logStart = QFile(log).size();
    QStringList rung; // the callers
    for (auto _ : state) {
        for (int call = 0; call < CallsRung; ++call) {
            const int rows = loaded.calls().count();
            const std::string from = "77" + std::to_string(100000 + call);
            capisim::runCommand(socket,
                                "ring --from " + from +
                                    " --type 0x21 --to 85606 --end-after 0.01 --reason 0x3490",
                                &reply, 5000);
            rung.append(QStringLiteral("0") + QString::fromStdString(from));
            // The call is stored (at the end: the list is in key order) and has ended.
            const bool ended = WaitFor(
                [&] {
                    return loaded.calls().count() > rows &&
                           loaded.calls().row(rows).status != QLatin1String(" ");
                },
                10000);
            if (!ended) {
                state.SkipWithError("a call did not end");
                return;
            }
            form.AcknowledgeCalls();
        }
        loaded.WaitForSaves();
    }

    // From the log: when each CONNECT_IND was fetched and its answer put. Calls are rung one
    // at a time, so the k-th CONNECT_IND is the k-th call (PLCIs recur).
    const LineTimes times = ReadLineTimes(log, logStart);
    const std::vector<qint64> &offers = times.offers;
    const std::vector<qint64> &answer = times.answers;
    std::vector<qint64> paint;
    for (qsizetype k = 0; k < rung.size() && k < qsizetype(offers.size()); ++k)
        if (watch.paintedAt.contains(rung.at(k)))
            paint.push_back(watch.paintedAt.value(rung.at(k)) - offers[size_t(k)]);

    state.counters["answer_med_us"] = percentile(answer, 0.5);
    state.counters["answer_p99_us"] = percentile(answer, 0.99);
    state.counters["answer_max_us"] = percentile(answer, 1.0);
    state.counters["paint_med_us"] = percentile(paint, 0.5);
    state.counters["paint_p99_us"] = percentile(paint, 0.99);
    state.counters["calls"] = double(answer.size());
    state.counters["bytes_per_call"] = double(writer.BytesWritten - bytesBefore) / CallsRung;
    state.counters["rewrites_per_call"] = double(writer.Rewrites - rewritesBefore) / CallsRung;
    form.CallHandler().StopLines();
}
BENCHMARK(BM_RingCalls)
    ->ArgName("stored")
    ->Arg(0)
    ->Arg(100000)
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
