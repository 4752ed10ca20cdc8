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
    connect(&FCountdownTimer, &QTimer::timeout, this, &TCapiMonitor::CountdownTick);
    FReconnectTimer.setSingleShot(true);
    connect(&FReconnectTimer, &QTimer::timeout, this, &TCapiMonitor::Reconnect);
}

TCapiMonitor::~TCapiMonitor() = default;

void TCapiMonitor::FireStateChange(bool userCanReject, bool userCanChangeNoDisturbMode)
{
    if (OnStateChange) OnStateChange(userCanReject, userCanChangeNoDisturbMode);
}

bool TCapiMonitor::Start(uint32_t controller, int rejectTimeOut)
{
    FError = 0;
    FReconnectTimer.stop();
    FCapi.reset();
    FController = controller;
    FRejectTimeOut = rejectTimeOut;

    FCapi = std::make_unique<TCapi>(1, 2, 128);
    RefreshError();
    if (FError != 0) {
        FCapi.reset();
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

        uint16_t cause = RejectUndecided;
        FLastRejectCause = RejectUndecided;
        if (OnRejectCallQuestion) OnRejectCallQuestion(calling, called, m.CIPValue, cause);

        const bool countdown = cause == RejectUndecided && !NoDisturbMode && FRejectTimeOut > 0;
        if (cause != RejectUndecided) {
            AnswerCall(cause);
        } else if (NoDisturbMode) {
            AnswerCall(RejectAccept);
        } else if (FRejectTimeOut <= 0) {
            AnswerCall(RejectIgnore);
        } else {
            // A second call restarts the countdown on the same timer.
            FCountdown = FRejectTimeOut;
            FCountdownTimer.start(CountdownIntervalMs);
            FCapi->PutMessage(std::make_unique<TAlertReq>(m.PLCI, TStruct::Empty()));
        }
        FireStateChange(countdown, false);
        if (OnIncomingCall) OnIncomingCall(calling, called, m.CIPValue, CipValueText(m.CIPValue));
        break;
    }
    case DISCONNECT_IND: {
        StopCountdown();
        if (OnDisconnectInfo)
            OnDisconnectInfo(FLastRejectCause, static_cast<TDisconnectInd &>(message).Reason);
        FireStateChange(false, true);
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
        FireStateChange(false, false);
        break;
    default:
        break;
    }
}

void TCapiMonitor::AnswerCall(uint16_t cause)
{
    if (!FCapi) return;
    TConnection *connection = FCapi->Connections().FindByOwner(this);
    if (!connection || connection->State != csOffered) return;
    FireStateChange(false, false);
    StopCountdown();
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
}

void TCapiMonitor::StopCountdown()
{
    FCountdown = 0;
    FCountdownTimer.stop();
}

void TCapiMonitor::CountdownTick()
{
    FCountdown -= 1;
    if (FCountdown <= 0) AnswerCall(RejectIgnore);
}

void TCapiMonitor::DoResetCapi()
{
    if (OnDoResetCapi) OnDoResetCapi(this);
}

void TCapiMonitor::LineLost()
{
    // The engine is ended in Reconnect, not here: this runs inside its hand-over.
    RefreshError();
    StopCountdown();
    FireStateChange(false, false);
    FReconnectPauseMs = ReconnectFirstPauseMs;
    FReconnectTimer.start(FReconnectPauseMs);
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
}
