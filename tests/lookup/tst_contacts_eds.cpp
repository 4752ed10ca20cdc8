// The contacts import and export against a real address-book service: run by tools/private-eds,
// which gives this program a service of its own. The address book is reached through the
// address-book module, as the program reaches it.
#include <libebook/libebook.h>

#include "lists/ListPrompts.h"
#include "lookup/OutlookContacts.h"
#include "settings/SettingsStore.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

QString text(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

} // namespace

class TestContactsEds : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void importsEveryContactOfEveryEnabledBook();
    void oneNamedBookIsUsedAlone();
    void followsChangesWhileRunning();
    void importsAgainOnlyForChangedSettings();
    void exportsANicknameAndFindsItAgain();

private:
    EBookClient *createBook(const char *name, bool enabled);
    QString addContact(EBookClient *book, const QString &fullName, const QString &nick,
                       EContactField field, const QString &number);
    void addContacts(EBookClient *book, int count);
    void importAndWait(TOutlookContacts &contacts);
    void exportAndWait(TOutlookContacts &contacts, const QString &number, PhoneField field);
    void emptyBook(EBookClient *book);
    std::vector<std::shared_ptr<EContact>> withNickname(EBookClient *book, const char *nickname);

    ESourceRegistry *FRegistry = nullptr;
    EBookClient *FBuiltin = nullptr;
    std::vector<EBookClient *> FCreated;
    QScopedPointer<QTemporaryDir> FDir;
    QScopedPointer<SettingsStore> FSettings;
    ScriptedPrompts FPrompts;
};

void TestContactsEds::initTestCase()
{
    QVERIFY2(qEnvironmentVariableIsSet("CORVANE_PRIVATE_EDS"),
             "run through tools/private-eds: the test changes the address book");
    GError *error = nullptr;
    FRegistry = e_source_registry_new_sync(nullptr, &error);
    QVERIFY2(FRegistry, error ? error->message : "");
    ESource *builtin = e_source_registry_ref_builtin_address_book(FRegistry);
    FBuiltin = E_BOOK_CLIENT(e_book_client_connect_sync(builtin, guint32(-1), nullptr, &error));
    g_object_unref(builtin);
    QVERIFY2(FBuiltin, error ? error->message : "");
}

void TestContactsEds::cleanupTestCase()
{
    if (FBuiltin) g_object_unref(FBuiltin);
    if (FRegistry) g_object_unref(FRegistry);
}

void TestContactsEds::init()
{
    FDir.reset(new QTemporaryDir);
    FSettings.reset(new SettingsStore(FDir->path() + "/corvane.ini"));
    FSettings->readAll();
    FSettings->settings.searchOutlook = true;
    FPrompts.messages.clear();
    emptyBook(FBuiltin);
}

void TestContactsEds::cleanup()
{
    for (EBookClient *book : FCreated) {
        GError *error = nullptr;
        e_source_remove_sync(e_client_get_source(E_CLIENT(book)), nullptr, &error);
        g_clear_error(&error);
        g_object_unref(book);
    }
    FCreated.clear();
}

EBookClient *TestContactsEds::createBook(const char *name, bool enabled)
{
    GError *error = nullptr;
    ESource *scratch = e_source_new(nullptr, nullptr, &error);
    e_source_set_display_name(scratch, name);
    e_source_set_parent(scratch, "local-stub");
    e_source_set_enabled(scratch, enabled);
    e_source_backend_set_backend_name(
        E_SOURCE_BACKEND(e_source_get_extension(scratch, E_SOURCE_EXTENSION_ADDRESS_BOOK)),
        "local");
    if (!e_source_registry_commit_source_sync(FRegistry, scratch, nullptr, &error))
        qFatal("cannot create an address book: %s", error->message);
    ESource *source = e_source_registry_ref_source(FRegistry, e_source_get_uid(scratch));
    g_object_unref(scratch);
    // The address-book factory learns of a new source from the registry a little later (on a
    // fresh machine's first start, noticeably): until then it knows no such source.
    EBookClient *book = nullptr;
    QElapsedTimer clock;
    clock.start();
    while (!book) {
        g_clear_error(&error);
        book = E_BOOK_CLIENT(e_book_client_connect_sync(source, guint32(-1), nullptr, &error));
        if (book || clock.elapsed() > 20000) break;
        QTest::qWait(100);
    }
    g_object_unref(source);
    if (!book) qFatal("cannot open an address book: %s", error->message);
    FCreated.push_back(book);
    return book;
}

QString TestContactsEds::addContact(EBookClient *book, const QString &fullName, const QString &nick,
                                    EContactField field, const QString &number)
{
    EContact *contact = e_contact_new();
    e_contact_set(contact, E_CONTACT_FULL_NAME, fullName.toUtf8().constData());
    if (!nick.isEmpty()) e_contact_set(contact, E_CONTACT_NICKNAME, nick.toUtf8().constData());
    e_contact_set(contact, field, number.toUtf8().constData());
    gchar *uid = nullptr;
    GError *error = nullptr;
    if (!e_book_client_add_contact_sync(book, contact, E_BOOK_OPERATION_FLAG_NONE, &uid, nullptr,
                                        &error))
        qFatal("cannot add a contact: %s", error->message);
    g_object_unref(contact);
    const QString result = text(uid);
    g_free(uid);
    return result;
}

// Contact i: home "+49 (0)30 <i>", mobile "0171 <i>", a nickname for every even i.
void TestContactsEds::addContacts(EBookClient *book, int count)
{
    GSList *contacts = nullptr;
    for (int i = 0; i < count; ++i) {
        EContact *contact = e_contact_new();
        e_contact_set(contact, E_CONTACT_FULL_NAME, qPrintable(QString("Person %1").arg(i)));
        if (i % 2 == 0)
            e_contact_set(contact, E_CONTACT_NICKNAME, qPrintable(QString("Nick %1").arg(i)));
        e_contact_set(contact, E_CONTACT_PHONE_HOME, qPrintable(QString("+49 (0)30 %1").arg(i)));
        e_contact_set(contact, E_CONTACT_PHONE_MOBILE, qPrintable(QString("0171 %1").arg(i)));
        contacts = g_slist_prepend(contacts, contact);
    }
    GError *error = nullptr;
    const bool added = e_book_client_add_contacts_sync(book, contacts, E_BOOK_OPERATION_FLAG_NONE,
                                                       nullptr, nullptr, &error);
    g_slist_free_full(contacts, g_object_unref);
    if (!added) qFatal("cannot add contacts: %s", error->message);
}

void TestContactsEds::emptyBook(EBookClient *book)
{
    GSList *uids = nullptr;
    GError *error = nullptr;
    EBookQuery *all = e_book_query_any_field_contains("");
    gchar *sexp = e_book_query_to_string(all);
    e_book_query_unref(all);
    if (e_book_client_get_contacts_uids_sync(book, sexp, &uids, nullptr, &error) && uids)
        e_book_client_remove_contacts_sync(book, uids, E_BOOK_OPERATION_FLAG_NONE, nullptr, &error);
    g_free(sexp);
    g_slist_free_full(uids, g_free);
    g_clear_error(&error);
}

std::vector<std::shared_ptr<EContact>> TestContactsEds::withNickname(EBookClient *book,
                                                                     const char *nickname)
{
    EBookQuery *query = e_book_query_field_test(E_CONTACT_NICKNAME, E_BOOK_QUERY_IS, nickname);
    gchar *sexp = e_book_query_to_string(query);
    e_book_query_unref(query);
    GSList *found = nullptr;
    GError *error = nullptr;
    if (!e_book_client_get_contacts_sync(book, sexp, &found, nullptr, &error))
        qFatal("cannot search: %s", error->message);
    g_free(sexp);
    std::vector<std::shared_ptr<EContact>> contacts;
    for (GSList *l = found; l; l = l->next)
        contacts.emplace_back(E_CONTACT(l->data), g_object_unref);
    g_slist_free(found);
    return contacts;
}

void TestContactsEds::importAndWait(TOutlookContacts &contacts)
{
    bool imported = false;
    contacts.OnImported = [&imported](bool) { imported = true; };
    contacts.Import();
    QTRY_VERIFY_WITH_TIMEOUT(imported, 60000);
    contacts.OnImported = nullptr;
}

void TestContactsEds::exportAndWait(TOutlookContacts &contacts, const QString &number,
                                    PhoneField field)
{
    contacts.Export("Oma", number, field, Language::English);
    QTRY_VERIFY_WITH_TIMEOUT(!contacts.Exporting(), 30000);
}

void TestContactsEds::importsEveryContactOfEveryEnabledBook()
{
    addContacts(FBuiltin, 1000);
    addContact(createBook("Work", true), "Wanda Work", "", E_CONTACT_PHONE_BUSINESS, "040 777");
    addContact(createBook("Old", false), "Otto Old", "", E_CONTACT_PHONE_BUSINESS, "040 888");

    TOutlookContacts contacts(FSettings.data(), FPrompts);
    importAndWait(contacts);
    QVERIFY(FPrompts.messages.isEmpty());
    QCOMPARE(contacts.Index().Count(), 1001);
    QCOMPARE(contacts.Index().Stride(), 5);

    QString name;
    QVERIFY(contacts.Name(contacts.Match("030998"), name));
    QCOMPARE(name, QString("Nick 998"));
    QVERIFY(contacts.Name(contacts.Match("0171999"), name));
    QCOMPARE(name, QString("Person 999"));
    QVERIFY(contacts.Name(contacts.Match("040777"), name));
    QCOMPARE(name, QString("Wanda Work"));
    QCOMPARE(contacts.Match("040888"), -1); // its book is switched off
    QCOMPARE(contacts.Match("0301000"), -1);
    QVERIFY(FSettings->settings.searchOutlook);
}

void TestContactsEds::oneNamedBookIsUsedAlone()
{
    addContact(FBuiltin, "Bea Builtin", "", E_CONTACT_PHONE_HOME, "030 1");
    EBookClient *work = createBook("Work", true);
    addContact(work, "Wanda Work", "", E_CONTACT_PHONE_HOME, "030 2");

    TOutlookContacts contacts(FSettings.data(), FPrompts);
    contacts.OLENameSpace = "Work";
    importAndWait(contacts);
    QCOMPARE(contacts.Index().Names(), QStringList({"Wanda Work"}));

    // By its UID in the setting "OLEObject"; a name no book has is a failed connection.
    contacts.OLENameSpace = "MAPI";
    FSettings->settings.contactsSource =
        text(e_source_get_uid(e_client_get_source(E_CLIENT(work))));
    importAndWait(contacts);
    QCOMPARE(contacts.Index().Names(), QStringList({"Wanda Work"}));
    // Exports go to the book named, not to the built-in one.
    exportAndWait(contacts, "0441 5", PhoneField::Home);
    QCOMPARE(contacts.Index().Names(), QStringList({"Wanda Work", "Oma"}));
    QCOMPARE(withNickname(work, "Oma").size(), size_t(1));
    QVERIFY(withNickname(FBuiltin, "Oma").empty());
    FSettings->settings.contactsSource = "Nobody's book";
    importAndWait(contacts);
    QCOMPARE(FPrompts.messages,
             QStringList({"Error connecting to the address book. Corvane tries again at the next "
                          "start and when the options are confirmed with OK."}));
    QVERIFY(FSettings->settings.searchOutlook);
}

void TestContactsEds::followsChangesWhileRunning()
{
    addContact(FBuiltin, "Anna Alt", "", E_CONTACT_PHONE_HOME, "030 1");
    TOutlookContacts contacts(FSettings.data(), FPrompts);
    importAndWait(contacts);
    QCOMPARE(contacts.Match("0301"), 0);

    // Added while running: found for the next call.
    const QString uid = addContact(FBuiltin, "Bernd Bauer", "", E_CONTACT_PHONE_MOBILE, "0171 2");
    QTRY_VERIFY_WITH_TIMEOUT(contacts.Match("01712") >= 0, 30000);
    QString name;
    QVERIFY(contacts.Name(contacts.Match("01712"), name));
    QCOMPARE(name, QString("Bernd Bauer"));

    // Changed: the new number and name, no longer the old number.
    GError *error = nullptr;
    EContact *contact = nullptr;
    QVERIFY(e_book_client_get_contact_sync(FBuiltin, uid.toUtf8().constData(), &contact, nullptr,
                                           &error));
    e_contact_set(contact, E_CONTACT_PHONE_MOBILE, "0171 3");
    e_contact_set(contact, E_CONTACT_NICKNAME, "Bernie");
    QVERIFY(e_book_client_modify_contact_sync(FBuiltin, contact, E_BOOK_OPERATION_FLAG_NONE,
                                              nullptr, &error));
    g_object_unref(contact);
    QTRY_VERIFY_WITH_TIMEOUT(contacts.Match("01713") >= 0, 30000);
    QCOMPARE(contacts.Match("01712"), -1);
    QVERIFY(contacts.Name(contacts.Match("01713"), name));
    QCOMPARE(name, QString("Bernie"));

    // Removed: unknown again; the others stay.
    QVERIFY(e_book_client_remove_contact_by_uid_sync(FBuiltin, uid.toUtf8().constData(),
                                                     E_BOOK_OPERATION_FLAG_NONE, nullptr, &error));
    QTRY_COMPARE_WITH_TIMEOUT(contacts.Match("01713"), -1, 30000);
    QVERIFY(contacts.Name(contacts.Match("0301"), name));
    QCOMPARE(name, QString("Anna Alt"));

    // A new import replaces the watch: changes are not counted twice.
    importAndWait(contacts);
    addContact(FBuiltin, "Clara", "", E_CONTACT_PHONE_HOME, "030 4");
    QTRY_VERIFY_WITH_TIMEOUT(contacts.Match("0304") >= 0, 30000);
    QCOMPARE(contacts.Index().Count(), 2);
}

void TestContactsEds::importsAgainOnlyForChangedSettings()
{
    addContact(FBuiltin, "Anna Alt", "", E_CONTACT_PHONE_HOME, "030 1");
    TOutlookContacts contacts(FSettings.data(), FPrompts);
    int imports = 0;
    contacts.OnImported = [&imports](bool) { ++imports; };
    contacts.Update();
    QTRY_COMPARE_WITH_TIMEOUT(imports, 1, 60000);

    // The settings read again unchanged (OK or Cancel of the options): the index stays.
    contacts.Update();
    QVERIFY(!contacts.Importing());
    QCOMPARE(contacts.Match("0301"), 0);

    FSettings->settings.countryCode = "++43";
    contacts.Update();
    QVERIFY(contacts.Importing());
    QTRY_COMPARE_WITH_TIMEOUT(imports, 2, 60000);
    QCOMPARE(contacts.Match("0301"), 0);
}

void TestContactsEds::exportsANicknameAndFindsItAgain()
{
    // Only the four fields count, and the car phone is not searched.
    addContact(FBuiltin, "Anna Alt", "", E_CONTACT_PHONE_CAR, "0441 123");
    TOutlookContacts contacts(FSettings.data(), FPrompts);
    importAndWait(contacts);

    // The number in another field than the four does not count as the same contact.
    exportAndWait(contacts, "0441 123", PhoneField::Mobile);
    QVERIFY(FPrompts.messages.isEmpty());
    QString name;
    QVERIFY(contacts.Name(contacts.Match("0441123"), name));
    QCOMPARE(name, QString("Oma"));

    const auto found = withNickname(FBuiltin, "Oma");
    QCOMPARE(found.size(), size_t(1));
    EContact *stored = found[0].get();
    QCOMPARE(text(static_cast<const char *>(e_contact_get_const(stored, E_CONTACT_FULL_NAME))),
             QString("Oma"));
    QCOMPARE(text(static_cast<const char *>(e_contact_get_const(stored, E_CONTACT_PHONE_MOBILE))),
             QString("0441 123"));
    gchar *given = static_cast<gchar *>(e_contact_get(stored, E_CONTACT_GIVEN_NAME));
    QCOMPARE(text(given), QString("Oma"));
    g_free(given);

    // The watch reports the new contact as well: once a contact added after it is reported,
    // that report has come, and it is still one contact.
    addContact(FBuiltin, "Marker", "", E_CONTACT_PHONE_HOME, "030 9");
    QTRY_VERIFY_WITH_TIMEOUT(contacts.Match("0309") >= 0, 30000);
    QCOMPARE(contacts.Index().Count(), 3);

    // Exported again, into any of the four fields: the contact is shown instead.
    exportAndWait(contacts, "0441 123", PhoneField::Business);
    QCOMPARE(FPrompts.messages,
             QStringList({"A contact for this telephone number already exists in the address "
                          "book. Cantact will be shown",
                          "Oma\nMobileTelephoneNumber: 0441 123"}));
    QCOMPARE(contacts.Index().Count(), 3);
}

QTEST_GUILESS_MAIN(TestContactsEds)
#include "tst_contacts_eds.moc"
