#include "capi/CpDLL.h"

#include "capi/CpConst.h"

#include <QtGlobal>
#include <atomic>
#include <capi20.h>
#include <csignal>
#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <sys/time.h>

namespace {

using FnInstalled = unsigned (*)();
using FnRegister = unsigned (*)(unsigned, unsigned, unsigned, unsigned *);
using FnRelease = unsigned (*)(unsigned);
using FnPutMessage = unsigned (*)(unsigned, unsigned char *);
using FnGetMessage = unsigned (*)(unsigned, unsigned char **);
using FnWaitForMessage = unsigned (*)(unsigned, struct timeval *);

struct Binding
{
    int status = CapiDllNotLoaded;
    bool loaded = false;
    void *handle = nullptr;
    FnInstalled installed = nullptr;
    FnRegister registerApp = nullptr;
    FnRelease release = nullptr;
    FnPutMessage putMessage = nullptr;
    FnGetMessage getMessage = nullptr;
    FnWaitForMessage waitForMessage = nullptr;
    std::mutex callLock; // serialises every call but the wait
    std::atomic<int> users{0}; // threads that may be inside the library
    // libcapi20's modules read up to SEND_BUFSIZ bytes from the message they are given.
    unsigned char sendBuffer[SEND_BUFSIZ];
};

Binding &binding()
{
    static Binding b;
    return b;
}

template <typename Fn> bool resolve(void *handle, const char *name, Fn &slot)
{
    slot = reinterpret_cast<Fn>(dlsym(handle, name));
    return slot != nullptr;
}

unsigned notLoadedError()
{
    return capi::ErrorLoadStatusBase + unsigned(binding().status);
}

} // namespace

QString CapiDllFileName()
{
    const QString overridden = qEnvironmentVariable("CORVANE_CAPI_LIBRARY");
    return overridden.isEmpty() ? QStringLiteral("libcapi20.so.3") : overridden;
}

void LoadCapiDll()
{
    Binding &b = binding();
    if (b.status == CapiDllInstalled) return;

    // libcapi20 writes to TCP sockets without MSG_NOSIGNAL: a lost remote controller
    // must not end the program with SIGPIPE.
    struct sigaction current
    {
    };
    if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
        std::signal(SIGPIPE, SIG_IGN);

    b.handle = dlopen(CapiDllFileName().toLocal8Bit().constData(), RTLD_NOW | RTLD_LOCAL);
    if (!b.handle) {
        b.status = CapiDllNotFound;
        b.loaded = false;
        return;
    }
    b.loaded = true;
    b.status = CapiDllInstalled;
    {
        std::lock_guard lock(b.callLock);
        if (!resolve(b.handle, "capi20_isinstalled", b.installed) || b.installed() != 0) {
            b.status = CapiDllNotInstalled;
            return;
        }
    }
    // A library that lacks an operation counts as not installed: its entry points are
    // never called.
    const bool complete = resolve(b.handle, "capi20_register", b.registerApp) &&
                          resolve(b.handle, "capi20_release", b.release) &&
                          resolve(b.handle, "capi20_put_message", b.putMessage) &&
                          resolve(b.handle, "capi20_get_message", b.getMessage) &&
                          resolve(b.handle, "capi20_waitformessage", b.waitForMessage);
    if (!complete) b.status = CapiDllNotInstalled;
}

CapiLibraryUse::CapiLibraryUse()
{
    binding().users.fetch_add(1);
}

CapiLibraryUse::~CapiLibraryUse()
{
    binding().users.fetch_sub(1);
}

bool UnloadCapiDll()
{
    Binding &b = binding();
    if (!b.loaded) return true;
    if (b.users.load() > 0) {
        // Unmapping the code under a thread that still waits in it would crash the program
        // on its way out; the system frees the library with the process.
        qWarning("The CAPI library stays loaded: a thread may still be inside it");
        return false;
    }
    if (dlclose(b.handle) == 0) {
        b.handle = nullptr;
        b.loaded = false;
        b.status = CapiDllNotLoaded;
        b.installed = nullptr;
        b.registerApp = nullptr;
        b.release = nullptr;
        b.putMessage = nullptr;
        b.getMessage = nullptr;
        b.waitForMessage = nullptr;
    }
    return !b.loaded;
}

int CapiDllStatus()
{
    return binding().status;
}

QString CapiDllStatusText(int status)
{
    switch (status) {
    case CapiDllInstalled:
        return QStringLiteral("CAPI 2.0 (32 Bit) installed");
    case CapiDllNotLoaded:
        return QStringLiteral("%1 not loaded.").arg(CapiDllFileName());
    case CapiDllNotFound:
        return QStringLiteral("File \"%1\" not found.").arg(CapiDllFileName());
    case CapiDllNotInstalled:
        return QStringLiteral("CAPI 2.0 (32 Bit) not installed.");
    case capi::ErrorLineLost - capi::ErrorLoadStatusBase:
        return QStringLiteral("Connection to the CAPI controller lost.");
    default:
        return {};
    }
}

uint32_t MessageBufferSize(uint32_t maxLogicalConnections)
{
    return 1024 + 1024 * maxLogicalConnections;
}

unsigned CapiInstalled()
{
    Binding &b = binding();
    if (b.status != CapiDllInstalled) return notLoadedError();
    std::lock_guard lock(b.callLock);
    return b.installed();
}

unsigned CapiRegister(uint32_t /*bufferSize*/, uint32_t maxLogicalConnections,
                      uint32_t maxBDataBlocks, uint32_t maxBDataLen, uint32_t &applId)
{
    Binding &b = binding();
    if (b.status != CapiDllInstalled) return notLoadedError();
    std::lock_guard lock(b.callLock);
    unsigned id = 0;
    const unsigned result = b.registerApp(maxLogicalConnections, maxBDataBlocks, maxBDataLen, &id);
    if (result == 0) applId = id;
    return result;
}

unsigned CapiRelease(uint32_t applId)
{
    Binding &b = binding();
    if (b.status != CapiDllInstalled) return notLoadedError();
    std::lock_guard lock(b.callLock);
    return b.release(applId);
}

unsigned CapiPutMessage(uint32_t applId, const uint8_t *message)
{
    Binding &b = binding();
    if (b.status != CapiDllInstalled) return notLoadedError();
    const size_t length = size_t(message[0]) | size_t(message[1]) << 8;
    if (length < 8 || length > SEND_BUFSIZ) return 0x1003; // illegal message
    std::lock_guard lock(b.callLock);
    std::memcpy(b.sendBuffer, message, length);
    std::memset(b.sendBuffer + length, 0, SEND_BUFSIZ - length);
    return b.putMessage(applId, b.sendBuffer);
}

unsigned CapiWaitForSignal(uint32_t applId, int timeoutMs)
{
    Binding &b = binding();
    if (b.status != CapiDllInstalled) return notLoadedError();
    // Not under the call lock: the wait blocks, and the main thread sends meanwhile.
    if (timeoutMs < 0) return b.waitForMessage(applId, nullptr);
    struct timeval tv
    {
    };
    tv.tv_sec = timeoutMs / 1000;
    tv.tv_usec = (timeoutMs % 1000) * 1000;
    return b.waitForMessage(applId, &tv);
}

unsigned CapiGetMessage(uint32_t applId, const uint8_t *&message)
{
    Binding &b = binding();
    if (b.status != CapiDllInstalled) return notLoadedError();
    std::lock_guard lock(b.callLock);
    unsigned char *buffer = nullptr;
    const unsigned result = b.getMessage(applId, &buffer);
    message = result == 0 ? buffer : nullptr;
    if (result == 0 && !buffer) return capi::InfoReceiveQueueEmpty;
    return result;
}
