#pragma once

#include "lookup/OutLookTools.h"
#include "lookup/VCardLimits.h"

#include <QString>
#include <QStringList>

#include <vector>

// Contacts from vCard files, for desktops without an address-book service: one file, or every
// ".vcf" and ".vcard" file of a folder (not its subfolders), in name order. A file is read as
// UTF-8, or as Windows-1252 when it is not valid UTF-8. Stateless; any thread (the contacts
// it makes are plain values, so they may be handed to another thread). Part of the
// address-book module: the program reaches these through TContactsModule.

// Appends the contacts of the source; each is known as the file's path, "#" and its place in
// the file. Only regular files are read (a link to one counts as one); a file is opened
// without waiting, so a pipe or device put in its place never holds the reading up. When the
// source is missing, one of its files is no regular file or cannot be read whole, or the
// source is over a limit, nothing is appended and `error` names the file and the reason;
// false then.
bool ReadVCardSource(const QString &path, std::vector<TContactItem> &contacts, QString *error,
                     const TVCardLimits &limits = {});
// Appends the contacts of one file's bytes, known as `file`, "#" and their place in it; none
// and false when the bytes hold more than `maxCards` cards.
bool ReadVCards(const QByteArray &bytes, const QString &file, std::vector<TContactItem> &contacts,
                qsizetype maxCards = TVCardLimits().Cards);

// The cards of a text: each runs from a "BEGIN:VCARD" line to its "END:VCARD" line (a card
// nested in a property counts as part of it); a card the text cuts short runs to its end.
// Lines outside cards are ignored.
QStringList SplitVCards(const QString &text);
