#include "capi/CpMoni.h"

#include "capi/CpConst.h"
#include "capi/CpDLL.h"
#include "capi/CpInfo.h"

#include <algorithm>

using namespace capi;

namespace {

// Numbers are single-byte text. Control characters have no place in a number and would
// break the line-based files the number ends up in.
QString numberText(const QByteArray &digits)
{
    QString text = QString::fromLatin1(digits);
    text.removeIf([](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
    return text;
}

} // namespace

TCapiMonitor::TCapiMonitor(QObject *owner) : QObject(owner)
{
    FReconnectTimer.setSingleShot(true);
    connect(&FReconnectTimer, &QTimer::timeout, this, &TCapiMonitor::Reconnect);
}

TCapiMonitor::~TCapiMonitor() = default;

void TCapiMonitor::FireStateChange(bool userCanReject, bool userCanChangeNoDisturbMode)
{
    if (OnStateChange) OnStateChange(userCanReject, userCanChangeNoDisturbMode);
}

void TCapiMonitor::FireLineState()
{
    if (OnLineState) OnLineState(this);
}

bool TCapiMonitor::Start(uint32_t controller, int rejectTimeOut)
{
    FError = 0;
    FReconnectTimer.stop();
    FCapi.reset();
    DropCalls();
    FController = controller;
    FRejectTimeOut = rejectTimeOut;

    FCapi = std::make_unique<TCapi>(1, 2, 128);
    RefreshError();
    if (FError != 0) {
        FCapi.reset();
        FireLineState();
        return false;
    }
    FCapi->OnMessage = [this](TConnection *connection, TCapiMessage &message, bool &doDefault) {
        CapiMessage(connection, message, doDefault);
    };
    FCapi->OnReset = [this] { DoResetCapi(); };
    FCapi->OnLineLost = [this] { LineLost(); };

    const bool sent = FCapi->PutMessage(std::make_unique<TListenReq>(
        FController, ListenInfoMask, ListenCipMaskAll, 0,
        std::make_unique<TCallingPartyNumber>(0x00, 0x80, QByteArray()),
        std::make_unique<TCallingPartySubAddress>(0x80, QByteArray())));
    if (!sent) {
        RefreshError();
        FCapi.reset();
        FireStateChange(false, false);
    } else {
        FireStateChange(false, true);
    }
    FireLineState();
    return FError == 0;
}

void TCapiMonitor::RefreshError()
{
    if (!FCapi) return;
    FError = FCapi->LastError;
    FErrorString = FCapi->GetErrorText();
    if (FErrorString.isEmpty()) FErrorString = QStringLiteral("OK");
}

void TCapiMonitor::CapiMessage(TConnection *connection, TCapiMessage &message, bool &DoDefault)
{
    RefreshError();
    switch (message.GetCommand()) {
    case CONNECT_IND: {
        auto &m = static_cast<TConnectInd &>(message);
        connection->Owner = this;

        QString calling = numberText(m.CallingPartyNumber->Digits);
        const uint8_t type = m.CallingPartyNumber->TypeOfNumber;
        if (!calling.isEmpty()) {
            if (!calling.startsWith(QLatin1Char('0')) && (type & 0x10))
                calling.prepend(QLatin1String("++"));
            else if (type & 0x20)
                calling.prepend(QLatin1Char('0'));
        }
        const QString called = numberText(m.CalledPartyNumber->Text);

        const uint32_t plci = m.PLCI;
        // A PLCI the driver gives again is a new call: the DISCONNECT_IND of the old one was
        // lost, so it ends now, as a call does whose line is lost.
        if (auto old = FCalls.find(plci); old != FCalls.end()) {
            const uint16_t oldCause = old->second.RejectCause;
            StopCountdown(old->second);
            FCalls.erase(old);
            if (OnDisconnectInfo) OnDisconnectInfo(oldCause, uint16_t(ErrorLineLost), plci);
        }
        FCalls[plci] = TCall();
        uint16_t cause = RejectUndecided;
        FLastRejectCause = RejectUndecided;
        if (OnRejectCallQuestion) OnRejectCallQuestion(calling, called, m.CIPValue, cause, plci);

        if (cause != RejectUndecided) {
            AnswerCall(cause, plci);
        } else if (NoDisturbMode) {
            AnswerCall(RejectAccept, plci);
        } else if (FRejectTimeOut <= 0) {
            AnswerCall(RejectIgnore, plci);
        } else if (auto found = FCalls.find(plci); found != FCalls.end()) {
            // Each call counts down on its own timer.
            TCall &call = found->second;
            call.Countdown = FRejectTimeOut;
            call.Timer = new QTimer(this);
            connect(call.Timer, &QTimer::timeout, this, [this, plci] { CountdownTick(plci); });
            call.Timer->start(CountdownIntervalMs);
            FCapi->PutMessage(std::make_unique<TAlertReq>(plci, TStruct::Empty()));
        }
        FireStateChange(AnyCanReject(), false);
        if (OnIncomingCall) OnIncomingCall(calling, called, m.CIPValue, CipValueText(m.CIPValue));
        break;
    }
    case DISCONNECT_IND: {
        const auto &m = static_cast<TDisconnectInd &>(message);
        uint16_t cause = RejectUndecided;
        if (auto found = FCalls.find(m.PLCI); found != FCalls.end()) {
            cause = found->second.RejectCause;
            StopCountdown(found->second);
            FCalls.erase(found);
        }
        if (OnDisconnectInfo) OnDisconnectInfo(cause, m.Reason, m.PLCI);
        FireStateChange(AnyCanReject(), true);
        break;
    }
    case LISTEN_CONF:
        FireStateChange(false, true);
        break;
    case CONNECT_B3_IND:
        // The B3 link of a call taken only to clear it: refuse it and hang up.
        DoDefault = false;
        FCapi->PutMessage(std::make_unique<TConnectB3Resp>(connection->NCCI, RejectNormalClearing,
                                                           TStruct::Empty()));
        FCapi->Disconnect(connection);
        FireStateChange(AnyCanReject(), false);
        break;
    default:
        break;
    }
}

void TCapiMonitor::AnswerCall(uint16_t cause)
{
    if (!FCapi) return;
    TConnections &table = FCapi->Connections();
    for (int i = 0; i < table.Count(); ++i) {
        const TConnection *connection = table.Items(i);
        const auto found = FCalls.find(connection->PLCI);
        if (connection->Owner == this && found != FCalls.end() &&
            found->second.RejectCause == RejectUndecided) {
            AnswerCall(cause, connection->PLCI);
            return;
        }
    }
}

bool TCapiMonitor::AnswerCall(uint16_t cause, uint32_t plci)
{
    if (!FCapi) return false;
    TConnection *connection = FCapi->Connections().FindByPLCI(plci);
    const auto found = FCalls.find(plci);
    if (!connection || connection->Owner != this || connection->State != csOffered ||
        found == FCalls.end() || found->second.RejectCause != RejectUndecided)
        return false;
    TCall &call = found->second;
    StopCountdown(call);
    FireStateChange(AnyCanReject(), false);
    call.RejectCause = cause;
    FLastRejectCause = cause;
    if (cause == RejectAccept) {
        FCapi->PutMessage(std::make_unique<TConnectResp>(
            connection->PLCI, cause,
            std::make_unique<TBProtocol>(1, 1, 0, TStruct::Empty(), TStruct::Empty(),
                                         TStruct::Empty()),
            TStruct::Empty(), TStruct::Empty(), TStruct::Empty(), TStruct::Empty()));
    } else {
        FCapi->PutMessage(std::make_unique<TConnectResp>(connection->PLCI, cause, TStruct::Empty(),
                                                         TStruct::Empty(), TStruct::Empty(),
                                                         TStruct::Empty(), TStruct::Empty()));
    }
    return true;
}

bool TCapiMonitor::CanReject(uint32_t plci) const
{
    const auto found = FCalls.find(plci);
    return found != FCalls.end() && found->second.Timer != nullptr;
}

bool TCapiMonitor::AnyCanReject() const
{
    return std::any_of(FCalls.begin(), FCalls.end(),
                       [](const auto &entry) { return entry.second.Timer != nullptr; });
}

void TCapiMonitor::StopCountdown(TCall &call)
{
    call.Countdown = 0;
    if (!call.Timer) return;
    call.Timer->stop();
    call.Timer->deleteLater(); // this may run inside the timer's own signal
    call.Timer = nullptr;
}

void TCapiMonitor::DropCalls()
{
    for (auto &entry : FCalls)
        StopCountdown(entry.second);
    FCalls.clear();
}

void TCapiMonitor::CountdownTick(uint32_t plci)
{
    const auto found = FCalls.find(plci);
    if (found == FCalls.end()) return;
    found->second.Countdown -= 1;
    if (found->second.Countdown <= 0) AnswerCall(RejectIgnore, plci);
}

void TCapiMonitor::DoResetCapi()
{
    if (OnDoResetCapi) OnDoResetCapi(this);
}

void TCapiMonitor::LineLost()
{
    // The engine is ended in Reconnect, not here: this runs inside its hand-over.
    RefreshError();
    // Calls still on the line end here: no DISCONNECT_IND will come for them.
    std::map<uint32_t, TCall> ended;
    ended.swap(FCalls);
    for (auto &[plci, call] : ended) {
        StopCountdown(call);
        if (OnDisconnectInfo) OnDisconnectInfo(call.RejectCause, uint16_t(ErrorLineLost), plci);
    }
    FireStateChange(false, false);
    FReconnectPauseMs = ReconnectFirstPauseMs;
    FReconnectTimer.start(FReconnectPauseMs);
    FireLineState();
}

void TCapiMonitor::Reconnect()
{
    if (Start(FController, FRejectTimeOut)) {
        FReconnectPauseMs = 0;
        return;
    }
    // Keep telling the user why: the register error of a controller that is still
    // away says less than this.
    FError = ErrorLineLost;
    FErrorString = CapiDllStatusText(int(ErrorLineLost - ErrorLoadStatusBase));
    FReconnectPauseMs = std::min(FReconnectPauseMs * 2, ReconnectMaxPauseMs);
    FReconnectTimer.start(FReconnectPauseMs);
    FireLineState();
}
