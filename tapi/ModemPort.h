// A modem's serial port while the program uses it, shared by whatever speaks on it.
#pragma once

#include "tapi/SerialPort.h"

#include <QPointer>

#include <deque>
#include <functional>

namespace tapi {

// What is said on a modem goes in turns, in the order it was asked for: a probe's "AT", a
// call (from its dial command until it is hung up), a hang-up's "ATH". What the modem sends
// goes to the turn that runs. So a dial that comes while a probe or the hang-up of the call
// before still waits for its answer goes out after it, and the answer is not taken for the
// dial's; nothing waits in the meantime.
//
// A line claims the port from lineOpen to lineClose. Unused (no claim, no turn) tells the
// owner that the port can be closed; a hang-up outlives the line that asked for it.
//
// Owned by the modem provider; main thread only.
class ModemPort : public QObject
{
    Q_OBJECT
public:
    // The time a hang-up gives the modem to answer ATH.
    static constexpr int HangUpAnswerMs = 300;

    ModemPort(std::unique_ptr<SerialPort> port, QObject *parent = nullptr);

    const QString &path() const { return FPath; }
    // The port went away (unplugged, hung up); nothing can be said on it any more.
    bool isGone() const { return !FPort->isOpen(); }
    bool isClaimed() const { return FClaims > 0; }
    void claim() { ++FClaims; }
    void release();
    // The port is closed at once (not when the object goes).
    void close() { FPort->close(); }

    // In its turn, sends command (without its CR) and waits up to timeoutMs for OK or ERROR. done
    // learns whether OK came, or why not; it is not called once context has gone.
    void ask(const QByteArray &command, int timeoutMs, QObject *context,
             std::function<void(bool ok, const Reason &why)> done);
    // The call of caller begins in its turn: begin runs, and every line the modem sends goes
    // to answered until hangUp. A caller withdraws its call when the port is lost.
    void beginCall(QObject *caller, std::function<void()> begin);
    // The call of caller is withdrawn: one that waits never begins, one that runs gives the
    // port back without a hang-up (the modem ended it, or it never began).
    void withdrawCall(QObject *caller);
    // Ends the call that runs and puts the modem on hook, before any other turn: ATH, a
    // moment for its answer (which is no answer to a later command), then DTR drops.
    void hangUp();

    // For the call that runs.
    bool write(const QByteArray &data) { return FPort->write(data); }
    bool setDtr(bool on) { return FPort->setDtr(on); }

signals:
    // A line from the modem during a call.
    void answered(const QByteArray &line);
    // The port has gone.
    void lost();
    // Neither claimed nor busy with a turn.
    void unused();

private:
    struct Turn
    {
        QPointer<QObject> owner; // the turn is dropped once its owner has gone
        std::function<void()> start;
    };
    enum class State
    {
        Free,
        Asking,
        Calling
    };

    void next();
    void receive(const QByteArray &line);
    void startAsk(const QByteArray &command, int timeoutMs,
                  std::function<void(bool ok, const Reason &why)> done);
    void finishAsk(bool ok, const Reason &why);

    std::unique_ptr<SerialPort> FPort;
    QString FPath;
    int FClaims = 0;
    State FState = State::Free;
    std::deque<Turn> FTurns;
    bool FInNext = false;
    QObject *FCaller = nullptr;
    QByteArray FAsked;
    std::function<void(bool, const Reason &)> FAskDone;
    QTimer FAskTimer;
};

} // namespace tapi
