#include "lookup/LookupSources.h"

#include "lists/ListPrompts.h"
#include "lookup/ReverseLookupThread.h"
#include "lookup/lookupthread.h"
#include "phone/isdntool.h"
#include "settings/SettingsStore.h"

#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

const char LookupExport[] = "TmLookupNumber";
const char ModifyExport[] = "TmModifyNumber";

// How long the end of the program waits for an interrupted HTTP transfer to return.
constexpr int AbortedTransferWaitMs = 2000;

} // namespace

// A reverse search or a number rewrite, run on a thread of its own. That thread and the main
// thread share the mutex, `over` and `threadEnded`; the rest belongs to the main thread.
struct LookupSources::Action
{
    std::mutex mutex;
    std::condition_variable threadEndedChanged;
    bool over = false; // delivered, timed out or the sources ended: the thread posts nothing
    bool threadEnded = false;
    std::shared_ptr<TUserPlugin> plugin; // a plug-in's call: the time limit applies
    std::shared_ptr<TfrmLookup> client;  // a server's lookup: cut off when the sources end
    QPointer<QObject> context;
    SearchDone done;
};

LookupSources::LookupSources(ListPrompts &prompts, QObject *parent)
    : QObject(parent), FPrompts(prompts)
{
}

LookupSources::~LookupSources()
{
    // Nothing more is posted here. A plug-in a thread may still be inside stays loaded; a
    // transfer is cut off, and its thread gets a moment to return.
    for (const std::shared_ptr<Action> &action : FActions) {
        std::lock_guard lock(action->mutex);
        action->over = true;
        if (action->plugin && !action->threadEnded) action->plugin->KeepLoaded();
        if (action->client) action->client->Abort();
    }
    for (const std::shared_ptr<Action> &action : FActions) {
        if (!action->client) continue;
        std::unique_lock lock(action->mutex);
        action->threadEndedChanged.wait_for(lock, std::chrono::milliseconds(AbortedTransferWaitMs),
                                            [&action] { return action->threadEnded; });
    }

    std::vector<std::shared_ptr<LookupWorker>> workers;
    if (FWorker) workers.push_back(std::move(FWorker));
    for (const std::weak_ptr<LookupWorker> &stopped : FStopped)
        if (std::shared_ptr<LookupWorker> worker = stopped.lock()) workers.push_back(worker);
    for (const std::shared_ptr<LookupWorker> &worker : workers)
        worker->Abort();
    for (const std::shared_ptr<LookupWorker> &worker : workers) {
        if (auto *pluginWorker = dynamic_cast<TLookupThread *>(worker.get())) {
            // Nobody can make the plug-in's function return early.
            if (!worker->WaitFinished(0)) pluginWorker->plugin().KeepLoaded();
        } else {
            worker->WaitFinished(AbortedTransferWaitMs);
        }
    }
}

void LookupSources::ApplySettings(const GeneralSettings &settings)
{
    if (settings.externalNumberManipulationDll.isEmpty())
        LoadNumberPlugin(QString());
    else if (NumberPluginPath() != settings.externalNumberManipulationDll)
        LoadNumberPlugin(settings.externalNumberManipulationDll);
    SelectSource(settings);
}

void LookupSources::SelectSource(const GeneralSettings &settings)
{
    if (settings.internalReverseSearch)
        SelectBuiltIn(settings.reverseLookupUrl);
    else
        SelectPlugin(settings.externalNumberLookupDll);
}

void LookupSources::SelectBuiltIn(const QString &serverUrl)
{
    StopWorker();
    FLookupPlugin.reset();
    FLookupFunction = nullptr;
    FBuiltIn = true;
    FServerUrl = serverUrl.trimmed();
    if (!FServerUrl.isEmpty()) StartWorker(std::make_shared<TReverseLookupThread>(FServerUrl));
}

bool LookupSources::SelectPlugin(const QString &path)
{
    StopWorker();
    FBuiltIn = false;
    FLookupPlugin.reset();
    FLookupFunction = nullptr;
    if (path.isEmpty()) return true;

    QString error;
    std::shared_ptr<TUserPlugin> plugin = TUserPlugin::Load(path, error);
    UserPluginFunction function = plugin ? plugin->Resolve(LookupExport) : nullptr;
    if (plugin && !function)
        error = QStringLiteral("unable to load function %1 from user plug-in").arg(LookupExport);
    if (!function) {
        FPrompts.inform(error);
        return false;
    }
    FLookupPlugin = plugin;
    FLookupFunction = function;
    StartWorker(std::make_shared<TLookupThread>(plugin, function));
    return true;
}

bool LookupSources::LoadNumberPlugin(const QString &path)
{
    FNumberPlugin.reset();
    FModifyFunction = nullptr;
    if (path.isEmpty()) return true;

    QString error;
    std::shared_ptr<TUserPlugin> plugin = TUserPlugin::Load(path, error);
    UserPluginFunction function = plugin ? plugin->Resolve(ModifyExport) : nullptr;
    if (plugin && !function)
        error = QStringLiteral("unable to load function %1 from user plug-in").arg(ModifyExport);
    if (!function) {
        FPrompts.inform(error);
        return false;
    }
    FNumberPlugin = plugin;
    FModifyFunction = function;
    return true;
}

void LookupSources::StartLookup(const QString &number)
{
    if (number.isEmpty() || IsNotTransmitted(number) || !FWorker) return;
    FWorker->Request(number);
}

void LookupSources::ReverseSearch(const QString &number, QObject *context, SearchDone done)
{
    if (!number.isEmpty() && FLookupFunction) {
        CallPlugin(FLookupPlugin, FLookupFunction, number, context,
                   [done = std::move(done)](bool answered, const QString &name) {
                       done(answered, CapLookupName(name));
                   });
        return;
    }
    if (number.isEmpty() || !FBuiltIn || FServerUrl.isEmpty()) {
        done(true, QString());
        return;
    }
    auto action = std::make_shared<Action>();
    action->client = std::make_shared<TfrmLookup>(FServerUrl); // not the worker's
    action->context = context;
    action->done = std::move(done);
    Run(action, [client = action->client, number] {
        Reply reply;
        ReverseLookupAnswer answer;
        if (!client->Lookup(number, answer, &reply.failure)) {
            reply.answered = reply.failure.isEmpty();
            return reply;
        }
        if (answer.name.isEmpty() || answer.name.contains(QLatin1String("ERROR"))) return reply;
        QString info = answer.info;
        info.chop(1); // the last line's CR
        reply.text = CapLookupName(answer.name);
        if (!answer.info.isEmpty()) reply.text += QLatin1Char('\n') + info.replace(u'\r', u'\n');
        return reply;
    });
}

std::optional<QString> LookupSources::ModifyNumber(const QString &number)
{
    if (!FModifyFunction) return number;
    std::optional<Reply> reply;
    QEventLoop loop;
    CallPlugin(FNumberPlugin, FModifyFunction, number, &loop,
               [&reply, &loop](bool answered, const QString &text) {
                   reply = Reply{answered, text, QString()};
                   loop.quit();
               });
    // Calls ring and are shown while the plug-in works. A program that is ending leaves the
    // loop at once, and the dial with it.
    if (!reply) loop.exec();
    if (!reply || !reply->answered) return std::nullopt;
    return reply->text.isEmpty() ? number : reply->text;
}

bool LookupSources::Enabled() const
{
    return FLookupFunction || (FBuiltIn && !FServerUrl.isEmpty());
}

QString LookupSources::FailureText(const QString &failure) const
{
    return UiText(UiForm::Messages, u"ReverseSearchFailed", FLanguage).arg(FServerUrl, failure);
}

void LookupSources::StopWorker()
{
    ForgetEndedWorkers();
    if (!FWorker) return;
    FWorker->Stop();
    FStopped.push_back(FWorker);
    FWorker.reset();
}

void LookupSources::StartWorker(std::shared_ptr<LookupWorker> worker)
{
    FWorker = std::move(worker);
    FWorker->Start(this, [this](const LookupResult &result) {
        if (OnLookupResult) OnLookupResult(result);
    });
}

void LookupSources::ForgetEndedWorkers()
{
    std::erase_if(FStopped,
                  [](const std::weak_ptr<LookupWorker> &worker) { return worker.expired(); });
}

void LookupSources::CallPlugin(const std::shared_ptr<TUserPlugin> &plugin,
                               UserPluginFunction function, const QString &number, QObject *context,
                               SearchDone done)
{
    auto action = std::make_shared<Action>();
    action->plugin = plugin;
    action->context = context;
    action->done = std::move(done);
    if (plugin->IsShutOff()) {
        Finish(action, Reply{false, QString(), QString()});
        return;
    }
    // The thread holds the plug-in: it stays loaded until the call has returned.
    Run(action, [plugin, function, number] {
        Reply reply;
        const TUserPlugin::CallResult result = plugin->Call(function, number, reply.text);
        reply.answered = result != TUserPlugin::CallResult::ShutOff;
        if (result != TUserPlugin::CallResult::Found) reply.text.clear();
        return reply;
    });
}

void LookupSources::Run(const std::shared_ptr<Action> &action, std::function<Reply()> work)
{
    FActions.push_back(action);
    // Detached: a plug-in that never returns is never waited for, not even at the end.
    std::thread([this, action, work = std::move(work)]() mutable {
        const Reply reply = work();
        work = nullptr;
        std::lock_guard lock(action->mutex);
        action->threadEnded = true;
        action->threadEndedChanged.notify_all();
        // Posted under the lock: once the action is over, nothing reaches this object.
        if (!action->over)
            QMetaObject::invokeMethod(
                this, [this, action, reply] { Finish(action, reply); }, Qt::QueuedConnection);
    }).detach();
    if (action->plugin)
        QTimer::singleShot(PluginTimeLimitMs, Qt::PreciseTimer, this,
                           [this, action] { Expire(action); });
}

void LookupSources::Finish(const std::shared_ptr<Action> &action, const Reply &reply)
{
    {
        std::lock_guard lock(action->mutex);
        if (std::exchange(action->over, true)) return;
    }
    std::erase(FActions, action);
    if (!reply.answered) {
        if (action->plugin)
            InformShutOff(action->plugin->path());
        else
            FPrompts.inform(FailureText(reply.failure));
    }
    const QPointer<QObject> context = std::exchange(action->context, nullptr);
    const SearchDone done = std::exchange(action->done, nullptr);
    if (context && done) done(reply.answered, reply.text);
}

void LookupSources::Expire(const std::shared_ptr<Action> &action)
{
    {
        std::lock_guard lock(action->mutex);
        if (action->over) return;
    }
    action->plugin->ShutOff();
    Finish(action, Reply{false, QString(), QString()});
}

void LookupSources::InformShutOff(const QString &path)
{
    const int seconds = (PluginTimeLimitMs + 999) / 1000;
    FPrompts.inform(UiText(UiForm::Messages, u"PluginShutOff", FLanguage).arg(path).arg(seconds));
}
