#pragma once

#include "lookup/OutLookTools.h"
#include "lookup/OutlookIndex.h"
#include "phone/isdntool.h"

#include <QObject>
#include <QSet>
#include <QStringList>
#include <QThreadPool>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class ListPrompts;
class SettingsStore;
class TContactsModule;

// The desktop's contacts as the call handling sees them: the import fills the index from the
// address books (or the vCard source of "ContactsVCard"), the address books' change signals
// keep it current afterwards, and each call is matched against it in memory.
//
// What the options dialog needs: Update() after OK (and the program after reading the
// settings) when "SearchOutlook" is on; CountryCodes() and OnCountryCodes for the choices of
// the country-code box. The import reads "CountryCode", "OLEObject" (one address book),
// "ContactsVCard" and the flags of "OutlookNumbers" from the settings store when it starts.
// An address book that cannot be reached, or a vCard source that cannot be read, is named in a
// message; "SearchOutlook" stays on, so the next start and the next OK try again.
//
// The address book is reached through the address-book module (TContactsModule), which the
// first import or export loads in a worker thread; one that cannot be loaded is named in a
// message like an address book that cannot be reached, and tried again the same way.
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
    // What a vCard source may hold.
    TVCardLimits VCardLimits;
    // The area-code table the country-code choices come from (may stay unset).
    const AreaCodeTable *Towns = nullptr;

    // Starts reading every contact again, in the background, into an index of its own that
    // takes the place of the current one once it is complete: until then calls are matched
    // against the contacts read before. A running import is given up for the new one. A
    // connection failure says so and keeps those contacts.
    void Import();
    // Imports when a setting the contacts depend on changed since the last import, or that
    // import failed, or the contacts come from vCard files (the files are not followed, so
    // they are read again); otherwise the address books' change signals keep them current.
    void Update();
    bool Importing() const { return FImporting; }
    // The import ended: true when it read the contacts, false when it could not connect or
    // no field is selected.
    std::function<void(bool imported)> OnImported;
    // What the user is not told but the log keeps: a book skipped, a file not read.
    std::function<void(const QString &text)> OnLog;

    QStringList CountryCodes() const { return FCountryCodes; }
    // The country codes were drawn from the area-code table again (at each import).
    std::function<void(const QStringList &codes)> OnCountryCodes;

    // The contact a caller's number belongs to, or -1; its name. A contact index is valid
    // until the address book changes.
    int Match(const QString &number) { return FIndex.Match(number); }
    bool Name(int contact, QString &name) const { return FIndex.Name(contact, name); }

    // A nickname entry as a new contact in the built-in address book, with the number in the
    // given field; when a contact already has the number in its primary, mobile, home or
    // business field, that contact is shown instead. Runs in the background; a connection
    // failure is reported, other failures end the export with a line in the log.
    void Export(const QString &nickname, const QString &number, PhoneField field,
                Language language);
    bool Exporting() const { return FExportsWaiting > 0 || !FExports.empty(); }

    const TOutlookIndex &Index() const { return FIndex; }
    // The fields read by the current import.
    QList<PhoneField> Fields() const { return FFields; }

    // The text of the box that shows an existing contact: its name and its numbers.
    static QString ContactText(const TContactItem &contact);

private:
    // What an import reads; an index read with the same values needs no new import.
    struct Source
    {
        QString oleObject;
        QString oleNameSpace;
        QString vcard;
        QString countryCode;
        QList<PhoneField> fields;
        bool operator==(const Source &) const = default;
    };

    Source CurrentSource() const;
    // Runs `then` in the main thread with the module, loading it in a worker the first time;
    // with null and the reason when it cannot be loaded.
    void WithModule(std::function<void(TContactsModule *module, const QString &error)> then);
    void Connect(int run, TContactsModule &module);
    void ExportWith(TContactsModule &module, const QString &nickname, const QString &number,
                    PhoneField field, Language language);
    Language MessageLanguage() const;
    void Configure(TOutlookConnect &connection, const Source &source);
    void Connected(int run, bool connected);
    void AddContacts(int run, int from);
    // The index changes go to: the one being read while an import runs.
    TOutlookIndex &Receiving() { return FImporting ? FNext : FIndex; }
    void AddContactToIndex(const TContactItem &contact, TOutlookIndex &index);
    void ContactsChanged(const std::vector<TContactItem> &contacts);
    void ContactsRemoved(const QStringList &entryIds);
    void Fail(int run);
    void Finish(bool imported);
    void Inform(int run, const QString &text);
    void Log(const QString &text);
    void EndExport(TOutlookConnect *connection, const QStringList &texts);

    SettingsStore *FSettings;
    ListPrompts &FPrompts;
    std::unique_ptr<TOutlookConnect> FConnection; // made once the module is loaded
    TOutlookIndex FIndex;
    TOutlookIndex FNext;
    // What the index (or the import under way) was read with; none after a failure.
    std::optional<Source> FSource;
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
    // One connection per export under way.
    std::vector<std::unique_ptr<TOutlookConnect>> FExports;
    int FExportsWaiting = 0; // exports waiting for the module
    // Loads the module; waited for at destruction (a load takes some milliseconds).
    QThreadPool FLoader;
};
