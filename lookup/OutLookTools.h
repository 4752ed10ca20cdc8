#pragma once

#include "lookup/OutlookIndex.h"
#include "lookup/VCardLimits.h"

#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

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

// The EntryID of the contact with this UID in this book.
inline QString ContactEntryId(const QString &book, const QString &uid)
{
    return book + u'\n' + uid;
}

// One contact of an address book or a vCard file, with the string properties the program
// reads and writes: plain values, read whole from the address book's contact, so that it may
// be handed to any thread.
class TContactItem
{
public:
    // A null item: no contact.
    TContactItem() = default;
    // An empty contact of the address book or file `book`.
    explicit TContactItem(const QString &book) : FNull(false), FBook(book) {}

    bool IsNull() const { return FNull; }
    QString NickName() const { return FNickName; }
    QString FullName() const { return FFullName; }
    QString FirstName() const { return FFirstName; }
    // The number as stored (of a "tel:" URI, the number alone).
    QString Phone(PhoneField field) const
    {
        const QString &number = FPhones[size_t(field)];
        // vCard 4.0 writes a number as a URI: "tel:+49-30-1234;ext=5".
        if (number.startsWith(QStringLiteral("tel:"), Qt::CaseInsensitive))
            return number.mid(4).section(u';', 0, 0);
        return number;
    }
    // The number as the address book holds it.
    QString StoredPhone(PhoneField field) const { return FPhones[size_t(field)]; }
    // The contact's UID in its address book; empty while it is not stored, and for vCard files.
    QString Uid() const { return FUid; }
    // The contact's identity: its address book and its UID there. Empty while it is not stored.
    QString EntryID() const
    {
        if (!FEntryID.isEmpty()) return FEntryID;
        return FUid.isEmpty() || FBook.isEmpty() ? QString() : ContactEntryId(FBook, FUid);
    }
    // The nickname, or the full name when there is none.
    QString DisplayName() const { return FNickName.isEmpty() ? FFullName : FNickName; }

    void SetNickName(const QString &name) { FNickName = name; }
    void SetFullName(const QString &name) { FFullName = name; }
    void SetFirstName(const QString &name) { FFirstName = name; }
    void SetPhone(PhoneField field, const QString &number) { FPhones[size_t(field)] = number; }
    void SetUid(const QString &uid) { FUid = uid; }

    QString Book() const { return FBook; }
    // Known as `uid` of `book` (for contacts that have no UID of their own: vCard files).
    void SetEntry(const QString &book, const QString &uid)
    {
        FBook = book;
        FEntryID = ContactEntryId(book, uid);
    }

private:
    bool FNull = true;
    QString FBook;
    QString FUid;
    QString FEntryID; // set for contacts that have no UID of their own (vCard files)
    QString FNickName;
    QString FFullName;
    QString FFirstName;
    std::array<QString, PhoneFieldCount> FPhones;
};

// The desktop's contacts: every enabled address book of Evolution Data Server (the personal
// one, online accounts, CardDAV books), or the contacts of a vCard file or folder when
// VCardPath is set. Exports go to the built-in address book; a vCard source is read only.
// Made by the address-book module (TContactsModule::NewConnection), which alone links the
// address book's libraries.
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
    TOutlookConnect() = default;
    // Closes the connection.
    virtual ~TOutlookConnect() = default;
    TOutlookConnect(const TOutlookConnect &) = delete;
    TOutlookConnect &operator=(const TOutlookConnect &) = delete;

    QString OLEObject = QStringLiteral("Outlook.Application");
    QString OLENameSpace = QStringLiteral("MAPI");
    QString VCardPath;
    TVCardLimits VCardLimits;

    virtual bool Connected() const = 0;
    // The address books (or vCard files) connected, by UID (or path).
    virtual QStringList Books() const = 0;
    std::function<void()> OnConnect;
    std::function<void()> OnDisConnect;
    // What went wrong on the way that the user is not told: a book skipped, a file not read.
    std::function<void(const QString &text)> OnLog;

    // Opens every address book, or reads the whole vCard source (in a worker thread); `done`
    // gets "Address book connection failed" when no book could be opened or a file of the source
    // cannot be read whole, else an empty text.
    virtual void ConnectAsync(std::function<void(const QString &error)> done) = 0;
    virtual void Disconnect() = 0;

    // Reads every contact of the connected books (one request per book; a book that cannot
    // answer counts as empty), and makes plain items of them in a worker thread. A vCard source
    // was read by the connection already.
    virtual void FetchContactsAsync(std::function<void()> done) = 0;
    // The contacts fetched; 0 before.
    virtual int ContactCount() const = 0;
    // Counted from 1. "Cannot import Item" out of range.
    virtual TContactItem Contact(int index) const = 0;
    // Lets go of the fetched contacts once they are read (in a worker thread: many take a
    // while; so does Disconnect()).
    virtual void ReleaseContacts() = 0;

    // The first contact whose primary, mobile, home or business number is the number as
    // stored, or a null item. A book that cannot be searched is skipped (and logged).
    virtual void FindContactAsync(const QString &number,
                                  std::function<void(const TContactItem &found)> done) = 0;
    // A new contact for the built-in address book, stored by SaveAsync(); "Cannot create
    // contact" for a vCard source.
    virtual TContactItem CreateContact() = 0;
    // Stores the new contact in the named book, else the built-in address book; `done` gets
    // the contact with its identity, or "Cannot create contact".
    virtual void
    SaveAsync(const TContactItem &contact,
              std::function<void(const TContactItem &saved, const QString &error)> done) = 0;

    // Watches every connected book: contacts added, changed or removed from now on arrive
    // through the two events. `started` runs once every book is watched (or could not be).
    virtual void Follow(std::function<void()> started) = 0;
    std::function<void(const std::vector<TContactItem> &contacts)> OnContactsChanged;
    std::function<void(const QStringList &entryIds)> OnContactsRemoved;

    static QString EntryId(const QString &book, const QString &uid)
    {
        return ContactEntryId(book, uid);
    }
};
