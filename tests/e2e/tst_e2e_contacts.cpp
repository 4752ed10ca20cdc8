// The real corvane on Xvfb with a private address-book service (run by tools/private-eds):
// a call from a contact's number shows and stores the contact's name, also for a contact
// added while the program runs and on the days after the first, also from a vCard folder that
// was missing on the first day; a nickname exported from the lists lands in the address book.
// The address book's libraries come with the address-book module, which a start with the
// contacts off never loads, and whose absence is named without ending the program.
#include <libebook/libebook.h>

#include "lists/ListPrompts.h"
#include "lists/lists.h"
#include "settings/SettingsStore.h"
#include "tests/e2e/Desktop.h"

#include <QtTest>

using namespace e2e;

namespace {

void addContact(EBookClient *book, const char *fullName, EContactField field, const char *number)
{
    EContact *contact = e_contact_new();
    e_contact_set(contact, E_CONTACT_FULL_NAME, fullName);
    e_contact_set(contact, field, number);
    GError *error = nullptr;
    if (!e_book_client_add_contact_sync(book, contact, E_BOOK_OPERATION_FLAG_NONE, nullptr, nullptr,
                                        &error))
        qFatal("cannot add a contact: %s", error->message);
    g_object_unref(contact);
}

// The full names of the contacts with this number as their mobile number.
QStringList contactsWithMobile(EBookClient *book, const char *number)
{
    EBookQuery *query = e_book_query_field_test(E_CONTACT_PHONE_MOBILE, E_BOOK_QUERY_IS, number);
    gchar *sexp = e_book_query_to_string(query);
    e_book_query_unref(query);
    GSList *found = nullptr;
    GError *error = nullptr;
    e_book_client_get_contacts_sync(book, sexp, &found, nullptr, &error);
    g_clear_error(&error);
    g_free(sexp);
    QStringList names;
    for (GSList *l = found; l; l = l->next)
        names.append(QString::fromUtf8(static_cast<const char *>(
            e_contact_get_const(E_CONTACT(l->data), E_CONTACT_FULL_NAME))));
    g_slist_free_full(found, g_object_unref);
    return names;
}

// Rings from Hanna Home's number until the popup names her: the program does not say when it
// has read the contacts.
bool hannaIsNamed(Corvane &corvane)
{
    return waitFor(
        [&] {
            corvane.line(QStringLiteral("ring --from 441246810 --type 0x21 --to 85606 "
                                        "--end-after 0.3"));
            return !waitForWindow(QStringLiteral("^Corvane - Hanna Home$"), 2000).isEmpty();
        },
        30000);
}

// What a child of this process has mapped. The test runs in a PID namespace of its own
// (tools/private-eds) whose pids the system's /proc does not know: the child is found among
// this process's children by its pid in that namespace. Empty when it cannot be found.
QByteArray childMaps(qint64 pid)
{
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile children(tasks.filePath(task + QStringLiteral("/children")));
        if (!children.open(QIODevice::ReadOnly)) continue;
        for (const QByteArray &child : children.readAll().simplified().split(' ')) {
            QFile status("/proc/" + child + "/status");
            if (child.isEmpty() || !status.open(QIODevice::ReadOnly)) continue;
            for (const QByteArray &line : status.readAll().split('\n')) {
                if (!line.startsWith("NSpid:") || line.split('\t').last().toLongLong() != pid)
                    continue;
                QFile maps("/proc/" + child + "/maps");
                return maps.open(QIODevice::ReadOnly) ? maps.readAll() : QByteArray();
            }
        }
    }
    return {};
}

void writeHanna(const QString &path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Hanna Home\r\n"
               "TEL;TYPE=HOME:0441 246810\r\nEND:VCARD\r\n");
}

} // namespace

class TestE2eContacts : public QObject
{
    Q_OBJECT

    std::unique_ptr<TrayHost> FTray;
    QString FShots;
    EBookClient *FBook = nullptr;

private slots:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "runs on an X server (xvfb-run)");
        QVERIFY2(qEnvironmentVariableIsSet("CORVANE_PRIVATE_EDS"),
                 "run through tools/private-eds: the test changes the address book");
        FTray = std::make_unique<TrayHost>();
        QVERIFY(FTray->start());
        FShots = QStringLiteral(E2E_SCREENSHOTS);
        QDir().mkpath(FShots);

        GError *error = nullptr;
        ESourceRegistry *registry = e_source_registry_new_sync(nullptr, &error);
        QVERIFY2(registry, error ? error->message : "");
        ESource *builtin = e_source_registry_ref_builtin_address_book(registry);
        FBook = E_BOOK_CLIENT(e_book_client_connect_sync(builtin, guint32(-1), nullptr, &error));
        g_object_unref(builtin);
        g_object_unref(registry);
        QVERIFY2(FBook, error ? error->message : "");
    }

    void cleanupTestCase()
    {
        FTray.reset();
        if (FBook) g_object_unref(FBook);
    }

    void noAddressBookLibraryWithTheContactsOff()
    {
        Corvane corvane;
        corvane.writeIni("[Settings]\nShowNag=0\nIntervall=0\nLanguage=1\nSearchOutlook=0\n");
        QVERIFY(corvane.start());
        QVERIFY(corvane.line(QStringLiteral("wait-listening --timeout 20")));
        // A call with the lists dialog open: everything of a start but the contacts.
        QVERIFY(corvane.line(QStringLiteral("ring --from 441123 --type 0x21 --to 85606 "
                                            "--end-after 0.3")));
        QVERIFY(!waitForWindow(QStringLiteral("^Corvane - ")).isEmpty());
        QCOMPARE(corvane.secondStart({QStringLiteral("/n")}), 0);
        QVERIFY(!waitForWindow(QStringLiteral("^Lists - ")).isEmpty());
        const QByteArray maps = childMaps(corvane.pid());
        QVERIFY2(maps.contains("libQt6Core"), "the program's maps are read");
        QVERIFY2(!maps.contains("libcorvane-contacts"), "the module is not loaded");
        QVERIFY2(!maps.contains("libebook"), "no library of the address book is loaded");
        QVERIFY(corvane.stop());
    }

    void aMissingModuleIsNamed()
    {
        Corvane corvane;
        corvane.writeIni("[Settings]\nShowNag=0\nIntervall=0\nLanguage=1\nSearchOutlook=1\n");
        QProcessEnvironment env = corvane.environment();
        const QString module = corvane.file(QStringLiteral("gone/libcorvane-contacts.so"));
        env.insert(QStringLiteral("CORVANE_CONTACTS_MODULE"), module);
        QVERIFY(corvane.start(env));
        QVERIFY(corvane.line(QStringLiteral("wait-listening --timeout 20")));
        QVERIFY2(!waitForWindow(QStringLiteral("^Corvane$"), 20000).isEmpty(),
                 "the message is shown");
        screenshot(FShots + QStringLiteral("/contacts-module-missing.png"));
        // The calls go on; the search stays on for the next start.
        QVERIFY(corvane.line(QStringLiteral("ring --from 441123 --type 0x21 --to 85606 "
                                            "--end-after 0.3")));
        QVERIFY(!waitForWindow(QStringLiteral("^Corvane - ")).isEmpty());
        QVERIFY(corvane.running());
        QVERIFY(corvane.stop());
        QVERIFY(corvane.readFile(QStringLiteral("corvane.ini"))
                    .contains(QStringLiteral("SearchOutlook=1\n")));
    }

    void callersAreNamedFromTheAddressBook()
    {
        addContact(FBook, "Anna Alt", E_CONTACT_PHONE_HOME, "+49 (0)441 123");

        Corvane corvane;
        corvane.writeIni("[Settings]\nShowNag=0\nRejectTime=1\nIntervall=0\nLanguage=1\n"
                         "SearchOutlook=1\nDebug=1\n");
        {
            // A nickname to export later.
            SettingsStore settings(corvane.file(QStringLiteral("corvane.ini")));
            settings.readAll();
            ScriptedPrompts prompts;
            TLists lists(settings, prompts, corvane.home());
            lists.SetLanguage(Language::English);
            lists.nicks().setRows({NickRow{"Oma", "0171 999", "", "log|popup|"}});
            lists.SaveList(ListKind::Nicks);
        }
        QVERIFY(corvane.start());
        QVERIFY(corvane.line(QStringLiteral("wait-listening --timeout 20")));
        QVERIFY2(waitFor(
                     [&] {
                         return corvane.readFile(QStringLiteral("corvane.log"))
                             .contains(QStringLiteral("Contacts imported: 1"));
                     },
                     30000),
                 "the contacts are imported");
        QVERIFY2(childMaps(corvane.pid()).contains("libcorvane-contacts"), "the module is loaded");

        QVERIFY(corvane.line(QStringLiteral("ring --from 441123 --type 0x21 --to 85606 "
                                            "--end-after 1 --reason 0x3490")));
        QVERIFY2(!waitForWindow(QStringLiteral("^Corvane - Anna Alt$")).isEmpty(),
                 "the popup shows the contact's name");
        screenshot(FShots + QStringLiteral("/popup-contact.png"));
        QVERIFY(waitFor([&] {
            return corvane.readFile(QStringLiteral("Calls"))
                .contains(QStringLiteral(";0441123;Anna Alt;Oldenburg;85606;"));
        }));

        // Added while the program runs: the next call finds it.
        addContact(FBook, "Bernd Bauer", E_CONTACT_PHONE_MOBILE, "0172 555");
        QVERIFY(waitFor(
            [&] {
                // Rung again until the change has arrived (the program is not told when).
                corvane.line(QStringLiteral("ring --from 172555 --type 0x21 --to 85606 "
                                            "--end-after 0.3"));
                return !waitForWindow(QStringLiteral("^Corvane - Bernd Bauer$"), 2000).isEmpty();
            },
            30000));
        QVERIFY(waitFor([&] {
            return corvane.readFile(QStringLiteral("Calls"))
                .contains(QStringLiteral(";0172555;Bernd Bauer;"));
        }));

        // The nickname exported from the lists' context menu: Export to address book, Mobile.
        QCOMPARE(corvane.secondStart({QStringLiteral("/n")}), 0);
        const QString lists = waitForWindow(QStringLiteral("^Lists - "));
        QVERIFY(!lists.isEmpty());
        QTest::qWait(300);
        // A right click on the first row selects it and opens the context menu.
        click(windowGeometry(lists).topLeft() + QPoint(40, 51), 3);
        QTest::qWait(300);
        screenshot(FShots + QStringLiteral("/lists-export-menu.png"));
        // Delete, Delete All, New, Edit, Export to address book; its submenu: Home, Mobile.
        for (int i = 0; i < 5; ++i)
            key(QStringLiteral("Down"));
        key(QStringLiteral("Right"));
        key(QStringLiteral("Down"));
        key(QStringLiteral("Return"));
        QVERIFY2(
            waitFor([&] { return contactsWithMobile(FBook, "0171 999") == QStringList{"Oma"}; },
                    15000),
            "the nickname is a contact now");
        key(QStringLiteral("Escape"));

        QVERIFY(corvane.line(QStringLiteral("ring --from 171999 --type 0x21 --to 85606 "
                                            "--end-after 0.3")));
        QVERIFY(!waitForWindow(QStringLiteral("^Corvane - Oma$")).isEmpty());
        QVERIFY(corvane.stop());
    }

    void contactsStillMatchTheSecondDay()
    {
        Corvane corvane;
        const QString cards = corvane.file(QStringLiteral("people.vcf"));
        writeHanna(cards);
        // No field chosen yet: the file names none.
        corvane.writeIni("[Settings]\nSearchOutlook=1\nContactsVCard=" + cards.toUtf8() +
                         "\nShowNag=0\nIntervall=0\nLanguage=1\n");
        for (int day = 1; day <= 2; ++day) {
            QVERIFY(corvane.start());
            QVERIFY(corvane.line(QStringLiteral("wait-listening --timeout 20")));
            QVERIFY2(hannaIsNamed(corvane),
                     qPrintable(QStringLiteral("day %1: the contact is named").arg(day)));
            // The program ends, as at the end of a day, and keeps its settings.
            QVERIFY(corvane.stop());
        }
        QVERIFY(corvane.readFile(QStringLiteral("corvane.ini"))
                    .contains(QStringLiteral("HomeTelephoneNumber=1\n")));
    }

    // A vCard folder on a share that is mounted after login is missing on the first day: the
    // program says so and keeps the search on, and the next day it names the contact.
    void aMissingSourceIsReadTheNextDay()
    {
        Corvane corvane;
        const QString folder = corvane.file(QStringLiteral("share/contacts"));
        corvane.writeIni("[Settings]\nSearchOutlook=1\nContactsVCard=" + folder.toUtf8() +
                         "\nShowNag=0\nIntervall=0\nLanguage=1\n");
        QVERIFY(corvane.start());
        QVERIFY(corvane.line(QStringLiteral("wait-listening --timeout 20")));
        QVERIFY2(!waitForWindow(QStringLiteral("^Corvane$"), 20000).isEmpty(),
                 "the message is shown");
        QVERIFY(corvane.stop());
        QVERIFY(corvane.readFile(QStringLiteral("corvane.ini"))
                    .contains(QStringLiteral("SearchOutlook=1\n")));

        QVERIFY(QDir().mkpath(folder));
        writeHanna(folder + QStringLiteral("/hanna.vcf"));
        QVERIFY(corvane.start());
        QVERIFY(corvane.line(QStringLiteral("wait-listening --timeout 20")));
        QVERIFY2(hannaIsNamed(corvane), "the second day: the contact is named");
        QVERIFY(visibleWindows(QStringLiteral("^Corvane$")).isEmpty());
        QVERIFY(corvane.stop());
    }
};

QTEST_MAIN(TestE2eContacts)
#include "tst_e2e_contacts.moc"
