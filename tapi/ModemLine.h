// An open line on a modem or ISDN terminal adapter: dials with "ATD<number>;" and follows the
// modem's answers.
#pragma once

#include "tapi/LineProvider.h"
#include "tapi/ModemPort.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

namespace tapi {

// The modem's answers after the dial command become call states:
//   OK            ringback (the number is dialled; the telephone takes over)
//   CONNECT...    connected
//   BUSY          busy
//   NO CARRIER    disconnected (normal)
//   NO ANSWER     disconnected (no answer)
//   NO DIALTONE   disconnected (no dial tone)
//   ERROR         disconnected (bad address: the modem refused the dial command)
// Silence until the time-out after the dial command hangs up and reports disconnected (no
// answer); a port that goes away reports disconnected (unavailable). The dial command waits
// for its turn on the port (a probe, or the hang-up of the call before, may still wait for
// the modem's answer); the make-call request is answered once the command is on its way.
// Echoed commands and unsolicited lines (RING and the like) are ignored.
//
// Owned by the line layer from lineOpen to lineClose, while it claims the port; main thread
// only.
class ModemLine : public QObject, public LineConnection
{
    Q_OBJECT
public:
    ModemLine(ModemPort *port, int silenceTimeoutMs);
    // Hangs up a call still under way and gives the port back.
    ~ModemLine() override;

    int32_t makeCall(const QString &number, Reason &detail) override;
    // Puts the modem on hook (ModemPort::hangUp); a dial still waiting for its turn is
    // withdrawn instead.
    int32_t drop(Reason &detail) override;

    // Characters a modem dials: digits, *, #, the pause "," and the dial modifiers W, P, T,
    // "!" and "@". Anything else (a ";" or a line end would start a command of its own) is
    // refused, as is a number longer than a modem's command line takes.
    static bool IsDialable(const QString &number);

private:
    enum class CallState
    {
        None,
        Waiting,  // for the port's turn
        Dialing,  // ATD sent, no final answer yet
        Answered, // the modem answered OK or CONNECT; later answers still count
        Ended
    };

    bool callUnderWay() const;
    void begin(const QByteArray &command);
    void answer(const QByteArray &line);
    void endCall(uint32_t state, uint32_t mode);
    void report(uint32_t state, uint32_t mode);
    void portLost();
    Reason goneReason() const;

    QPointer<ModemPort> FPort;
    QString FPath;
    QTimer FSilence;
    CallState FCall = CallState::None;
};

} // namespace tapi
