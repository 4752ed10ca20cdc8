// The GLib headers come before Qt's: a GLib struct has a member named "signals".
#include <libebook/libebook.h>

#include "lookup/OutLookTools.h"

#include "lookup/VCardFile.h"

#include <QDebug>
#include <QFileInfo>
#include <QTimer>

namespace {

const QString RegistrationFailed = QStringLiteral("Address book connection failed");
const QString NotConnected = QStringLiteral("No connection to the address book");
const QString CannotImport = QStringLiteral("Cannot import Item");
const QString CannotCreate = QStringLiteral("Cannot create contact");
const QString FindError = QStringLiteral("Error finding Item");

constexpr std::array<EContactField, PhoneFieldCount> PhoneFields = {
    E_CONTACT_PHONE_ASSISTANT, E_CONTACT_PHONE_BUSINESS_2, E_CONTACT_PHONE_BUSINESS,
    E_CONTACT_PHONE_CALLBACK,  E_CONTACT_PHONE_CAR,        E_CONTACT_PHONE_COMPANY,
    E_CONTACT_PHONE_HOME_2,    E_CONTACT_PHONE_HOME,       E_CONTACT_PHONE_MOBILE,
    E_CONTACT_PHONE_OTHER,     E_CONTACT_PHONE_PRIMARY,    E_CONTACT_PHONE_RADIO,
    E_CONTACT_PHONE_TTYTDD,
};

QString text(const char *utf8)
{
    return utf8 ? QString::fromUtf8(utf8) : QString();
}

QString field(EContact *contact, EContactField id)
{
    return contact ? text(static_cast<const char *>(e_contact_get_const(contact, id))) : QString();
}

void setField(EContact *contact, EContactField id, const QString &value)
{
    if (contact) e_contact_set(contact, id, value.toUtf8().constData());
}

QString errorText(const GError *error)
{
    return error ? text(error->message) : QString();
}

// Every contact of a book.
QByteArray queryAll()
{
    EBookQuery *query = e_book_query_any_field_contains("");
    gchar *sexp = e_book_query_to_string(query);
    QByteArray result(sexp);
    g_free(sexp);
    e_book_query_unref(query);
    return result;
}

// The export's test: the number as stored in the primary, mobile, home or business field.
QByteArray queryNumber(const QString &number)
{
    const QByteArray value = number.toUtf8();
    EBookQuery *terms[] = {
        e_book_query_field_test(E_CONTACT_PHONE_PRIMARY, E_BOOK_QUERY_IS, value.constData()),
        e_book_query_field_test(E_CONTACT_PHONE_MOBILE, E_BOOK_QUERY_IS, value.constData()),
        e_book_query_field_test(E_CONTACT_PHONE_HOME, E_BOOK_QUERY_IS, value.constData()),
        e_book_query_field_test(E_CONTACT_PHONE_BUSINESS, E_BOOK_QUERY_IS, value.constData()),
    };
    EBookQuery *query = e_book_query_or(4, terms, TRUE);
    gchar *sexp = e_book_query_to_string(query);
    QByteArray result(sexp);
    g_free(sexp);
    e_book_query_unref(query);
    return result;
}

bool hasExportNumber(const TContactItem &contact, const QString &number)
{
    for (PhoneField field :
         {PhoneField::Primary, PhoneField::Mobile, PhoneField::Home, PhoneField::Business}) {
        if (contact.Phone(field) == number) return true;
    }
    return false;
}

// A GAsyncReadyCallback that runs a C++ function once.
using Ready = std::function<void(GObject *source, GAsyncResult *result)>;

void runReady(GObject *source, GAsyncResult *result, gpointer data)
{
    std::unique_ptr<Ready> ready(static_cast<Ready *>(data));
    (*ready)(source, result);
}

gpointer ready(Ready function)
{
    return new Ready(std::move(function));
}

template <typename T> void unrefObject(T *&object)
{
    if (object) g_object_unref(object);
    object = nullptr;
}

} // namespace

// ---- TContactItem -------------------------------------------------------------------------

TContactItem::TContactItem(EContact *contact, const QString &book)
    : FContact(contact,
               [](EContact *c) {
                   if (c) g_object_unref(c);
               }),
      FBook(book)
{
}

QString TContactItem::NickName() const
{
    return field(Contact(), E_CONTACT_NICKNAME);
}

QString TContactItem::FullName() const
{
    return field(Contact(), E_CONTACT_FULL_NAME);
}

QString TContactItem::FirstName() const
{
    // The given name is part of the structured name: e_contact_get builds a copy.
    if (!FContact) return QString();
    auto *given = static_cast<gchar *>(e_contact_get(Contact(), E_CONTACT_GIVEN_NAME));
    const QString name = text(given);
    g_free(given);
    return name;
}

QString TContactItem::Phone(PhoneField phone) const
{
    const QString number = field(Contact(), PhoneFields[size_t(phone)]);
    // vCard 4.0 writes a number as a URI: "tel:+49-30-1234;ext=5".
    if (number.startsWith(QStringLiteral("tel:"), Qt::CaseInsensitive))
        return number.mid(4).section(u';', 0, 0);
    return number;
}

QString TContactItem::EntryID() const
{
    if (!FEntryID.isEmpty()) return FEntryID;
    const QString uid = field(Contact(), E_CONTACT_UID);
    return uid.isEmpty() || FBook.isEmpty() ? QString() : TOutlookConnect::EntryId(FBook, uid);
}

QString TContactItem::DisplayName() const
{
    const QString nick = NickName();
    return nick.isEmpty() ? FullName() : nick;
}

void TContactItem::SetNickName(const QString &name)
{
    setField(Contact(), E_CONTACT_NICKNAME, name);
}

void TContactItem::SetFullName(const QString &name)
{
    setField(Contact(), E_CONTACT_FULL_NAME, name);
}

void TContactItem::SetFirstName(const QString &name)
{
    setField(Contact(), E_CONTACT_GIVEN_NAME, name);
}

void TContactItem::SetPhone(PhoneField phone, const QString &number)
{
    setField(Contact(), PhoneFields[size_t(phone)], number);
}

void TContactItem::SetEntry(const QString &book, const QString &uid)
{
    FBook = book;
    FEntryID = TOutlookConnect::EntryId(book, uid);
}

// ---- TOutlookConnect ----------------------------------------------------------------------

struct TOutlookConnect::State : std::enable_shared_from_this<TOutlookConnect::State>
{
    struct Book
    {
        QString uid;
        EBookClient *client = nullptr;
        EBookClientView *view = nullptr;
    };

    // Passed to the view's signals; outlives no connection (the signals are disconnected
    // before the view is dropped).
    struct ViewTarget
    {
        State *state;
        QString book;
    };

    TOutlookConnect *owner;
    bool connected = false;
    bool vcard = false;
    // Raised by every Disconnect(): answers of an older connection are dropped.
    unsigned generation = 0;
    GCancellable *cancellable = nullptr;
    ESourceRegistry *registry = nullptr;
    std::vector<Book> books;
    std::vector<std::unique_ptr<ViewTarget>> viewTargets;
    std::vector<TContactItem> items;

    explicit State(TOutlookConnect *connect) : owner(connect) {}
    ~State() { Close(); }

    // Taken when a request goes out: its answer finds the state only while the connection
    // is still the one that asked (not closed, not opened again, not destroyed).
    struct Ticket
    {
        std::weak_ptr<State> state;
        unsigned generation;
        std::shared_ptr<State> Current() const
        {
            std::shared_ptr<State> live = state.lock();
            return live && live->generation == generation ? live : nullptr;
        }
    };
    Ticket Now() { return {weak_from_this(), generation}; }

    // Runs the function from the event loop, as an answer of the address book would come.
    void Later(std::function<void(State &state)> function)
    {
        QTimer::singleShot(0, [ticket = Now(), function] {
            if (std::shared_ptr<State> state = ticket.Current()) function(*state);
        });
    }

    void Close()
    {
        ++generation;
        if (cancellable) {
            g_cancellable_cancel(cancellable);
            g_object_unref(cancellable);
            cancellable = nullptr;
        }
        for (Book &book : books) {
            if (book.view) {
                g_signal_handlers_disconnect_matched(book.view, G_SIGNAL_MATCH_DATA, 0, 0, nullptr,
                                                     nullptr, FindTarget(book.uid));
                GError *error = nullptr;
                e_book_client_view_stop(book.view, &error);
                g_clear_error(&error);
            }
            unrefObject(book.view);
            unrefObject(book.client);
        }
        books.clear();
        viewTargets.clear();
        items.clear();
        unrefObject(registry);
        connected = false;
        vcard = false;
    }

    ViewTarget *FindTarget(const QString &book)
    {
        for (const auto &target : viewTargets) {
            if (target->book == book) return target.get();
        }
        return nullptr;
    }

    GCancellable *Cancellable()
    {
        if (!cancellable) cancellable = g_cancellable_new();
        return cancellable;
    }

    // The one book named by OLENameSpace or OLEObject, when either differs from its default.
    QString NamedBook() const
    {
        if (owner->OLENameSpace != QStringLiteral("MAPI")) return owner->OLENameSpace;
        if (owner->OLEObject != QStringLiteral("Outlook.Application")) return owner->OLEObject;
        return QString();
    }

    // Enabled address books, or the one named; references owned by the caller.
    GList *Sources() const
    {
        GList *sources = e_source_registry_list_enabled(registry, E_SOURCE_EXTENSION_ADDRESS_BOOK);
        const QString named = NamedBook();
        if (named.isEmpty()) return sources;
        GList *chosen = nullptr;
        for (GList *l = sources; l; l = l->next) {
            auto *source = E_SOURCE(l->data);
            if (!chosen && (text(e_source_get_uid(source)) == named ||
                            text(e_source_get_display_name(source)) == named))
                chosen = g_list_append(nullptr, g_object_ref(source));
        }
        g_list_free_full(sources, g_object_unref);
        return chosen;
    }

    void AddBook(EClient *client)
    {
        Book book;
        book.uid = text(e_source_get_uid(e_client_get_source(client)));
        book.client = E_BOOK_CLIENT(client);
        books.push_back(book);
    }

    void Opened(bool vcardSource)
    {
        connected = true;
        vcard = vcardSource;
        if (owner->OnConnect) owner->OnConnect();
    }

    void TakeContacts(GSList *contacts, const QString &book)
    {
        for (GSList *l = contacts; l; l = l->next)
            items.emplace_back(E_CONTACT(l->data), book);
        g_slist_free(contacts); // the items own the contacts now
    }

    static std::vector<TContactItem> Items(const GSList *contacts, const QString &book)
    {
        std::vector<TContactItem> result;
        for (const GSList *l = contacts; l; l = l->next)
            result.emplace_back(E_CONTACT(g_object_ref(l->data)), book);
        return result;
    }

    static void ViewChanged(EBookClientView *, const GSList *contacts, gpointer data)
    {
        auto *target = static_cast<ViewTarget *>(data);
        TOutlookConnect *owner = target->state->owner;
        if (owner->OnContactsChanged) owner->OnContactsChanged(Items(contacts, target->book));
    }

    static void ViewRemoved(EBookClientView *, const GSList *uids, gpointer data)
    {
        auto *target = static_cast<ViewTarget *>(data);
        TOutlookConnect *owner = target->state->owner;
        QStringList entries;
        for (const GSList *l = uids; l; l = l->next)
            entries.append(EntryId(target->book, text(static_cast<const char *>(l->data))));
        if (owner->OnContactsRemoved) owner->OnContactsRemoved(entries);
    }

    void Watch(Book &book, EBookClientView *view)
    {
        book.view = view;
        // Only changes from now on: the contacts there are already are fetched at once.
        e_book_client_view_set_flags(view, E_BOOK_CLIENT_VIEW_FLAGS_NONE, nullptr);
        viewTargets.push_back(std::make_unique<ViewTarget>(ViewTarget{this, book.uid}));
        gpointer target = viewTargets.back().get();
        g_signal_connect(view, "objects-added", G_CALLBACK(ViewChanged), target);
        g_signal_connect(view, "objects-modified", G_CALLBACK(ViewChanged), target);
        g_signal_connect(view, "objects-removed", G_CALLBACK(ViewRemoved), target);
        // "complete" comes after the start and again after every change: nothing waits for it.
        GError *error = nullptr;
        e_book_client_view_start(view, &error);
        if (error) qDebug("Contacts: cannot watch %s: %s", qPrintable(book.uid), error->message);
        g_clear_error(&error);
    }
};

TOutlookConnect::TOutlookConnect() : d(std::make_shared<State>(this)) {}

TOutlookConnect::~TOutlookConnect()
{
    d->Close();
}

QString TOutlookConnect::EntryId(const QString &book, const QString &uid)
{
    return book + u'\n' + uid;
}

bool TOutlookConnect::Connected() const
{
    return d->connected;
}

QStringList TOutlookConnect::Books() const
{
    QStringList uids;
    for (const State::Book &book : d->books)
        uids.append(book.uid);
    return uids;
}

void TOutlookConnect::Connect()
{
    Disconnect();
    if (!VCardPath.isEmpty()) {
        if (!VCardSourceReadable(VCardPath)) throw TOutlookError(RegistrationFailed);
        d->Opened(true);
        return;
    }
    GError *error = nullptr;
    d->registry = e_source_registry_new_sync(nullptr, &error);
    if (!d->registry) {
        qDebug("Contacts: no address-book service: %s", qPrintable(errorText(error)));
        g_clear_error(&error);
        throw TOutlookError(RegistrationFailed);
    }
    GList *sources = d->Sources();
    for (GList *l = sources; l; l = l->next) {
        // -1: do not wait for a remote book to come online (a finite time blocks that long).
        EClient *client =
            e_book_client_connect_sync(E_SOURCE(l->data), guint32(-1), nullptr, &error);
        if (client) d->AddBook(client);
        g_clear_error(&error);
    }
    g_list_free_full(sources, g_object_unref);
    if (d->books.empty()) {
        d->Close();
        throw TOutlookError(RegistrationFailed);
    }
    d->Opened(false);
}

void TOutlookConnect::ConnectAsync(std::function<void(bool connected)> done)
{
    Disconnect();
    if (!VCardPath.isEmpty()) {
        d->Later([done, path = VCardPath](State &state) {
            const bool readable = VCardSourceReadable(path);
            if (readable) state.Opened(true);
            done(readable);
        });
        return;
    }

    e_source_registry_new(
        d->Cancellable(), runReady,
        ready([ticket = d->Now(), done](GObject *, GAsyncResult *result) {
            GError *error = nullptr;
            ESourceRegistry *registry = e_source_registry_new_finish(result, &error);
            std::shared_ptr<State> state = ticket.Current();
            if (!state) {
                if (registry) g_object_unref(registry);
                g_clear_error(&error);
                return;
            }
            if (!registry) {
                qDebug("Contacts: no address-book service: %s", qPrintable(errorText(error)));
                g_clear_error(&error);
                done(false);
                return;
            }
            state->registry = registry;
            GList *sources = state->Sources();
            auto pending = std::make_shared<int>(g_list_length(sources));
            if (*pending == 0) {
                state->Close();
                done(false);
            }
            for (GList *l = sources; l; l = l->next) {
                e_book_client_connect(
                    E_SOURCE(l->data), guint32(-1), state->Cancellable(), runReady,
                    ready([ticket, done, pending](GObject *, GAsyncResult *result) {
                        GError *error = nullptr;
                        EClient *client = e_book_client_connect_finish(result, &error);
                        std::shared_ptr<State> state = ticket.Current();
                        if (!state) {
                            if (client) g_object_unref(client);
                            g_clear_error(&error);
                            return;
                        }
                        if (client)
                            state->AddBook(client);
                        else
                            qDebug("Contacts: address book not opened: %s",
                                   qPrintable(errorText(error)));
                        g_clear_error(&error);
                        if (--*pending > 0) return;
                        if (state->books.empty()) {
                            state->Close();
                            done(false);
                            return;
                        }
                        state->Opened(false);
                        done(true);
                    }));
            }
            g_list_free_full(sources, g_object_unref);
        }));
}

void TOutlookConnect::Disconnect()
{
    const bool wasConnected = d->connected;
    d->Close();
    if (wasConnected && OnDisConnect) OnDisConnect();
}

void TOutlookConnect::FetchContacts()
{
    if (!d->connected) throw TOutlookError(NotConnected);
    d->items.clear();
    if (d->vcard) {
        QString error;
        if (!ReadVCardSource(VCardPath, d->items, &error))
            qDebug("Contacts: %s", qPrintable(error));
        return;
    }
    const QByteArray query = queryAll();
    for (const State::Book &book : d->books) {
        GSList *contacts = nullptr;
        GError *error = nullptr;
        // A book that cannot answer counts as empty.
        if (e_book_client_get_contacts_sync(book.client, query.constData(), &contacts, nullptr,
                                            &error))
            d->TakeContacts(contacts, book.uid);
        g_clear_error(&error);
    }
}

void TOutlookConnect::FetchContactsAsync(std::function<void()> done)
{
    if (!d->connected) throw TOutlookError(NotConnected);
    if (d->vcard) {
        // A file is read at once; the import then goes through it in steps.
        FetchContacts();
        d->Later([done](State &) { done(); });
        return;
    }
    d->items.clear();
    // The answers come in any order; the items keep the order of the books.
    auto answers = std::make_shared<std::vector<GSList *>>(d->books.size(), nullptr);
    auto pending = std::make_shared<size_t>(d->books.size());
    const QByteArray query = queryAll();
    for (size_t i = 0; i < d->books.size(); ++i) {
        e_book_client_get_contacts(
            d->books[i].client, query.constData(), d->Cancellable(), runReady,
            ready([ticket = d->Now(), done, answers, pending, i](GObject *source,
                                                                 GAsyncResult *result) {
                GError *error = nullptr;
                GSList *contacts = nullptr;
                e_book_client_get_contacts_finish(E_BOOK_CLIENT(source), result, &contacts, &error);
                g_clear_error(&error);
                (*answers)[i] = contacts;
                if (--*pending > 0) return;
                std::shared_ptr<State> state = ticket.Current();
                for (size_t b = 0; b < answers->size(); ++b) {
                    if (state)
                        state->TakeContacts((*answers)[b], state->books[b].uid);
                    else
                        g_slist_free_full((*answers)[b], g_object_unref);
                }
                if (state) done();
            }));
    }
}

int TOutlookConnect::ContactCount() const
{
    return int(d->items.size());
}

TContactItem TOutlookConnect::Contact(int index) const
{
    if (!d->connected) throw TOutlookError(NotConnected);
    if (index < 1 || index > ContactCount()) throw TOutlookError(CannotImport);
    return d->items[size_t(index - 1)];
}

TContactItem TOutlookConnect::FindContact(const QString &number)
{
    if (!d->connected) throw TOutlookError(NotConnected);
    if (d->vcard) {
        if (d->items.empty()) FetchContacts();
        for (const TContactItem &contact : d->items) {
            if (hasExportNumber(contact, number)) return contact;
        }
        return TContactItem();
    }
    const QByteArray query = queryNumber(number);
    for (const State::Book &book : d->books) {
        GSList *contacts = nullptr;
        GError *error = nullptr;
        if (!e_book_client_get_contacts_sync(book.client, query.constData(), &contacts, nullptr,
                                             &error)) {
            qDebug("Contacts: search failed: %s", qPrintable(errorText(error)));
            g_clear_error(&error);
            throw TOutlookError(FindError);
        }
        if (contacts) {
            TContactItem found(E_CONTACT(g_object_ref(contacts->data)), book.uid);
            g_slist_free_full(contacts, g_object_unref);
            return found;
        }
    }
    return TContactItem();
}

TContactItem TOutlookConnect::CreateContact()
{
    if (!d->connected) throw TOutlookError(NotConnected);
    if (d->vcard) throw TOutlookError(CannotCreate);
    return TContactItem(e_contact_new(), QString());
}

void TOutlookConnect::Save(TContactItem &contact)
{
    if (!d->connected) throw TOutlookError(NotConnected);
    if (d->vcard || contact.IsNull()) throw TOutlookError(CannotCreate);

    // The named book when there is one, else the built-in address book.
    EBookClient *target = nullptr;
    EClient *opened = nullptr;
    if (!d->NamedBook().isEmpty()) {
        target = d->books.front().client;
    } else {
        ESource *builtin = e_source_registry_ref_builtin_address_book(d->registry);
        const QString uid = builtin ? text(e_source_get_uid(builtin)) : QString();
        for (const State::Book &book : d->books) {
            if (book.uid == uid) target = book.client;
        }
        GError *error = nullptr;
        if (!target && builtin) {
            opened = e_book_client_connect_sync(builtin, guint32(-1), nullptr, &error);
            target = opened ? E_BOOK_CLIENT(opened) : nullptr;
        }
        g_clear_error(&error);
        if (builtin) g_object_unref(builtin);
    }
    if (!target) throw TOutlookError(CannotCreate);

    gchar *uid = nullptr;
    GError *error = nullptr;
    const bool added = e_book_client_add_contact_sync(
        target, contact.Contact(), E_BOOK_OPERATION_FLAG_NONE, &uid, nullptr, &error);
    const QString book = text(e_source_get_uid(e_client_get_source(E_CLIENT(target))));
    if (opened) g_object_unref(opened);
    if (!added) {
        qDebug("Contacts: cannot store the contact: %s", qPrintable(errorText(error)));
        g_clear_error(&error);
        throw TOutlookError(CannotCreate);
    }
    e_contact_set(contact.Contact(), E_CONTACT_UID, uid);
    contact.SetEntry(book, text(uid));
    g_free(uid);
}

void TOutlookConnect::ReleaseContacts()
{
    d->items.clear();
}

void TOutlookConnect::Follow(std::function<void()> started)
{
    if (!d->connected || d->vcard || d->books.empty()) {
        d->Later([started](State &) { started(); });
        return;
    }
    auto pending = std::make_shared<size_t>(d->books.size());
    const QByteArray query = queryAll();
    for (size_t i = 0; i < d->books.size(); ++i) {
        e_book_client_get_view(
            d->books[i].client, query.constData(), d->Cancellable(), runReady,
            ready([ticket = d->Now(), started, pending, i](GObject *source, GAsyncResult *result) {
                GError *error = nullptr;
                EBookClientView *view = nullptr;
                e_book_client_get_view_finish(E_BOOK_CLIENT(source), result, &view, &error);
                std::shared_ptr<State> state = ticket.Current();
                if (!state) {
                    if (view) g_object_unref(view);
                    g_clear_error(&error);
                    return;
                }
                if (view)
                    state->Watch(state->books[i], view);
                else
                    qDebug("Contacts: cannot watch %s: %s", qPrintable(state->books[i].uid),
                           qPrintable(errorText(error)));
                g_clear_error(&error);
                if (--*pending == 0) started();
            }));
    }
}
