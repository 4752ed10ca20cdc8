#include "lookup/LookupSources.h"

#include "lists/ListPrompts.h"
#include "lookup/ReverseLookupThread.h"
#include "lookup/lookupthread.h"
#include "phone/isdntool.h"
#include "settings/SettingsStore.h"

namespace {

const char LookupExport[] = "TmLookupNumber";
const char ModifyExport[] = "TmModifyNumber";

// How long the end of the program waits for an interrupted HTTP transfer to return.
constexpr int AbortedTransferWaitMs = 2000;

} // namespace

LookupSources::LookupSources(ListPrompts &prompts, QObject *parent)
    : QObject(parent), FPrompts(prompts)
{
}

LookupSources::~LookupSources()
{
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
    FSyncClient.reset();
    if (!FServerUrl.isEmpty()) StartWorker(std::make_shared<TReverseLookupThread>(FServerUrl));
}

bool LookupSources::SelectPlugin(const QString &path)
{
    StopWorker();
    FBuiltIn = false;
    FSyncClient.reset();
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

bool LookupSources::SynchronousLookup(const QString &number, QString &text)
{
    text.clear();
    if (number.isEmpty()) return false;
    if (FLookupFunction) {
        QString name;
        if (!TUserPlugin::Call(FLookupFunction, number, name) || name.isEmpty()) return false;
        text = name;
        return true;
    }
    if (!FBuiltIn || FServerUrl.isEmpty()) return false;
    if (!FSyncClient) FSyncClient = std::make_unique<TfrmLookup>(FServerUrl);
    ReverseLookupAnswer answer;
    if (!FSyncClient->Lookup(number, answer) || answer.name.isEmpty() ||
        answer.name.contains(QLatin1String("ERROR")))
        return false;
    QString info = answer.info;
    info.chop(1); // the last line's CR
    text = answer.name;
    if (!answer.info.isEmpty()) text += QLatin1Char('\n') + info.replace(u'\r', u'\n');
    return true;
}

QString LookupSources::ModifyNumber(const QString &number)
{
    QString replacement;
    if (!FModifyFunction || !TUserPlugin::Call(FModifyFunction, number, replacement) ||
        replacement.isEmpty())
        return number;
    return replacement;
}

bool LookupSources::Enabled() const
{
    return FLookupFunction || (FBuiltIn && !FServerUrl.isEmpty());
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
