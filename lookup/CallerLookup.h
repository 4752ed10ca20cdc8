// What the call handling asks of the caller identification beyond the user's own lists: a
// lookup of an unknown number (reverse lookup or a user plug-in), and the desktop's contacts.
// Headers only, so that the call handling needs none of the libraries behind them; without an
// implementation nothing happens.
#pragma once

#include <QString>

// A lookup in the background whose result arrives later in the main thread. Implemented by
// the lookup sources.
class ICallerLookup
{
public:
    virtual ~ICallerLookup() = default;
    // Starts a lookup of the number in the background. A call without number (empty, or the
    // not-transmitted text) is never looked up.
    virtual void StartLookup(const QString &number) = 0;
};

// The desktop's contacts, as imported.
class IContactIndex
{
public:
    virtual ~IContactIndex() = default;
    // The contact whose telephone number equals the number exactly, or -1.
    virtual int Match(const QString &number) = 0;
    // The contact's display name; false when it cannot be read.
    virtual bool Name(int contact, QString &name) = 0;
};
