#include "lookup/OutlookContacts.h"

#include "lists/ListPrompts.h"
#include "lists/lang.h"
#include "lookup/ContactsModule.h"
#include "settings/SettingsStore.h"

#include <QDebug>
#include <QTimer>

namespace {

const QString NoFieldsSelected = QStringLiteral(
    "no phone number types selected for the address book. The address book stays disabled");

// Contacts read per turn of the event loop, so that calls are handled while an import runs.
constexpr int ContactsPerStep = 250;

} // namespace

TOutlookContacts::TOutlookContacts(SettingsStore *settings, ListPrompts &prompts, QObject *parent)
    : QObject(parent), FSettings(settings), FPrompts(prompts)
{
    FLoader.setMaxThreadCount(1);
}

TOutlookContacts::~TOutlookContacts()
{
    // Before anything goes: a load under way posts its answer to this object.
    FLoader.waitForDone();
}

void TOutlookContacts::WithModule(
    std::function<void(TContactsModule *module, const QString &error)> then)
{
    if (TContactsModule *module = TContactsModule::Loaded()) return then(module, QString());
    FLoader.start([this, then] {
        QString error;
        TContactsModule *module = TContactsModule::Load(&error);
        QMetaObject::invokeMethod(
            this, [then, module, error] { then(module, error); }, Qt::QueuedConnection);
    });
}

TOutlookContacts::Source TOutlookContacts::CurrentSource() const
{
    Source source{OLEObject, OLENameSpace, QString(), QStringLiteral("++49"), FixedPhoneFields()};
    if (!FSettings) return source;
    const GeneralSettings &s = FSettings->settings;
    if (!s.contactsSource.trimmed().isEmpty()) source.oleObject = s.contactsSource.trimmed();
    source.vcard = s.contactsVCard.trimmed();
    source.countryCode = s.countryCode.trimmed();
    source.fields = SelectedPhoneFields(*FSettings);
    return source;
}

void TOutlookContacts::Configure(TOutlookConnect &connection, const Source &source)
{
    connection.OLEObject = source.oleObject;
    connection.OLENameSpace = source.oleNameSpace;
    connection.VCardPath = source.vcard;
    connection.VCardLimits = VCardLimits;
    connection.OnLog = [this](const QString &text) { Log(text); };
}

void TOutlookContacts::Update()
{
    const Source source = CurrentSource();
    if (FSource == source && source.vcard.isEmpty()) return;
    Import();
}

void TOutlookContacts::Import()
{
    const int run = ++FRun;
    FImporting = true;
    FFetching = false;
    FReported.clear();
    FSource = CurrentSource();
    FFields = FSource->fields;
    FCountryCode = FSource->countryCode;
    FNext.Clear(FFields.size());
    WithModule([this, run](TContactsModule *module, const QString &error) {
        if (run != FRun) return;
        if (module) return Connect(run, *module);
        Log(QStringLiteral("address-book module not loaded: ") + error);
        FSource.reset();
        Inform(run,
               UiText(UiForm::Messages, u"ContactsModuleMissing", MessageLanguage()).arg(error));
    });
}

void TOutlookContacts::Connect(int run, TContactsModule &module)
{
    if (!FConnection) {
        FConnection = module.NewConnection();
        FConnection->OnContactsChanged = [this](const std::vector<TContactItem> &contacts) {
            ContactsChanged(contacts);
        };
        FConnection->OnContactsRemoved = [this](const QStringList &entryIds) {
            ContactsRemoved(entryIds);
        };
    }
    Configure(*FConnection, *FSource);
    FConnection->ConnectAsync(
        [this, run](const QString &error) { Connected(run, error.isEmpty()); });
}

void TOutlookContacts::Connected(int run, bool connected)
{
    if (!connected) {
        Fail(run);
        return;
    }
    FCountryCodes = Towns ? Towns->CountryCodes() : QStringList();
    if (OnCountryCodes) OnCountryCodes(FCountryCodes);
    if (FFields.isEmpty()) {
        FConnection->Disconnect();
        FIndex = std::exchange(FNext, TOutlookIndex());
        Inform(run, NoFieldsSelected);
        return;
    }
    // Watch first, then fetch: a change made meanwhile is either in the fetched contacts or
    // reported by the watch, never lost.
    FConnection->Follow([this, run] {
        if (run != FRun) return;
        FFetching = true;
        FConnection->FetchContactsAsync([this, run] { AddContacts(run, 1); });
    });
}

void TOutlookContacts::AddContacts(int run, int from)
{
    if (run != FRun) return;
    const int count = FConnection->ContactCount();
    const int last = qMin(count, from + ContactsPerStep - 1);
    try {
        for (int i = from; i <= last; ++i) {
            const TContactItem contact = FConnection->Contact(i);
            if (!FReported.contains(contact.EntryID())) AddContactToIndex(contact, FNext);
        }
    } catch (const TOutlookError &error) {
        Log(error.Message());
        Fail(run);
        return;
    }
    if (last < count) {
        QTimer::singleShot(0, this, [this, run, last] { AddContacts(run, last + 1); });
        return;
    }
    FConnection->ReleaseContacts();
    FFetching = false;
    FReported.clear();
    // Complete: the calls from now on are matched against it.
    FIndex = std::exchange(FNext, TOutlookIndex());
    Finish(true);
}

void TOutlookContacts::AddContactToIndex(const TContactItem &contact, TOutlookIndex &index)
{
    QStringList numbers;
    numbers.reserve(FFields.size());
    for (PhoneField field : std::as_const(FFields))
        numbers.append(NormaliseContactNumber(contact.Phone(field), FCountryCode));
    QString key = contact.EntryID();
    if (key.isEmpty()) key = QStringLiteral("\n#%1").arg(++FUnnamed);
    index.Put(key, contact.DisplayName(), numbers);
}

void TOutlookContacts::ContactsChanged(const std::vector<TContactItem> &contacts)
{
    for (const TContactItem &contact : contacts) {
        if (FFetching) FReported.insert(contact.EntryID());
        AddContactToIndex(contact, Receiving());
    }
}

void TOutlookContacts::ContactsRemoved(const QStringList &entryIds)
{
    for (const QString &entryId : entryIds) {
        if (FFetching) FReported.insert(entryId);
        Receiving().Remove(entryId);
    }
}

void TOutlookContacts::Fail(int run)
{
    if (FConnection) FConnection->Disconnect();
    // "SearchOutlook" stays as the user set it: a folder on a share mounted after login, or
    // a service that starts late, is there at the next try (the next start, the next OK).
    const QString vcard = FSource ? FSource->vcard : QString();
    FSource.reset();
    FNext.Clear(FFields.size());
    const Language language = MessageLanguage();
    Inform(run, vcard.isEmpty()
                    ? UiText(UiForm::Messages, u"ContactsUnreachable", language)
                    : UiText(UiForm::Messages, u"VCardUnreadable", language).arg(vcard));
}

Language TOutlookContacts::MessageLanguage() const
{
    // In the language of the settings; without them, in English.
    return FSettings && FSettings->settings.language != 1 ? Language::German : Language::English;
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

void TOutlookContacts::Log(const QString &text)
{
    const QString line = QStringLiteral("Contacts: ") + text;
    if (OnLog)
        OnLog(line);
    else
        qDebug("%s", qPrintable(line));
}

void TOutlookContacts::Export(const QString &nickname, const QString &number, PhoneField field,
                              Language language)
{
    ++FExportsWaiting;
    WithModule([this, nickname, number, field, language](TContactsModule *module,
                                                         const QString &error) {
        --FExportsWaiting;
        if (module) return ExportWith(*module, nickname, number, field, language);
        Log(QStringLiteral("export of %1 ended: address-book module not loaded: %2")
                .arg(number, error));
        FPrompts.inform(UiText(UiForm::Messages, u"ContactsModuleMissing", language).arg(error));
    });
}

void TOutlookContacts::ExportWith(TContactsModule &module, const QString &nickname,
                                  const QString &number, PhoneField field, Language language)
{
    FExports.push_back(module.NewConnection());
    TOutlookConnect *connection = FExports.back().get();
    Configure(*connection, CurrentSource());
    const auto ended = [this, connection, number](const QString &error) {
        Log(QStringLiteral("export of %1 ended: %2").arg(number, error));
        EndExport(connection, {});
    };
    const auto save = [this, connection, nickname, number, field, ended] {
        TContactItem contact;
        try {
            contact = connection->CreateContact();
        } catch (const TOutlookError &error) {
            return ended(error.Message());
        }
        contact.SetFirstName(nickname);
        contact.SetFullName(nickname);
        contact.SetNickName(nickname);
        contact.SetPhone(field, number);
        connection->SaveAsync(
            contact, [this, connection, ended](const TContactItem &saved, const QString &error) {
                if (!error.isEmpty()) return ended(error);
                // The watch reports it too; the index knows it by its entry and keeps it once.
                if (!FFields.isEmpty() && Receiving().Stride() == FFields.size())
                    AddContactToIndex(saved, Receiving());
                EndExport(connection, {});
            });
    };
    connection->ConnectAsync([this, connection, number, language, save](const QString &error) {
        if (!error.isEmpty()) return EndExport(connection, {error});
        connection->FindContactAsync(
            number, [this, connection, language, save](const TContactItem &found) {
                if (found.IsNull() || found.EntryID().isEmpty()) return save();
                EndExport(connection, {UiText(UiForm::Messages, u"OutlookContactExists", language),
                                       ContactText(found)});
            });
    });
}

void TOutlookContacts::EndExport(TOutlookConnect *connection, const QStringList &texts)
{
    connection->Disconnect();
    // Not from inside the address book's answer: the box runs an event loop of its own, and
    // the connection goes only after its answer has run.
    QTimer::singleShot(0, this, [this, connection, texts] {
        for (const QString &text : texts)
            FPrompts.inform(text);
        std::erase_if(FExports, [connection](const std::unique_ptr<TOutlookConnect> &export_) {
            return export_.get() == connection;
        });
    });
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
