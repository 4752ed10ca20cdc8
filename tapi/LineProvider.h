// What a source of line devices (modems on serial ports, the desktop's tel: handler) offers
// to the line layer.
#pragma once

#include "tapi/Reason.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace tapi {

struct LineDeviceInfo
{
    QString name;
    // Empty when the device can be used; otherwise why not. Such a device keeps its place in
    // the list (so that the ids of the others stay) but cannot be negotiated or opened.
    Reason problem;
    // What the provider opens (a port and its speed), so that a line opens the device that
    // was listed even when the list has changed since.
    QString address;
};

// An open line of one device, from lineOpen to lineClose; it carries at most one call. The
// provider reports the call's course through the two hooks, in the main thread (from inside
// makeCall only when it returns 0); the line layer posts them as line messages.
class LineConnection
{
public:
    virtual ~LineConnection() = default;

    // Starts a call. 0 when it is under way, else a LINEERR code with a reason in detail.
    virtual int32_t makeCall(const QString &number, Reason &detail) = 0;
    // Ends the call; 0, or a LINEERR code when the device could not be told.
    virtual int32_t drop(Reason &detail) = 0;

    std::function<void(uint32_t state, uint32_t mode)> OnCallState;
    // The outcome of the make-call request: 0, or a LINEERR code with its reason.
    std::function<void(int32_t result, const Reason &detail)> OnMakeCallReply;
};

// Owned by the program for the whole run; main thread only.
class LineProvider
{
public:
    virtual ~LineProvider() = default;

    // The devices as last found; answers at once.
    virtual QList<LineDeviceInfo> devices() const = 0;
    // Looks for devices again, at once and without disturbing any (no port is opened).
    virtual void refresh() = 0;
    // Asks devices that need asking whether they work (modems: whether they answer AT): the
    // one named, or with an empty name every one found. Works in the background;
    // OnDevicesChanged follows.
    virtual void probe(const QString &device) { Q_UNUSED(device); }
    // Why devices that were asked are not listed.
    virtual QList<Reason> probeNotes() const { return {}; }
    // Opens a device of devices(); null with a LINEERR code and a reason when it cannot be
    // opened.
    virtual std::unique_ptr<LineConnection> open(const LineDeviceInfo &device, int32_t &error,
                                                 Reason &detail) = 0;

    // Set by the line layer: called from the main thread's event loop when a probe is done.
    std::function<void()> OnDevicesChanged;
};

} // namespace tapi
