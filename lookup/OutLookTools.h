#pragma once

#include "lookup/OutlookIndex.h"
#include "lookup/VCardLimits.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

typedef struct _EContact EContact;

// An operation of the contacts connection failed; the message is the text the user may see.
class TOutlookError : public std::runtime_error
{
public:
    explicit TOutlookError(const QString &message)
        : std::runtime_error(message.toStdString()), FMessage(message)
    {
    }
    QString Message() const { return FMessage; }

private:
    QString FMessage;
};

// One contact of an address book or a vCard file, with the string properties the program
// reads and writes. A cheap handle: copies share the contact.
class TContactItem
{
public:
    TContactItem() = default;
    // Takes over one reference to the contact; `book` names its address book or file.
    TContactItem(EContact *contact, const QString &book);

    bool IsNull() const { return !FContact; }
    QString NickName() const;
    QString FullName() const;
    QString FirstName() const;
    // The number as stored (of a "tel:" URI, the number alone).
    QString Phone(PhoneField field) const;
    // The contact's identity: its address book and its UID there. Empty while it is not stored.
    QString EntryID() const;
    // The nickname, or the full name when there is none.
    QString DisplayName() const;

    void SetNickName(const QString &name);
    void SetFullName(const QString &name);
    void SetFirstName(const QString &name);
    void SetPhone(PhoneField field, const QString &number);

    EContact *Contact() const { return FContact.get(); }
    QString Book() const { return FBook; }
    void SetEntry(const QString &book, const QString &uid);

private:
    std::shared_ptr<EContact> FContact;
    QString FBook;
    QString FEntryID; // set for contacts that have no UID of their own (vCard files)
};

// The desktop's contacts: every enabled address book of Evolution Data Server (the personal
// one, online accounts, CardDAV books), or the contacts of a vCard file or folder when
// VCardPath is set. Exports go to the built-in address book; a vCard source is read only.
//
// OLEObject and OLENameSpace keep the values of the automation model ("Outlook.Application",
// "MAPI"); a value other than these names one address book (its UID or display name) that is
// then used alone, OLENameSpace first.
//
// Every operation that waits for the address book or the disk runs in the background and
// reports to a function that runs later in the main thread, never when the connection was
// closed or opened again meanwhile; a failure reports the text the user may see. Follow()
// keeps watching the books for changes until Disconnect().
//
// Owned by the contacts import (or an export, for its duration); main thread only. The
// address book's answers and change signals arrive through the GLib main context, which Qt's
// event loop runs. The session bus the address book is reached through is held for the rest
// of the run, made so that its going away does not end the program.
class TOutlookConnect
{
public:
    TOutlookConnect();
    ~TOutlookConnect();
    TOutlookConnect(const TOutlookConnect &) = delete;
    TOutlookConnect &operator=(const TOutlookConnect &) = delete;

    QString OLEObject = QStringLiteral("Outlook.Application");
    QString OLENameSpace = QStringLiteral("MAPI");
    QString VCardPath;
    TVCardLimits VCardLimits;

    bool Connected() const;
    // The address books (or vCard files) connected, by UID (or path).
    QStringList Books() const;
    std::function<void()> OnConnect;
    std::function<void()> OnDisConnect;
    // What went wrong on the way that the user is not told: a book skipped, a file not read.
    std::function<void(const QString &text)> OnLog;

    // Opens every address book, or reads the whole vCard source (in a worker thread); `done`
    // gets "Address book connection failed" when no book could be opened or a file of the source
    // cannot be read whole, else an empty text.
    void ConnectAsync(std::function<void(const QString &error)> done);
    void Disconnect();

    // Reads every contact of the connected books (one request per book; a book that cannot
    // answer counts as empty). A vCard source was read by the connection already.
    void FetchContactsAsync(std::function<void()> done);
    // The contacts fetched; 0 before.
    int ContactCount() const;
    // Counted from 1. "Cannot import Item" out of range.
    TContactItem Contact(int index) const;
    // Lets go of the fetched contacts once they are read (in a worker thread: many take a
    // while; so does Disconnect()).
    void ReleaseContacts();

    // The first contact whose primary, mobile, home or business number is the number as
    // stored, or a null item. A book that cannot be searched is skipped (and logged).
    void FindContactAsync(const QString &number,
                          std::function<void(const TContactItem &found)> done);
    // A new contact for the built-in address book, stored by SaveAsync(); "Cannot create
    // contact" for a vCard source.
    TContactItem CreateContact();
    // Stores the new contact in the named book, else the built-in address book; `done` gets
    // the contact with its identity, or "Cannot create contact".
    void SaveAsync(const TContactItem &contact,
                   std::function<void(const TContactItem &saved, const QString &error)> done);

    // Watches every connected book: contacts added, changed or removed from now on arrive
    // through the two events. `started` runs once every book is watched (or could not be).
    void Follow(std::function<void()> started);
    std::function<void(const std::vector<TContactItem> &contacts)> OnContactsChanged;
    std::function<void(const QStringList &entryIds)> OnContactsRemoved;

    // The EntryID of the contact with this UID in this book.
    static QString EntryId(const QString &book, const QString &uid);

private:
    struct State;
    std::shared_ptr<State> d;
};
