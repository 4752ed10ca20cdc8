// The line-device layer: the nine line operations the dialer uses, over the devices of the
// registered providers, with the line messages LINE_CALLSTATE and LINE_REPLY delivered to
// the callback given to lineInitialize.
//
// Device ids are positions in the list of every provider's devices, in the order the
// providers were added; each line application keeps the list it saw at lineInitialize.
// Messages are posted to the main thread's event loop, never delivered from inside an
// operation, and none arrives for a call, line or application after it has been freed.
//
// Owned by the program for the whole run, with the providers; main thread only.
#pragma once

#include "tapi/LineProvider.h"
#include "tapi/tapiconst.h"

#include <QObject>

#include <map>

namespace tapi {

// (device or call handle, message, callback instance, param1, param2, param3)
using LineCallback = std::function<void(uint32_t device, uint32_t message, uintptr_t instance,
                                        uintptr_t param1, uintptr_t param2, uintptr_t param3)>;

struct LineDevCaps
{
    QString lineName;
    QString providerInfo;
};

class LineApi : public QObject
{
    Q_OBJECT
public:
    explicit LineApi(QObject *parent = nullptr);
    ~LineApi() override;

    // The provider must outlive this object.
    void addProvider(LineProvider *provider, const QString &name);
    // Asks the devices whether they work: the one named, or every one (modems: whether
    // they answer AT). In the background; devicesProbed follows.
    void probe(const QString &device = QString());
    // Why devices that were asked are not listed.
    QList<Reason> probeNotes() const;

    // Every provider looks for its devices again first (without opening any). Fails with
    // LINEERR_NODEVICE when no provider offers a device.
    int32_t lineInitialize(HLineApp &app, LineCallback callback, uint32_t &deviceCount);
    // The highest version both sides speak within the bounds. A device its provider cannot
    // use fails with LINEERR_NODRIVER.
    int32_t lineNegotiateAPIVersion(HLineApp app, uint32_t deviceId, uint32_t lowVersion,
                                    uint32_t highVersion, uint32_t &version);
    int32_t lineGetDevCaps(HLineApp app, uint32_t deviceId, uint32_t version, LineDevCaps &caps);
    // Lines carry outgoing calls only (no privileges for incoming ones); extension versions,
    // media modes and call parameters have no meaning here and are not taken.
    int32_t lineOpen(HLineApp app, uint32_t deviceId, HLine &line, uint32_t version,
                     uintptr_t callbackInstance);
    // A positive request id whose LINE_REPLY follows, or a LINEERR code. One call per line.
    int32_t lineMakeCall(HLine line, HCall &call, const QString &destAddress);
    // A positive request id, or a LINEERR code.
    int32_t lineDrop(HCall call);
    int32_t lineDeallocateCall(HCall call);
    int32_t lineClose(HLine line);
    int32_t lineShutdown(HLineApp app);

    // Why the last failing operation failed ("/dev/ttyACM0 is busy: ..."); empty when the
    // code says it all. While a LINE_REPLY is delivered: why that request failed.
    const Reason &lastErrorDetail() const { return FLastDetail; }

signals:
    // A probe has finished; the device lists may have changed.
    void devicesProbed();

private:
    struct Device
    {
        LineProvider *provider;
        LineDeviceInfo info;
        QString providerName;
    };
    struct App
    {
        LineCallback callback;
        std::vector<Device> devices;
    };
    struct Line
    {
        HLineApp app;
        uintptr_t instance;
        std::unique_ptr<LineConnection> connection;
        HCall call = 0;
        bool dropped = false;
    };

    int32_t fail(int32_t code, const Reason &detail = Reason());
    int32_t nextRequest();
    const Device *device(HLineApp app, uint32_t deviceId, int32_t &error);
    void post(HLineApp app, uint32_t device, uint32_t message, uintptr_t instance, uintptr_t param1,
              uintptr_t param2, const Reason &detail = Reason());
    void closeLine(HLine line);

    struct Registered
    {
        LineProvider *provider;
        QString name;
    };
    std::vector<Registered> FProviders;
    std::map<HLineApp, App> FApps;
    std::map<HLine, Line> FLines;
    std::map<HCall, HLine> FCalls;
    uint32_t FNextHandle = 1;
    int32_t FNextRequest = 1;
    Reason FLastDetail;
};

} // namespace tapi
