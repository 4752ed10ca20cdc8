// The address-book module is loaded only when the contacts are wanted, and then in a worker
// thread; a module that cannot be loaded is named and ends nothing. This program links no
// library of the address book itself, so what the process maps is the module's doing.
#include "lists/ListPrompts.h"
#include "lookup/ContactsModule.h"
#include "lookup/OutlookContacts.h"
#include "settings/SettingsStore.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

namespace {

bool mapped(const char *name)
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains(name);
}

const QString MissingStart = "The address-book module cannot be loaded (";
const QString MissingEnd = "); it comes with the package corvane-contacts. Corvane tries again "
                           "at the next start and when the options are confirmed with OK.";

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace

class TestContactsModule : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void nothingIsLoadedWhileTheContactsAreOff();
    void aModuleThatCannotBeLoadedIsNamed_data();
    void aModuleThatCannotBeLoadedIsNamed();
    void anExportWithoutTheModuleSaysSo();
    // Last: a module once loaded stays.
    void theFirstImportLoadsTheModuleInAWorker();

private:
    void importAndWait(TOutlookContacts &contacts);

    QScopedPointer<QTemporaryDir> FDir;
    QScopedPointer<SettingsStore> FSettings;
    ScriptedPrompts FPrompts;
    bool FImported = false;
};

void TestContactsModule::init()
{
    FDir.reset(new QTemporaryDir);
    FSettings.reset(new SettingsStore(FDir->path() + "/corvane.ini"));
    FSettings->readAll();
    FSettings->settings.searchOutlook = true;
    FPrompts.messages.clear();
}

void TestContactsModule::importAndWait(TOutlookContacts &contacts)
{
    bool ended = false;
    contacts.OnImported = [this, &ended](bool imported) {
        ended = true;
        FImported = imported;
    };
    contacts.Import();
    QVERIFY(contacts.Importing());
    QTRY_VERIFY_WITH_TIMEOUT(ended, 30000);
    contacts.OnImported = nullptr;
}

void TestContactsModule::nothingIsLoadedWhileTheContactsAreOff()
{
    FSettings->settings.searchOutlook = false;
    TOutlookContacts contacts(FSettings.data(), FPrompts);
    QCOMPARE(contacts.Match("0301"), -1);
    QTest::qWait(50);
    QVERIFY(!TContactsModule::Loaded());
    QVERIFY(!mapped("libcorvane-contacts"));
    QVERIFY(!mapped("libebook"));
    QVERIFY(!mapped("libedataserver"));
}

void TestContactsModule::aModuleThatCannotBeLoadedIsNamed_data()
{
    QTest::addColumn<QString>("module");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << "gone/libcorvane-contacts.so"
                             << "No such file or directory";
    QTest::newRow("dangling link") << "link.so"
                                   << "No such file or directory";
    QTest::newRow("no library") << "text.so"
                                << "invalid ELF header";
    QTest::newRow("another library") << NOT_A_MODULE << "not the address-book module";
    // The module of this build, asking for a libebook that is not installed.
    QTest::newRow("a library missing") << "needs-missing.so"
                                       << ": libebook-0.0.so";
}

void TestContactsModule::aModuleThatCannotBeLoadedIsNamed()
{
    QFETCH(QString, module);
    QFETCH(QString, reason);
    // Root reads any file: unreadable is a dangling link.
    QVERIFY(QFile::link(FDir->path() + "/nowhere.so", FDir->path() + "/link.so"));
    writeFile(FDir->path() + "/text.so", QByteArray(256, 'x'));
    QFile built(CONTACTS_MODULE);
    QVERIFY(built.open(QIODevice::ReadOnly));
    QByteArray needsMissing = built.readAll();
    const qsizetype size = needsMissing.size();
    needsMissing.replace("libebook-1.2.so", "libebook-0.0.so");
    QVERIFY(needsMissing.size() == size && needsMissing.contains("libebook-0.0.so"));
    writeFile(FDir->path() + "/needs-missing.so", needsMissing);
    const QString path = module.startsWith('/') ? module : FDir->path() + "/" + module;
    qputenv("CORVANE_CONTACTS_MODULE", QFile::encodeName(path));

    // A vCard source that could be read: only the module is missing.
    writeFile(FDir->path() + "/one.vcf", "BEGIN:VCARD\r\nFN:Anna\r\nTEL:030 1\r\nEND:VCARD\r\n");
    FSettings->settings.contactsVCard = FDir->path() + "/one.vcf";
    TOutlookContacts contacts(FSettings.data(), FPrompts);
    QStringList log;
    contacts.OnLog = [&log](const QString &text) { log.append(text); };
    importAndWait(contacts);
    QVERIFY(!FImported);
    QCOMPARE(FPrompts.messages.size(), 1);
    const QString message = FPrompts.messages[0];
    QVERIFY2(message.startsWith(MissingStart + path + ": ") && message.endsWith(MissingEnd) &&
                 message.contains(reason),
             qPrintable(message));
    QCOMPARE(log, QStringList({"Contacts: address-book module not loaded: " +
                               message.mid(MissingStart.size()).chopped(MissingEnd.size())}));
    QCOMPARE(contacts.Match("0301"), -1);
    QVERIFY(!TContactsModule::Loaded());
    // As for an address book that cannot be reached: the search stays on, and the next OK of
    // the options tries again.
    QVERIFY(FSettings->settings.searchOutlook);
    FPrompts.messages.clear();
    contacts.Update();
    QVERIFY(contacts.Importing());
    QTRY_COMPARE(FPrompts.messages.size(), 1);
}

void TestContactsModule::anExportWithoutTheModuleSaysSo()
{
    const QString path = FDir->path() + "/gone.so";
    qputenv("CORVANE_CONTACTS_MODULE", QFile::encodeName(path));
    TOutlookContacts contacts(FSettings.data(), FPrompts);
    contacts.Export("Oma", "0441 123", PhoneField::Mobile, Language::English);
    QVERIFY(contacts.Exporting());
    QTRY_VERIFY(!contacts.Exporting());
    QCOMPARE(FPrompts.messages.size(), 1);
    QVERIFY2(FPrompts.messages[0].startsWith(MissingStart + path + ": "),
             qPrintable(FPrompts.messages[0]));
}

void TestContactsModule::theFirstImportLoadsTheModuleInAWorker()
{
    qputenv("CORVANE_CONTACTS_MODULE", CONTACTS_MODULE);
    writeFile(FDir->path() + "/one.vcf",
              "BEGIN:VCARD\r\nFN:Anna\r\nTEL;TYPE=HOME:030 1\r\nEND:VCARD\r\n");
    FSettings->settings.contactsVCard = FDir->path() + "/one.vcf";
    TOutlookContacts contacts(FSettings.data(), FPrompts);
    importAndWait(contacts);
    QVERIFY(FImported);
    QVERIFY(FPrompts.messages.isEmpty());
    QCOMPARE(contacts.Match("0301"), 0);

    QVERIFY(TContactsModule::Loaded());
    QVERIFY(TContactsModule::LoadedIn() != std::thread::id());
    QVERIFY(TContactsModule::LoadedIn() != std::this_thread::get_id());
    QVERIFY(mapped("libcorvane-contacts"));
    QVERIFY(mapped("libebook-contacts"));

    // Loaded once: a later import needs no worker.
    qputenv("CORVANE_CONTACTS_MODULE", QFile::encodeName(FDir->path() + "/gone.so"));
    importAndWait(contacts);
    QVERIFY(FImported);
}

QTEST_GUILESS_MAIN(TestContactsModule)
#include "tst_contacts_module.moc"
