// Loading the driver library: each case runs in a process of its own (see CMakeLists),
// because the load status stays for the life of the process.
#include "capi/CpDLL.h"
#include "capi/CpHand.h"
#include "capi/CpMoni.h"
#include "tests/Libcapi20Files.h"

#include <QtTest>
#include <csignal>
#include <dlfcn.h>

class TestBinding : public QObject
{
    Q_OBJECT

    void expectStartFails(uint32_t error, const QString &text)
    {
        TCapiMonitor monitor;
        int stateChanges = 0;
        monitor.OnStateChange = [&stateChanges](bool, bool) { ++stateChanges; };
        QVERIFY(!monitor.Start(1, 10));
        QCOMPARE(monitor.Error(), error);
        QCOMPARE(monitor.ErrorString(), text);
        QCOMPARE(stateChanges, 0);
        QVERIFY(!monitor.Engine());
        // No retry: the same answer on the next start.
        QVERIFY(!monitor.Start(1, 10));
        QCOMPARE(monitor.Error(), error);
    }

private slots:
    void missingLibrary()
    {
        expectStartFails(0x9002, QStringLiteral("File \"%1\" not found.").arg(CapiDllFileName()));
        QCOMPARE(CapiDllStatus(), int(CapiDllNotFound));
        const uint8_t *message = nullptr;
        QCOMPARE(CapiGetMessage(1, message), 0x9002u); // nothing is called
    }

    void notInstalled()
    {
        expectStartFails(0x9003, QStringLiteral("CAPI 2.0 (32 Bit) not installed."));
    }

    void incompleteLibrary()
    {
        expectStartFails(0x9003, QStringLiteral("CAPI 2.0 (32 Bit) not installed."));
        QCOMPARE(CapiRelease(1), 0x9003u);
    }

    void notInstalledRemote()
    {
        // The real libcapi20 pointed at a router that does not answer.
        const Libcapi20Files files;
        expectStartFails(0x9003, QStringLiteral("CAPI 2.0 (32 Bit) not installed."));
    }

    void registerError()
    {
        expectStartFails(0x1008, QStringLiteral("Deinstall error ($1008)"));
        QCOMPARE(CapiDllStatus(), int(CapiDllInstalled));
    }

    void loadsOnceAndIgnoresSigpipe()
    {
        QCOMPARE(CapiDllStatus(), int(CapiDllNotLoaded));
        std::signal(SIGPIPE, SIG_DFL); // the test framework has a handler of its own
        LoadCapiDll();
        QCOMPARE(CapiDllStatus(), int(CapiDllInstalled));
        LoadCapiDll();
        QCOMPARE(CapiDllStatus(), int(CapiDllInstalled));
        struct sigaction action
        {
        };
        QCOMPARE(sigaction(SIGPIPE, nullptr, &action), 0);
        QVERIFY(action.sa_handler == SIG_IGN);
        QVERIFY(UnloadCapiDll());
        QCOMPARE(CapiDllStatus(), int(CapiDllNotLoaded));
    }

    void unloadWaitsForAThreadInside()
    {
        auto engine = std::make_unique<TCapi>(1, 2, 128);
        QCOMPARE(engine->LastError, 0u);
        void *driver = dlopen(CapiDllFileName().toLocal8Bit().constData(), RTLD_NOW | RTLD_NOLOAD);
        QVERIFY(driver);
        auto waiting = reinterpret_cast<int (*)()>(dlsym(driver, "capi_stuck_waiting"));
        auto release = reinterpret_cast<void (*)()>(dlsym(driver, "capi_stuck_release"));
        dlclose(driver); // the binding alone keeps it loaded
        QVERIFY(waiting && release);
        QTRY_COMPARE(waiting(), 1);
        // The engine gives up waiting for its signal thread, which hangs in the driver.
        engine.reset();
        QCOMPARE(waiting(), 1);

        QVERIFY(!UnloadCapiDll());
        QCOMPARE(CapiDllStatus(), int(CapiDllInstalled));
        release();
        // Once the thread has left the library, it goes.
        QTRY_VERIFY_WITH_TIMEOUT(UnloadCapiDll(), 10000);
        QCOMPARE(CapiDllStatus(), int(CapiDllNotLoaded));
    }
};

QTEST_GUILESS_MAIN(TestBinding)
#include "tst_binding.moc"
