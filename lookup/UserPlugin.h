#pragma once

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>

// The shape of both plug-in exports: the number to look up or to dial (zero-terminated), a
// buffer of 256 bytes and the size 254; non-zero means the buffer holds the zero-terminated
// name or replacement number.
using UserPluginFunction = int32_t (*)(const char *number, char *result, int32_t size);

// A user's plug-in: a shared object loaded by its path. It stays loaded while anyone holds it:
// the lookup sources while it is chosen, a lookup worker until it has left the plug-in's
// function, so that the main thread never waits for the worker to unload it.
//
// Thread-safe: the main thread and one worker may hold and call it at the same time.
class TUserPlugin
{
public:
    // Loads the library; null with the message "unable to load library <path>" in error.
    static std::shared_ptr<TUserPlugin> Load(const QString &path, QString &error);
    ~TUserPlugin();
    TUserPlugin(const TUserPlugin &) = delete;
    TUserPlugin &operator=(const TUserPlugin &) = delete;

    QString path() const { return FPath; }
    // The export of that name, else the one with a leading underscore; null when neither
    // exists.
    UserPluginFunction Resolve(const char *name) const;
    // The program is ending while a worker may still be inside the library: it is never
    // unloaded.
    void KeepLoaded() { FKeepLoaded.store(true); }

    // Calls the function with a copy of the number (UTF-8). True with the buffer's text (UTF-8,
    // or Windows-1252 when it is not valid UTF-8) when the function returns non-zero; false
    // when it returns zero or throws.
    static bool Call(UserPluginFunction function, const QString &number, QString &text);

private:
    TUserPlugin(const QString &path, void *handle) : FPath(path), FHandle(handle) {}

    QString FPath;
    void *FHandle;
    std::atomic<bool> FKeepLoaded = false;
};
