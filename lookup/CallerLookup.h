#pragma once

#include <QString>

// The call handling's request to identify a caller it does not know: a lookup in the
// background whose result arrives later in the main thread. Implemented by the lookup
// sources; without one nothing happens.
class ICallerLookup
{
public:
    virtual ~ICallerLookup() = default;
    // Starts a lookup of the number in the background. A call without number (empty, or the
    // not-transmitted text) is never looked up.
    virtual void StartLookup(const QString &number) = 0;
};
