// Serial ports for modems and ISDN terminal adapters: the port names of the "ModemPorts"
// setting, and a port opened raw at 8N1 for AT commands.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <memory>

namespace tapi {

constexpr int DefaultBaud = 115200;

// One entry of "ModemPorts": "path" or "path@baud".
struct ModemPortSpec
{
    QString path;
    int baud = DefaultBaud;
    // Empty when the entry can be used; otherwise why not (a bad speed, a relative path).
    QString problem;
};

ModemPortSpec ParseModemPort(const QString &entry);
// The ";"-separated entries, blanks around them removed, empty ones skipped; a path named
// twice counts once.
QList<ModemPortSpec> ParseModemPorts(const QString &setting);

// A port open for AT commands: raw 8N1 at the port's named speed, no flow control, the modem's
// control lines ignored while open, DTR raised; DTR drops when it closes. The port is locked
// against other programs (an exclusive flock, and exclusive mode for those without root).
// Reads and writes never block.
//
// Owned by one open line; main thread (or the probing thread, for a probe's own port).
class SerialPort
{
public:
    // Null with a LINEERR code and a reason the user can act on ("busy: another program
    // holds it", "no permission: join the group dialout") when the port cannot be opened.
    static std::unique_ptr<SerialPort> open(const ModemPortSpec &wanted, int32_t &error,
                                            QString &detail);
    ~SerialPort();

    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;

    int fd() const { return FFd; }
    const QString &path() const { return FPath; }

    // Writes all of data within a short time; false when the port failed or has gone.
    bool write(const QByteArray &data);
    // Appends what has arrived; false when the port has gone (hang-up, unplugged).
    bool read(QByteArray &into);
    // Drops or raises DTR; false where the port has no such line (a pseudo-terminal).
    bool setDtr(bool on);

private:
    SerialPort(int fd, const QString &path) : FFd(fd), FPath(path) {}

    int FFd;
    QString FPath;
};

// Whether the port answers "AT" with "OK" within the time. why says what happened otherwise.
bool AnswersAt(const ModemPortSpec &wanted, int timeoutMs, QString &why);

} // namespace tapi
