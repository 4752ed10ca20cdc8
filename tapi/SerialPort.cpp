#include "tapi/SerialPort.h"

#include "tapi/tapiconst.h"

#include <QElapsedTimer>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
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

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The reason an open failed, in words the user can act on.
int32_t openError(int error, const QString &path, QString &detail)
{
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        detail = path + QStringLiteral(" does not exist (is the modem plugged in and on?)");
        return LINEERR_NODEVICE;
    case EACCES:
    case EPERM:
        detail = QStringLiteral("no permission to use ") + path +
                 QStringLiteral(": add the user to the group dialout and log in again");
        return LINEERR_RESOURCEUNAVAIL;
    case EBUSY:
    case EWOULDBLOCK:
        detail = path + QStringLiteral(" is busy: another program holds it (ModemManager, for "
                                       "example)");
        return LINEERR_ALLOCATED;
    default:
        detail = path + QStringLiteral(": ") + systemError(error);
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
            parsed.problem = QStringLiteral("unsupported speed in ModemPorts: ") + text;
    }
    if (!parsed.path.startsWith(u'/'))
        parsed.problem = QStringLiteral("not an absolute device path in ModemPorts: ") + text;
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
                                             QString &detail)
{
    error = 0;
    if (!wanted.problem.isEmpty()) {
        error = LINEERR_NODRIVER;
        detail = wanted.problem;
        return nullptr;
    }
    const QByteArray path = wanted.path.toLocal8Bit();
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = openError(errno, wanted.path, detail);
        return nullptr;
    }
    std::unique_ptr<SerialPort> port(new SerialPort(fd, wanted.path));
    if (!::isatty(fd)) {
        error = LINEERR_NODEVICE;
        detail = wanted.path + QStringLiteral(" is not a serial port");
        return nullptr;
    }
    // Two lines on one port would mix their commands: the lock keeps out every other open
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
    // Old answers are no answers to what comes now. (Output is left alone: it may still be
    // carrying the last command of the line closed just before.)
    ::tcflush(fd, TCIFLUSH);
    port->setDtr(true);
    return port;
}

SerialPort::~SerialPort()
{
    ::ioctl(FFd, TIOCNXCL);
    ::close(FFd);
}

bool SerialPort::write(const QByteArray &data)
{
    QElapsedTimer clock;
    clock.start();
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(FFd, data.constData() + done, size_t(data.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return false;
        // The output queue is full: a stalled port gets a moment, never the main loop.
        const int left = 500 - int(clock.elapsed());
        if (left <= 0) return false;
        pollfd wait{FFd, POLLOUT, 0};
        if (::poll(&wait, 1, left) < 0 && errno != EINTR) return false;
        if (wait.revents & (POLLERR | POLLHUP | POLLNVAL)) return false;
    }
    return true;
}

bool SerialPort::read(QByteArray &into)
{
    char buffer[512];
    for (;;) {
        const ssize_t n = ::read(FFd, buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        // End of file on a terminal means it was hung up or unplugged.
        return n < 0 && errno == EAGAIN;
    }
}

bool SerialPort::setDtr(bool on)
{
    int bits = TIOCM_DTR;
    return ::ioctl(FFd, on ? TIOCMBIS : TIOCMBIC, &bits) == 0;
}

bool AnswersAt(const ModemPortSpec &wanted, int timeoutMs, QString &why)
{
    int32_t error = 0;
    std::unique_ptr<SerialPort> port = SerialPort::open(wanted, error, why);
    if (!port) return false;
    if (!port->write(QByteArrayLiteral("AT\r"))) {
        why = wanted.path + QStringLiteral(": the command could not be written");
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    QByteArray received;
    for (;;) {
        if (!port->read(received)) {
            why = wanted.path + QStringLiteral(" went away");
            return false;
        }
        for (const QByteArray &line : received.split('\r')) {
            const QByteArray answer = line.trimmed();
            if (answer == "OK") return true;
            if (answer == "ERROR") {
                why = wanted.path + QStringLiteral(" answered ERROR");
                return false;
            }
        }
        // A device that chatters without end is no modem; keep only the tail.
        if (received.size() > 4096) received = received.right(64);
        const int left = timeoutMs - int(clock.elapsed());
        if (left <= 0) break;
        pollfd wait{port->fd(), POLLIN, 0};
        ::poll(&wait, 1, left);
    }
    why = wanted.path + QStringLiteral(" did not answer AT");
    return false;
}

} // namespace tapi
