#include "app/CallHandler.h"

#include "capi/CpConst.h"
#include "capi/CpInfo.h"
#include "lists/lists.h"
#include "phone/isdntool.h"
#include "platform/DataDir.h"
#include "platform/PrivateFiles.h"
#include "settings/SettingsStore.h"

#include <QDebug>
#include <QFileInfo>

#include <algorithm>
#include <cstdlib>

TCallHandler::TCallHandler(SettingsStore &settings, TLists &lists, AreaCodeTable &towns)
    : CapiMonitor1(std::make_unique<TCapiMonitor>()), FSettings(settings), FLists(lists),
      FTowns(towns)
{
    FClock.start();
    TickCount = [this] { return FClock.elapsed(); };
    Now = [] { return QDateTime::currentDateTime(); };

    CapiMonitor1->NoDisturbMode = false;
    CapiMonitor1->OnRejectCallQuestion = [this](const QString &calling, const QString &called,
                                                uint16_t cip, uint16_t &cause, uint32_t plci) {
        CapiMonitor1RejectCallQuestion(calling, called, cip, cause, plci);
    };
    CapiMonitor1->OnIncomingCall = [](const QString &, const QString &, uint16_t, const QString &) {
    };
    CapiMonitor1->OnStateChange = [this](bool, bool) {
        if (OnRejectPossible) OnRejectPossible();
    };
    CapiMonitor1->OnDisconnectInfo = [this](uint16_t cause, uint16_t reason, uint32_t plci) {
        CapiMonitor1DisconnectInfo(cause, reason, plci);
    };
}

TCallHandler::~TCallHandler() = default;

bool TCallHandler::StartMonitor()
{
    return CapiMonitor1->Start(1, FSettings.settings.rejectTimeOut());
}

void TCallHandler::StopMonitor()
{
    CapiMonitor1.reset();
}

void TCallHandler::HidePopup()
{
    if (OnHidePopup) OnHidePopup();
}

bool TCallHandler::PlaySound(const QString &file)
{
    if (file.trimmed().isEmpty() || !QFileInfo::exists(file) || !OnPlaySound) return false;
    return OnPlaySound(file);
}

const TCallHandler::TCallState *TCallHandler::CallById(quint64 id) const
{
    for (const TCallState &call : FCallStates)
        if (call.Id == id) return &call;
    return nullptr;
}

TCallHandler::TCallState *TCallHandler::FindCall(quint64 id)
{
    return const_cast<TCallState *>(CallById(id));
}

const TCallHandler::TCallState *TCallHandler::CallOf(uint32_t plci) const
{
    if (plci == 0) return nullptr;
    for (const TCallState &call : FCallStates)
        if (call.PLCI == plci && !call.Ended) return &call;
    return nullptr;
}

TCallHandler::TCallState *TCallHandler::FindLiveCall(uint32_t plci)
{
    return const_cast<TCallState *>(CallOf(plci));
}

TCallHandler::TCallState &TCallHandler::CurrentCall()
{
    if (TCallState *call = FindCall(FCurrentCallId)) return *call;
    // HandleCall without a question before it: a call without connection.
    TCallState call;
    call.Id = FCurrentCallId = FNextCallId++;
    call.Ended = true;
    FCallStates.push_back(call);
    Forget();
    return FCallStates.back();
}

void TCallHandler::Forget()
{
    // Calls still on the line stay; of the ended ones only the newest few.
    size_t ended = 0;
    for (auto it = FCallStates.rbegin(); it != FCallStates.rend(); ++it)
        if (it->Ended) ++ended;
    for (auto it = FCallStates.begin(); ended > KeptEndedCalls && it != FCallStates.end();) {
        if (it->Ended) {
            it = FCallStates.erase(it);
            --ended;
        } else {
            ++it;
        }
    }
}

void TCallHandler::CapiMonitor1RejectCallQuestion(const QString &CallingPartyNumber,
                                                  const QString &CalledPartyNumber,
                                                  uint16_t /*CipValue*/, uint16_t &aRejectCause,
                                                  uint32_t aPLCI)
{
    const qint64 tick = TickCount();
    // The exchange may offer the same call twice in a row.
    if (CallingPartyNumber == FLastCaller && std::abs(tick - FLastEventTick) < 500) return;
    FLastCaller = CallingPartyNumber;
    FLastEventTick = tick;

    TCallState state;
    state.Id = FCurrentCallId = FNextCallId++;
    state.PLCI = aPLCI;
    state.Ended = aPLCI == 0; // no end will be reported
    FCallStates.push_back(state);
    Forget();
    TCallState &call = FCallStates.back();

    const GeneralSettings &s = FSettings.settings;
    const QString caller = CutLeadingZeroes(CallingPartyNumber, s.cutZeroes);
    FOutlookMatch = false;
    if (!FListsLoaded) return;

    const int msnIndex = FLists.FindMsn(CalledPartyNumber);
    if (msnIndex >= 0) {
        if (FLists.MsnRejectAllFlag(msnIndex) ||
            (FLists.MsnRejectNotSubmittedFlag(msnIndex) && caller.isEmpty())) {
            aRejectCause = capi::RejectAccept; // taken and cleared at once
            call.Rejected = true;
        }
    }
    int nickIndex = FLists.FindNickByNumber(caller);
    if (nickIndex < 0 && s.allowGroup) nickIndex = FLists.FindNickByPrefix(caller);
    if (FLists.NickRejectAllFlag(nickIndex)) {
        aRejectCause = capi::RejectAccept;
        call.Rejected = true;
    }
    if (nickIndex < 0 && s.searchOutlook && !caller.isEmpty() && Contacts) {
        const int contact = Contacts->Match(caller);
        if (contact >= 0) {
            FOutlookMatch = true;
            nickIndex = contact;
        }
    }
    HandleCall(caller, CalledPartyNumber, msnIndex, nickIndex);
}

void TCallHandler::HandleCall(const QString &caller, const QString &called, int msnIndex,
                              int nickIndex)
{
    const GeneralSettings &s = FSettings.settings;
    if (s.ods) qDebug().noquote() << caller;
    if (s.screensaver && OnWakeDisplay) OnWakeDisplay();
    if (!FDialogsReady || !FActive) return;

    const Language language = FLists.language();
    QString number = caller;
    if (TestCallNumber > 0) {
        number = QString::number(qint64(TestCallNumber) * 1111111);
        ++TestCallNumber;
    }
    FStoreCall = true;
    bool popup = true;
    const bool noMsn = msnIndex < 0;
    if (!noMsn) {
        if (FLists.MsnIgnored(msnIndex)) return;
        FStoreCall = FLists.MsnStoreFlag(msnIndex);
        popup = FLists.MsnPopupFlag(msnIndex);
    }

    QString town;
    if (!number.isEmpty()) {
        if (s.homeFritz && !number.startsWith(QLatin1Char('0')) &&
            !number.startsWith(QLatin1Char('+'))) {
            if (number.startsWith(QLatin1String("49")))
                number = QLatin1Char('0') + number.mid(2);
            else
                number.prepend(QLatin1String("++"));
        }
        town = FTowns.FindTown(number);
    } else {
        number = notTransmittedText(language);
        nickIndex = FLists.FindNickByNumber(number);
    }

    if (FStoreCall) FStoreCall = FLists.NickStoreFlag(number);
    if (popup) popup = FLists.NickPopupFlag(number);

    QString name;
    const QString msnSound = noMsn ? QString() : FLists.msns().row(msnIndex).sound;
    if (nickIndex < 0) {
        if (!noMsn) PlaySound(msnSound);
    } else if (s.searchOutlook && FOutlookMatch) {
        if (!Contacts || !Contacts->Name(nickIndex, name))
            name = QStringLiteral("Address book error");
    } else {
        const NickRow &nick = FLists.nicks().row(nickIndex);
        name = nick.nickname;
        if (popup && !PlaySound(nick.sound) && !noMsn) PlaySound(msnSound);
    }

    QString target = called;
    if (msnIndex >= 0) target = FLists.msns().row(msnIndex).nickname;

    const QDateTime now = Now();
    const QString timeText = s.displayTimeFormat.format(now, QLocale::system());
    if (s.popup && popup && OnShowPopup) OnShowPopup();

    const quint64 callId = CurrentCall().Id;
    if (FStoreCall && (s.storeNotSubmitted || number != notTransmittedText(language))) {
        const int row =
            FLists.AddCall(now, number, nickIndex < 0 ? QString() : name, town.trimmed(), target);
        TCallState &call = CurrentCall();
        call.RowKey = FLists.calls().text(row, CallRow::DateTime);
        call.RowNumber = number;
        call.RowAdded = true;
        // Saved at once (in the background), so a call whose end never comes (a lost line)
        // is not lost.
        FLists.SortCalls();
        FLists.RequestSave(ListKind::Calls);
    }

    Calls.Add(number, name, timeText, QString(), town, target);
    Calls.Get(-1).CallId = callId;
    if (OnNewCall) OnNewCall();
    // Asked last: its answer, however quick, finds the pending call and the row in place. A
    // call without number is not looked up: its answer would name every such call.
    if (nickIndex < 0 && Lookup && !IsNotTransmitted(number)) Lookup->StartLookup(number);
}

void TCallHandler::CapiMonitor1DisconnectInfo(uint16_t, uint16_t aDisconnectReason, uint32_t aPLCI)
{
    const GeneralSettings &s = FSettings.settings;
    const Language language = FLists.language();
    const QString key = SettingsStore::statusCodeKey(aDisconnectReason);
    // A lost line says nothing about how the call went.
    const QString infoText = aDisconnectReason == uint16_t(capi::ErrorLineLost)
                                 ? statusWord(CallStatus::Unknown, language)
                                 : CapiInfoText(aDisconnectReason);
    QString status = FSettings.statusCodeString(aDisconnectReason, infoText);
    TCallState none;
    TCallState *found = FindLiveCall(aPLCI);
    TCallState &call = found ? *found : none;
    call.Ended = true;
    bool rulesApply = true;
    const bool visible = IsPopupVisible();
    auto closeRuleApplies = [&](bool x) {
        return x && IsPopupVisible() && s.duration == 0 &&
               (!s.showMultipleCalls || Calls.Count() < 2);
    };

    if (call.Rejected) {
        status = statusWord(CallStatus::Rejected, language);
        if (visible && s.duration == 0 && s.closeReject) HidePopup();
    } else {
        if (const std::optional<bool> userCode = FSettings.statusCode(aDisconnectReason)) {
            if (*userCode && visible) {
                WriteLog(QStringLiteral("Hiding window due to user defined Statuscode %1: %2")
                             .arg(key, CapiInfoText(aDisconnectReason)),
                         false);
                HidePopup();
            } else {
                rulesApply = false;
            }
        }
        bool rule = false;
        switch (aDisconnectReason) {
        case 0x3400:
        case 0x349A:
            status = statusWord(CallStatus::Answered, language);
            rule = s.closeConnect;
            break;
        case 0x3490:
            status = statusWord(CallStatus::NotAnswered, language);
            rule = s.closeDisCon;
            break;
        case 0x34A2:
            status = statusWord(CallStatus::Busy, language);
            rule = s.closeBusy;
            break;
        default:
            break;
        }
        if (rule && closeRuleApplies(rulesApply)) HidePopup();
    }

    if (call.RowAdded) {
        // The row of this call, wherever sorting has put it.
        const int row = FLists.FindCall(call.RowKey, call.RowNumber);
        if (row >= 0) {
            FLists.SetCallStatus(row, status);
            FLists.SortCalls();
            FLists.RequestSave(ListKind::Calls);
        }
    }
    Forget();
}

bool TCallHandler::CanReject(quint64 callId) const
{
    const TCallState *call = CallById(callId);
    return call && !call->Ended && CapiMonitor1 && CapiMonitor1->CanReject(call->PLCI);
}

bool TCallHandler::RejectCall(quint64 callId)
{
    TCallState *call = FindCall(callId);
    if (!call || call->Ended || !CapiMonitor1 ||
        !CapiMonitor1->AnswerCall(capi::RejectAccept, call->PLCI))
        return false;
    call->Rejected = true;
    return true;
}

void TCallHandler::LookupResult(const QString &number, const QString &name,
                                const std::optional<QString> &additionalInfo)
{
    if (IsNotTransmitted(number)) return;
    for (int i = Calls.Count() - 1; i >= 0; --i) {
        TCallRecord &record = Calls.Get(i);
        if (record.value(QStringLiteral("Caller")) != number) continue;
        if (additionalInfo) record.setValue(QStringLiteral("AdditionalInfo"), *additionalInfo);
        if (!name.isEmpty()) record.setValue(QStringLiteral("NickName"), name);
        break;
    }
    if (!name.isEmpty()) FLists.ApplyNicknameToCalls(name, number);
    if (OnPendingCallChanged) OnPendingCallChanged();
}

void TCallHandler::WriteLog(const QString &text, bool force)
{
    qDebug().noquote() << text;
    if (!FSettings.settings.debug && !force) return;
    const QString line =
        QTime::currentTime().toString(QLocale::system().timeFormat(QLocale::LongFormat)) +
        QStringLiteral(": ") + text + u'\n';
    PrivateFiles::append(DataDir::logFile(), line.toUtf8());
}
