#pragma once

#include <QString>

#include <cstdint>
#include <memory>

// The shape of both plug-in exports: the number to look up or to dial (zero-terminated), a
// buffer of 256 bytes and the size 254; non-zero means the buffer holds the zero-terminated
// name or replacement number.
using UserPluginFunction = int32_t (*)(const char *number, char *result, int32_t size);

// A user's plug-in: a shared object loaded by its path. It stays loaded while anyone holds it:
// the lookup sources while it is chosen, a thread until it has left the plug-in's function,
// so that the main thread never waits for a thread to unload it.
//
// Calls into one library are serialised, also when it is loaded twice (the lookup and the
// number plug-in may be the same file): a plug-in need not expect two threads at once. A
// library that was shut off (it did not answer in time) gets no further call until the
// program ends, and is never unloaded.
//
// Thread-safe: the main thread holds it, threads call it. Call() may wait for another call,
// so it is never called from the main thread.
class TUserPlugin
{
public:
    enum class CallResult
    {
        Found,    // non-zero: the text is the buffer's
        NotFound, // zero, or the function threw
        ShutOff   // not called: the library was shut off
    };

    // Loads the library; null with the message "unable to load library <path>" in error.
    static std::shared_ptr<TUserPlugin> Load(const QString &path, QString &error);
    ~TUserPlugin();
    TUserPlugin(const TUserPlugin &) = delete;
    TUserPlugin &operator=(const TUserPlugin &) = delete;

    QString path() const { return FPath; }
    // The export of that name, else the one with a leading underscore; null when neither
    // exists.
    UserPluginFunction Resolve(const char *name) const;
    // The program is ending while a thread may still be inside the library: it is never
    // unloaded.
    void KeepLoaded();
    // The library stopped answering: no further calls, and it stays loaded.
    void ShutOff();
    bool IsShutOff() const;

    // Waits until no other thread is inside the library, then calls the function with a copy
    // of the number (UTF-8). The text is the buffer's (UTF-8, or Windows-1252 when it is not
    // valid UTF-8) when the function returns non-zero.
    CallResult Call(UserPluginFunction function, const QString &number, QString &text) const;

private:
    // What every load of one library shares.
    struct Library;

    TUserPlugin(const QString &path, void *handle, std::shared_ptr<Library> library)
        : FPath(path), FHandle(handle), FLibrary(std::move(library))
    {
    }

    QString FPath;
    void *FHandle;
    std::shared_ptr<Library> FLibrary;
};
