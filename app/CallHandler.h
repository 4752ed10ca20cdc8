// The handling of every call event: reject rules, number forms, the call-list rows and their
// statuses, the pending calls and the repeat filter.
//
// Calls come from line sources (line/LineSource.h): the ISDN line through the call monitor is
// the first, and others are added with AddLineSource. Each call is known by its own identity
// from its offer to its end, keeps its own row, reject mark and source, so the end of one call
// never writes into another's row, whatever the exchange or the lists do meanwhile.
//
// TCallHandler decides and stores; what the user sees (popup, tray, sounds) is left to its
// observers, which it tells through the events below. It has no widgets, so its decisions and
// their cost are tested and measured without a screen.
//
// Owned by the main window; main thread only. The settings store, the lists and the
// area-code table must outlive it.
#pragma once

#include "line/LineSource.h"
#include "lists/Calls.h"
#include "lookup/CallerLookup.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QString>
#include <QThreadPool>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

class AreaCodeTable;
class SettingsStore;
class TCapiLineSource;
class TCapiMonitor;
class TLists;

class TCallHandler
{
public:
    TCallHandler(SettingsStore &settings, TLists &lists, AreaCodeTable &towns);
    ~TCallHandler();

    // ---- Services (unset: the action does nothing) ---------------------------------
    ICallerLookup *Lookup = nullptr;
    IContactIndex *Contacts = nullptr;
    // Milliseconds of a monotonic clock and the wall clock; tests set their own.
    std::function<qint64()> TickCount;
    std::function<QDateTime()> Now;
    // Wakes the display for a call (setting "Screensaver"). Called once the call has been
    // answered on the line and shown, so that it must neither wait nor hold anything up.
    std::function<void()> OnWakeDisplay;

    // ---- Observers -----------------------------------------------------------------
    // The popup is on screen (the close rules depend on it).
    std::function<bool()> PopupVisible;
    std::function<void()> OnShowPopup;
    std::function<void()> OnHidePopup;
    // A call was added to the pending calls: announce it and show the newest.
    std::function<void()> OnNewCall;
    // A pending call's record changed (a lookup result): show it again.
    std::function<void()> OnPendingCallChanged;
    // What the user may reject has changed (ask CanReject for the call on show).
    std::function<void()> OnRejectPossible;
    // A line became usable or unusable (ask LineError).
    std::function<void()> OnLineState;
    // Plays a wave file; false when it cannot be played.
    std::function<bool(const QString &file)> OnPlaySound;

    // ---- Start-up ------------------------------------------------------------------
    void SetListsLoaded(bool loaded) { FListsLoaded = loaded; }
    // The windows exist: calls are shown and stored from now on.
    void SetDialogsReady(bool ready) { FDialogsReady = ready; }
    // Adds a line source; its calls are handled from now on.
    void AddLineSource(std::unique_ptr<line::TLineSource> source);
    // Replaces this desktop's own line (the ISDN line from the start; null: none). Calls of
    // the old line that have not ended end as on a lost line; the new one is started when the
    // lines are.
    void SetOwnLine(std::unique_ptr<line::TLineSource> source);
    line::TLineSource *OwnLine() const { return FOwnLine; }
    // A new ISDN line (controller 1, with the "RejectTime" setting).
    std::unique_ptr<line::TLineSource> NewCapiLine();
    // Starts every line (the ISDN line on controller 1 with the "RejectTime" setting); false
    // when one cannot be used now.
    bool StartLines();
    // Stops every line; no call event comes afterwards.
    void StopLines();
    // Empty while every line can be used, otherwise why not ("; " between the lines).
    QString LineError() const;
    // The ISDN line's call monitor (null while stopped or when the own line is another).
    TCapiMonitor *CapiMonitor() const;

    // ---- Call handling -------------------------------------------------------------
    // A call offered by a line source (its events arrive here).
    void CallOffered(line::TLineSource *source, const line::TOfferedCall &call, bool &bReject);
    void CallAnswered(line::TCallId id);
    void CallEnded(line::TCallId id, uint16_t aDisconnectReason);
    // A call without a line ("/t"): handled as an offered call that can be neither rejected
    // nor ended. The called number is the demo's own.
    void TestCall(const QString &number);
    // The reject button, for the call of a pending record (its CallId): takes the call and
    // clears it. False when that call can no longer be rejected.
    bool RejectCall(line::TCallId callId);
    // The call of a pending record (its CallId) can be rejected now.
    bool CanReject(line::TCallId callId) const;
    // A lookup found a name (may be empty) and, for the HTTP lookup, information lines for
    // the number: they go to the newest pending call from exactly that number, and a name
    // to the call-list rows of exactly that number (saved). The popup shows it again.
    void LookupResult(const QString &number, const QString &name,
                      const std::optional<QString> &additionalInfo = std::nullopt);
    // A line in the log file with the setting "Debug" on (or force), written in the
    // background; nothing otherwise.
    void WriteLog(const QString &text, bool force);

    // ---- State ---------------------------------------------------------------------
    // Monitoring is on (the menu's "Deactivate" switches it off): calls are shown and stored.
    bool Active() const { return FActive; }
    void SetActive(bool active) { FActive = active; }
    // The "DebugInt" setting: above 0, calls show made-up numbers 1111111, 2222222, ...
    void SetTestCallNumber(int number) { FTestCallNumber = number; }
    // The calls since the user last acknowledged them.
    TCalls &PendingCalls() { return FCalls; }
    const TCalls &PendingCalls() const { return FCalls; }
    // The tick of the last call offered (the popup keeps the newest call on show for a while).
    qint64 LastEventTick() const { return FLastEventTick; }

    // One call from its offer to its end.
    struct TCallState
    {
        line::TCallId Id = 0;
        line::TLineSource *Source = nullptr; // null: a call without a line
        bool Rejected = false;
        bool Answered = false;
        bool Ended = false;
        // Its call-list row (found by the row's date-time key and the call's id).
        bool RowAdded = false;
        QString RowKey;
    };
    const TCallState *CallById(line::TCallId id) const;
    // Ended calls kept so that the popup's record still finds its call.
    static constexpr size_t KeptEndedCalls = 64;

private:
    struct TIdentified
    {
        QString caller; // zeroes cut
        int msnIndex = -1;
        int nickIndex = -1;
        bool contact = false;
    };
    TCallState &NewCall(line::TCallId id, line::TLineSource *source, bool ended);
    TCallState *FindCall(line::TCallId id);
    TIdentified Identify(const QString &callingNumber, const QString &called, bool &bReject);
    void HandleCall(TCallState &call, const TIdentified &who, const QString &called);
    QString EndStatus(TCallState &call, uint16_t aDisconnectReason);
    void WriteStatus(TCallState &call, const QString &status);
    void Forget();
    bool PlaySound(const QString &file);
    bool IsPopupVisible() const { return PopupVisible && PopupVisible(); }
    void HidePopup();

    SettingsStore &FSettings;
    TLists &FLists;
    AreaCodeTable &FTowns;
    std::vector<std::unique_ptr<line::TLineSource>> FSources;
    line::TLineSource *FOwnLine = nullptr;  // one of FSources
    TCapiLineSource *FCapiLine = nullptr;   // the own line when it is the ISDN line
    bool FLinesStarted = false;
    TCalls FCalls;
    bool FListsLoaded = false;
    bool FDialogsReady = false;
    bool FActive = true;
    int FTestCallNumber = 0;
    QString FLastCaller;
    // Far in the past: the first question is never taken for a repeat.
    qint64 FLastEventTick = std::numeric_limits<qint64>::min() / 2;
    QElapsedTimer FClock;
    std::deque<TCallState> FCallStates; // oldest first
    QThreadPool FLogWriter; // one thread; waits for its lines when the handler ends
};
