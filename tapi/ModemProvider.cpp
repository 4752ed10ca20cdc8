#include "tapi/ModemProvider.h"

#include "tapi/ModemLine.h"
#include "tapi/tapiconst.h"

namespace tapi {

ModemProvider::ModemProvider(std::function<QString()> portsSetting, QObject *parent)
    : QObject(parent), FPortsSetting(std::move(portsSetting))
{
}

QString ModemProvider::DeviceName(const QString &path)
{
    return QStringLiteral("Modem on ") + path;
}

QSet<QString> ModemProvider::namedPaths() const
{
    QSet<QString> named;
    for (const ModemPortSpec &port : ParseModemPorts(FPortsSetting ? FPortsSetting() : QString()))
        named.insert(port.path);
    return named;
}

QList<LineDeviceInfo> ModemProvider::devices() const
{
    QList<LineDeviceInfo> devices;
    QSet<QString> named;
    for (const ModemPortSpec &port : ParseModemPorts(FPortsSetting ? FPortsSetting() : QString())) {
        named.insert(port.path);
        devices.append(
            {DeviceName(port.path), port.problem, port.path + u'@' + QString::number(port.baud)});
    }
    for (const QString &path : FCandidates) {
        if (!named.contains(path)) devices.append({DeviceName(path), Reason(), path});
    }
    return devices;
}

QList<Reason> ModemProvider::probeNotes() const
{
    QList<Reason> notes;
    for (const QString &path : FCandidates) {
        if (FSilent.contains(path)) notes.append(FSilent.value(path));
    }
    return notes;
}

void ModemProvider::refresh()
{
    FCandidates = FindCandidates ? FindCandidates() : QStringList();
}

void ModemProvider::probe(const QString &device)
{
    refresh();
    const QSet<QString> named = namedPaths();
    for (const QString &path : std::as_const(FCandidates)) {
        if (!named.contains(path) && (device.isEmpty() || device == DeviceName(path))) ask(path);
    }
    // Also when no answer is to come (nothing to ask, or no port to open); from the event
    // loop, as the answers come, so that the list a caller holds stays as it is meanwhile.
    if (FAsking.isEmpty())
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (FAsking.isEmpty() && OnDevicesChanged) OnDevicesChanged();
            },
            Qt::QueuedConnection);
}

void ModemProvider::ask(const QString &path)
{
    if (FAsking.contains(path)) return;
    // Asking a port in the middle of a call would disturb it; a line holds it, so it is a
    // modem as far as anyone knows.
    if (const ModemPort *held = FPorts.value(path); held && held->isClaimed()) {
        FSilent.remove(path);
        return;
    }
    int32_t error = 0;
    Reason why;
    ModemPort *open = port(ParseModemPort(path), error, why);
    if (!open) {
        noteSilent(path, why);
        return;
    }
    FAsking.insert(path);
    open->ask(QByteArrayLiteral("AT"), ProbeTimeoutMs, this,
              [this, path](bool answered, const Reason &why) { asked(path, answered, why); });
}

void ModemProvider::asked(const QString &path, bool answered, const Reason &why)
{
    FAsking.remove(path);
    if (answered)
        FSilent.remove(path);
    else
        noteSilent(path, why);
    if (FAsking.isEmpty() && OnDevicesChanged) OnDevicesChanged();
}

void ModemProvider::noteSilent(const QString &path, const Reason &why)
{
    FSilent.insert(path, why);
}

ModemPort *ModemProvider::port(const ModemPortSpec &named, int32_t &error, Reason &detail)
{
    if (ModemPort *open = FPorts.value(named.path)) return open;
    std::unique_ptr<SerialPort> serial = SerialPort::open(named, error, detail);
    if (!serial) return nullptr;
    auto *open = new ModemPort(std::move(serial), this);
    FPorts.insert(named.path, open);
    // A port that has gone is opened afresh by the next user.
    connect(open, &ModemPort::lost, this, [this, open] { forget(open); });
    connect(open, &ModemPort::unused, this, [this, open] {
        forget(open);
        open->close();
        open->deleteLater();
    });
    return open;
}

void ModemProvider::forget(ModemPort *port)
{
    if (FPorts.value(port->path()) == port) FPorts.remove(port->path());
}

std::unique_ptr<LineConnection> ModemProvider::open(const LineDeviceInfo &device, int32_t &error,
                                                    Reason &detail)
{
    const ModemPortSpec wanted = ParseModemPort(device.address);
    if (const ModemPort *held = FPorts.value(wanted.path); held && held->isClaimed()) {
        error = LINEERR_ALLOCATED;
        detail = {QStringLiteral("ModemInUse"), {wanted.path}};
        return nullptr;
    }
    ModemPort *open = port(wanted, error, detail);
    if (!open) return nullptr;
    return std::make_unique<ModemLine>(open, SilenceTimeoutMs);
}

} // namespace tapi
