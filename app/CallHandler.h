// The handling of every call event: reject rules, number forms, the call-list rows and their
// statuses, the pending calls and the repeat filter.
//
// Calls may overlap: each call keeps its own row, reject mark and connection (PLCI), so the
// end of one call never writes into another's row.
//
// TCallHandler owns the call monitor and binds its events. It decides and stores; what the
// user sees (popup, tray, sounds) is left to its observers, which it tells through the
// events below. It has no widgets, so its decisions and their cost are tested and measured
// without a screen.
//
// Owned by the main window; main thread only. The settings store, the lists and the
// area-code table must outlive it.
#pragma once

#include "app/CallerIdentification.h"
#include "capi/CpMoni.h"
#include "lists/Calls.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QString>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <optional>

class AreaCodeTable;
class SettingsStore;
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
    // Wakes the display on a call (setting "Screensaver").
    std::function<bool()> OnWakeDisplay;

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
    // Plays a wave file; false when it cannot be played.
    std::function<bool(const QString &file)> OnPlaySound;

    // ---- Start-up ------------------------------------------------------------------
    void SetListsLoaded(bool loaded) { FListsLoaded = loaded; }
    // The windows exist: calls are shown and stored from now on.
    void SetDialogsReady(bool ready) { FDialogsReady = ready; }
    // Starts the call monitor on controller 1 with the "RejectTime" setting.
    bool StartMonitor();
    // Releases the CAPI application; no call event comes afterwards.
    void StopMonitor();

    // ---- Call handling -------------------------------------------------------------
    // aPLCI is the call's connection; 0 for a call without one (a test call), which can
    // be neither rejected by the user nor ended.
    void CapiMonitor1RejectCallQuestion(const QString &CallingPartyNumber,
                                        const QString &CalledPartyNumber, uint16_t CipValue,
                                        uint16_t &aRejectCause, uint32_t aPLCI = 0);
    void HandleCall(const QString &caller, const QString &called, int msnIndex, int nickIndex);
    void CapiMonitor1DisconnectInfo(uint16_t aRejectCause, uint16_t aDisconnectReason,
                                    uint32_t aPLCI);
    // The reject button, for the call of a pending record (its CallId): takes the call and
    // clears it. False when that call can no longer be rejected.
    bool RejectCall(quint64 callId);
    // The call of a pending record (its CallId) can be rejected now.
    bool CanReject(quint64 callId) const;
    // A lookup found a name (may be empty) and, for the HTTP lookup, information lines for
    // the number: they go to the newest pending call from exactly that number, and a name
    // to the call-list rows whose number begins with it (saved). The popup shows it again.
    void LookupResult(const QString &number, const QString &name,
                      const std::optional<QString> &additionalInfo = std::nullopt);
    void WriteLog(const QString &text, bool force);

    // ---- State ---------------------------------------------------------------------
    std::unique_ptr<TCapiMonitor> CapiMonitor1;
    TCalls Calls;
    QString FLastCaller;
    // Far in the past: the first question is never taken for a repeat.
    qint64 FLastEventTick = std::numeric_limits<qint64>::min() / 2;
    // Of the call being asked about.
    bool FStoreCall = false;
    bool FOutlookMatch = false;
    bool FActive = true;
    int TestCallNumber = 0;

    // One call from its reject question to its end.
    struct TCallState
    {
        quint64 Id = 0;
        uint32_t PLCI = 0; // 0: no connection
        bool Rejected = false;
        bool Ended = false;
        // Its call-list row, found again by date-time key and number wherever sorting put it.
        bool RowAdded = false;
        QString RowKey;
        QString RowNumber;
    };
    // The call with this connection whose end has not come, or nullptr.
    const TCallState *CallOf(uint32_t plci) const;
    const TCallState *CallById(quint64 id) const;
    // Ended calls kept so that the popup's record still finds its call.
    static constexpr size_t KeptEndedCalls = 64;

private:
    TCallState *FindCall(quint64 id);
    TCallState *FindLiveCall(uint32_t plci);
    TCallState &CurrentCall();
    void Forget();
    bool PlaySound(const QString &file);
    bool IsPopupVisible() const { return PopupVisible && PopupVisible(); }
    void HidePopup();

    SettingsStore &FSettings;
    TLists &FLists;
    AreaCodeTable &FTowns;
    bool FListsLoaded = false;
    bool FDialogsReady = false;
    QElapsedTimer FClock;
    std::deque<TCallState> FCallStates; // oldest first
    quint64 FNextCallId = 1;
    quint64 FCurrentCallId = 0; // the call of the reject question under way
};
