#include "tapi/ModemPort.h"

#include "tapi/ModemAnswer.h"

namespace tapi {

ModemPort::ModemPort(std::unique_ptr<SerialPort> port, QObject *parent)
    : QObject(parent), FPort(std::move(port)), FPath(FPort->path())
{
    connect(FPort.get(), &SerialPort::lineReceived, this, &ModemPort::receive);
    connect(FPort.get(), &SerialPort::gone, this, [this] {
        // The calls first, so that none waiting begins on a port that has gone.
        emit lost();
        finishAsk(false, {QStringLiteral("ModemGone"), {FPath}});
    });
    FAskTimer.setSingleShot(true);
    connect(&FAskTimer, &QTimer::timeout, this, [this] {
        finishAsk(false, {QStringLiteral("ModemSilent"), {FPath, QString::fromLatin1(FAsked)}});
    });
}

void ModemPort::release()
{
    --FClaims;
    next();
}

void ModemPort::ask(const QByteArray &command, int timeoutMs, QObject *context,
                    std::function<void(bool ok, const Reason &why)> done)
{
    FTurns.push_back({context, [this, command, timeoutMs, context = QPointer<QObject>(context),
                                done = std::move(done)] {
                          startAsk(command, timeoutMs, [context, done](bool ok, const Reason &why) {
                              if (context) done(ok, why);
                          });
                      }});
    next();
}

void ModemPort::hangUp()
{
    if (FState == State::Calling) {
        FState = State::Free;
        FCaller = nullptr;
    }
    FTurns.push_front({this, [this] {
                           startAsk(QByteArrayLiteral("ATH"), HangUpAnswerMs,
                                    [this](bool, const Reason &) { FPort->setDtr(false); });
                       }});
    next();
}

void ModemPort::beginCall(QObject *caller, std::function<void()> begin)
{
    FTurns.push_back({caller, [this, caller, begin = std::move(begin)] {
                          FState = State::Calling;
                          FCaller = caller;
                          begin();
                      }});
    next();
}

void ModemPort::withdrawCall(QObject *caller)
{
    std::erase_if(FTurns, [caller](const Turn &turn) { return turn.owner == caller; });
    if (FState == State::Calling && FCaller == caller) {
        FState = State::Free;
        FCaller = nullptr;
    }
    next();
}

void ModemPort::startAsk(const QByteArray &command, int timeoutMs,
                         std::function<void(bool ok, const Reason &why)> done)
{
    FState = State::Asking;
    FAsked = command;
    FAskDone = std::move(done);
    if (!FPort->write(command + '\r')) {
        finishAsk(false, {QStringLiteral("ModemGone"), {FPath}});
        return;
    }
    FAskTimer.start(timeoutMs);
}

void ModemPort::finishAsk(bool ok, const Reason &why)
{
    if (FState != State::Asking) return;
    FAskTimer.stop();
    FState = State::Free;
    const auto done = std::move(FAskDone);
    FAskDone = nullptr;
    if (done) done(ok, why);
    next();
}

void ModemPort::next()
{
    // A turn that ends at once calls here again: the loop below goes on with the rest.
    if (FInNext) return;
    FInNext = true;
    while (FState == State::Free && !FTurns.empty()) {
        Turn turn = std::move(FTurns.front());
        FTurns.pop_front();
        if (turn.owner) turn.start();
    }
    FInNext = false;
    if (FState == State::Free && FTurns.empty() && FClaims == 0) emit unused();
}

void ModemPort::receive(const QByteArray &line)
{
    if (FState == State::Calling) {
        emit answered(line);
        return;
    }
    // Echoed commands and unsolicited lines (RING) are no answers.
    if (FState != State::Asking) return;
    const ModemAnswer answer = ClassifyModemAnswer(line);
    if (answer == ModemAnswer::Ok)
        finishAsk(true, {});
    else if (answer == ModemAnswer::Error)
        finishAsk(false,
                  {QStringLiteral("ModemAnsweredError"), {FPath, QString::fromLatin1(FAsked)}});
}

} // namespace tapi
