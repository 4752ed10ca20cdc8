// Line devices on serial ports: AT-command modems and ISDN terminal adapters.
#pragma once

#include "tapi/LineProvider.h"
#include "tapi/SerialPort.h"
#include "tapi/UdevModems.h"

#include <QObject>
#include <QSet>

#include <atomic>
#include <mutex>
#include <thread>

namespace tapi {

// The devices are, in this order: the ports named in the "ModemPorts" setting as it stands
// (listed as they are, without asking them), then the modems udev knows
// (FindUdevModemPorts) that answered AT with OK when last probed. Other serial devices are
// never touched unless named. Each device is named "Modem on <path>"; a named entry that
// cannot be used (a bad speed) keeps its place as a device with a problem.
//
// probe() asks the udev modems in a thread of its own, one port at a time, each within
// ProbeTimeoutMs; a port that is named, or that this program has open, is not asked (an open
// one keeps its place). OnDevicesChanged runs in the main thread when a probe is done.
//
// Owned by the program; must outlive the line layer it is added to. Main thread only, apart
// from the probing thread, which only reads the ports it was given.
class ModemProvider : public QObject, public LineProvider
{
    Q_OBJECT
public:
    explicit ModemProvider(std::function<QString()> portsSetting, QObject *parent = nullptr);
    // Waits for a probe under way (at most one port's time-out).
    ~ModemProvider() override;

    static QString DeviceName(const QString &path);

    QList<LineDeviceInfo> devices() const override;
    void probe() override;
    void finishProbe() override;
    std::unique_ptr<LineConnection> open(int index, int32_t &error, QString &detail) override;

    // Where the candidates for probing come from; tests give their own.
    std::function<QStringList()> FindCandidates = FindUdevModemPorts;
    int ProbeTimeoutMs = 1000;
    // Silence after the dial command until a call is given up.
    int SilenceTimeoutMs = 60000;

private:
    // The named ports, then the modems found, without a path twice.
    QList<ModemPortSpec> ports() const;
    void startProbe();
    void takeProbeResult();

    std::function<QString()> FPortsSetting;
    QStringList FFound;
    QSet<QString> FInUse;

    std::thread FWorker;
    bool FProbing = false;
    bool FProbeAgain = false;
    std::atomic<bool> FCancel{false};
    std::mutex FResultLock;
    bool FResultReady = false;
    QStringList FResultFound;
    QStringList FResultNotes;
};

} // namespace tapi
