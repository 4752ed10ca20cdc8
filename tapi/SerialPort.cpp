#include "tapi/SerialPort.h"

#include "tapi/ModemAnswer.h"
#include "tapi/tapiconst.h"

#include <QSet>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace tapi {

namespace {

struct Speed
{
    int baud;
    speed_t code;
};

constexpr Speed Speeds[] = {
    {300, B300},         {600, B600},         {1200, B1200},       {2400, B2400},
    {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},
    {500000, B500000},   {576000, B576000},   {921600, B921600},   {1000000, B1000000},
    {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000},
    {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

speed_t speedCode(int baud)
{
    for (const Speed &speed : Speeds) {
        if (speed.baud == baud) return speed.code;
    }
    return B0;
}

// The reason an open failed, in words the user can act on.
int32_t openError(int error, const QString &path, Reason &detail)
{
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        detail = {QStringLiteral("ModemMissing"), {path}};
        return LINEERR_NODEVICE;
    case EACCES:
    case EPERM:
        detail = {QStringLiteral("ModemNoPermission"), {path}};
        return LINEERR_RESOURCEUNAVAIL;
    case EBUSY:
    case EWOULDBLOCK:
        detail = {QStringLiteral("ModemBusy"), {path}};
        return LINEERR_ALLOCATED;
    default:
        detail = {QStringLiteral("ModemSystemError"),
                  {path, QString::fromLocal8Bit(std::strerror(error))}};
        return LINEERR_OPERATIONFAILED;
    }
}

} // namespace

ModemPortSpec ParseModemPort(const QString &entry)
{
    ModemPortSpec parsed;
    const QString text = entry.trimmed();
    const qsizetype at = text.lastIndexOf(u'@');
    parsed.path = at < 0 ? text : text.left(at).trimmed();
    if (at >= 0) {
        bool number = false;
        parsed.baud = text.mid(at + 1).trimmed().toInt(&number);
        if (!number || speedCode(parsed.baud) == B0)
            parsed.problem = {QStringLiteral("ModemBadSpeed"), {text}};
    }
    if (!parsed.path.startsWith(u'/'))
        parsed.problem = {QStringLiteral("ModemRelativePath"), {text}};
    return parsed;
}

QList<ModemPortSpec> ParseModemPorts(const QString &setting)
{
    QList<ModemPortSpec> ports;
    QSet<QString> seen;
    for (const QString &entry : setting.split(u';', Qt::SkipEmptyParts)) {
        if (entry.trimmed().isEmpty()) continue;
        const ModemPortSpec port = ParseModemPort(entry);
        if (seen.contains(port.path)) continue;
        seen.insert(port.path);
        ports.append(port);
    }
    return ports;
}

std::unique_ptr<SerialPort> SerialPort::open(const ModemPortSpec &wanted, int32_t &error,
                                             Reason &detail)
{
    error = 0;
    if (!wanted.problem.isEmpty()) {
        error = LINEERR_NODRIVER;
        detail = wanted.problem;
        return nullptr;
    }
    const QByteArray path = wanted.path.toLocal8Bit();
    // Non-blocking: the open does not wait for the modem's carrier, and no read or write does.
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = openError(errno, wanted.path, detail);
        return nullptr;
    }
    std::unique_ptr<SerialPort> port(new SerialPort(fd, wanted.path));
    if (!::isatty(fd)) {
        error = LINEERR_NODEVICE;
        detail = {QStringLiteral("ModemNotSerial"), {wanted.path}};
        return nullptr;
    }
    // Two users of one port would mix their commands: the lock keeps out every other open
    // of the port, this program's own included.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = openError(errno, wanted.path, detail);
        return nullptr;
    }
    ::ioctl(fd, TIOCEXCL);

    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) {
        error = openError(errno, wanted.path, detail);
        return nullptr;
    }
    ::cfmakeraw(&settings);
    settings.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    settings.c_cflag |= CS8 | CREAD | CLOCAL | HUPCL;
    settings.c_iflag &= ~(IXON | IXOFF | IXANY);
    // With VMIN 0 an empty read returns 0, which could not be told from a hang-up; with 1 it
    // fails with EAGAIN (the port is non-blocking).
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    ::cfsetispeed(&settings, speedCode(wanted.baud));
    ::cfsetospeed(&settings, speedCode(wanted.baud));
    if (::tcsetattr(fd, TCSANOW, &settings) != 0) {
        error = openError(errno, wanted.path, detail);
        return nullptr;
    }
    // Old answers are no answers to what comes now.
    ::tcflush(fd, TCIFLUSH);
    port->setDtr(true);
    return port;
}

SerialPort::SerialPort(int fd, const QString &path)
    : FFd(fd), FPath(path), FReadNotifier(new QSocketNotifier(fd, QSocketNotifier::Read, this)),
      FWriteNotifier(new QSocketNotifier(fd, QSocketNotifier::Write, this))
{
    FWriteNotifier->setEnabled(false);
    connect(FReadNotifier, &QSocketNotifier::activated, this, &SerialPort::readPort);
    connect(FWriteNotifier, &QSocketNotifier::activated, this, &SerialPort::writePort);
    FStall.setSingleShot(true);
    FStall.setInterval(WriteStallMs);
    connect(&FStall, &QTimer::timeout, this, &SerialPort::lose);
}

SerialPort::~SerialPort()
{
    close();
}

void SerialPort::close()
{
    if (FFd < 0) return;
    // The notifiers may be the ones calling: they go once the call is over.
    for (QSocketNotifier *notifier : {FReadNotifier, FWriteNotifier}) {
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
    FStall.stop();
    // A port that has not taken all that was written is stuck: what it holds is dropped, or
    // the close would wait for it. Otherwise the last bytes (a hang-up as the program ends)
    // still go out.
    ::tcflush(FFd, FPending.isEmpty() ? TCIFLUSH : TCIOFLUSH);
    FPending.clear();
    ::ioctl(FFd, TIOCNXCL);
    ::close(FFd);
    FFd = -1;
}

void SerialPort::lose()
{
    if (FFd < 0) return;
    close();
    emit gone();
}

bool SerialPort::write(const QByteArray &data)
{
    if (FFd < 0) return false;
    FPending.append(data);
    // What the port takes now goes at once; the rest goes when it takes it. A failure is
    // reported from the event loop (the notifier fires), never from inside the caller.
    writePending();
    watchOutput();
    return true;
}

void SerialPort::writePort()
{
    if (!writePending()) {
        lose();
        return;
    }
    watchOutput();
}

bool SerialPort::writePending()
{
    while (!FPending.isEmpty()) {
        const ssize_t n = ::write(FFd, FPending.constData(), size_t(FPending.size()));
        if (n > 0) {
            FPending.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        // The output queue is full, or the port failed.
        return n == 0 || errno == EAGAIN;
    }
    return true;
}

void SerialPort::watchOutput()
{
    FWriteNotifier->setEnabled(!FPending.isEmpty());
    if (FPending.isEmpty())
        FStall.stop();
    else if (!FStall.isActive())
        FStall.start();
}

void SerialPort::readPort()
{
    char buffer[512];
    for (;;) {
        const ssize_t n = ::read(FFd, buffer, sizeof buffer);
        if (n > 0) {
            FReceived.append(buffer, n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) break;
        // End of file on a terminal means it was hung up or unplugged; a hung-up terminal
        // stays readable for ever.
        lose();
        return;
    }
    while (const std::optional<QByteArray> line = TakeModemLine(FReceived)) {
        emit lineReceived(*line);
        // Whoever took the line may have closed the port.
        if (FFd < 0) return;
    }
    if (FReceived.size() > MaxPendingModemAnswer) FReceived.clear();
}

bool SerialPort::setDtr(bool on)
{
    int bits = TIOCM_DTR;
    return FFd >= 0 && ::ioctl(FFd, on ? TIOCMBIS : TIOCMBIC, &bits) == 0;
}

} // namespace tapi
