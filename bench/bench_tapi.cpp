// Dialling figure: from a "/d" command arriving on the running program's instance socket to
// the dial command on the modem's port (the modem simulator on a pseudo-terminal, which
// stamps what it receives with the monotonic clock). The path is the program's: the
// command, the clipboard's text, the device from the settings, the number's preparation,
// the line opened on the port, ATD written.
//
// BM_ListDevices lists the line devices as each dial does (up to three times) and the options
// do: udev's modems and the desktop's tel: handler are looked for on the main thread.
//
// Run: bench_tapi (it starts its own modem simulator; offscreen unless QT_QPA_PLATFORM says
// otherwise).
#include "lists/ListPrompts.h"
#include "platform/SingleInstance.h"
#include "settings/SettingsStore.h"
#include "tapi/ModemProvider.h"
#include "tapi/TelLinkProvider.h"
#include "tapi/tapifrm.h"
#include "tests/tapi/ModemSimProcess.h"

#include <QApplication>
#include <QClipboard>
#include <QDeadlineTimer>
#include <QLocalSocket>
#include <benchmark/benchmark.h>

namespace {

// Runs the event loop until the modem has received command count times; false on time-out.
bool waitForCommand(const ModemSimProcess &modem, const QString &command, int count)
{
    const QDeadlineTimer deadline(10000);
    while (modem.receivedTimes(command).size() < count) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    }
    return true;
}

void BM_DialCommandToAtd(benchmark::State &state)
{
    ModemSimProcess modem;
    if (!modem.start({QStringLiteral("ATD*;")})) {
        state.SkipWithError("the modem simulator did not start");
        return;
    }
    QTemporaryDir dir;
    SettingsStore settings(dir.filePath(QStringLiteral("corvane.ini")));
    settings.settings.useTapi = true;
    settings.settings.tapiDevice = tapi::ModemProvider::DeviceName(modem.path());
    ScriptedPrompts prompts;
    // udev's modems are looked for at each dial, as in the program.
    tapi::ModemProvider modems([&modem] { return modem.path(); });
    tapi::LineApi lines;
    lines.addProvider(&modems, QStringLiteral("modems"));
    TTapiForm form(lines, settings, prompts);

    platform::SingleInstance instance(dir.filePath(QStringLiteral("corvane.sock")));
    if (instance.start() != platform::SingleInstance::Role::Primary) {
        state.SkipWithError("no instance socket");
        return;
    }
    // As the program's main window does on "/d".
    QObject::connect(
        &instance, &platform::SingleInstance::commandReceived, &form,
        [&](platform::InstanceCommand command, const QString &) {
            if (command != platform::InstanceCommand::Dial || !settings.settings.useTapi) return;
            QString error;
            if (!form.Dial(form.SelectedDevice(), QGuiApplication::clipboard()->text(), &error))
                qWarning("%s", qPrintable(error));
        });
    QGuiApplication::clipboard()->setText(QStringLiteral("+49441123"));
    const QString atd = QStringLiteral("ATD0049441123;");
    const QByteArray frame =
        platform::SingleInstance::EncodeFrame(platform::InstanceCommand::Dial, QString());

    int dialled = 0;
    for (auto _ : state) {
        QLocalSocket client;
        const qint64 sent = ModemSimProcess::monotonicMicros();
        client.connectToServer(instance.serverName());
        client.write(frame);
        ++dialled;
        if (!waitForCommand(modem, atd, dialled)) {
            state.SkipWithError("the modem received no ATD");
            return;
        }
        state.SetIterationTime(double(modem.receivedTimes(atd).at(dialled - 1) - sent) / 1e6);
        form.Cleanup();
        if (!waitForCommand(modem, QStringLiteral("ATH"), dialled)) {
            state.SkipWithError("the modem received no ATH");
            return;
        }
    }
}
void BM_ListDevices(benchmark::State &state)
{
    tapi::ModemProvider modems([] { return QStringLiteral("/dev/ttyS0"); });
    tapi::TelLinkProvider telLink;
    tapi::LineApi lines;
    lines.addProvider(&modems, QStringLiteral("modems"));
    lines.addProvider(&telLink, QStringLiteral("tel"));
    for (auto _ : state) {
        tapi::HLineApp app = 0;
        uint32_t count = 0;
        lines.lineInitialize(app, nullptr, count);
        lines.lineShutdown(app);
        benchmark::DoNotOptimize(count);
    }
}
BENCHMARK(BM_ListDevices)->Unit(benchmark::kMicrosecond);

BENCHMARK(BM_DialCommandToAtd)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(50);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
