#pragma once

#include "lookup/OutLookTools.h"
#include "lookup/OutlookIndex.h"
#include "phone/isdntool.h"

#include <QObject>
#include <QSet>
#include <QStringList>

#include <functional>

class ListPrompts;
class SettingsStore;

// The desktop's contacts as the call handling sees them: the import fills the index from the
// address books (or the vCard source of "ContactsVCard"), the address books' change signals
// keep it current afterwards, and each call is matched against it in memory.
//
// What the options dialog needs: Import() after OK (and the program after reading the
// settings) when "SearchOutlook" is on; CountryCodes() and OnCountryCodes for the choices of
// the country-code box. The import reads "CountryCode", "OLEObject" (one address book),
// "ContactsVCard" and the flags of "OutlookNumbers" from the settings store when it starts,
// and switches "SearchOutlook" off there when the address book cannot be reached.
//
// Owned by the program's entry; main thread only.
class TOutlookContacts : public QObject
{
    Q_OBJECT
public:
    // Without settings store the import reads the four fixed fields with the country code
    // "++49" (the behaviour without a settings file).
    TOutlookContacts(SettingsStore *settings, ListPrompts &prompts, QObject *parent = nullptr);
    ~TOutlookContacts() override;

    // See TOutlookConnect: another value names the one address book to use. The setting
    // "OLEObject", when not empty, takes the place of OLEObject.
    QString OLEObject = QStringLiteral("Outlook.Application");
    QString OLENameSpace = QStringLiteral("MAPI");
    // The area-code table the country-code choices come from (may stay unset).
    const AreaCodeTable *Towns = nullptr;

    // Starts reading every contact again, in the background: until it ends, calls are matched
    // against the contacts read so far. A running import is given up for the new one. A
    // connection failure switches "SearchOutlook" off and says so.
    void Import();
    bool Importing() const { return FImporting; }
    // The import ended: true when it read the contacts, false when it could not connect or
    // no field is selected.
    std::function<void(bool imported)> OnImported;

    QStringList CountryCodes() const { return FCountryCodes; }
    // The country codes were drawn from the area-code table again (at each import).
    std::function<void(const QStringList &codes)> OnCountryCodes;

    // The contact a caller's number belongs to, or -1; its name. A contact index is valid
    // until the address book changes.
    int Match(const QString &number) { return FIndex.Match(number); }
    bool Name(int contact, QString &name) const { return FIndex.Name(contact, name); }

    // A nickname entry as a new contact in the built-in address book, with the number in the
    // given field; when a contact already has the number in its primary, mobile, home or
    // business field, that contact is shown instead. A connection failure is reported;
    // other failures end the export silently.
    void Export(const QString &nickname, const QString &number, PhoneField field,
                Language language);

    const TOutlookIndex &Index() const { return FIndex; }
    // The fields read by the current import.
    QList<PhoneField> Fields() const { return FFields; }

    // The text of the box that shows an existing contact: its name and its numbers.
    static QString ContactText(const TContactItem &contact);

private:
    // The connection's source: the address book named by "OLEObject" or the vCard source of
    // "ContactsVCard", when the settings name one.
    void Configure(TOutlookConnect &connection) const;
    void Connected(int run, bool connected);
    void AddContacts(int run, int from);
    void AddContactToIndex(const TContactItem &contact);
    void ContactsChanged(const std::vector<TContactItem> &contacts);
    void ContactsRemoved(const QStringList &entryIds);
    void Fail(int run);
    void Finish(bool imported);
    void Inform(int run, const QString &text);

    SettingsStore *FSettings;
    ListPrompts &FPrompts;
    TOutlookConnect FConnection;
    TOutlookIndex FIndex;
    QList<PhoneField> FFields;
    QString FCountryCode;
    QStringList FCountryCodes;
    bool FImporting = false;
    int FRun = 0; // raised by every import: steps of an older one stop
    // Contacts the address book reported while the fetched ones were still being read: the
    // report is newer, so the fetched copy is skipped.
    QSet<QString> FReported;
    bool FFetching = false;
    int FUnnamed = 0;
};
