#include "lookup/ContactsModule.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <dlfcn.h>
#include <mutex>

namespace {

std::mutex gLoading;
std::atomic<TContactsModule *> gModule{nullptr};
std::thread::id gLoadedIn;

using EntryFunction = TContactsModule *(*)(int interfaceVersion);

QString loaderError()
{
    const char *text = ::dlerror();
    return text ? QString::fromLocal8Bit(text) : QStringLiteral("unknown error");
}

} // namespace

QStringList TContactsModule::Candidates()
{
    const QString named = qEnvironmentVariable("CORVANE_CONTACTS_MODULE");
    if (!named.isEmpty()) return {named};
    const QString file = QString::fromLatin1(FileName);
    QStringList candidates;
    if (QCoreApplication::instance()) {
        const QDir programDir(QCoreApplication::applicationDirPath());
        candidates << programDir.filePath(file)
                   << QDir::cleanPath(
                          programDir.filePath(QStringLiteral(CORVANE_MODULE_RELDIR) + u'/' + file));
    }
    const QString configured = QDir::cleanPath(QStringLiteral(CORVANE_MODULE_DIR) + u'/' + file);
    if (!candidates.contains(configured)) candidates << configured;
    return candidates;
}

TContactsModule *TContactsModule::Loaded()
{
    return gModule.load(std::memory_order_acquire);
}

std::thread::id TContactsModule::LoadedIn()
{
    std::lock_guard lock(gLoading);
    return gLoadedIn;
}

TContactsModule *TContactsModule::Load(QString *error)
{
    std::lock_guard lock(gLoading);
    if (TContactsModule *module = gModule.load(std::memory_order_acquire)) return module;
    const QStringList candidates = Candidates();
    // The first that is there; when none is, the last, so that the reason says it is missing.
    QString path = candidates.last();
    for (const QString &candidate : candidates) {
        if (QFileInfo::exists(candidate)) {
            path = candidate;
            break;
        }
    }
    // The loader names the file it could not open, but not the module that needs a library
    // it could not find.
    const auto fail = [error, &path](const QString &reason) -> TContactsModule * {
        if (error)
            *error = reason.startsWith(path + u':') ? reason : path + QStringLiteral(": ") + reason;
        return nullptr;
    };
    // Local: the address book's libraries stay out of the program's symbol lookup.
    void *handle = ::dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return fail(loaderError());
    auto entry = reinterpret_cast<EntryFunction>(::dlsym(handle, EntryPoint));
    TContactsModule *module = entry ? entry(InterfaceVersion) : nullptr;
    if (!module) {
        ::dlclose(handle);
        return fail(entry ? QStringLiteral("a module of another version")
                          : QStringLiteral("not the address-book module"));
    }
    // Kept loaded to the end of the program.
    gLoadedIn = std::this_thread::get_id();
    gModule.store(module, std::memory_order_release);
    return module;
}
