// What the tests of the call handling and the popup share: a lookup that notes the numbers
// it is asked for, a keyboard without LED, and the list entries and statuses they set up and
// read.
#pragma once

#include "app/CallerIdentification.h"
#include "lists/lists.h"
#include "platform/KeyboardLed.h"

#include <QStringList>

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
