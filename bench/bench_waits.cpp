// A ringing call's answer while the program waits for something slow: the line simulator (in
// process) rings calls into the program's own objects while each wait goes on. Counters, over
// the calls rung during the wait:
//   answer_med_us, answer_max_us   CONNECT_IND fetched -> the answer put (ALERT_REQ)
//   pending                        1 when the wait was still under way after the last call
// The waits (the benchmark's argument):
//   0 none         nothing (the baseline)
//   1 screensaver  "Screensaver" on, and the desktop's screen saver never answers
//   2 modem        a dial waits for the probe of a modem that never answers
//   3 book         a contacts export waits on an address-book service that never answers
//   4 lookup       the lists dialog's reverse search waits on a server that never answers
//   5 plugin       a dial waits for a number plug-in that sleeps
//
// Run on a private session bus: dbus-run-session -- bench_waits --benchmark_counters_tabular=true

#include "app/main.h"
#include "bench/SimulatedLine.h"
#include "lists/ListDlg.h"
#include "lists/ListPrompts.h"
#include "lists/ListView.h"
#include "lists/lists.h"
#include "lists/nick.h"
#include "lookup/OutlookContacts.h"
#include "platform/Sound.h"
#include "settings/SettingsStore.h"
#include "tapi/LineApi.h"
#include "tapi/ModemProvider.h"
#include "tapi/tapifrm.h"
#include "tests/app/CallTestSupport.h"
#include "tests/lookup/HangingService.h"
#include "tests/lookup/LookupServer.h"
#include "tests/platform/FakeScreenSaver.h"
#include "tests/tapi/ModemSimProcess.h"
#include "tools/capisim/CapisimClient.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <dlfcn.h>

#include <algorithm>

namespace {

constexpr int CallsRung = 30;

enum Wait
{
    None,
    ScreenSaver,
    Modem,
    Book,
    Lookup,
    Plugin
};

std::string command(const std::string &line)
{
    std::string reply;
    capisim::runCommand(qEnvironmentVariable("CAPISIM_SOCKET").toStdString(), line, &reply,
                        12000, 5000);
    return reply;
}

// CONNECT_IND fetched -> ALERT_REQ put, in microseconds, for the calls in the line's log
// after offset.
std::vector<qint64> answerTimes(qint64 offset)
{
    QFile file(qEnvironmentVariable("CAPISIM_LOG"));
    file.open(QIODevice::ReadOnly);
    file.seek(offset);
    std::vector<qint64> times;
    QHash<QString, qint64> offered; // PLCI -> when its CONNECT_IND was fetched
    for (const QByteArray &raw : file.readAll().split('\n')) {
        const QString line = QString::fromLatin1(raw);
        const qsizetype at = line.lastIndexOf(QLatin1String(" @"));
        const QStringList bytes = line.mid(2, at - 2).split(QLatin1Char(' '));
        if (at < 0 || bytes.size() < 12) continue;
        const qint64 time = line.mid(at + 2).toLongLong();
        const QString kind = bytes.at(4) + bytes.at(5);
        const QString plci = bytes.mid(8, 4).join(QString());
        if (line.startsWith(QLatin1String("< ")) && kind == QLatin1String("0282"))
            offered.insert(plci, time);
        else if (line.startsWith(QLatin1String("> ")) && kind == QLatin1String("0180") &&
                 offered.contains(plci))
            times.push_back(time - offered.take(plci));
    }
    return times;
}

template <typename Function> Function *sleepingPlugin(const char *name)
{
    static void *handle = ::dlopen(SLEEPING_PLUGIN, RTLD_NOW);
    return reinterpret_cast<Function *>(::dlsym(handle, name));
}

void BM_AnswerWhileWaiting(benchmark::State &state)
{
    const auto wait = Wait(state.range(0));
    if (wait != None && !FakeScreenSaver::PrivateBus() && (wait == ScreenSaver || wait == Book)) {
        state.SkipWithError("needs a private session bus: run under dbus-run-session");
        return;
    }
    QTemporaryDir dir;
    qputenv("CORVANE_HOME", dir.path().toLocal8Bit());
    SettingsStore settings(dir.filePath("corvane.ini"));
    settings.readAll();
    settings.settings.balloon = false;
    settings.settings.scrollLed = false;
    settings.settings.screensaver = wait == ScreenSaver;
    ScriptedPrompts prompts;
    TLists lists(settings, prompts, dir.path());
    lists.SetLanguage(Language::English);
    lists.LoadAtStartup();
    AreaCodeTable towns;
    NoLed led;
    platform::Sound sound;
    TMainForm form(settings, lists, towns, prompts, led, sound);
    TNickForm nickForm(lists);
    TListDlg listDlg(lists, nickForm);
    form.ApplyLanguage(Language::English);
    form.SetListsLoaded(true);
    form.SetDialogsReady(true);
    form.FFirstShow = false;
    if (!form.StartMonitor()) {
        state.SkipWithError("no line: the simulator did not load");
        return;
    }
    command("wait-listening --timeout 10");

    // The wait, and how to tell it is still under way.
    std::function<bool()> pending = [] { return true; };
    FakeScreenSaver saver(QStringLiteral("/org/freedesktop/ScreenSaver"),
                          FakeScreenSaver::NeverAnswer);
    ModemSimProcess modem;
    tapi::ModemProvider modems([] { return QString(); });
    tapi::LineApi lineDevices;
    TTapiForm dialer(lineDevices, settings, prompts);
    std::unique_ptr<HangingAddressBook> book;
    std::unique_ptr<TOutlookContacts> contacts;
    testing::LookupServer server;
    switch (wait) {
    case None:
        break;
    case ScreenSaver:
        pending = [&] { return saver.Calls() > 0; }; // asked, and never answered
        break;
    case Modem: {
        modem.start({QStringLiteral("AT")}); // swallows the probe
        modems.FindCandidates = [path = modem.path()] { return QStringList(path); };
        modems.ProbeTimeoutMs = 60000;
        lineDevices.addProvider(&modems, QStringLiteral("modems"));
        modems.probe();
        WaitFor([&] { return modem.received().contains(QStringLiteral("AT")); }, 5000);
        QString error;
        dialer.Dial(tapi::ModemProvider::DeviceName(modem.path()), QStringLiteral("0301234"),
                    &error);
        pending = [&] { return !modem.received().contains(QStringLiteral("ATD0301234;")); };
        break;
    }
    case Book:
        book = std::make_unique<HangingAddressBook>();
        contacts = std::make_unique<TOutlookContacts>(&settings, prompts);
        contacts->Export(QStringLiteral("Oma"), QStringLiteral("0441 123"), PhoneField::Mobile,
                         Language::English);
        WaitFor([&] { return book->Held() > 0; }, 5000);
        pending = [&] { return contacts->Exporting(); };
        break;
    case Lookup: {
        server.behave("0441123", testing::LookupServer::Behaviour::Hang);
        form.Lookup().SelectBuiltIn(server.baseUrl());
        CallRow call;
        call.dateTime = QStringLiteral("46000.5");
        call.number = QStringLiteral("0441123");
        lists.calls().appendRow(call);
        listDlg.OnReverseSearch = [&](const QString &number, TListDlg::ReverseSearchDone done) {
            form.Lookup().ReverseSearch(number, &listDlg, std::move(done));
        };
        listDlg.View(ListPage::Calls)->selectOnlyRow(0);
        listDlg.mnuReverseSearchClick();
        WaitFor([&] { return server.busy() == 1; }, 5000);
        pending = [&] { return server.busy() == 1; };
        break;
    }
    case Plugin:
        form.Lookup().LoadNumberPlugin(QStringLiteral(SLEEPING_PLUGIN));
        sleepingPlugin<void()>("TestPluginHold")();
        dialer.ModifyNumber = [&form](const QString &number) {
            return form.Lookup().ModifyNumber(number);
        };
        pending = [] { return sleepingPlugin<int()>("TestPluginInside")() == 1; };
        break;
    }

    const qint64 logStart = QFile(qEnvironmentVariable("CAPISIM_LOG")).size();
    bool stillPending = false;
    auto ringCalls = [&] {
        for (int call = 0; call < CallsRung; ++call) {
            const int rows = lists.calls().count();
            command("ring --from " + std::to_string(301000 + call) +
                    " --type 0x21 --to 85606 --end-after 0.02 --reason 0x3490");
            WaitFor([&] { return lists.calls().count() > rows; }, 10000);
            form.AcknowledgeCalls();
        }
        stillPending = pending();
    };
    for (auto _ : state) {
        if (wait == Plugin) {
            // The dial waits inside its own event loop while the calls ring.
            QTimer::singleShot(0, [&] {
                WaitFor([] { return sleepingPlugin<int()>("TestPluginInside")() == 1; }, 5000);
                ringCalls();
                sleepingPlugin<void()>("TestPluginRelease")();
            });
            QString number = QStringLiteral("0441");
            dialer.PrepareNumber(number);
        } else {
            ringCalls();
        }
    }
    WaitFor([] { return false; }, 200); // the last calls end
    const std::vector<qint64> times = answerTimes(logStart);
    std::vector<qint64> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    state.counters["answer_med_us"] = sorted.empty() ? -1 : double(sorted[sorted.size() / 2]);
    state.counters["answer_max_us"] = sorted.empty() ? -1 : double(sorted.back());
    state.counters["calls"] = double(times.size());
    state.counters["pending"] = stillPending ? 1 : 0;
    if (book) book->Release();
    form.CallHandler().StopLines();
}
BENCHMARK(BM_AnswerWhileWaiting)
    ->ArgName("wait")
    ->DenseRange(None, Plugin)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    // The fake desktop services live on the session bus dbus-run-session gives.
    qputenv("CORVANE_PRIVATE_BUS", "1");
    // The address-book module of this build, which the program finds beside itself.
    if (!qEnvironmentVariableIsSet("CORVANE_CONTACTS_MODULE"))
        qputenv("CORVANE_CONTACTS_MODULE", CONTACTS_MODULE);
    QTemporaryDir dir;
    UseSimulatedLine(dir);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
