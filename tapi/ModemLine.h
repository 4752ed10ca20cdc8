// An open line on a modem or ISDN terminal adapter: dials with "ATD<number>;" and follows the
// modem's answers.
#pragma once

#include "tapi/LineProvider.h"
#include "tapi/SerialPort.h"

#include <QObject>
#include <QTimer>

class QSocketNotifier;

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
// answer); a port that goes away reports disconnected (unavailable). The make-call request is
// answered as soon as the command is on the port. Echoed commands and unsolicited lines
// (RING and the like) are ignored.
//
// Owned by the line layer from lineOpen to lineClose; main thread only.
class ModemLine : public QObject, public LineConnection
{
    Q_OBJECT
public:
    // onClosed runs when the line closes (the provider marks the port free again).
    ModemLine(std::unique_ptr<SerialPort> port, int silenceTimeoutMs,
              std::function<void()> onClosed);
    // Hangs up a call still under way.
    ~ModemLine() override;

    int32_t makeCall(const QString &number, QString &detail) override;
    // Sends ATH, waits a moment (at most 300 ms) for the modem's answer, and drops DTR where
    // the port has it; DTR rises again with the next call.
    int32_t drop(QString &detail) override;

    // Characters a modem dials: digits, *, #, the pause "," and the dial modifiers W, P, T,
    // "!" and "@". Anything else (a ";" or a line end would start a command of its own) is
    // refused, as is a number longer than a modem's command line takes.
    static bool IsDialable(const QString &number);

private:
    enum class CallState
    {
        None,
        Dialing,  // ATD sent, no final answer yet
        Answered, // the modem answered OK or CONNECT; later answers still count
        Ended
    };

    void readPort();
    void answer(const QByteArray &line);
    void endCall(uint32_t state, uint32_t mode);
    void report(uint32_t state, uint32_t mode);
    void portGone();
    void hangUp();
    QString goneText() const;

    std::unique_ptr<SerialPort> FPort;
    QString FPath;
    QSocketNotifier *FNotifier = nullptr;
    QTimer FSilence;
    QByteArray FReceived;
    CallState FCall = CallState::None;
    bool FDtrDropped = false;
    std::function<void()> FOnClosed;
};

} // namespace tapi
