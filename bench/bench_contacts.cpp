// The desktop contacts' figures:
//   import of 10,000 contacts from the address book   < 1 s    BM_ImportAddressBook
//   match of a caller's number against them           < 5 us   BM_Match
// BM_ImportAddressBook needs an address-book service it may fill: run the program through
// tools/private-eds. BM_ImportVCard reads the same contacts from a vCard file. Both through the
// address-book module, as the program reads them.
#include <libebook/libebook.h>

#include "lists/ListPrompts.h"
#include "lookup/OutlookContacts.h"
#include "settings/SettingsStore.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

constexpr int ContactCount = 10000;

QString homeNumber(int i)
{
    return QStringLiteral("+49 (0)30 %1").arg(1000000 + i);
}

QString mobileNumber(int i)
{
    return QStringLiteral("0171 %1").arg(2000000 + i);
}

EContact *makeContact(int i)
{
    EContact *contact = e_contact_new();
    e_contact_set(contact, E_CONTACT_FULL_NAME, qPrintable(QStringLiteral("Person %1").arg(i)));
    if (i % 3 == 0)
        e_contact_set(contact, E_CONTACT_NICKNAME, qPrintable(QStringLiteral("Nick %1").arg(i)));
    e_contact_set(contact, E_CONTACT_EMAIL_1,
                  qPrintable(QStringLiteral("person%1@example.org").arg(i)));
    e_contact_set(contact, E_CONTACT_PHONE_HOME, qPrintable(homeNumber(i)));
    e_contact_set(contact, E_CONTACT_PHONE_MOBILE, qPrintable(mobileNumber(i)));
    return contact;
}

// The built-in address book of the private service holds the contacts (once).
bool fillAddressBook()
{
    static int filled = -1;
    if (filled >= 0) return filled;
    filled = 0;
    GError *error = nullptr;
    ESourceRegistry *registry = e_source_registry_new_sync(nullptr, &error);
    if (!registry) return false;
    ESource *source = e_source_registry_ref_builtin_address_book(registry);
    EClient *book = e_book_client_connect_sync(source, guint32(-1), nullptr, &error);
    g_object_unref(source);
    g_object_unref(registry);
    if (!book) return false;
    GSList *contacts = nullptr;
    for (int i = 0; i < ContactCount; ++i)
        contacts = g_slist_prepend(contacts, makeContact(i));
    filled = e_book_client_add_contacts_sync(E_BOOK_CLIENT(book), contacts,
                                             E_BOOK_OPERATION_FLAG_NONE, nullptr, nullptr, &error);
    g_slist_free_full(contacts, g_object_unref);
    g_clear_error(&error);
    g_object_unref(book);
    return filled;
}

// One import, from the call to its end.
int importOnce(SettingsStore &settings)
{
    ScriptedPrompts prompts;
    TOutlookContacts contacts(&settings, prompts);
    QEventLoop loop;
    contacts.OnImported = [&loop](bool) { loop.quit(); };
    contacts.Import();
    loop.exec();
    return contacts.Index().Count();
}

void BM_ImportAddressBook(benchmark::State &state)
{
    if (!qEnvironmentVariableIsSet("CORVANE_PRIVATE_EDS")) {
        state.SkipWithError("run through tools/private-eds");
        return;
    }
    if (!fillAddressBook()) {
        state.SkipWithError("the address book could not be filled");
        return;
    }
    QTemporaryDir dir;
    SettingsStore settings(dir.path() + QStringLiteral("/corvane.ini"));
    settings.readAll();
    importOnce(settings); // the service is running on a desktop: start it first
    for (auto _ : state) {
        if (importOnce(settings) != ContactCount) state.SkipWithError("contacts missing");
    }
    state.counters["contacts"] = ContactCount;
}
BENCHMARK(BM_ImportAddressBook)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_ImportVCard(benchmark::State &state)
{
    QTemporaryDir dir;
    QFile file(dir.path() + QStringLiteral("/contacts.vcf"));
    if (!file.open(QIODevice::WriteOnly)) return;
    for (int i = 0; i < ContactCount; ++i) {
        EContact *contact = makeContact(i);
        gchar *text = e_vcard_to_string(E_VCARD(contact), EVC_FORMAT_VCARD_30);
        file.write(text);
        file.write("\r\n");
        g_free(text);
        g_object_unref(contact);
    }
    file.close();
    SettingsStore settings(dir.path() + QStringLiteral("/corvane.ini"));
    settings.readAll();
    settings.settings.contactsVCard = file.fileName();
    for (auto _ : state) {
        if (importOnce(settings) != ContactCount) state.SkipWithError("contacts missing");
    }
}
BENCHMARK(BM_ImportVCard)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// Callers as the monitor gives them: hits on either searched field, and numbers nobody has.
void BM_Match(benchmark::State &state)
{
    TOutlookIndex index;
    index.Clear(4);
    for (int i = 0; i < ContactCount; ++i)
        index.Put(QString::number(i), QStringLiteral("Person %1").arg(i),
                  {QString(), NormaliseContactNumber(homeNumber(i), "++49"),
                   NormaliseContactNumber(mobileNumber(i), "++49"), QString()});
    const bool hit = state.range(0);
    QStringList callers;
    for (int i = 0; i < 1000; ++i) {
        const int contact = (i * 7919) % ContactCount;
        callers.append(hit ? NormaliseContactNumber(
                                 i % 2 ? homeNumber(contact) : mobileNumber(contact), "++49")
                           : QStringLiteral("0441%1").arg(contact));
    }
    for (const QString &caller : std::as_const(callers)) {
        if ((index.Match(caller) >= 0) != hit) {
            state.SkipWithError("the callers are not what they should be");
            return;
        }
    }
    qsizetype next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(index.Match(callers[next]));
        next = (next + 1) % callers.size();
    }
}
BENCHMARK(BM_Match)->Arg(1)->Arg(0)->ArgName("hit");

} // namespace

int main(int argc, char **argv)
{
    // The address-book module of this build, which the program finds beside itself.
    if (!qEnvironmentVariableIsSet("CORVANE_CONTACTS_MODULE"))
        qputenv("CORVANE_CONTACTS_MODULE", CONTACTS_MODULE);
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
