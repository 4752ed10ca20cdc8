// What the tests of the call handling and the popup share: a line the test drives, a lookup
// that notes the numbers it is asked for, a keyboard without LED, and the list entries and
// statuses they set up and read.
#pragma once

#include "line/LineSource.h"
#include "lists/lists.h"
#include "lookup/CallerLookup.h"
#include "platform/KeyboardLed.h"

#include <QSet>
#include <QStringList>

// A line source the test drives: it offers, answers and ends calls as a line would. Calls are
// rejectable while they ring unless the test says otherwise (rejects = false: a line that
// cannot reject at all, as a router's call monitor).
class FakeLine : public line::TLineSource
{
public:
    line::TLineKind Kind() const override { return line::TLineKind::Capi; }
    QString Address() const override { return QString(); }
    bool Start() override { return true; }
    void Stop() override {}
    bool CanRejectCalls() const override { return rejects; }
    bool CanReject(line::TCallId id) const override { return rejects && FRinging.contains(id); }
    bool RejectCall(line::TCallId id) override
    {
        if (!rejects || !FRinging.remove(id)) return false;
        rejected << id;
        return true;
    }
    QString LineError() const override { return error; }

    // Offers a call; its id, and whether the call handling rejected it at once.
    line::TCallId offer(const QString &calling, const QString &called = QStringLiteral("85606"),
                        bool *rejectedAtOnce = nullptr)
    {
        line::TOfferedCall call;
        call.Id = line::NewCallId();
        call.CallingPartyNumber = calling;
        call.CalledPartyNumber = called;
        bool reject = false;
        FRinging.insert(call.Id);
        if (OnCallOffered) OnCallOffered(call, reject);
        if (reject) FRinging.remove(call.Id);
        if (rejectedAtOnce) *rejectedAtOnce = reject;
        return call.Id;
    }
    void answer(line::TCallId id)
    {
        FRinging.remove(id);
        if (OnCallAnswered) OnCallAnswered(id);
    }
    void end(line::TCallId id, uint16_t reason)
    {
        FRinging.remove(id);
        if (OnCallEnded) OnCallEnded(id, reason);
    }

    QString error;
    bool rejects = true;
    QList<line::TCallId> rejected;

private:
    QSet<line::TCallId> FRinging;
};

class RecordingLookup : public ICallerLookup
{
public:
    QStringList numbers;
    void StartLookup(const QString &number) override { numbers.append(number); }
};

class NoLed : public platform::KeyboardLed
{
public:
    bool ReadScrollLock(bool &state, QString *) override
    {
        state = false;
        return true;
    }
    bool PressScrollLock(QString *) override { return true; }
};

inline void addNick(TLists &lists, const QString &name, const QString &number,
                    const QString &action, const QString &sound = QString())
{
    lists.nicks().appendRow(NickRow{name, number, sound, action});
}

inline void addMsn(TLists &lists, const QString &msn, const QString &name, const QString &action,
                   bool checked = true)
{
    lists.msns().appendRow(MsnRow{checked, msn, name, QString(), action});
}

// The status of the last row of the call list.
inline QString lastStatus(const TLists &lists)
{
    const TCallList &calls = lists.calls();
    return calls.count() ? calls.row(calls.count() - 1).status : QStringLiteral("<none>");
}
