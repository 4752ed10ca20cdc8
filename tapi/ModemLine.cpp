#include "tapi/ModemLine.h"

#include "tapi/ModemAnswer.h"
#include "tapi/tapiconst.h"

namespace tapi {

namespace {

// What one modem command line takes after "ATD" and before ";".
constexpr int MaxDialLength = 60;

} // namespace

ModemLine::ModemLine(ModemPort *port, int silenceTimeoutMs) : FPort(port), FPath(port->path())
{
    FPort->claim();
    connect(FPort, &ModemPort::answered, this, &ModemLine::answer);
    connect(FPort, &ModemPort::lost, this, &ModemLine::portLost);
    FSilence.setSingleShot(true);
    FSilence.setInterval(silenceTimeoutMs);
    connect(&FSilence, &QTimer::timeout, this, [this] {
        if (FCall != CallState::Dialing) return;
        FPort->hangUp();
        endCall(LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NOANSWER);
    });
}

ModemLine::~ModemLine()
{
    if (!FPort) return;
    if (callUnderWay())
        FPort->hangUp();
    else
        FPort->withdrawCall(this);
    FPort->release();
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

bool ModemLine::callUnderWay() const
{
    return FCall == CallState::Dialing || FCall == CallState::Answered;
}

Reason ModemLine::goneReason() const
{
    return {QStringLiteral("ModemGone"), {FPath}};
}

int32_t ModemLine::makeCall(const QString &number, Reason &detail)
{
    if (!FPort || FPort->isGone()) {
        detail = goneReason();
        return LINEERR_OPERATIONFAILED;
    }
    if (FCall == CallState::Waiting || callUnderWay()) {
        detail = {QStringLiteral("ModemCallUnderWay"), {FPath}};
        return LINEERR_CALLUNAVAIL;
    }
    if (!IsDialable(number)) {
        detail = {QStringLiteral("ModemCannotDial"), {number}};
        return LINEERR_INVALADDRESS;
    }
    // A call the modem ended (busy) keeps the port until it is dropped; this one follows it.
    FPort->withdrawCall(this);
    FCall = CallState::Waiting;
    FPort->beginCall(this, [this, command = "ATD" + number.toLatin1() + ";\r"] { begin(command); });
    return 0;
}

void ModemLine::begin(const QByteArray &command)
{
    FCall = CallState::Dialing;
    // The hang-up of the call before dropped DTR.
    FPort->setDtr(true);
    FPort->write(command);
    FSilence.start();
    if (OnMakeCallReply) OnMakeCallReply(0, {});
    report(LINECALLSTATE_DIALING, 0);
}

int32_t ModemLine::drop(Reason &detail)
{
    if (!FPort || FPort->isGone()) {
        detail = goneReason();
        return LINEERR_OPERATIONFAILED;
    }
    FSilence.stop();
    if (FCall == CallState::Waiting)
        FPort->withdrawCall(this);
    else
        FPort->hangUp();
    if (FCall != CallState::None) FCall = CallState::Ended;
    return 0;
}

void ModemLine::answer(const QByteArray &line)
{
    if (!callUnderWay()) return;
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

void ModemLine::portLost()
{
    if (FCall == CallState::Waiting) {
        FPort->withdrawCall(this);
        FCall = CallState::Ended;
        if (OnMakeCallReply) OnMakeCallReply(LINEERR_OPERATIONFAILED, goneReason());
    } else if (callUnderWay()) {
        endCall(LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_UNAVAIL);
    }
}

} // namespace tapi
