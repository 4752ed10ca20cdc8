#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <array>

class SettingsStore;

// The telephone-number fields of a contact, in the order an import reads them. Each maps one
// to one onto a phone field of the desktop's address book.
enum class PhoneField
{
    Assistant,
    Business2,
    Business,
    Callback,
    Car,
    CompanyMain,
    Home2,
    Home,
    Mobile,
    Other,
    Primary,
    Radio,
    TtyTdd
};
constexpr int PhoneFieldCount = 13;

// The field's key in the section "OutlookNumbers" and property name: "HomeTelephoneNumber".
QString PhoneFieldName(PhoneField field);

// The fields an import searches, in reading order, by the flags of the section
// "OutlookNumbers" (the store holds a flag's default while the file lacks its key).
QList<PhoneField> SelectedPhoneFields(const SettingsStore &settings);
// The fields read when there is no settings file: business, primary, mobile, home.
QList<PhoneField> FixedPhoneFields();

// An address book's number in the form of the call monitor's numbers, so that the two compare
// as texts: "+49 (0)30 1234-567" with the country code "++49" gives "0301234567", "+1 555
// 1234" gives "++15551234". A label in front of the number ("Tel. +49 ...") goes, the trunk
// zero in brackets is dropped, a single "+" is widened to "++", the own country code
// (followed by a separator) is removed, everything but digits and "+" goes, and a number that
// then begins with neither "0" nor "+" gets a "0" in front (one that begins with a single "+"
// another "+"). A text of fewer than two characters stays as it is; a longer one without any
// digit gives an empty number, which never matches.
QString NormaliseContactNumber(const QString &number, const QString &countryCode);

// The contacts of an import as the call handling needs them: a name per contact and exactly
// Stride() normalised numbers per contact, in the order of the names (contact k owns the
// number entries k*Stride() ... k*Stride()+Stride()-1). A number identifies the contact of its
// first entry; the numbers are hashed, so a match costs one look-up whatever the size.
//
// Contacts are known by a key (their address book and identity), so that a contact changed or
// removed in the address book takes its place or leaves. A removed contact leaves an empty
// slot until the slots are compacted, which renumbers the contacts; contact indexes are
// therefore valid only until the next change.
//
// Owned by the contacts import; main thread only.
class TOutlookIndex
{
public:
    // Empties the index; every contact from now on has `stride` numbers.
    void Clear(int stride);
    int Stride() const { return FStride; }
    // Contact slots, removed ones included.
    int Count() const { return FNames.size(); }

    // Adds the contact, or replaces it when the (non-empty) key is known. `numbers` holds Stride()
    // normalised numbers (missing ones count as empty, extra ones are ignored).
    void Put(const QString &key, const QString &name, const QStringList &numbers);
    void Remove(const QString &key);
    bool Contains(const QString &key) const { return FSlots.contains(key); }

    // The contact owning the first number entry equal to `number` (case-insensitively), or
    // -1. An empty number never matches.
    int Match(const QString &number);
    // The contact's name; false for an index out of range or a removed contact.
    bool Name(int contact, QString &name) const;

    const QStringList &Names() const { return FNames; }
    const QStringList &Numbers() const { return FNumbers; }

private:
    // A number's first entry; a later one with the same number never displaces it.
    void Index(const QString &number, int entry);
    void Rebuild();

    int FStride = 4;
    QStringList FNames;
    QStringList FNumbers;
    QStringList FKeys; // per slot; empty for a removed contact
    QHash<QString, int> FSlots;
    QHash<QString, int> FFirstEntry; // case-folded number -> first entry holding it
    int FRemoved = 0;
    bool FStale = false; // an entry changed or left: FFirstEntry is rebuilt before a match
};
