// The data layer's figures. Where a target is a ratio, the reference command runs in the same
// process and the ratio is reported as a counter:
//   load + sort of 100,000 calls   <= 20 x `wc -l` on the same file      (ratio_wc)
//   save of 100,000 calls          <=  3 x `dd bs=1M conv=fsync` of it   (ratio_dd)
//   FindTown over orte.asc         < 5 us per number
//   FindNickByNumber / Prefix      < 2 us / < 10 us with 10,000 entries

#include "bench/ListData.h"
#include "lists/DayCount.h"
#include "lists/ListFiles.h"
#include "lists/ListPrompts.h"
#include "lists/lists.h"
#include "phone/isdntool.h"
#include "settings/SettingsStore.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <numeric>
#include <random>
#include <spawn.h>
#include <sys/wait.h>

extern char **environ;

namespace {

constexpr int CallCount = 100000;

// Wall time of one run of a command, process start included, as a shell's `time` shows it.
double runSeconds(const std::vector<std::string> &command)
{
    std::vector<char *> argv;
    for (const std::string &arg : command)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double medianSeconds(const std::vector<std::string> &command, int runs)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i)
        times.push_back(runSeconds(command));
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// A data directory with a 100,000-call file, as the program writes it.
struct CallsFixture
{
    QTemporaryDir dir;
    SettingsStore settings{dir.path() + "/corvane.ini"};
    ScriptedPrompts prompts;
    TLists lists{settings, prompts, dir.path(), QLocale(QLocale::German, QLocale::Germany)};

    CallsFixture()
    {
        settings.settings.dateFormat = "dd.MM.yyyy";
        lists.SetLanguage(Language::German);
        lists.calls().setRows(makeCalls(CallCount));
        lists.SaveList(ListKind::Calls);
    }
    QString file() const { return lists.fileName(ListKind::Calls); }

    static CallsFixture &instance()
    {
        static CallsFixture fixture;
        return fixture;
    }
};

void loadAndSort(benchmark::State &state, int sortKey, bool shuffled)
{
    CallsFixture &f = CallsFixture::instance();
    QString file = f.file();
    if (shuffled) {
        // The same calls in random order: the sort has all the work.
        QList<CallRow> rows = f.lists.calls().rows().toList();
        std::shuffle(rows.begin(), rows.end(), std::mt19937(7));
        QByteArray bytes;
        std::vector<int> order(rows.size());
        std::iota(order.begin(), order.end(), 0);
        file = f.dir.path() + "/Shuffled";
        QFile out(file);
        out.open(QIODevice::WriteOnly);
        out.write(
            ListFormat::formatCalls(rows, order, Language::German, f.lists.files().fileFormats));
    }
    const double wc = medianSeconds({"wc", "-l", file.toStdString()}, 15);
    f.settings.listViews.callsSort = sortKey;
    for (auto _ : state) {
        // The program loads into an empty list; dropping the previous round's is not counted.
        state.PauseTiming();
        f.lists.calls().clear();
        state.ResumeTiming();
        if (!f.lists.files().LoadCalls(file) || f.lists.calls().count() != CallCount)
            state.SkipWithError("load failed");
    }
    state.counters["wc_ms"] = wc * 1000;
    // Seconds per iteration divided by the seconds of wc.
    state.counters["ratio_wc"] = benchmark::Counter(
        wc, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_LoadAndSortCalls(benchmark::State &state)
{
    loadAndSort(state, int(state.range(0)), false);
}
BENCHMARK(BM_LoadAndSortCalls)->Arg(-1)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LoadAndSortShuffledCalls(benchmark::State &state)
{
    loadAndSort(state, int(state.range(0)), true);
}
BENCHMARK(BM_LoadAndSortShuffledCalls)->Arg(-1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SaveCalls(benchmark::State &state)
{
    CallsFixture &f = CallsFixture::instance();
    f.settings.listViews.callsSort = -1;
    f.lists.files().LoadCalls(f.file());
    const std::string copy = (f.dir.path() + "/dd-copy").toStdString();
    const double dd = medianSeconds(
        {"dd", "if=" + f.file().toStdString(), "of=" + copy, "bs=1M", "conv=fsync"}, 9);
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (!f.lists.SaveList(ListKind::Calls)) state.SkipWithError("save failed");
    }
    const double each =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
        double(state.iterations());
    state.counters["dd_ms"] = dd * 1000;
    state.counters["ratio_dd"] = each / dd;
    state.counters["MB"] = double(QFileInfo(f.file()).size()) / 1e6;
}
BENCHMARK(BM_SaveCalls)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SortCallsByNickname(benchmark::State &state)
{
    CallsFixture &f = CallsFixture::instance();
    f.lists.files().LoadCalls(f.file());
    int key = -4;
    for (auto _ : state) {
        f.lists.SortCalls(key);
        key = -key;
    }
}
BENCHMARK(BM_SortCallsByNickname)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FindTown(benchmark::State &state)
{
    AreaCodeTable table;
    table.load(CORVANE_SHIPPED_ORTE);
    // Numbers of every area code and country of the table, and some that match nothing.
    QStringList numbers;
    QRandomGenerator random(5);
    for (const QString &line : table.lines()) {
        const QString prefix = line.left(line.indexOf(u' '));
        const QString subscriber = QString::number(random.bounded(100000, 9999999));
        numbers.append(prefix.startsWith(u'+') ? prefix + subscriber : "0" + prefix + subscriber);
    }
    numbers.append({"0151234567", "++99912345", "12345", "0"});
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(table.FindTown(numbers[qsizetype(i)]));
        i = (i + 1) % size_t(numbers.size());
    }
    state.counters["lines"] = table.count();
}
BENCHMARK(BM_FindTown);

struct NickFixture
{
    QTemporaryDir dir;
    SettingsStore settings{dir.path() + "/corvane.ini"};
    ScriptedPrompts prompts;
    TLists lists{settings, prompts, dir.path(), QLocale::c()};
    QStringList exact, prefixed, unknown;

    NickFixture()
    {
        // 9,000 exact entries and 1,000 prefix entries, in no particular order.
        const QList<NickRow> rows = makeNicks(10000);
        for (int i = 0; i < rows.size(); ++i) {
            const QString &number = rows.at(i).number;
            if (number.endsWith('*'))
                prefixed.append(number.chopped(1) + "1234");
            else
                exact.append(number);
            unknown.append("0" + QString::number(800000000 + i));
        }
        lists.nicks().setRows(rows);
        lists.FindNickByNumber(QString()); // builds the index once
    }
    static NickFixture &instance()
    {
        static NickFixture fixture;
        return fixture;
    }
};

void BM_FindNickByNumber(benchmark::State &state)
{
    NickFixture &f = NickFixture::instance();
    const QStringList &numbers = state.range(0) ? f.exact : f.unknown;
    qsizetype i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(f.lists.FindNickByNumber(numbers[i]));
        i = (i + 1) % numbers.size();
    }
}
BENCHMARK(BM_FindNickByNumber)->ArgName("hit")->Arg(1)->Arg(0);

void BM_FindNickByPrefix(benchmark::State &state)
{
    NickFixture &f = NickFixture::instance();
    const QStringList &numbers = state.range(0) ? f.prefixed : f.unknown;
    qsizetype i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(f.lists.FindNickByPrefix(numbers[i]));
        i = (i + 1) % numbers.size();
    }
}
BENCHMARK(BM_FindNickByPrefix)->ArgName("hit")->Arg(1)->Arg(0);

} // namespace

BENCHMARK_MAIN();
