#include "tapi/ModemLine.h"

#include "tapi/ModemAnswer.h"
#include "tapi/tapiconst.h"

#include <QElapsedTimer>
#include <QSocketNotifier>

#include <poll.h>

namespace tapi {

namespace {

// What one modem command line takes after "ATD" and before ";".
constexpr int MaxDialLength = 60;
// How long a hang-up waits for the modem's answer to ATH.
constexpr qint64 HangUpAnswerMs = 300;

} // namespace

ModemLine::ModemLine(std::unique_ptr<SerialPort> port, int silenceTimeoutMs,
                     std::function<void()> onClosed)
    : FPort(std::move(port)), FPath(FPort->path()), FOnClosed(std::move(onClosed))
{
    FNotifier = new QSocketNotifier(FPort->fd(), QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, &ModemLine::readPort);
    FSilence.setSingleShot(true);
    FSilence.setInterval(silenceTimeoutMs);
    connect(&FSilence, &QTimer::timeout, this, [this] {
        if (FCall != CallState::Dialing) return;
        hangUp();
        endCall(LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NOANSWER);
    });
}

ModemLine::~ModemLine()
{
    if (FCall == CallState::Dialing || FCall == CallState::Answered) hangUp();
    if (FNotifier) FNotifier->setEnabled(false);
    FPort.reset();
    if (FOnClosed) FOnClosed();
}

bool ModemLine::IsDialable(const QString &number)
{
    if (number.size() > MaxDialLength) return false;
    for (const QChar c : number) {
        if (!c.isDigit() && !QStringLiteral("*#,WwPpTt!@").contains(c)) return false;
        if (c.unicode() > 0x7F) return false;
    }
    return true;
}

QString ModemLine::goneText() const
{
    return FPath + QStringLiteral(" has gone (unplugged or switched off?)");
}

int32_t ModemLine::makeCall(const QString &number, QString &detail)
{
    if (!FPort) {
        detail = goneText();
        return LINEERR_OPERATIONFAILED;
    }
    if (FCall == CallState::Dialing || FCall == CallState::Answered) {
        detail = QStringLiteral("a call is under way on ") + FPath;
        return LINEERR_CALLUNAVAIL;
    }
    if (!IsDialable(number)) {
        detail = QStringLiteral("a modem cannot dial \"") + number + u'"';
        return LINEERR_INVALADDRESS;
    }
    if (FDtrDropped) FDtrDropped = !FPort->setDtr(true);
    if (!FPort->write(QByteArrayLiteral("ATD") + number.toLatin1() + QByteArrayLiteral(";\r"))) {
        detail = goneText();
        portGone();
        return LINEERR_OPERATIONFAILED;
    }
    FCall = CallState::Dialing;
    FSilence.start();
    if (OnMakeCallReply) OnMakeCallReply(0);
    report(LINECALLSTATE_DIALING, 0);
    return 0;
}

int32_t ModemLine::drop(QString &detail)
{
    if (!FPort) {
        detail = goneText();
        return LINEERR_OPERATIONFAILED;
    }
    hangUp();
    if (FCall != CallState::None) FCall = CallState::Ended;
    FSilence.stop();
    return 0;
}

void ModemLine::hangUp()
{
    if (!FPort) return;
    // Any character ends the dialling; ATH puts the modem on hook, and a modem that follows
    // DTR hangs up on the drop as well.
    if (!FPort->write(QByteArrayLiteral("ATH\r"))) return;
    // The modem's OK must not be left for the next call on this port to take as its own
    // answer: wait for it a moment.
    QElapsedTimer clock;
    clock.start();
    QByteArray received;
    while (clock.elapsed() < HangUpAnswerMs && FPort->read(received)) {
        const QList<QByteArray> lines = received.replace('\n', '\r').split('\r');
        if (lines.contains("OK") || lines.contains("ERROR")) break;
        pollfd wait{FPort->fd(), POLLIN, 0};
        ::poll(&wait, 1, int(HangUpAnswerMs - clock.elapsed()));
    }
    FDtrDropped = FPort->setDtr(false);
}

void ModemLine::readPort()
{
    if (!FPort) return;
    if (!FPort->read(FReceived)) {
        portGone();
        return;
    }
    while (const std::optional<QByteArray> line = TakeModemLine(FReceived)) {
        answer(*line);
        if (!FPort) return;
    }
    if (FReceived.size() > MaxPendingModemAnswer) FReceived.clear();
}

void ModemLine::answer(const QByteArray &line)
{
    if (FCall != CallState::Dialing && FCall != CallState::Answered) return;
    const bool dialing = FCall == CallState::Dialing;
    switch (ClassifyModemAnswer(line)) {
    case ModemAnswer::Ok:
        if (!dialing) return;
        FCall = CallState::Answered;
        FSilence.stop();
        report(LINECALLSTATE_RINGBACK, 0);
        break;
    case ModemAnswer::Connect:
        FCall = CallState::Answered;
        FSilence.stop();
        report(LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
        break;
    case ModemAnswer::Busy:
        endCall(LINECALLSTATE_BUSY, LINEBUSYMODE_STATION);
        break;
    case ModemAnswer::NoCarrier:
        endCall(LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL);
        break;
    case ModemAnswer::NoAnswer:
        endCall(LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NOANSWER);
        break;
    case ModemAnswer::NoDialtone:
        endCall(LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NODIALTONE);
        break;
    case ModemAnswer::Error:
        if (dialing) endCall(LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_BADADDRESS);
        break;
    case ModemAnswer::Echo: // the modem repeats commands
    case ModemAnswer::Other:
        break;
    }
}

void ModemLine::report(uint32_t state, uint32_t mode)
{
    if (OnCallState) OnCallState(state, mode);
}

void ModemLine::endCall(uint32_t state, uint32_t mode)
{
    FCall = CallState::Ended;
    FSilence.stop();
    report(state, mode);
}

void ModemLine::portGone()
{
    // A hung-up terminal stays readable for ever: stop watching it before anything else.
    FNotifier->setEnabled(false);
    FPort.reset();
    if (FCall == CallState::Dialing || FCall == CallState::Answered)
        endCall(LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_UNAVAIL);
}

} // namespace tapi
