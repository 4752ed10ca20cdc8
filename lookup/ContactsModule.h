#pragma once

#include "lookup/OutLookTools.h"
#include "lookup/VCardLimits.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <thread>
#include <vector>

// The address-book module (libcorvane-contacts.so): everything that needs libebook and
// libedataserver, so that a start with the contacts off loads none of Evolution Data Server's
// libraries (fifteen of them, with camel, libsoup, NSS and SQLite). The program loads it with
// dlopen the first time the contacts are imported or a nickname is exported, and keeps it to
// the end (GLib's types cannot be unloaded).
//
// The module is built with the program from the same sources: the interface is plain C++ and
// Qt types, and a module of another interface version is refused.
class TContactsModule
{
public:
    // Raised whenever this class or TOutlookConnect changes.
    static constexpr int InterfaceVersion = 1;
    // The module's one export: TContactsModule *corvane_contacts_module(int interfaceVersion),
    // null for a version it does not serve.
    static constexpr const char *EntryPoint = "corvane_contacts_module";
    static constexpr const char *FileName = "libcorvane-contacts.so";

    // A new, closed connection; main thread.
    virtual std::unique_ptr<TOutlookConnect> NewConnection() = 0;
    // The vCard files' reading (see VCardFile.h); any thread.
    virtual bool ReadVCardSource(const QString &path, std::vector<TContactItem> &contacts,
                                 QString *error, const TVCardLimits &limits) = 0;
    virtual bool ReadVCards(const QByteArray &bytes, const QString &file,
                            std::vector<TContactItem> &contacts, qsizetype maxCards) = 0;
    virtual QStringList SplitVCards(const QString &text) = 0;

    // The module, loaded on the first call; null with the module's file and the loader's
    // reason in `error` (a failure is not kept: the next call tries again). Reads the disk and
    // runs the libraries' initialisation: never in the main thread. Any thread.
    static TContactsModule *Load(QString *error);
    // The module once loaded, else null; never loads. Any thread.
    static TContactsModule *Loaded();
    // Where the module is looked for, in this order: the file CORVANE_CONTACTS_MODULE names
    // (alone, when set); beside the program (the build tree); the installed place relative to
    // the program; the installed place the build was configured for.
    static QStringList Candidates();
    // The thread that loaded the module (for the tests).
    static std::thread::id LoadedIn();

protected:
    ~TContactsModule() = default;
};
