// Binding to the CAPI 2.0 driver library (libcapi20), loaded at run time.
//
// The library is never linked: the program starts on a machine without it and reports
// why it cannot listen. $CORVANE_CAPI_LIBRARY names another file to load in its place
// (the line simulator in tests and the demo). There is one binding per process.
//
// Thread use: loading, registering, sending and releasing happen in the main thread;
// the engine's signal thread waits and fetches. Every call except the wait is
// serialised here, because libcapi20 keeps unlocked per-application state.
#pragma once

#include <QString>
#include <cstdint>

enum TCapiDllStatus : int
{
    CapiDllInstalled = 0,    // library loaded and a CAPI 2.0 installed
    CapiDllNotLoaded = 1,    // at program start and after unloading
    CapiDllNotFound = 2,     // the library file could not be loaded
    CapiDllNotInstalled = 3, // loaded, but no CAPI 2.0 (or an entry point is missing)
};

// Loads the library and resolves its entry points; does nothing when the status is
// already CapiDllInstalled. There is no retry: a status of 2 or 3 stays until the end.
void LoadCapiDll();
// Releases the library at program end. False, and the library stays loaded, while a
// thread may still be inside it (a signal thread that did not end in time).
bool UnloadCapiDll();
// Held by a thread for as long as it may call into the library.
class CapiLibraryUse
{
public:
    CapiLibraryUse();
    ~CapiLibraryUse();
    CapiLibraryUse(const CapiLibraryUse &) = delete;
    CapiLibraryUse &operator=(const CapiLibraryUse &) = delete;
};
int CapiDllStatus();
// The file that is (or would be) loaded: $CORVANE_CAPI_LIBRARY or "libcapi20.so.3".
QString CapiDllFileName();
QString CapiDllStatusText(int status);
// 1024 + 1024 per logical connection.
uint32_t MessageBufferSize(uint32_t maxLogicalConnections);

// The library's operations. Without a loaded library each returns 0x9000 + the status.
unsigned CapiInstalled();
// bufferSize has no counterpart in libcapi20 and is dropped there.
unsigned CapiRegister(uint32_t bufferSize, uint32_t maxLogicalConnections, uint32_t maxBDataBlocks,
                      uint32_t maxBDataLen, uint32_t &applId);
unsigned CapiRelease(uint32_t applId);
// Copies the message (its Length bytes) into a buffer of the size libcapi20 reads.
unsigned CapiPutMessage(uint32_t applId, const uint8_t *message);
// Waits at most timeoutMs (negative: forever) for a message; 0 when one is waiting.
unsigned CapiWaitForSignal(uint32_t applId, int timeoutMs);
// The message stays readable until the next fetch for the same application.
unsigned CapiGetMessage(uint32_t applId, const uint8_t *&message);

// Size of the receive buffers of libcapi20 (and so the longest message it can hand out).
constexpr size_t CapiReceiveBufferSize = 2048;
