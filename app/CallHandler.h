// The handling of every call event: reject rules, number forms, the call-list rows and their
// statuses, the pending calls and the repeat filter.
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
#include <functional>
#include <limits>
#include <memory>

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
    // The monitor's state: whether the user can reject now.
    std::function<void(bool bUserCanReject)> OnRejectPossible;
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
    void CapiMonitor1RejectCallQuestion(const QString &CallingPartyNumber,
                                        const QString &CalledPartyNumber, uint16_t CipValue,
                                        uint16_t &aRejectCause);
    void HandleCall(const QString &caller, const QString &called, int msnIndex, int nickIndex);
    void CapiMonitor1DisconnectInfo(uint16_t aRejectCause, uint16_t aDisconnectReason);
    // The popup's reject button: takes the call and clears it.
    void RejectCall();
    void WriteLog(const QString &text, bool force);

    // ---- State ---------------------------------------------------------------------
    std::unique_ptr<TCapiMonitor> CapiMonitor1;
    TCalls Calls;
    QString FLastCaller;
    // Far in the past: the first question is never taken for a repeat.
    qint64 FLastEventTick = std::numeric_limits<qint64>::min() / 2;
    bool FRejected = false;
    bool FStoreCall = false;
    bool FRowAdded = false;
    bool FOutlookMatch = false;
    bool FActive = true;
    int TestCallNumber = 0;

private:
    bool PlaySound(const QString &file);
    bool IsPopupVisible() const { return PopupVisible && PopupVisible(); }
    void HidePopup();

    SettingsStore &FSettings;
    TLists &FLists;
    AreaCodeTable &FTowns;
    bool FListsLoaded = false;
    bool FDialogsReady = false;
    QElapsedTimer FClock;
    // The call-list row of the current call: its date-time key and number.
    QString FRowKey;
    QString FRowNumber;
};
