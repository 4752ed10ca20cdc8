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
#include "lists/ListDlg.h"
#include "lists/ListFiles.h"
#include "lists/ListPrompts.h"
#include "lists/lists.h"
#include "lists/nick.h"
#include "platform/KeyboardLed.h"
#include "platform/Sound.h"
#include "settings/SettingsStore.h"
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

qint64 nowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class NoLed : public platform::KeyboardLed
{
public:
    bool ReadScrollLock(bool &state, QString *) override
    {
        state = false;
        return true;
    }
    bool PressScrollLock(QString *) override { return true; }
};

// Times when the popup's number label painted each text, first paint only.
class PaintWatch : public QObject
{
public:
    QHash<QString, qint64> paintedAt;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            const QString text = static_cast<QLabel *>(watched)->text();
            if (!paintedAt.contains(text)) paintedAt.insert(text, nowUs());
        }
        return false;
    }
};

double percentile(std::vector<qint64> values, double p)
{
    if (values.empty()) return -1;
    std::sort(values.begin(), values.end());
    return double(values[std::min(values.size() - 1, size_t(p * double(values.size())))]);
}

bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

uint32_t plciOf(const QStringList &bytes)
{
    return bytes.at(8).toUInt(nullptr, 16) | bytes.at(9).toUInt(nullptr, 16) << 8 |
           bytes.at(10).toUInt(nullptr, 16) << 16 | bytes.at(11).toUInt(nullptr, 16) << 24;
}

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
    QList<std::pair<QString, uint32_t>> rung; // caller, PLCI
    for (auto _ : state) {
        for (int call = 0; call < CallsRung; ++call) {
            const int rows = loaded.calls().count();
            const std::string from = "77" + std::to_string(100000 + call);
            capisim::runCommand(socket,
                                "ring --from " + from +
                                    " --type 0x21 --to 85606 --end-after 0.01 --reason 0x3490",
                                &reply, 5000);
            rung.append({QStringLiteral("0") + QString::fromStdString(from),
                         QString::fromStdString(reply).section(' ', 0, 0).toUInt(nullptr, 16)});
            // The call is stored (at the end: the list is in key order) and has ended.
            const bool ended = waitFor(
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

    // From the log: when each CONNECT_IND was fetched and its answer put.
    QFile file(log);
    file.open(QIODevice::ReadOnly);
    file.seek(logStart);
    // Calls are rung one at a time, so the k-th CONNECT_IND is the k-th call (PLCIs recur).
    std::vector<qint64> offers, answer, paint;
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
            offers.push_back(time);
            waiting.insert(plci, time);
        } else if (line.startsWith(QLatin1String("> ")) && waiting.contains(plci) &&
                   (command == QLatin1String("0180") || command == QLatin1String("0283"))) {
            answer.push_back(time - waiting.take(plci));
        }
    }
    for (qsizetype k = 0; k < rung.size() && k < qsizetype(offers.size()); ++k)
        if (watch.paintedAt.contains(rung.at(k).first))
            paint.push_back(watch.paintedAt.value(rung.at(k).first) - offers[size_t(k)]);

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
    // The line simulator in process, the popup without a screen.
    if (qEnvironmentVariableIsEmpty("CORVANE_CAPI_LIBRARY"))
        qputenv("CORVANE_CAPI_LIBRARY", CAPISIM_LIBRARY);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir dir;
    qputenv("CAPISIM_SOCKET", dir.filePath("control.sock").toLocal8Bit());
    qputenv("CAPISIM_LOG", dir.filePath("line.log").toLocal8Bit());
    qputenv("CAPISIM_LOG_TIMES", "1");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
