#pragma once

#include "lookup/OutLookTools.h"

#include <memory>

typedef struct _EContact EContact;

// Inside the address-book module only: what its units share.

// A connection to the desktop's address books or a vCard source through libebook.
std::unique_ptr<TOutlookConnect> NewEdsConnection();

// The contact's values as a plain item of `book`; parses the contact when it was not yet
// (any thread, as long as no other thread uses the contact meanwhile).
TContactItem ContactItemOf(EContact *contact, const QString &book);
