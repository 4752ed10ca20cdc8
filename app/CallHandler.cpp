#include "app/CallHandler.h"

#include "capi/CapiLineSource.h"
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
    : FSettings(settings), FLists(lists), FTowns(towns)
{
    FLogWriter.setMaxThreadCount(1);
    FClock.start();
    TickCount = [this] { return FClock.elapsed(); };
    Now = [] { return QDateTime::currentDateTime(); };
    SetOwnLine(NewCapiLine());
}

std::unique_ptr<line::TLineSource> TCallHandler::NewCapiLine()
{
    return std::make_unique<TCapiLineSource>([this] { return FSettings.settings.rejectTimeOut(); });
}

TCallHandler::~TCallHandler()
{
    StopLines();
}

void TCallHandler::AddLineSource(std::unique_ptr<line::TLineSource> source)
{
    line::TLineSource *s = source.get();
    s->OnCallOffered = [this, s](const line::TOfferedCall &call, bool &reject) {
        CallOffered(s, call, reject);
    };
    s->OnCallAnswered = [this](line::TCallId id) { CallAnswered(id); };
    s->OnCallEnded = [this](line::TCallId id, uint16_t reason) { CallEnded(id, reason); };
    s->OnRejectPossible = [this] {
        if (OnRejectPossible) OnRejectPossible();
    };
    s->OnLineState = [this] {
        if (OnLineState) OnLineState();
    };
    FSources.push_back(std::move(source));
}

void TCallHandler::SetOwnLine(std::unique_ptr<line::TLineSource> source)
{
    if (FOwnLine) {
        // Its calls that still ring or talk end as on a lost line: nothing more is heard of them.
        std::vector<line::TCallId> live;
        for (const TCallState &call : FCallStates)
            if (call.Source == FOwnLine && !call.Ended) live.push_back(call.Id);
        FOwnLine->Stop();
        for (line::TCallId id : live)
            CallEnded(id, line::ReasonLineLost);
        std::erase_if(FSources, [this](const auto &s) { return s.get() == FOwnLine; });
        FOwnLine = nullptr;
        FCapiLine = nullptr;
    }
    if (!source) return;
    FOwnLine = source.get();
    FCapiLine = dynamic_cast<TCapiLineSource *>(source.get());
    AddLineSource(std::move(source));
    if (FLinesStarted) FOwnLine->Start();
    if (OnLineState) OnLineState();
}

bool TCallHandler::StartLines()
{
    FLinesStarted = true;
    bool all = true;
    for (const auto &source : FSources)
        all = source->Start() && all;
    return all;
}

void TCallHandler::StopLines()
{
    FLinesStarted = false;
    for (const auto &source : FSources)
        source->Stop();
}

QString TCallHandler::LineError() const
{
    QStringList errors;
    for (const auto &source : FSources)
        if (const QString error = source->LineError(); !error.isEmpty()) errors << error;
    return errors.join(QStringLiteral("; "));
}

TCapiMonitor *TCallHandler::CapiMonitor() const
{
    return FCapiLine ? FCapiLine->Monitor() : nullptr;
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

const TCallHandler::TCallState *TCallHandler::CallById(line::TCallId id) const
{
    if (id == 0) return nullptr;
    for (const TCallState &call : FCallStates)
        if (call.Id == id) return &call;
    return nullptr;
}

TCallHandler::TCallState *TCallHandler::FindCall(line::TCallId id)
{
    return const_cast<TCallState *>(CallById(id));
}

TCallHandler::TCallState &TCallHandler::NewCall(line::TCallId id, line::TLineSource *source,
                                                bool ended)
{
    // Before the new call goes in: erasing from a deque moves its elements.
    Forget();
    TCallState call;
    call.Id = id;
    call.Source = source;
    call.Ended = ended;
    FCallStates.push_back(call);
    return FCallStates.back();
}

void TCallHandler::Forget()
{
    // Calls still on the line stay; of the ended ones only the newest few.
    size_t ended = 0;
    for (const TCallState &call : FCallStates)
        if (call.Ended) ++ended;
    for (auto it = FCallStates.begin(); ended >= KeptEndedCalls && it != FCallStates.end();) {
        if (it->Ended) {
            it = FCallStates.erase(it);
            --ended;
        } else {
            ++it;
        }
    }
}

void TCallHandler::TestCall(const QString &number)
{
    line::TOfferedCall call;
    call.Id = line::NewCallId();
    call.CallingPartyNumber = number;
    call.CalledPartyNumber = QStringLiteral("85606");
    bool discarded = false;
    CallOffered(nullptr, call, discarded);
}

void TCallHandler::CallOffered(line::TLineSource *source, const line::TOfferedCall &offered,
                               bool &bReject)
{
    const qint64 tick = TickCount();
    const QString &calling = offered.CallingPartyNumber;
    // The exchange may offer the same call twice in a row.
    if (calling == FLastCaller && std::abs(tick - FLastEventTick) < 500) return;
    FLastCaller = calling;
    FLastEventTick = tick;

    // A call without a line reports no end.
    TCallState &call = NewCall(offered.Id, source, source == nullptr);
    if (!FListsLoaded) return;
    const TIdentified who = Identify(calling, offered.CalledPartyNumber, bReject);
    // A line that cannot reject shows and stores the call as it really goes.
    if (source && !source->CanRejectCalls()) bReject = false;
    call.Rejected = bReject;
    HandleCall(call, who, offered.CalledPartyNumber);
}

TCallHandler::TIdentified TCallHandler::Identify(const QString &callingNumber,
                                                 const QString &called, bool &bReject)
{
    const GeneralSettings &s = FSettings.settings;
    TIdentified who;
    who.caller = CutLeadingZeroes(callingNumber, s.cutZeroes);
    who.msnIndex = FLists.FindMsn(called);
    if (who.msnIndex >= 0 &&
        (FLists.MsnRejectAllFlag(who.msnIndex) ||
         (FLists.MsnRejectNotSubmittedFlag(who.msnIndex) && who.caller.isEmpty())))
        bReject = true;
    who.nickIndex = FLists.FindNickByNumber(who.caller);
    if (who.nickIndex < 0 && s.allowGroup) who.nickIndex = FLists.FindNickByPrefix(who.caller);
    if (FLists.NickRejectAllFlag(who.nickIndex)) bReject = true;
    if (who.nickIndex < 0 && s.searchOutlook && !who.caller.isEmpty() && Contacts) {
        const int contact = Contacts->Match(who.caller);
        if (contact >= 0) {
            who.contact = true;
            who.nickIndex = contact;
        }
    }
    return who;
}

void TCallHandler::HandleCall(TCallState &call, const TIdentified &who, const QString &called)
{
    const GeneralSettings &s = FSettings.settings;
    if (s.ods) qDebug().noquote() << who.caller;
    if (s.screensaver && OnWakeDisplay) OnWakeDisplay();
    if (!FDialogsReady || !FActive) return;

    const Language language = FLists.language();
    int nickIndex = who.nickIndex;
    QString number = who.caller;
    if (FTestCallNumber > 0) {
        number = QString::number(qint64(FTestCallNumber) * 1111111);
        ++FTestCallNumber;
    }
    bool storeCall = true;
    bool popup = true;
    const bool noMsn = who.msnIndex < 0;
    if (!noMsn) {
        if (FLists.MsnIgnored(who.msnIndex)) return;
        storeCall = FLists.MsnStoreFlag(who.msnIndex);
        popup = FLists.MsnPopupFlag(who.msnIndex);
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

    if (storeCall) storeCall = FLists.NickStoreFlag(number);
    if (popup) popup = FLists.NickPopupFlag(number);

    QString name;
    const QString msnSound = noMsn ? QString() : FLists.msns().row(who.msnIndex).sound;
    if (nickIndex < 0) {
        if (!noMsn) PlaySound(msnSound);
    } else if (s.searchOutlook && who.contact) {
        if (!Contacts || !Contacts->Name(nickIndex, name))
            name = QStringLiteral("Address book error");
    } else {
        const NickRow &nick = FLists.nicks().row(nickIndex);
        name = nick.nickname;
        if (popup && !PlaySound(nick.sound) && !noMsn) PlaySound(msnSound);
    }

    QString target = called;
    if (!noMsn) target = FLists.msns().row(who.msnIndex).nickname;

    const QDateTime now = Now();
    const QString timeText = s.displayTimeFormat.format(now, QLocale::system());
    const line::TCallId id = call.Id;
    if (s.popup && popup && OnShowPopup) OnShowPopup();

    if (storeCall && (s.storeNotSubmitted || number != notTransmittedText(language))) {
        const int row = FLists.AddCall(now, number, nickIndex < 0 ? QString() : name,
                                       town.trimmed(), target, id);
        if (TCallState *stored = FindCall(id)) {
            stored->RowKey = FLists.calls().row(row).dateTime;
            stored->RowAdded = true;
        }
        // Saved at once (in the background), so a call whose end never comes (a lost line)
        // is not lost.
        FLists.SortCalls();
        FLists.RequestSave(ListKind::Calls);
    }

    FCalls.Add(number, name, timeText, QString(), town, target);
    FCalls.Get(-1).CallId = id;
    if (OnNewCall) OnNewCall();
    // Asked last: its answer, however quick, finds the pending call and the row in place. A
    // call without number is not looked up: its answer would name every such call.
    if (nickIndex < 0 && Lookup && !IsNotTransmitted(number)) Lookup->StartLookup(number);
}

QString TCallHandler::EndStatus(TCallState &call, uint16_t aDisconnectReason)
{
    const GeneralSettings &s = FSettings.settings;
    const Language language = FLists.language();
    const QString key = SettingsStore::statusCodeKey(aDisconnectReason);
    // A lost line says nothing about how the call went.
    const QString infoText = aDisconnectReason == line::ReasonLineLost
                                 ? statusWord(CallStatus::Unknown, language)
                                 : CapiInfoText(aDisconnectReason);
    QString status = FSettings.statusCodeString(aDisconnectReason, infoText);
    bool rulesApply = true;
    const bool visible = IsPopupVisible();
    auto closeRuleApplies = [&](bool x) {
        return x && IsPopupVisible() && s.duration == 0 &&
               (!s.showMultipleCalls || FCalls.Count() < 2);
    };

    if (call.Rejected) {
        if (visible && s.duration == 0 && s.closeReject) HidePopup();
        return statusWord(CallStatus::Rejected, language);
    }
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
    case line::ReasonAnswered:
    case 0x349A:
        status = statusWord(CallStatus::Answered, language);
        rule = s.closeConnect;
        break;
    case line::ReasonNotAnswered:
        status = statusWord(CallStatus::NotAnswered, language);
        rule = s.closeDisCon;
        break;
    case line::ReasonBusy:
        status = statusWord(CallStatus::Busy, language);
        rule = s.closeBusy;
        break;
    default:
        break;
    }
    if (rule && closeRuleApplies(rulesApply)) HidePopup();
    return status;
}

void TCallHandler::WriteStatus(TCallState &call, const QString &status)
{
    if (!call.RowAdded) return;
    // The row of this call, wherever sorting or a language switch has put it.
    const int row = FLists.FindCall(call.RowKey, call.Id);
    if (row < 0) return; // deleted meanwhile
    FLists.SetCallStatus(row, status);
    FLists.SortCalls();
    FLists.RequestSave(ListKind::Calls);
}

void TCallHandler::CallAnswered(line::TCallId id)
{
    TCallState *call = FindCall(id);
    if (!call || call->Ended || call->Answered) return;
    call->Answered = true;
    WriteStatus(*call, EndStatus(*call, line::ReasonAnswered));
}

void TCallHandler::CallEnded(line::TCallId id, uint16_t aDisconnectReason)
{
    TCallState none;
    TCallState *found = FindCall(id);
    TCallState &call = found && !found->Ended ? *found : none;
    call.Ended = true;
    // An answered call has its status since it was answered.
    if (!call.Answered) {
        const QString status = EndStatus(call, aDisconnectReason);
        WriteStatus(call, status);
    }
    Forget();
}

bool TCallHandler::CanReject(line::TCallId callId) const
{
    const TCallState *call = CallById(callId);
    return call && !call->Ended && call->Source && call->Source->CanReject(callId);
}

bool TCallHandler::RejectCall(line::TCallId callId)
{
    TCallState *call = FindCall(callId);
    if (!call || call->Ended || !call->Source) return false;
    // Marked first: a source may end the call before it returns.
    const bool wasRejected = call->Rejected;
    call->Rejected = true;
    line::TLineSource *source = call->Source;
    if (source->RejectCall(callId)) return true;
    if (TCallState *again = FindCall(callId)) again->Rejected = wasRejected;
    return false;
}

void TCallHandler::LookupResult(const QString &number, const QString &name,
                                const std::optional<QString> &additionalInfo)
{
    if (IsNotTransmitted(number)) return;
    for (int i = FCalls.Count() - 1; i >= 0; --i) {
        TCallRecord &record = FCalls.Get(i);
        if (record.value(QStringLiteral("Caller")) != number) continue;
        if (additionalInfo) record.setValue(QStringLiteral("AdditionalInfo"), *additionalInfo);
        if (!name.isEmpty()) record.setValue(QStringLiteral("NickName"), name);
        break;
    }
    // A name found for one subscriber is not the name of another whose number merely begins
    // the same way.
    if (!name.isEmpty()) FLists.NameCallsFromNumber(name, number);
    if (OnPendingCallChanged) OnPendingCallChanged();
}

void TCallHandler::WriteLog(const QString &text, bool force)
{
    // Traces never go to standard error: it stays for what the user has to know.
    if (!FSettings.settings.debug && !force) return;
    const QString line =
        QTime::currentTime().toString(QLocale::system().timeFormat(QLocale::LongFormat)) +
        QStringLiteral(": ") + text + u'\n';
    // Appended in order by the log's own thread: the disk never holds up a call.
    FLogWriter.start([file = DataDir::logFile(), bytes = line.toUtf8()] {
        PrivateFiles::append(file, bytes);
    });
}
