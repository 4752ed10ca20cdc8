// Contacts from vCard files, the import and export without an address-book service, the
// import when the service is missing, and a session bus that goes away; all through the
// address-book module, as the program reaches them. libebook only writes the test's cards.
#include <gio/gio.h>
#include <libebook-contacts/libebook-contacts.h>

#include "lists/ListPrompts.h"
#include "lookup/ContactsModule.h"
#include "lookup/OutlookContacts.h"
#include "settings/SettingsStore.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

const QString ConnectError = "Error connecting to the address book. Corvane tries again at the "
                             "next start and when the options are confirmed with OK.";

QString vcardError(const QString &source)
{
    return "The vCard file or folder " + source +
           " cannot be read. Corvane tries again at the next start and when the options are "
           "confirmed with OK.";
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// The module, loaded in a worker as the program does it.
TContactsModule &module()
{
    static TContactsModule *loaded = [] {
        QString error;
        TContactsModule *module = nullptr;
        std::thread([&] { module = TContactsModule::Load(&error); }).join();
        if (!module) qFatal("no address-book module: %s", qPrintable(error));
        return module;
    }();
    return *loaded;
}

bool readVCardSource(const QString &path, std::vector<TContactItem> &contacts,
                     const TVCardLimits &limits = {})
{
    return module().ReadVCardSource(path, contacts, nullptr, limits);
}

QByteArray card(const QString &fullName, const QString &nick, const QString &tel)
{
    QString text = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:" + fullName + "\r\n";
    if (!nick.isEmpty()) text += "NICKNAME:" + nick + "\r\n";
    if (!tel.isEmpty()) text += tel + "\r\n";
    return (text + "END:VCARD\r\n").toUtf8();
}

// The folder "few": a.vcf with two cards, b.vcf with one.
const QByteArray FewA =
    card("Anna", "", "TEL;TYPE=HOME:030 1") + card("Anton", "", "TEL;TYPE=HOME:030 2");
const QByteArray FewB = card("Bert", "", "TEL;TYPE=HOME:030 3");

} // namespace

Q_DECLARE_METATYPE(TVCardLimits)

class TestContacts : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void splitsCards();
    void everyPhoneFieldMapsToItsOwn();
    void readsFolderInNameOrderAndOldEncodings();
    void importFromVCardFolder();
    void callsDuringAnImportMatchThePreviousOne();
    void importWithoutSelectedFieldsSaysSo();
    void importWithoutSettingsReadsFourFields();
    void unreadableVCardSourceIsNamed_data();
    void unreadableVCardSourceIsNamed();
    void aSourceThatComesBackIsReadAgain();
    void missingServiceKeepsTheSearch();
    void exportToVCardSourceShowsAnExistingContact();
    void exportWithoutServiceReportsTheConnection();
    void theBusGoingAwayEndsNothing();
    void aConnectionOfTheModuleHandsOverPlainContacts();

private:
    void importAndWait(TOutlookContacts &contacts, int timeout = 30000);
    void exportAndWait(TOutlookContacts &contacts, const QString &number, PhoneField field,
                       Language language);

    QProcess FBus;
    QScopedPointer<QTemporaryDir> FBusDir;
    QScopedPointer<QTemporaryDir> FDir;
    QScopedPointer<SettingsStore> FSettings;
    ScriptedPrompts FPrompts;
    AreaCodeTable FTowns;
    bool FImported = false; // how the last import ended
};

void TestContacts::initTestCase()
{
    // A session bus of our own that knows no services: the address-book service is missing.
    FBusDir.reset(new QTemporaryDir);
    const QString config = FBusDir->path() + "/bus.conf";
    writeFile(config, QString("<busconfig><type>session</type><listen>unix:dir=%1</listen>"
                              "<auth>EXTERNAL</auth><policy context=\"default\">"
                              "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                              "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>"
                              "</busconfig>")
                          .arg(FBusDir->path())
                          .toUtf8());
    FBus.start("dbus-daemon", {"--config-file=" + config, "--nofork", "--print-address=1"});
    QVERIFY2(FBus.waitForReadyRead(10000), "dbus-daemon did not start");
    const QByteArray address = FBus.readLine().trimmed();
    QVERIFY(!address.isEmpty());
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);

    FTowns.setLines({"30 Berlin", "++43 Österreich", "++1 Kanada", "++43 Wien"});
}

void TestContacts::cleanupTestCase()
{
    FBus.kill();
    FBus.waitForFinished();
}

void TestContacts::init()
{
    FDir.reset(new QTemporaryDir);
    FSettings.reset(new SettingsStore(FDir->path() + "/corvane.ini"));
    FSettings->readAll();
    FSettings->settings.searchOutlook = true;
    FPrompts.messages.clear();
}

void TestContacts::importAndWait(TOutlookContacts &contacts, int timeout)
{
    bool ended = false;
    contacts.OnImported = [this, &ended](bool imported) {
        ended = true;
        FImported = imported;
    };
    contacts.Import();
    QVERIFY(contacts.Importing());
    QTRY_VERIFY_WITH_TIMEOUT(ended, timeout);
    QVERIFY(!contacts.Importing());
    contacts.OnImported = nullptr;
}

void TestContacts::exportAndWait(TOutlookContacts &contacts, const QString &number,
                                 PhoneField field, Language language)
{
    contacts.Export("Oma", number, field, language);
    QVERIFY(contacts.Exporting());
    QTRY_VERIFY_WITH_TIMEOUT(!contacts.Exporting(), 30000);
}

void TestContacts::splitsCards()
{
    const QString text = "junk before\n"
                         "BEGIN:VCARD\nFN:A\nEND:VCARD\n"
                         "between\r\n"
                         "begin:vcard\r\nFN:B\r\nAGENT:\r\nBEGIN:VCARD\r\nFN:Agent\r\nEND:VCARD\r\n"
                         "TEL:1\r\nend:vcard\r\n"
                         "END:VCARD\n"
                         "BEGIN:VCARD\nFN:C cut short\nTEL:2";
    const QStringList cards = module().SplitVCards(text);
    QCOMPARE(cards.size(), 3);
    QCOMPARE(cards[0], QString("BEGIN:VCARD\r\nFN:A\r\nEND:VCARD\r\n"));
    QVERIFY(cards[1].contains("FN:Agent\r\nEND:VCARD\r\nTEL:1\r\nend:vcard\r\n"));
    QVERIFY(cards[2].endsWith("TEL:2\r\nEND:VCARD\r\n"));
    QVERIFY(module().SplitVCards("").isEmpty());
    QVERIFY(module().SplitVCards("END:VCARD\nFN:x\n").isEmpty());
}

void TestContacts::everyPhoneFieldMapsToItsOwn()
{
    // Each field written through the address book's own field, read back through ours.
    const std::array<std::pair<PhoneField, EContactField>, PhoneFieldCount> pairs = {{
        {PhoneField::Assistant, E_CONTACT_PHONE_ASSISTANT},
        {PhoneField::Business2, E_CONTACT_PHONE_BUSINESS_2},
        {PhoneField::Business, E_CONTACT_PHONE_BUSINESS},
        {PhoneField::Callback, E_CONTACT_PHONE_CALLBACK},
        {PhoneField::Car, E_CONTACT_PHONE_CAR},
        {PhoneField::CompanyMain, E_CONTACT_PHONE_COMPANY},
        {PhoneField::Home2, E_CONTACT_PHONE_HOME_2},
        {PhoneField::Home, E_CONTACT_PHONE_HOME},
        {PhoneField::Mobile, E_CONTACT_PHONE_MOBILE},
        {PhoneField::Other, E_CONTACT_PHONE_OTHER},
        {PhoneField::Primary, E_CONTACT_PHONE_PRIMARY},
        {PhoneField::Radio, E_CONTACT_PHONE_RADIO},
        {PhoneField::TtyTdd, E_CONTACT_PHONE_TTYTDD},
    }};
    // In the address book's own order: its second home and business numbers are the second
    // of their kind in the card.
    auto written = pairs;
    std::sort(written.begin(), written.end(),
              [](const auto &a, const auto &b) { return a.second < b.second; });
    EContact *source = e_contact_new();
    for (const auto &[field, id] : written)
        e_contact_set(source, id, QByteArray::number(int(field) + 100).constData());
    e_contact_set(source, E_CONTACT_NICKNAME, "Oma");
    gchar *vcard = e_vcard_to_string(E_VCARD(source), EVC_FORMAT_VCARD_30);
    const QString path = FDir->path() + "/all.vcf";
    writeFile(path, vcard);
    g_free(vcard);
    g_object_unref(source);

    std::vector<TContactItem> contacts;
    QVERIFY(readVCardSource(path, contacts));
    QCOMPARE(contacts.size(), size_t(1));
    for (const auto &[field, id] : pairs)
        QCOMPARE(contacts[0].Phone(field), QString::number(int(field) + 100));
    QCOMPARE(contacts[0].DisplayName(), QString("Oma"));

    // A phone's usual vCard 2.1 export.
    writeFile(path, "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Muster;Max\r\nFN:Max Muster\r\n"
                    "TEL;CELL:0171 111\r\nTEL;HOME;VOICE:030 222\r\nTEL;WORK:040 333\r\n"
                    "TEL;PREF:050 444\r\nEND:VCARD\r\n");
    contacts.clear();
    QVERIFY(readVCardSource(path, contacts));
    QCOMPARE(contacts.size(), size_t(1));
    QCOMPARE(contacts[0].Phone(PhoneField::Mobile), QString("0171 111"));
    QCOMPARE(contacts[0].Phone(PhoneField::Home), QString("030 222"));
    QCOMPARE(contacts[0].Phone(PhoneField::Business), QString("040 333"));
    QCOMPARE(contacts[0].Phone(PhoneField::Primary), QString("050 444"));
    QCOMPARE(contacts[0].FirstName(), QString("Max"));
    QCOMPARE(contacts[0].DisplayName(), QString("Max Muster"));

    // vCard 4.0: a number as a URI.
    writeFile(path, "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Max\r\n"
                    "TEL;TYPE=cell;VALUE=uri:TEL:+49-171-111;ext=5\r\nEND:VCARD\r\n");
    contacts.clear();
    QVERIFY(readVCardSource(path, contacts));
    QCOMPARE(contacts[0].Phone(PhoneField::Mobile), QString("+49-171-111"));
}

void TestContacts::readsFolderInNameOrderAndOldEncodings()
{
    const QString folder = FDir->path() + "/cards";
    QVERIFY(QDir().mkpath(folder + "/sub"));
    writeFile(folder + "/b.VCF", card("Bea", "", "TEL;TYPE=CELL:2") + card("Ben", "", ""));
    // Windows-1252, as older programs write it.
    writeFile(folder + "/a.vcf", QByteArray("BEGIN:VCARD\r\nFN:J\xfcrgen\r\nEND:VCARD\r\n"));
    writeFile(folder + "/c.vcard", card("Carl", "", ""));
    writeFile(folder + "/notes.txt", card("Not a card file", "", ""));
    writeFile(folder + "/sub/c.vcf", card("In a subfolder", "", ""));
    // A link to a file is read like the file, a link to a folder is a subfolder.
    writeFile(FDir->path() + "/elsewhere.txt", card("Dora", "", ""));
    QVERIFY(QFile::link(FDir->path() + "/elsewhere.txt", folder + "/d.vcf"));
    QVERIFY(QFile::link(folder + "/sub", folder + "/e.vcf"));

    std::vector<TContactItem> contacts;
    QVERIFY(readVCardSource(folder, contacts));
    QStringList names;
    for (const TContactItem &contact : contacts)
        names.append(contact.DisplayName());
    QCOMPARE(names, QStringList({QString::fromUtf8("Jürgen"), "Bea", "Ben", "Carl", "Dora"}));
    // Every contact is known apart, also without a UID of its own.
    QVERIFY(contacts[1].EntryID() != contacts[2].EntryID());
    QVERIFY(!contacts[1].EntryID().isEmpty());

    // Exactly at every cap, a source is read whole.
    contacts.clear();
    QVERIFY(QDir().mkpath(FDir->path() + "/few"));
    writeFile(FDir->path() + "/few/a.vcf", FewA);
    writeFile(FDir->path() + "/few/b.vcf", FewB);
    const TVCardLimits limits{FewA.size(), FewA.size() + FewB.size(), 3};
    QVERIFY(readVCardSource(FDir->path() + "/few", contacts, limits));
    QCOMPARE(contacts.size(), size_t(3));

    // The source itself a link to a file.
    QVERIFY(QFile::link(folder + "/b.VCF", FDir->path() + "/link.vcf"));
    contacts.clear();
    QVERIFY(readVCardSource(FDir->path() + "/link.vcf", contacts));
    QCOMPARE(contacts.size(), size_t(2));
    QCOMPARE(contacts[1].DisplayName(), QString("Ben"));
}

void TestContacts::importFromVCardFolder()
{
    const QString folder = FDir->path() + "/cards";
    QVERIFY(QDir().mkpath(folder));
    writeFile(folder + "/people.vcf",
              card("Anna Alt", "", "TEL;TYPE=HOME,VOICE:+49 (0)30 1234-567") +
                  card("Bernd Bauer", "Bernie", "TEL;TYPE=CELL:+1 555 1234") +
                  card("Clara Car", "", "TEL;TYPE=CAR:0441 99") +
                  // A number without a type, as many phones export it.
                  card("Dora Plain", "", "TEL:0441 77"));
    FSettings->settings.contactsVCard = folder;
    FSettings->settings.countryCode = " ++49 ";

    TOutlookContacts contacts(FSettings.data(), FPrompts);
    contacts.Towns = &FTowns;
    QStringList offered;
    contacts.OnCountryCodes = [&offered](const QStringList &codes) { offered = codes; };
    importAndWait(contacts);

    QVERIFY(FImported);
    QVERIFY(FPrompts.messages.isEmpty());
    QCOMPARE(offered, QStringList({"++43", "++1"}));
    QCOMPARE(contacts.CountryCodes(), offered);
    QCOMPARE(contacts.Index().Stride(), 5); // the default fields
    QCOMPARE(contacts.Index().Names(),
             QStringList({"Anna Alt", "Bernie", "Clara Car", "Dora Plain"}));
    QString name;
    QVERIFY(contacts.Name(contacts.Match("0301234567"), name));
    QCOMPARE(name, QString("Anna Alt"));
    QVERIFY(contacts.Name(contacts.Match("++15551234"), name));
    QCOMPARE(name, QString("Bernie"));
    QVERIFY(contacts.Name(contacts.Match("044177"), name));
    QCOMPARE(name, QString("Dora Plain"));
    // The car phone is not searched by default.
    QCOMPARE(contacts.Match("044199"), -1);

    // Another import reads the fields chosen now, and the source as it is now.
    FSettings->outlookNumbers.fill(false);
    FSettings->outlookNumbers[SettingsStore::outlookNumberKeys().indexOf("CarTelephoneNumber")] =
        true;
    QVERIFY(FSettings->writeAll());
    writeFile(folder + "/people.vcf", card("Clara Car", "", "TEL;TYPE=CAR:0441 99"));
    importAndWait(contacts);
    QCOMPARE(contacts.Index().Stride(), 1);
    QCOMPARE(contacts.Index().Names(), QStringList({"Clara Car"}));
    QCOMPARE(contacts.Match("044199"), 0);
    QCOMPARE(contacts.Match("0301234567"), -1);
    QVERIFY(FSettings->settings.searchOutlook);
}

void TestContacts::callsDuringAnImportMatchThePreviousOne()
{
    const QString path = FDir->path() + "/many.vcf";
    writeFile(path, card("Anna", "", "TEL;TYPE=HOME:030 1"));
    FSettings->settings.contactsVCard = path;
    TOutlookContacts contacts(FSettings.data(), FPrompts);
    importAndWait(contacts);

    const int total = 1000;
    QByteArray cards = card("Anna", "", "TEL;TYPE=HOME:030 1");
    for (int i = 1; i < total; ++i)
        cards += card(QString("Person %1").arg(i), "", QString("TEL;TYPE=CELL:0171 %1").arg(i));
    writeFile(path, cards);
    contacts.Import();
    // Until the new contacts are read whole, a call finds those of the previous import, and
    // none of them is ever missing.
    while (contacts.Importing()) {
        QCOMPARE(contacts.Match("0301"), 0);
        QCOMPARE(contacts.Index().Count(), 1);
        QTest::qWait(1);
    }
    QCOMPARE(contacts.Index().Count(), total);
    QCOMPARE(contacts.Match("0301"), 0);
    QCOMPARE(contacts.Match("0171999"), 999);
}

void TestContacts::importWithoutSelectedFieldsSaysSo()
{
    const QString path = FDir->path() + "/one.vcf";
    writeFile(path, card("Anna", "", "TEL;TYPE=HOME:030 1"));
    FSettings->settings.contactsVCard = path;
    FSettings->outlookNumbers.fill(false);
    QVERIFY(FSettings->writeAll());

    TOutlookContacts contacts(FSettings.data(), FPrompts);
    importAndWait(contacts);
    QVERIFY(!FImported);
    QCOMPARE(FPrompts.messages, QStringList({"no phone number types selected for the address book. "
                                             "The address book stays disabled"}));
    QCOMPARE(contacts.Index().Count(), 0);
    QCOMPARE(contacts.Match("0301"), -1);
}

void TestContacts::importWithoutSettingsReadsFourFields()
{
    // Without settings store no vCard source is named: the (missing) service is asked.
    TOutlookContacts contacts(nullptr, FPrompts);
    importAndWait(contacts);
    QCOMPARE(FPrompts.messages, QStringList({ConnectError}));
    QCOMPARE(contacts.Fields(), QList<PhoneField>({PhoneField::Business, PhoneField::Primary,
                                                   PhoneField::Mobile, PhoneField::Home}));
}

void TestContacts::unreadableVCardSourceIsNamed_data()
{
    // Made in the test: root reads a file whatever its mode, so unreadable is a dangling link.
    QTest::addColumn<QString>("source");
    QTest::addColumn<TVCardLimits>("limits");
    QTest::addColumn<QString>("reason");
    const TVCardLimits limits;
    QTest::newRow("missing") << "gone.vcf" << limits << "gone.vcf: not found";
    QTest::newRow("dangling link") << "link.vcf" << limits << "link.vcf: not found";
    QTest::newRow("too large") << "large.vcf" << limits << "large.vcf: larger than 64 MB";
    QTest::newRow("folder with an unreadable file")
        << "cards" << limits << "cards/b.vcf: not a file";
    // Opening a pipe waits for a writer: it is never opened.
    QTest::newRow("link to a pipe") << "pipe.vcf" << limits << "pipe.vcf: not a file";
    QTest::newRow("folder with a link to a pipe") << "piped" << limits << "piped/b.vcf: not a file";
    QTest::newRow("folder over the byte cap")
        << "large" << limits << "large: its files are larger than 256 MB together";

    // Over caps made small; at them, "few" is read (see readsFolderInNameOrderAndOldEncodings).
    const qint64 a = FewA.size();
    const qint64 b = FewB.size();
    QTest::newRow("file over a small byte cap")
        << "few" << TVCardLimits{a - 1, a + b, 3}
        << "few/a.vcf: larger than " + QString::number(a - 1) + " bytes";
    QTest::newRow("folder over a small byte cap")
        << "few" << TVCardLimits{a, a + b - 1, 3}
        << "few: its files are larger than " + QString::number(a + b - 1) + " bytes together";
    QTest::newRow("folder over the card cap")
        << "few" << TVCardLimits{a, a + b, 2} << "few: more than 2 cards";
    QTest::newRow("file over the card cap")
        << "few/a.vcf" << TVCardLimits{a, a, 1} << "few/a.vcf: more than 1 cards";
}

void TestContacts::unreadableVCardSourceIsNamed()
{
    QFETCH(QString, source);
    QFETCH(TVCardLimits, limits);
    QFETCH(QString, reason);
    const QString dir = FDir->path();
    QVERIFY(QFile::link(dir + "/nowhere", dir + "/link.vcf"));
    writeFile(dir + "/large.vcf", card("Anna", "", "TEL;TYPE=HOME:030 1"));
    const TVCardLimits defaults;
    QVERIFY(QFile(dir + "/large.vcf").resize(defaults.FileBytes + 1)); // sparse: written fast
    QVERIFY(QDir().mkpath(dir + "/cards"));
    writeFile(dir + "/cards/a.vcf", card("Anna", "", "TEL;TYPE=HOME:030 1"));
    QVERIFY(QFile::link(dir + "/nowhere", dir + "/cards/b.vcf"));
    QVERIFY(::mkfifo(QFile::encodeName(dir + "/fifo").constData(), 0600) == 0);
    QVERIFY(QFile::link(dir + "/fifo", dir + "/pipe.vcf"));
    QVERIFY(QDir().mkpath(dir + "/piped"));
    writeFile(dir + "/piped/a.vcf", card("Anna", "", "TEL;TYPE=HOME:030 1"));
    QVERIFY(QFile::link(dir + "/fifo", dir + "/piped/b.vcf"));
    // Each file within its own cap.
    QVERIFY(QDir().mkpath(dir + "/large"));
    for (int i = 0; i < 5; ++i) {
        const QString part = dir + QString("/large/%1.vcf").arg(i);
        writeFile(part, card("Anna", "", "TEL;TYPE=HOME:030 1"));
        QVERIFY(QFile(part).resize(defaults.SourceBytes / 4 - 1));
    }
    QVERIFY(QDir().mkpath(dir + "/few"));
    writeFile(dir + "/few/a.vcf", FewA);
    writeFile(dir + "/few/b.vcf", FewB);
    // Should a reader wait at the pipe after all, a writer lets it go.
    const auto releasePipe = qScopeGuard([dir] {
        const int fd = ::open(QFile::encodeName(dir + "/fifo").constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
    });

    // Nothing of the source is read; the contacts read before stay.
    writeFile(dir + "/before.vcf", card("Bea", "", "TEL;TYPE=HOME:030 2"));
    FSettings->settings.contactsVCard = dir + "/before.vcf";
    TOutlookContacts contacts(FSettings.data(), FPrompts);
    QStringList log;
    contacts.OnLog = [&log](const QString &text) { log.append(text); };
    importAndWait(contacts);
    QVERIFY(FImported);

    contacts.VCardLimits = limits;
    FSettings->settings.contactsVCard = dir + "/" + source;
    importAndWait(contacts, 10000);
    QVERIFY(!FImported);
    QCOMPARE(FPrompts.messages, QStringList({vcardError(dir + "/" + source)}));
    QCOMPARE(log.size(), 1);
    QVERIFY2(log[0].startsWith("Contacts: cannot read ") && log[0].endsWith(reason),
             qPrintable(log[0]));
    QCOMPARE(contacts.Index().Names(), QStringList({"Bea"}));
    // The search stays on, so the source is tried again.
    QVERIFY(FSettings->settings.searchOutlook);
}

void TestContacts::aSourceThatComesBackIsReadAgain()
{
    // A folder on a share that is mounted later: missing at start.
    const QString folder = FDir->path() + "/share/contacts";
    FSettings->settings.contactsVCard = folder;
    FSettings->settings.language = 0;
    TOutlookContacts contacts(FSettings.data(), FPrompts);
    importAndWait(contacts);
    QVERIFY(!FImported);
    QCOMPARE(FPrompts.messages,
             QStringList(QString::fromUtf8("Die vCard-Datei oder der vCard-Ordner ") + folder +
                         QString::fromUtf8(" kann nicht gelesen werden. Corvane versucht es beim "
                                           "nächsten Start und nach OK in den Optionen erneut.")));
    // The end of the program writes the setting as the user left it.
    QVERIFY(FSettings->writeAll());
    SettingsStore nextStart(FDir->path() + "/corvane.ini");
    nextStart.readAll();
    QVERIFY(nextStart.settings.searchOutlook);

    // The share is there: OK in the options (an update) reads it.
    QVERIFY(QDir().mkpath(folder));
    writeFile(folder + "/a.vcf", FewA);
    bool ended = false;
    contacts.OnImported = [this, &ended](bool imported) {
        ended = true;
        FImported = imported;
    };
    contacts.Update();
    QTRY_VERIFY_WITH_TIMEOUT(ended, 30000);
    QVERIFY(FImported);
    QCOMPARE(contacts.Match("0301"), 0);

    // And so does the next start.
    TOutlookContacts started(&nextStart, FPrompts);
    importAndWait(started);
    QVERIFY(FImported);
    QCOMPARE(started.Index().Names(), QStringList({"Anna", "Anton"}));
    QCOMPARE(FPrompts.messages.size(), 1);
}

void TestContacts::missingServiceKeepsTheSearch()
{
    // A contacts index from an earlier import stays, but the import fails.
    const QString path = FDir->path() + "/one.vcf";
    writeFile(path, card("Anna", "", "TEL;TYPE=HOME:030 1"));
    FSettings->settings.contactsVCard = path;
    TOutlookContacts contacts(FSettings.data(), FPrompts);
    importAndWait(contacts);
    QCOMPARE(contacts.Match("0301"), 0);

    FSettings->settings.contactsVCard.clear();
    importAndWait(contacts);
    QCOMPARE(FPrompts.messages, QStringList({ConnectError}));
    QVERIFY(FSettings->settings.searchOutlook);
    QCOMPARE(contacts.Match("0301"), 0);
}

void TestContacts::exportToVCardSourceShowsAnExistingContact()
{
    const QString path = FDir->path() + "/one.vcf";
    const QByteArray content = card("Anna Alt", "Oma", "TEL;TYPE=CELL:0441 123\r\nTEL;TYPE=CAR:17");
    writeFile(path, content);
    FSettings->settings.contactsVCard = path;
    TOutlookContacts contacts(FSettings.data(), FPrompts);

    exportAndWait(contacts, "0441 123", PhoneField::Home, Language::German);
    QCOMPARE(FPrompts.messages,
             QStringList({"Für diese Telefonnummer existiert bereits ein Eintrag im Adressbuch. "
                          "Zeige entsprechenden Kontakt an",
                          "Anna Alt\nCarTelephoneNumber: 17\nMobileTelephoneNumber: 0441 123"}));

    // The number as stored, in one of the four fields: the car phone does not count. A vCard
    // source takes no new contacts; the file stays as it is.
    FPrompts.messages.clear();
    exportAndWait(contacts, "17", PhoneField::Mobile, Language::English);
    exportAndWait(contacts, "0441123", PhoneField::Mobile, Language::English);
    QVERIFY(FPrompts.messages.isEmpty());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), content);
}

void TestContacts::exportWithoutServiceReportsTheConnection()
{
    TOutlookContacts contacts(FSettings.data(), FPrompts);
    exportAndWait(contacts, "0441123", PhoneField::Mobile, Language::English);
    QCOMPARE(FPrompts.messages, QStringList({"Address book connection failed"}));
}

void TestContacts::theBusGoingAwayEndsNothing()
{
    // The address book was asked on this bus (and is missing there).
    TOutlookContacts contacts(FSettings.data(), FPrompts);
    importAndWait(contacts);
    GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    QVERIFY(bus);
    bool closed = false;
    // After GLib's own handler, which would end the process.
    g_signal_connect_after(bus, "closed",
                           G_CALLBACK(+[](GDBusConnection *, gboolean, GError *, gpointer seen) {
                               *static_cast<bool *>(seen) = true;
                           }),
                           &closed);
    FBus.kill();
    FBus.waitForFinished();
    QTRY_VERIFY(closed);
    g_signal_handlers_disconnect_matched(bus, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, &closed);
    g_object_unref(bus);

    // Still here, and the contacts say what is wrong.
    FPrompts.messages.clear();
    FSettings->settings.searchOutlook = true;
    importAndWait(contacts);
    QCOMPARE(FPrompts.messages, QStringList({ConnectError}));
}

void TestContacts::aConnectionOfTheModuleHandsOverPlainContacts()
{
    const QString path = FDir->path() + "/one.vcf";
    writeFile(path, card("Anna", "Oma", "TEL;TYPE=HOME:030 1"));
    const std::unique_ptr<TOutlookConnect> connection = module().NewConnection();
    QVERIFY(!connection->Connected());
    QVERIFY_THROWS_EXCEPTION(TOutlookError, connection->Contact(1));
    connection->VCardPath = path;
    const auto connectAndFetch = [&] {
        bool connected = false;
        connection->ConnectAsync([&connected](const QString &error) {
            QVERIFY(error.isEmpty());
            connected = true;
        });
        QTRY_VERIFY(connected);
        bool fetched = false;
        connection->FetchContactsAsync([&fetched] { fetched = true; });
        QTRY_VERIFY(fetched);
        QCOMPARE(connection->ContactCount(), 1);
    };

    connectAndFetch();
    // A copy outlives the connection's contacts: it holds values, not the address book's object.
    const TContactItem kept = connection->Contact(1);
    connection->ReleaseContacts();
    QCOMPARE(connection->ContactCount(), 0);
    QVERIFY_THROWS_EXCEPTION(TOutlookError, connection->Contact(1));
    connection->Disconnect();
    QVERIFY(!connection->Connected());
    QCOMPARE(kept.DisplayName(), QString("Oma"));
    QCOMPARE(kept.FullName(), QString("Anna"));
    QCOMPARE(kept.Phone(PhoneField::Home), QString("030 1"));
    QCOMPARE(kept.EntryID(), path + "\n#1");

    // Connected again, after the old contacts were let go.
    connectAndFetch();
    QCOMPARE(connection->Contact(1).DisplayName(), QString("Oma"));
}

QTEST_GUILESS_MAIN(TestContacts)
#include "tst_contacts.moc"
