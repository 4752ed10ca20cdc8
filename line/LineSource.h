// How a source of calls gives the call handling its events, and what the call handling may
// ask of it. The ISDN line through CAPI is one such source; a home router's call monitor and
// calls received from another desktop are others.
//
// A source offers each call with an identity of its own (TCallId): unique in the program's
// run and never reused, so that calls of several sources, or a connection the exchange hands
// out again, never meet. It tells when a call was answered and when it ended, whether the
// user can reject it now, and whether its line can be used.
//
// Events are called synchronously in the main thread; a source that works in another thread
// hands them over first. Handlers may call the source's operations, but must not destroy it.
#pragma once

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>

namespace line {

// 0 is no call.
using TCallId = quint64;

inline TCallId NewCallId()
{
    static std::atomic<TCallId> next{1};
    return next++;
}

// Why a call ended, as CAPI 2.0 disconnect reasons: the call list's status words, and the
// user's ini sections "StatusCodes" and "StatusCodeStrings", are keyed by them. A source
// without CAPI translates its own outcome into these four.
constexpr uint16_t ReasonAnswered = 0x3400;
constexpr uint16_t ReasonNotAnswered = 0x3490;
constexpr uint16_t ReasonBusy = 0x34A2;
// The line went away while the call was on it: nothing is known of its outcome.
constexpr uint16_t ReasonLineLost = 0x9004;

struct TOfferedCall
{
    TCallId Id = 0;
    // National numbers begin with "0", international ones with "++"; empty when withheld.
    QString CallingPartyNumber;
    // The own number (MSN) that was called.
    QString CalledPartyNumber;
    // The service asked for, as a CAPI 2.0 CIP value (16: telephony).
    uint16_t CipValue = 16;
};

// What kind of line a source is, for the user (the tray hint, the about window).
enum class TLineKind
{
    Capi,   // an ISDN line through CAPI 2.0
    Router, // a home router's call monitor
};

class TLineSource
{
public:
    virtual ~TLineSource() = default;

    virtual TLineKind Kind() const = 0;
    // Where the line is, for the user ("fritz.box:1012"); empty when there is nothing to say.
    virtual QString Address() const = 0;

    // Starts listening. False when the line cannot be used now (LineError says why); a
    // source that retries by itself reports the line's return through OnLineState.
    virtual bool Start() = 0;
    // Stops listening; no event comes afterwards.
    virtual void Stop() = 0;
    // The source can reject calls at all. When not, no reject rule applies to its calls: they
    // are shown and stored with what really happened.
    virtual bool CanRejectCalls() const = 0;
    // The user may reject this call now.
    virtual bool CanReject(TCallId id) const = 0;
    // The user rejects the call (takes it and hangs up, or asks the line's owner to); false
    // when it can no longer be rejected.
    virtual bool RejectCall(TCallId id) = 0;
    // Empty while the line can be used; otherwise why not, in a line for the user.
    virtual QString LineError() const = 0;

    // A new call rings. Setting bReject rejects it at once where the source can.
    std::function<void(const TOfferedCall &call, bool &bReject)> OnCallOffered;
    // The call was answered (on any phone of the line). Not every source can tell; a call
    // that ends without it ends with its reason alone.
    std::function<void(TCallId id)> OnCallAnswered;
    // The call ended; aDisconnectReason as above. The last event of a call.
    std::function<void(TCallId id, uint16_t aDisconnectReason)> OnCallEnded;
    // What the user can reject has changed (ask CanReject).
    std::function<void()> OnRejectPossible;
    // The line became usable or unusable (ask LineError).
    std::function<void()> OnLineState;
};

} // namespace line
