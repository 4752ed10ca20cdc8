// The GLib headers come before Qt's: a GLib struct has a member named "signals".
#include <libebook/libebook.h>

#include "lookup/EdsConnect.h"

#include "lookup/VCardFile.h"

#include <QTimer>

namespace {

const QString RegistrationFailed = QStringLiteral("Address book connection failed");
const QString NotConnected = QStringLiteral("No connection to the address book");
const QString CannotImport = QStringLiteral("Cannot import Item");
const QString CannotCreate = QStringLiteral("Cannot create contact");

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

// GLib's shared connection to the session bus, which libebook uses, raises SIGTERM when the
// bus goes away. Held here with that switched off before libebook first asks for it, so the
// address book reaches the same connection and a bus that ends takes only the contacts with
// it. A connection that has closed is let go, so that GLib can make a new one, which is
// taken the same way.
void holdSessionBus(GCancellable *cancellable, std::function<void()> then)
{
    static GDBusConnection *held = nullptr;
    if (held && !g_dbus_connection_is_closed(held)) {
        then();
        return;
    }
    unrefObject(held);
    g_bus_get(G_BUS_TYPE_SESSION, cancellable, runReady,
              ready([then](GObject *, GAsyncResult *result) {
                  GError *error = nullptr;
                  if (GDBusConnection *bus = g_bus_get_finish(result, &error)) {
                      g_dbus_connection_set_exit_on_close(bus, FALSE);
                      unrefObject(held);
                      held = bus;
                  }
                  // Without a bus the address book reports the failure itself.
                  g_clear_error(&error);
                  then();
              }));
}

// The contacts of a vCard source, read in a worker thread.
struct VCardReading
{
    QString path;
    TVCardLimits limits;
    std::vector<TContactItem> contacts;
    QString error;
};

void readVCards(GTask *task, gpointer, gpointer data, GCancellable *)
{
    auto *reading = static_cast<VCardReading *>(data);
    ReadVCardSource(reading->path, reading->contacts, &reading->error, reading->limits);
    g_task_return_boolean(task, TRUE);
}

// Lets go of contacts in a worker thread: a hundred thousand of them take the better part of
// a second, which a ringing call would wait for in the main thread.
void releaseInBackground(std::vector<TContactItem> &&contacts)
{
    if (contacts.empty()) return;
    GTask *task = g_task_new(nullptr, nullptr, nullptr, nullptr);
    g_task_set_task_data(
        task, new std::vector<TContactItem>(std::move(contacts)),
        [](gpointer data) { delete static_cast<std::vector<TContactItem> *>(data); });
    g_task_run_in_thread(task, [](GTask *task, gpointer, gpointer data, GCancellable *) {
        static_cast<std::vector<TContactItem> *>(data)->clear();
        g_task_return_boolean(task, TRUE);
    });
    g_object_unref(task);
}

// The fetched contacts of every book, made plain items in a worker thread: parsing ten
// thousand takes the better part of a second, which a ringing call would wait for in the main
// thread. Nothing else holds the contacts meanwhile.
struct Conversion
{
    std::vector<std::pair<GSList *, QString>> answers; // the contacts, and their book
    std::vector<TContactItem> items;

    ~Conversion()
    {
        for (auto &answer : answers)
            g_slist_free_full(answer.first, g_object_unref);
    }
};

void convertContacts(GTask *task, gpointer, gpointer data, GCancellable *)
{
    auto *conversion = static_cast<Conversion *>(data);
    for (auto &[contacts, book] : conversion->answers) {
        for (GSList *l = contacts; l; l = l->next)
            conversion->items.push_back(ContactItemOf(E_CONTACT(l->data), book));
        g_slist_free_full(std::exchange(contacts, nullptr), g_object_unref);
    }
    g_task_return_boolean(task, TRUE);
}

// A new contact of the address book's kind with the item's values.
EContact *newContact(const TContactItem &item)
{
    EContact *contact = e_contact_new();
    const auto set = [contact](EContactField id, const QString &value) {
        if (!value.isEmpty()) e_contact_set(contact, id, value.toUtf8().constData());
    };
    set(E_CONTACT_NICKNAME, item.NickName());
    set(E_CONTACT_FULL_NAME, item.FullName());
    set(E_CONTACT_GIVEN_NAME, item.FirstName());
    for (int i = 0; i < PhoneFieldCount; ++i)
        set(PhoneFields[size_t(i)], item.StoredPhone(PhoneField(i)));
    return contact;
}

} // namespace

TContactItem ContactItemOf(EContact *contact, const QString &book)
{
    TContactItem item(book);
    item.SetUid(field(contact, E_CONTACT_UID));
    item.SetNickName(field(contact, E_CONTACT_NICKNAME));
    item.SetFullName(field(contact, E_CONTACT_FULL_NAME));
    // The given name is part of the structured name: e_contact_get builds a copy.
    auto *given = static_cast<gchar *>(e_contact_get(contact, E_CONTACT_GIVEN_NAME));
    item.SetFirstName(text(given));
    g_free(given);
    for (int i = 0; i < PhoneFieldCount; ++i)
        item.SetPhone(PhoneField(i), field(contact, PhoneFields[size_t(i)]));
    return item;
}

// ---- TEdsConnect ----------------------------------------------------------------------

// The connection through libebook; see TOutlookConnect.
class TEdsConnect final : public TOutlookConnect
{
public:
    TEdsConnect();
    ~TEdsConnect() override;

    bool Connected() const override;
    QStringList Books() const override;
    void ConnectAsync(std::function<void(const QString &error)> done) override;
    void Disconnect() override;
    void FetchContactsAsync(std::function<void()> done) override;
    int ContactCount() const override;
    TContactItem Contact(int index) const override;
    void ReleaseContacts() override;
    void FindContactAsync(const QString &number,
                          std::function<void(const TContactItem &found)> done) override;
    TContactItem CreateContact() override;
    void
    SaveAsync(const TContactItem &contact,
              std::function<void(const TContactItem &saved, const QString &error)> done) override;
    void Follow(std::function<void()> started) override;

private:
    struct State;
    std::shared_ptr<State> d;
};

struct TEdsConnect::State : std::enable_shared_from_this<TEdsConnect::State>
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
        // Current(); when there is none, the answer's object and error are let go.
        template <typename T> std::shared_ptr<State> Claim(T *&object, GError *&error) const
        {
            std::shared_ptr<State> live = Current();
            if (!live) {
                unrefObject(object);
                g_clear_error(&error);
            }
            return live;
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

    void Log(const QString &text) const
    {
        if (owner->OnLog) owner->OnLog(text);
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
        releaseInBackground(std::exchange(items, {}));
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

    // Opens every book the registry offers.
    void ConnectBooks(std::function<void(const QString &error)> done)
    {
        GList *sources = Sources();
        auto pending = std::make_shared<int>(g_list_length(sources));
        if (*pending == 0) {
            Close();
            done(RegistrationFailed);
        }
        for (GList *l = sources; l; l = l->next) {
            // -1: do not wait for a remote book to come online.
            e_book_client_connect(
                E_SOURCE(l->data), guint32(-1), Cancellable(), runReady,
                ready([ticket = Now(), done, pending](GObject *, GAsyncResult *result) {
                    GError *error = nullptr;
                    EClient *client = e_book_client_connect_finish(result, &error);
                    std::shared_ptr<State> state = ticket.Claim(client, error);
                    if (!state) return;
                    if (client)
                        state->AddBook(client);
                    else
                        state->Log(QStringLiteral("address book not opened: ") + errorText(error));
                    g_clear_error(&error);
                    if (--*pending > 0) return;
                    if (state->books.empty()) {
                        state->Close();
                        done(RegistrationFailed);
                        return;
                    }
                    state->Opened(false);
                    done(QString());
                }));
        }
        g_list_free_full(sources, g_object_unref);
    }

    void ReadVCards(const QString &path, const TVCardLimits &limits,
                    std::function<void(const QString &error)> done)
    {
        auto read = [ticket = Now(), done](GObject *, GAsyncResult *result) {
            auto *reading = static_cast<VCardReading *>(g_task_get_task_data(G_TASK(result)));
            std::shared_ptr<State> state = ticket.Current();
            if (!state) return releaseInBackground(std::move(reading->contacts));
            if (!reading->error.isEmpty()) {
                state->Log(reading->error);
                done(RegistrationFailed);
                return;
            }
            state->items = std::move(reading->contacts);
            state->Opened(true);
            done(QString());
        };
        GTask *task = g_task_new(nullptr, Cancellable(), runReady, ready(read));
        g_task_set_task_data(task, new VCardReading{path, limits, {}, {}},
                             [](gpointer data) { delete static_cast<VCardReading *>(data); });
        g_task_run_in_thread(task, readVCards);
        g_object_unref(task);
    }

    // Makes plain items of the fetched contacts in a worker thread; they are the connection's
    // contacts when `done` runs.
    void Convert(Conversion *conversion, std::function<void()> done)
    {
        auto converted = [ticket = Now(), done](GObject *, GAsyncResult *result) {
            auto *conversion = static_cast<Conversion *>(g_task_get_task_data(G_TASK(result)));
            std::shared_ptr<State> state = ticket.Current();
            if (!state) return releaseInBackground(std::move(conversion->items));
            state->items = std::move(conversion->items);
            done();
        };
        GTask *task = g_task_new(nullptr, Cancellable(), runReady, ready(converted));
        g_task_set_task_data(task, conversion,
                             [](gpointer data) { delete static_cast<Conversion *>(data); });
        g_task_run_in_thread(task, convertContacts);
        g_object_unref(task);
    }

    static std::vector<TContactItem> Items(const GSList *contacts, const QString &book)
    {
        std::vector<TContactItem> result;
        for (const GSList *l = contacts; l; l = l->next)
            result.push_back(ContactItemOf(E_CONTACT(l->data), book));
        return result;
    }

    // Asks every book at once; `done` gets the answers in the order of the books (null for a
    // book that failed, which is logged).
    void AskEveryBook(const QByteArray &query, const QString &failure,
                      std::function<void(State &state, std::vector<GSList *> &answers)> done)
    {
        auto answers = std::make_shared<std::vector<GSList *>>(books.size(), nullptr);
        auto pending = std::make_shared<size_t>(books.size());
        if (books.empty()) {
            Later([done, answers](State &state) { done(state, *answers); });
            return;
        }
        for (size_t i = 0; i < books.size(); ++i) {
            e_book_client_get_contacts(
                books[i].client, query.constData(), Cancellable(), runReady,
                ready([ticket = Now(), done, failure, answers, pending, i](GObject *source,
                                                                           GAsyncResult *result) {
                    GError *error = nullptr;
                    GSList *contacts = nullptr;
                    const bool answered = e_book_client_get_contacts_finish(
                        E_BOOK_CLIENT(source), result, &contacts, &error);
                    (*answers)[i] = contacts;
                    std::shared_ptr<State> state = ticket.Current();
                    if (state && !answered)
                        state->Log(failure.arg(state->books[i].uid, errorText(error)));
                    g_clear_error(&error);
                    if (--*pending > 0) return;
                    if (state) done(*state, *answers);
                    for (GSList *left : *answers)
                        g_slist_free_full(left, g_object_unref);
                }));
        }
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
            entries.append(ContactEntryId(target->book, text(static_cast<const char *>(l->data))));
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
        if (error) Log(QStringLiteral("cannot watch %1: %2").arg(book.uid, errorText(error)));
        g_clear_error(&error);
    }

    // Adds the contact to the book; `done` gets the book's UID for the contact, or nothing.
    void AddContact(EBookClient *book, const TContactItem &contact,
                    std::function<void(State &state, const QString &uid)> done)
    {
        EContact *stored = newContact(contact);
        e_book_client_add_contact(
            book, stored, E_BOOK_OPERATION_FLAG_NONE, Cancellable(), runReady,
            ready([ticket = Now(), done](GObject *source, GAsyncResult *result) {
                gchar *uid = nullptr;
                GError *error = nullptr;
                e_book_client_add_contact_finish(E_BOOK_CLIENT(source), result, &uid, &error);
                if (std::shared_ptr<State> state = ticket.Current()) {
                    if (!uid)
                        state->Log(QStringLiteral("cannot store the contact: ") + errorText(error));
                    done(*state, text(uid));
                }
                g_free(uid);
                g_clear_error(&error);
            }));
        g_object_unref(stored); // the request holds its own reference
    }
};

TEdsConnect::TEdsConnect() : d(std::make_shared<State>(this)) {}

TEdsConnect::~TEdsConnect()
{
    d->Close();
}

std::unique_ptr<TOutlookConnect> NewEdsConnection()
{
    return std::make_unique<TEdsConnect>();
}

bool TEdsConnect::Connected() const
{
    return d->connected;
}

QStringList TEdsConnect::Books() const
{
    QStringList uids;
    for (const State::Book &book : d->books)
        uids.append(book.uid);
    return uids;
}

void TEdsConnect::ConnectAsync(std::function<void(const QString &error)> done)
{
    Disconnect();
    if (!VCardPath.isEmpty()) {
        d->ReadVCards(VCardPath, VCardLimits, done);
        return;
    }
    holdSessionBus(d->Cancellable(), [ticket = d->Now(), done] {
        std::shared_ptr<State> state = ticket.Current();
        if (!state) return;
        e_source_registry_new(
            state->Cancellable(), runReady, ready([ticket, done](GObject *, GAsyncResult *result) {
                GError *error = nullptr;
                ESourceRegistry *registry = e_source_registry_new_finish(result, &error);
                std::shared_ptr<State> state = ticket.Claim(registry, error);
                if (!state) return;
                if (!registry) {
                    state->Log(QStringLiteral("no address-book service: ") + errorText(error));
                    g_clear_error(&error);
                    done(RegistrationFailed);
                    return;
                }
                state->registry = registry;
                state->ConnectBooks(done);
            }));
    });
}

void TEdsConnect::Disconnect()
{
    const bool wasConnected = d->connected;
    d->Close();
    if (wasConnected && OnDisConnect) OnDisConnect();
}

void TEdsConnect::FetchContactsAsync(std::function<void()> done)
{
    if (!d->connected) throw TOutlookError(NotConnected);
    if (d->vcard) {
        d->Later([done](State &) { done(); });
        return;
    }
    releaseInBackground(std::exchange(d->items, {}));
    d->AskEveryBook(queryAll(), QStringLiteral("address book %1 not read: %2"),
                    [done](State &state, std::vector<GSList *> &answers) {
                        auto *conversion = new Conversion;
                        for (size_t b = 0; b < answers.size(); ++b)
                            conversion->answers.emplace_back(std::exchange(answers[b], nullptr),
                                                             state.books[b].uid);
                        state.Convert(conversion, done);
                    });
}

int TEdsConnect::ContactCount() const
{
    return int(d->items.size());
}

TContactItem TEdsConnect::Contact(int index) const
{
    if (!d->connected) throw TOutlookError(NotConnected);
    if (index < 1 || index > ContactCount()) throw TOutlookError(CannotImport);
    return d->items[size_t(index - 1)];
}

void TEdsConnect::ReleaseContacts()
{
    releaseInBackground(std::exchange(d->items, {}));
}

void TEdsConnect::FindContactAsync(const QString &number,
                                   std::function<void(const TContactItem &found)> done)
{
    if (!d->connected) throw TOutlookError(NotConnected);
    if (d->vcard) {
        d->Later([done, number](State &state) {
            for (const TContactItem &contact : state.items) {
                if (hasExportNumber(contact, number)) return done(contact);
            }
            done(TContactItem());
        });
        return;
    }
    d->AskEveryBook(queryNumber(number), QStringLiteral("address book %1 not searched: %2"),
                    [done](State &state, std::vector<GSList *> &answers) {
                        for (size_t b = 0; b < answers.size(); ++b) {
                            if (answers[b])
                                return done(
                                    ContactItemOf(E_CONTACT(answers[b]->data), state.books[b].uid));
                        }
                        done(TContactItem());
                    });
}

TContactItem TEdsConnect::CreateContact()
{
    if (!d->connected) throw TOutlookError(NotConnected);
    if (d->vcard) throw TOutlookError(CannotCreate);
    return TContactItem(QString());
}

void TEdsConnect::SaveAsync(
    const TContactItem &contact,
    std::function<void(const TContactItem &saved, const QString &error)> done)
{
    if (!d->connected) throw TOutlookError(NotConnected);
    if (d->vcard || contact.IsNull()) throw TOutlookError(CannotCreate);

    auto store = [contact, done](State &state, EBookClient *book) {
        const QString bookUid = text(e_source_get_uid(e_client_get_source(E_CLIENT(book))));
        state.AddContact(book, contact, [contact, done, bookUid](State &, const QString &uid) {
            if (uid.isEmpty()) return done(contact, CannotCreate);
            TContactItem saved = contact;
            saved.SetUid(uid);
            saved.SetEntry(bookUid, uid);
            done(saved, QString());
        });
    };
    // The named book when there is one, else the built-in address book.
    if (!d->NamedBook().isEmpty()) return store(*d, d->books.front().client);
    ESource *builtin = e_source_registry_ref_builtin_address_book(d->registry);
    if (!builtin) {
        d->Later([contact, done](State &) { done(contact, CannotCreate); });
        return;
    }
    const QString uid = text(e_source_get_uid(builtin));
    for (const State::Book &book : d->books) {
        if (book.uid == uid) {
            g_object_unref(builtin);
            return store(*d, book.client);
        }
    }
    e_book_client_connect(
        builtin, guint32(-1), d->Cancellable(), runReady,
        ready([ticket = d->Now(), contact, done, store](GObject *, GAsyncResult *result) {
            GError *error = nullptr;
            EClient *client = e_book_client_connect_finish(result, &error);
            std::shared_ptr<State> state = ticket.Claim(client, error);
            if (!state) return;
            if (client) {
                // Kept with the others, so that it is let go with the connection.
                state->AddBook(client);
                store(*state, E_BOOK_CLIENT(client));
            } else {
                state->Log(QStringLiteral("address book not opened: ") + errorText(error));
                done(contact, CannotCreate);
            }
            g_clear_error(&error);
        }));
    g_object_unref(builtin);
}

void TEdsConnect::Follow(std::function<void()> started)
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
                std::shared_ptr<State> state = ticket.Claim(view, error);
                if (!state) return;
                if (view)
                    state->Watch(state->books[i], view);
                else
                    state->Log(QStringLiteral("cannot watch %1: %2")
                                   .arg(state->books[i].uid, errorText(error)));
                g_clear_error(&error);
                if (--*pending == 0) started();
            }));
    }
}
