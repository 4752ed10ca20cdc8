// What the call handling asks of the caller identification beyond the user's own lists:
// a lookup of an unknown number (reverse lookup or a user plug-in), and the desktop's
// contacts. The main window calls these through the interfaces, which later parts of
// the program implement; without an implementation nothing happens.
#pragma once

#include "lookup/CallerLookup.h"

#include <QString>

class IContactIndex
{
public:
    virtual ~IContactIndex() = default;
    // The contact whose telephone number equals the number exactly, or -1.
    virtual int Match(const QString &number) = 0;
    // The contact's display name; false when it cannot be read.
    virtual bool Name(int contact, QString &name) = 0;
};
