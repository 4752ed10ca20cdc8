// libcapi20 keeps its table of applications in two files under /dev/shm, created when
// the library is loaded. A test that loads the real library removes them again at its
// end, unless they were there before (another CAPI user may share them).
#pragma once

#include <QFile>

class Libcapi20Files
{
public:
    Libcapi20Files()
        : FSharedMemoryExisted(QFile::exists(QLatin1String(SharedMemory))),
          FSemaphoreExisted(QFile::exists(QLatin1String(SharedSemaphore)))
    {
    }

    Libcapi20Files(const Libcapi20Files &) = delete;
    Libcapi20Files &operator=(const Libcapi20Files &) = delete;

    void RemoveCreated() const
    {
        if (!FSharedMemoryExisted) QFile::remove(QLatin1String(SharedMemory));
        if (!FSemaphoreExisted) QFile::remove(QLatin1String(SharedSemaphore));
    }

    ~Libcapi20Files() { RemoveCreated(); }

    static constexpr const char *SharedMemory = "/dev/shm/CAPI20_shared_memory.v01000010";
    static constexpr const char *SharedSemaphore = "/dev/shm/sem.CAPI20_shared_sem.v01000010";

private:
    bool FSharedMemoryExisted;
    bool FSemaphoreExisted;
};
