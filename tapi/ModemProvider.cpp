#include "tapi/ModemProvider.h"

#include "tapi/ModemLine.h"
#include "tapi/tapiconst.h"

#include <QDebug>

namespace tapi {

ModemProvider::ModemProvider(std::function<QString()> portsSetting, QObject *parent)
    : QObject(parent), FPortsSetting(std::move(portsSetting))
{
}

ModemProvider::~ModemProvider()
{
    FCancel = true;
    if (FWorker.joinable()) FWorker.join();
}

QString ModemProvider::DeviceName(const QString &path)
{
    return QStringLiteral("Modem on ") + path;
}

QList<ModemPortSpec> ModemProvider::ports() const
{
    QList<ModemPortSpec> ports = ParseModemPorts(FPortsSetting ? FPortsSetting() : QString());
    QSet<QString> named;
    for (const ModemPortSpec &port : std::as_const(ports))
        named.insert(port.path);
    for (const QString &path : FFound) {
        if (!named.contains(path)) ports.append(ParseModemPort(path));
    }
    return ports;
}

QList<LineDeviceInfo> ModemProvider::devices() const
{
    QList<LineDeviceInfo> devices;
    for (const ModemPortSpec &port : ports())
        devices.append({DeviceName(port.path), port.problem});
    return devices;
}

void ModemProvider::probe()
{
    if (FProbing) {
        FProbeAgain = true;
        return;
    }
    startProbe();
}

void ModemProvider::startProbe()
{
    if (FWorker.joinable()) FWorker.join();
    FProbing = true;
    QSet<QString> named;
    for (const ModemPortSpec &port : ParseModemPorts(FPortsSetting ? FPortsSetting() : QString()))
        named.insert(port.path);
    FWorker =
        std::thread([this, find = FindCandidates, timeout = ProbeTimeoutMs, named, inUse = FInUse] {
            QStringList found;
            QStringList notes;
            for (const QString &path : find ? find() : QStringList()) {
                if (FCancel) break;
                if (named.contains(path)) continue;
                // Asking a port in the middle of a call would disturb it.
                if (inUse.contains(path)) {
                    found.append(path);
                    continue;
                }
                QString why;
                if (AnswersAt(ParseModemPort(path), timeout, why))
                    found.append(path);
                else
                    notes.append(why);
            }
            {
                std::lock_guard<std::mutex> lock(FResultLock);
                FResultFound = found;
                FResultNotes = notes;
                FResultReady = true;
            }
            QMetaObject::invokeMethod(
                this, [this] { takeProbeResult(); }, Qt::QueuedConnection);
        });
}

void ModemProvider::takeProbeResult()
{
    {
        std::lock_guard<std::mutex> lock(FResultLock);
        if (!FResultReady) return;
        FResultReady = false;
        FFound = FResultFound;
        // Why a modem is missing from the list ("... is busy") is worth a line for whoever
        // wonders.
        for (const QString &note : std::as_const(FResultNotes))
            qDebug().noquote() << "Modem probe:" << note;
    }
    if (FWorker.joinable()) FWorker.join();
    FProbing = false;
    if (FProbeAgain) {
        FProbeAgain = false;
        startProbe();
        return;
    }
    if (OnDevicesChanged) OnDevicesChanged();
}

void ModemProvider::finishProbe()
{
    while (FProbing) {
        if (FWorker.joinable()) FWorker.join();
        takeProbeResult();
    }
}

std::unique_ptr<LineConnection> ModemProvider::open(int index, int32_t &error, QString &detail)
{
    const QList<ModemPortSpec> known = ports();
    if (index < 0 || index >= known.size()) {
        error = LINEERR_BADDEVICEID;
        return nullptr;
    }
    const ModemPortSpec &wanted = known.at(index);
    std::unique_ptr<SerialPort> port = SerialPort::open(wanted, error, detail);
    if (!port) return nullptr;
    FInUse.insert(wanted.path);
    return std::make_unique<ModemLine>(std::move(port), SilenceTimeoutMs,
                                       [this, path = wanted.path] { FInUse.remove(path); });
}

} // namespace tapi
