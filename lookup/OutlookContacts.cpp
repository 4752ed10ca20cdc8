#include "lookup/OutlookContacts.h"

#include "lists/ListPrompts.h"
#include "lists/lang.h"
#include "settings/SettingsStore.h"

#include <QTimer>

namespace {

const QString ConnectError =
    QStringLiteral("Error connecting to the address book. The address book stays disabled");
const QString NoFieldsSelected = QStringLiteral(
    "no phone number types selected for the address book. The address book stays disabled");

// Contacts read per turn of the event loop, so that calls are handled while an import runs.
constexpr int ContactsPerStep = 250;

} // namespace

TOutlookContacts::TOutlookContacts(SettingsStore *settings, ListPrompts &prompts, QObject *parent)
    : QObject(parent), FSettings(settings), FPrompts(prompts)
{
    FConnection.OnContactsChanged = [this](const std::vector<TContactItem> &contacts) {
        ContactsChanged(contacts);
    };
    FConnection.OnContactsRemoved = [this](const QStringList &entryIds) {
        ContactsRemoved(entryIds);
    };
}

TOutlookContacts::~TOutlookContacts() = default;

void TOutlookContacts::Import()
{
    const int run = ++FRun;
    FImporting = true;
    FFetching = false;
    FReported.clear();
    Configure(FConnection);
    if (FSettings) {
        FCountryCode = FSettings->settings.countryCode.trimmed();
        FFields = SelectedPhoneFields(*FSettings);
    } else {
        FCountryCode = QStringLiteral("++49");
        FFields = FixedPhoneFields();
    }
    FConnection.ConnectAsync([this, run](bool connected) { Connected(run, connected); });
}

void TOutlookContacts::Configure(TOutlookConnect &connection) const
{
    connection.OLEObject = OLEObject;
    connection.OLENameSpace = OLENameSpace;
    connection.VCardPath.clear();
    if (!FSettings) return;
    const QString book = FSettings->settings.contactsSource.trimmed();
    if (!book.isEmpty()) connection.OLEObject = book;
    connection.VCardPath = FSettings->settings.contactsVCard.trimmed();
}

void TOutlookContacts::Connected(int run, bool connected)
{
    if (!connected) {
        Fail(run);
        return;
    }
    FIndex.Clear(FFields.size());
    FCountryCodes = Towns ? Towns->CountryCodes() : QStringList();
    if (OnCountryCodes) OnCountryCodes(FCountryCodes);
    if (FFields.isEmpty()) {
        FConnection.Disconnect();
        Inform(run, NoFieldsSelected);
        return;
    }
    // Watch first, then fetch: a change made meanwhile is either in the fetched contacts or
    // reported by the watch, never lost.
    FConnection.Follow([this, run] {
        if (run != FRun) return;
        FFetching = true;
        FConnection.FetchContactsAsync([this, run] { AddContacts(run, 1); });
    });
}

void TOutlookContacts::AddContacts(int run, int from)
{
    if (run != FRun) return;
    const int count = FConnection.ContactCount();
    const int last = qMin(count, from + ContactsPerStep - 1);
    try {
        for (int i = from; i <= last; ++i) {
            const TContactItem contact = FConnection.Contact(i);
            if (!FReported.contains(contact.EntryID())) AddContactToIndex(contact);
        }
    } catch (const TOutlookError &error) {
        qDebug("Contacts: %s", qPrintable(error.Message()));
        Fail(run);
        return;
    }
    if (last < count) {
        QTimer::singleShot(0, this, [this, run, last] { AddContacts(run, last + 1); });
        return;
    }
    FConnection.ReleaseContacts();
    FFetching = false;
    FReported.clear();
    Finish(true);
}

void TOutlookContacts::AddContactToIndex(const TContactItem &contact)
{
    QStringList numbers;
    numbers.reserve(FFields.size());
    for (PhoneField field : std::as_const(FFields))
        numbers.append(NormaliseContactNumber(contact.Phone(field), FCountryCode));
    QString key = contact.EntryID();
    if (key.isEmpty()) key = QStringLiteral("\n#%1").arg(++FUnnamed);
    FIndex.Put(key, contact.DisplayName(), numbers);
}

void TOutlookContacts::ContactsChanged(const std::vector<TContactItem> &contacts)
{
    for (const TContactItem &contact : contacts) {
        if (FFetching) FReported.insert(contact.EntryID());
        AddContactToIndex(contact);
    }
}

void TOutlookContacts::ContactsRemoved(const QStringList &entryIds)
{
    for (const QString &entryId : entryIds) {
        if (FFetching) FReported.insert(entryId);
        FIndex.Remove(entryId);
    }
}

void TOutlookContacts::Fail(int run)
{
    FConnection.Disconnect();
    if (FSettings) FSettings->settings.searchOutlook = false;
    Inform(run, ConnectError);
}

void TOutlookContacts::Inform(int run, const QString &text)
{
    // Not from inside the address book's answer: the box runs an event loop of its own.
    QTimer::singleShot(0, this, [this, run, text] {
        if (run != FRun) return;
        FPrompts.inform(text);
        Finish(false);
    });
}

void TOutlookContacts::Finish(bool imported)
{
    FImporting = false;
    if (OnImported) OnImported(imported);
}

void TOutlookContacts::Export(const QString &nickname, const QString &number, PhoneField field,
                              Language language)
{
    TOutlookConnect connection;
    Configure(connection);
    try {
        connection.Connect();
    } catch (const TOutlookError &error) {
        FPrompts.inform(error.Message());
        return;
    }
    try {
        const TContactItem found = connection.FindContact(number);
        if (!found.IsNull() && !found.EntryID().isEmpty()) {
            FPrompts.inform(UiText(UiForm::Messages, u"OutlookContactExists", language));
            FPrompts.inform(ContactText(found));
        } else {
            TContactItem contact = connection.CreateContact();
            contact.SetFirstName(nickname);
            contact.SetFullName(nickname);
            contact.SetNickName(nickname);
            contact.SetPhone(field, number);
            connection.Save(contact);
            // The watch reports it too; the index knows it by its entry and keeps it once.
            if (!FFields.isEmpty() && FIndex.Stride() == FFields.size()) AddContactToIndex(contact);
        }
    } catch (const TOutlookError &error) {
        qDebug("Contacts: export of %s ended: %s", qPrintable(number), qPrintable(error.Message()));
    }
    connection.Disconnect();
}

QString TOutlookContacts::ContactText(const TContactItem &contact)
{
    QString name = contact.FullName();
    if (name.isEmpty()) name = contact.NickName();
    QStringList lines = {name};
    for (int i = 0; i < PhoneFieldCount; ++i) {
        const QString number = contact.Phone(PhoneField(i));
        if (!number.isEmpty())
            lines.append(PhoneFieldName(PhoneField(i)) + QStringLiteral(": ") + number);
    }
    return lines.join(u'\n');
}
