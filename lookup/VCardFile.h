#pragma once

#include "lookup/OutLookTools.h"

#include <QString>
#include <QStringList>

#include <vector>

// Contacts from vCard files, for desktops without an address-book service: one file, or every
// ".vcf" and ".vcard" file of a folder (not its subfolders), in name order. A file is read as
// UTF-8, or as Windows-1252 when it is not valid UTF-8. Stateless; any thread (the contacts
// it makes may be handed to another thread).

// Appends the contacts of the source; each is known as the file's path, "#" and its place in
// the file. When the source is missing or one of its files cannot be read whole (or is larger
// than MaxVCardFileSize), nothing is appended and `error` names the file and the reason;
// false then.
bool ReadVCardSource(const QString &path, std::vector<TContactItem> &contacts, QString *error);
// Appends the contacts of one file's bytes, known as `file`, "#" and their place in it.
void ReadVCards(const QByteArray &bytes, const QString &file, std::vector<TContactItem> &contacts);

// The cards of a text: each runs from a "BEGIN:VCARD" line to its "END:VCARD" line (a card
// nested in a property counts as part of it); a card the text cuts short runs to its end.
// Lines outside cards are ignored.
QStringList SplitVCards(const QString &text);

constexpr qint64 MaxVCardFileSize = 64 * 1024 * 1024;
