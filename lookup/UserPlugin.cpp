#include "lookup/UserPlugin.h"

#include "platform/TextCodec.h"

#include <QFile>

#include <dlfcn.h>

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

struct TUserPlugin::Library
{
    std::mutex calls;
    std::atomic<bool> shutOff = false;
    std::atomic<bool> keepLoaded = false;
};

namespace {

// Never destroyed: a thread may still be inside a library when the program ends.
std::mutex &registryMutex()
{
    static auto *mutex = new std::mutex;
    return *mutex;
}

} // namespace

std::shared_ptr<TUserPlugin> TUserPlugin::Load(const QString &path, QString &error)
{
    void *handle = ::dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char *reason = ::dlerror();
        qWarning("Corvane: %s", reason ? reason : "dlopen failed");
        error = QStringLiteral("unable to load library ") + path;
        return {};
    }
    // The same file loaded again gets the same handle while it is loaded. A library that was
    // shut off is never unloaded, so its handle, and the state kept here, last as long as the
    // program.
    static auto *libraries = new std::map<void *, std::weak_ptr<Library>>;
    std::lock_guard lock(registryMutex());
    std::shared_ptr<Library> library = (*libraries)[handle].lock();
    if (!library) {
        library = std::make_shared<Library>();
        (*libraries)[handle] = library;
    }
    return std::shared_ptr<TUserPlugin>(new TUserPlugin(path, handle, std::move(library)));
}

TUserPlugin::~TUserPlugin()
{
    const bool keep = FLibrary->keepLoaded.load();
    // Forgotten before the handle is freed, so that a library loaded next at the same address
    // starts afresh.
    FLibrary.reset();
    if (!keep) ::dlclose(FHandle);
}

void TUserPlugin::KeepLoaded()
{
    FLibrary->keepLoaded.store(true);
}

void TUserPlugin::ShutOff()
{
    FLibrary->keepLoaded.store(true);
    FLibrary->shutOff.store(true);
    // Held until the program ends: a later load of the same file finds it shut off.
    static auto *shutOff = new std::vector<std::shared_ptr<Library>>;
    std::lock_guard lock(registryMutex());
    shutOff->push_back(FLibrary);
}

bool TUserPlugin::IsShutOff() const
{
    return FLibrary->shutOff.load();
}

UserPluginFunction TUserPlugin::Resolve(const char *name) const
{
    void *symbol = ::dlsym(FHandle, name);
    if (!symbol) symbol = ::dlsym(FHandle, (std::string("_") + name).c_str());
    return reinterpret_cast<UserPluginFunction>(symbol);
}

TUserPlugin::CallResult TUserPlugin::Call(UserPluginFunction function, const QString &number,
                                          QString &text) const
{
    constexpr int BufferBytes = 256;
    constexpr int32_t SizeArgument = 254;
    const QByteArray copy = number.toUtf8();
    char buffer[BufferBytes] = {};
    int32_t found = 0;
    {
        std::lock_guard lock(FLibrary->calls);
        if (FLibrary->shutOff.load()) return CallResult::ShutOff;
        try {
            found = function(copy.constData(), buffer, SizeArgument);
        } catch (...) {
            return CallResult::NotFound;
        }
    }
    if (found == 0) return CallResult::NotFound;
    // A plug-in that filled all 256 bytes without a terminating zero still ends there.
    text = TextCodec::decode(QByteArrayView(buffer, qsizetype(::strnlen(buffer, BufferBytes))));
    return CallResult::Found;
}
