#include "tapi/LineApi.h"

#include <QMetaObject>

#include <algorithm>
#include <limits>

namespace tapi {

LineApi::LineApi(QObject *parent) : QObject(parent) {}

LineApi::~LineApi()
{
    while (!FApps.empty())
        lineShutdown(FApps.begin()->first);
}

void LineApi::addProvider(LineProvider *provider, const QString &name)
{
    FProviders.push_back({provider, name});
    provider->OnDevicesChanged = [this] { emit devicesProbed(); };
}

void LineApi::probe(const QString &device)
{
    for (const Registered &registered : FProviders)
        registered.provider->probe(device);
}

QList<Reason> LineApi::probeNotes() const
{
    QList<Reason> notes;
    for (const Registered &registered : FProviders)
        notes += registered.provider->probeNotes();
    return notes;
}

int32_t LineApi::nextRequest()
{
    const int32_t request = FNextRequest;
    FNextRequest = FNextRequest == std::numeric_limits<int32_t>::max() ? 1 : FNextRequest + 1;
    return request;
}

int32_t LineApi::fail(int32_t code, const Reason &detail)
{
    FLastDetail = detail;
    return code;
}

int32_t LineApi::lineInitialize(HLineApp &app, LineCallback callback, uint32_t &deviceCount)
{
    App entry;
    entry.callback = std::move(callback);
    for (const Registered &registered : FProviders) {
        registered.provider->refresh();
        const QList<LineDeviceInfo> devices = registered.provider->devices();
        for (const LineDeviceInfo &device : devices)
            entry.devices.push_back({registered.provider, device, registered.name});
    }
    app = 0;
    deviceCount = 0;
    if (entry.devices.empty()) return fail(LINEERR_NODEVICE, {QStringLiteral("NoLineDevice"), {}});
    app = FNextHandle++;
    deviceCount = uint32_t(entry.devices.size());
    FApps.emplace(app, std::move(entry));
    FLastDetail = Reason();
    return 0;
}

const LineApi::Device *LineApi::device(HLineApp app, uint32_t deviceId, int32_t &error)
{
    const auto found = FApps.find(app);
    if (found == FApps.end()) {
        error = fail(LINEERR_INVALAPPHANDLE);
        return nullptr;
    }
    if (deviceId >= found->second.devices.size()) {
        error = fail(LINEERR_BADDEVICEID);
        return nullptr;
    }
    const Device &device = found->second.devices.at(deviceId);
    if (!device.info.problem.isEmpty()) {
        error = fail(LINEERR_NODRIVER, device.info.problem);
        return nullptr;
    }
    return &device;
}

int32_t LineApi::lineNegotiateAPIVersion(HLineApp app, uint32_t deviceId, uint32_t lowVersion,
                                         uint32_t highVersion, uint32_t &version)
{
    version = 0;
    int32_t error = 0;
    if (!device(app, deviceId, error)) return error;
    if (lowVersion > highVersion || highVersion < LowestApiVersion ||
        lowVersion > HighestApiVersion)
        return fail(LINEERR_INCOMPATIBLEAPIVERSION);
    version = std::min(highVersion, HighestApiVersion);
    FLastDetail = Reason();
    return 0;
}

int32_t LineApi::lineGetDevCaps(HLineApp app, uint32_t deviceId, uint32_t version,
                                LineDevCaps &caps)
{
    int32_t error = 0;
    const Device *found = device(app, deviceId, error);
    if (!found) return error;
    if (version < LowestApiVersion || version > HighestApiVersion)
        return fail(LINEERR_INCOMPATIBLEAPIVERSION);
    caps.lineName = found->info.name;
    caps.providerInfo = found->providerName;
    FLastDetail = Reason();
    return 0;
}

int32_t LineApi::lineOpen(HLineApp app, uint32_t deviceId, HLine &line, uint32_t version,
                          uintptr_t callbackInstance)
{
    line = 0;
    int32_t error = 0;
    const Device *found = device(app, deviceId, error);
    if (!found) return error;
    if (version < LowestApiVersion || version > HighestApiVersion)
        return fail(LINEERR_INCOMPATIBLEAPIVERSION);
    Reason detail;
    std::unique_ptr<LineConnection> connection = found->provider->open(found->info, error, detail);
    if (!connection) return fail(error ? error : LINEERR_OPERATIONFAILED, detail);
    line = FNextHandle++;
    FLines.emplace(line, Line{app, callbackInstance, std::move(connection)});
    FLastDetail = Reason();
    return 0;
}

void LineApi::post(HLineApp app, uint32_t device, uint32_t message, uintptr_t instance,
                   uintptr_t param1, uintptr_t param2, const Reason &detail)
{
    QMetaObject::invokeMethod(
        this,
        [this, app, device, message, instance, param1, param2, detail] {
            const auto found = FApps.find(app);
            if (found == FApps.end()) return;
            // Call messages name their call, which must still be allocated.
            if (message == LINE_CALLSTATE && !FCalls.count(device)) return;
            const LineCallback callback = found->second.callback;
            if (message == LINE_REPLY) FLastDetail = detail;
            if (callback) callback(device, message, instance, param1, param2, 0);
        },
        Qt::QueuedConnection);
}

int32_t LineApi::lineMakeCall(HLine line, HCall &call, const QString &destAddress)
{
    call = 0;
    const auto found = FLines.find(line);
    if (found == FLines.end()) return fail(LINEERR_INVALLINEHANDLE);
    Line &open = found->second;
    if (open.call) return fail(LINEERR_CALLUNAVAIL, {QStringLiteral("LineCallOpen"), {}});

    const HCall handle = FNextHandle++;
    const int32_t request = nextRequest();
    const HLineApp app = open.app;
    const uintptr_t instance = open.instance;
    open.connection->OnCallState = [this, app, handle, instance](uint32_t state, uint32_t mode) {
        post(app, handle, LINE_CALLSTATE, instance, state, mode);
    };
    open.connection->OnMakeCallReply = [this, app, request](int32_t result, const Reason &detail) {
        post(app, 0, LINE_REPLY, 0, uintptr_t(request), uintptr_t(uint32_t(result)), detail);
    };
    Reason detail;
    const int32_t result = open.connection->makeCall(destAddress, detail);
    if (result != 0) {
        open.connection->OnCallState = nullptr;
        open.connection->OnMakeCallReply = nullptr;
        return fail(result, detail);
    }
    open.call = handle;
    open.dropped = false;
    FCalls.emplace(handle, line);
    call = handle;
    FLastDetail = Reason();
    return request;
}

int32_t LineApi::lineDrop(HCall call)
{
    const auto found = FCalls.find(call);
    if (found == FCalls.end()) return fail(LINEERR_INVALCALLHANDLE);
    Line &open = FLines.at(found->second);
    Reason detail;
    const int32_t result = open.connection->drop(detail);
    if (result != 0) return fail(result, detail);
    open.dropped = true;
    const int32_t request = nextRequest();
    post(open.app, 0, LINE_REPLY, 0, uintptr_t(request), 0);
    FLastDetail = Reason();
    return request;
}

int32_t LineApi::lineDeallocateCall(HCall call)
{
    const auto found = FCalls.find(call);
    if (found == FCalls.end()) return fail(LINEERR_INVALCALLHANDLE);
    Line &open = FLines.at(found->second);
    // A call freed without a drop must not go on behind the next one on the same line.
    Reason ignored;
    if (!open.dropped) open.connection->drop(ignored);
    open.call = 0;
    FCalls.erase(found);
    FLastDetail = Reason();
    return 0;
}

void LineApi::closeLine(HLine line)
{
    const auto found = FLines.find(line);
    if (found == FLines.end()) return;
    if (found->second.call) FCalls.erase(found->second.call);
    // The connection hangs up a call still under way when it closes.
    std::unique_ptr<LineConnection> connection = std::move(found->second.connection);
    FLines.erase(found);
}

int32_t LineApi::lineClose(HLine line)
{
    if (!FLines.count(line)) return fail(LINEERR_INVALLINEHANDLE);
    closeLine(line);
    FLastDetail = Reason();
    return 0;
}

int32_t LineApi::lineShutdown(HLineApp app)
{
    if (!FApps.count(app)) return fail(LINEERR_INVALAPPHANDLE);
    std::vector<HLine> lines;
    for (const auto &[handle, line] : FLines)
        if (line.app == app) lines.push_back(handle);
    for (HLine line : lines)
        closeLine(line);
    FApps.erase(app);
    FLastDetail = Reason();
    return 0;
}

} // namespace tapi
