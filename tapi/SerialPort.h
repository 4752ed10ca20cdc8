// Serial ports for modems and ISDN terminal adapters: the port names of the "ModemPorts"
// setting, and a port opened raw at 8N1 for AT commands.
#pragma once

#include "tapi/Reason.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>

class QSocketNotifier;

namespace tapi {

constexpr int DefaultBaud = 115200;

// One entry of "ModemPorts": "path" or "path@baud".
struct ModemPortSpec
{
    QString path;
    int baud = DefaultBaud;
    // Empty when the entry can be used; otherwise why not (a bad speed, a relative path).
    Reason problem;
};

ModemPortSpec ParseModemPort(const QString &entry);
// The ";"-separated entries, blanks around them removed, empty ones skipped; a path named
// twice counts once.
QList<ModemPortSpec> ParseModemPorts(const QString &setting);

// A port open for AT commands: raw 8N1 at the port's named speed, no flow control, the modem's
// control lines ignored while open, DTR raised; DTR drops when it closes. The port is locked
// against other programs (an exclusive flock, and exclusive mode for those without root).
//
// Nothing here waits: writes go out as the port takes them, what arrives is handed on line
// by line, and closing a port that has stalled discards its output (which would otherwise
// hold up the close).
//
// Owned by the modem port that speaks on it; main thread only.
class SerialPort : public QObject
{
    Q_OBJECT
public:
    // Null with a LINEERR code and a reason the user can act on ("busy: another program
    // holds it", "no permission: join the group dialout") when the port cannot be opened.
    static std::unique_ptr<SerialPort> open(const ModemPortSpec &wanted, int32_t &error,
                                            Reason &detail);
    ~SerialPort() override;

    const QString &path() const { return FPath; }
    bool isOpen() const { return FFd >= 0; }

    // Queues data; false once the port has gone.
    bool write(const QByteArray &data);
    // Drops or raises DTR; false where the port has no such line (a pseudo-terminal).
    bool setDtr(bool on);
    void close();

    // How long the port may refuse output before it counts as gone.
    static constexpr int WriteStallMs = 1000;

signals:
    // A line the modem sent, without its line end and blanks; empty lines are left out.
    void lineReceived(const QByteArray &line);
    // Hung up, unplugged, or stalled; the port is closed by then.
    void gone();

private:
    SerialPort(int fd, const QString &path);
    void readPort();
    void writePort();
    // Hands the port what it takes now; false when it failed.
    bool writePending();
    // The notifier and the stall timer watch output still pending.
    void watchOutput();
    void lose();

    int FFd;
    QString FPath;
    QSocketNotifier *FReadNotifier;
    QSocketNotifier *FWriteNotifier;
    QTimer FStall;
    QByteArray FReceived;
    QByteArray FPending;
};

} // namespace tapi
