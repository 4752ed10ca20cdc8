// Line devices on serial ports: AT-command modems and ISDN terminal adapters.
#pragma once

#include "tapi/LineProvider.h"
#include "tapi/ModemPort.h"
#include "tapi/UdevModems.h"

#include <QHash>
#include <QObject>
#include <QSet>

namespace tapi {

// The devices are, in this order: the ports named in the "ModemPorts" setting as it stands,
// then the modems udev knows (FindUdevModemPorts, looked for again by refresh). Each device
// is named "Modem on <path>"; a named entry that cannot be used (a bad speed) keeps its place
// as a device with a problem.
//
// Listing opens no port: a port is opened only to dial on it, or to ask one of udev's modems
// whether it answers AT (probe). Many boards that are no modems present the same USB
// interface and reset when opened, so the user decides when that happens. Named ports are
// never asked, nor is a port a line holds. A modem that did not answer stays listed (it may
// answer once ModemManager lets go of it, and the user may have chosen it); probeNotes says
// why it did not.
//
// The ports the program has open are kept here, one ModemPort each, so that a dial, a probe
// and a hang-up on one port take their turns instead of locking each other out; a port is
// closed once nothing uses it.
//
// Owned by the program; must outlive the line layer it is added to. Main thread only.
class ModemProvider : public QObject, public LineProvider
{
    Q_OBJECT
public:
    explicit ModemProvider(std::function<QString()> portsSetting, QObject *parent = nullptr);

    static QString DeviceName(const QString &path);

    QList<LineDeviceInfo> devices() const override;
    void refresh() override;
    void probe(const QString &device = QString()) override;
    std::unique_ptr<LineConnection> open(const LineDeviceInfo &device, int32_t &error,
                                         Reason &detail) override;

    // Why modems found did not answer when last asked.
    QList<Reason> probeNotes() const override;

    // Where the candidates for probing come from; tests give their own.
    std::function<QStringList()> FindCandidates = FindUdevModemPorts;
    int ProbeTimeoutMs = 1000;
    // Silence after the dial command until a call is given up.
    int SilenceTimeoutMs = 60000;

private:
    QSet<QString> namedPaths() const;
    // The port open for path, or opened now.
    ModemPort *port(const ModemPortSpec &named, int32_t &error, Reason &detail);
    void forget(ModemPort *port);
    void ask(const QString &path);
    void asked(const QString &path, bool answered, const Reason &why);
    void noteSilent(const QString &path, const Reason &why);

    std::function<QString()> FPortsSetting;
    QStringList FCandidates;
    QHash<QString, Reason> FSilent;
    QSet<QString> FAsking;
    QHash<QString, ModemPort *> FPorts;
};

} // namespace tapi
