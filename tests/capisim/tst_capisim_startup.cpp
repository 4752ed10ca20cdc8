// A fault set in CAPISIM_FAULT holds from the very first call; this needs a
// process of its own, since the library reads the variable once.

#include "tests/capisim/CapiTestSupport.h"
#include "tools/capisim/CapisimClient.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace capitest;

class TestCapisimStartup : public QObject
{
    Q_OBJECT

private slots:
    void notInstalledFromTheStart()
    {
        QTemporaryDir dir;
        const QString socketPath = dir.filePath("control.sock");
        qputenv("CAPISIM_SOCKET", socketPath.toLocal8Bit());
        qputenv("CAPISIM_FAULT", "not-installed,listen-info=0x2002");
        CapiFunctions capi;
        QString error;
        QVERIFY2(capi.load(CAPISIM_LIBRARY, &error), qPrintable(error));

        QCOMPARE(capi.isinstalled(), 0x1009u);
        unsigned appl = 0;
        QCOMPARE(capi.registerAppl(1, 7, 2048, &appl), 0x1009u);
        // The control socket is up all the same, so a test can clear the fault.
        std::string reply;
        QVERIFY(capisim::runCommand(socketPath.toStdString(), "status", &reply, 5000));
        QCOMPARE(reply, "appls=- listening=no faults=not-installed,listen-info=0x2002 calls=-");
        QVERIFY(capisim::runCommand(socketPath.toStdString(), "fault none", &reply, 5000));
        QCOMPARE(capi.isinstalled(), 0u);
        QCOMPARE(capi.registerAppl(1, 7, 2048, &appl), 0u);
        QCOMPARE(capi.put(appl, listenReq(appl, 1, 0x1FFF03FF)), 0u);
        QCOMPARE(u16(capi.fetch(appl), 12), 0);
        QCOMPARE(capi.release(appl), 0u);
        QVERIFY(!QFile::exists(socketPath));
    }
};

QTEST_GUILESS_MAIN(TestCapisimStartup)
#include "tst_capisim_startup.moc"
