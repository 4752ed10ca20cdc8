#include "platform/AtomicFile.h"
#include "platform/DataDir.h"
#include "platform/TextCodec.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

} // namespace

class TestPlatform : public QObject
{
    Q_OBJECT

private slots:
    void dataDirFollowsTheRule();
    void areaCodeFilePrefersTheDataDirectory();
    void decodesUtf8AndFallsBackToWindows1252();
    void atomicWriteReplacesAndKeepsPermissions();
    void atomicWriteFollowsSymlinks();
    void failedWriteLeavesTheOldFile_data();
    void failedWriteLeavesTheOldFile();
    void backupIsACompleteCopy();
    void readRefusesWhatIsNoFile();
};

void TestPlatform::dataDirFollowsTheRule()
{
    QTemporaryDir home, xdg;
    const QByteArray oldHome = qgetenv("CORVANE_HOME");
    const QByteArray oldXdg = qgetenv("XDG_DATA_HOME");

    qputenv("CORVANE_HOME", home.path().toUtf8());
    QCOMPARE(DataDir::path(), home.path());
    QCOMPARE(DataDir::iniFile(), home.path() + "/corvane.ini");

    // Without CORVANE_HOME and without a portable ini next to the program: XDG, created.
    qunsetenv("CORVANE_HOME");
    qputenv("XDG_DATA_HOME", xdg.path().toUtf8());
    QCOMPARE(DataDir::path(), xdg.path() + "/corvane");
    QVERIFY(QFileInfo(xdg.path() + "/corvane").isDir());
    QCOMPARE(QFileInfo(xdg.path() + "/corvane").permissions() &
                 (QFile::ReadOther | QFile::ReadGroup),
             QFile::Permissions());

    // A corvane.ini next to the program makes the installation portable.
    const QString portableIni = DataDir::programDir() + "/corvane.ini";
    writeFile(portableIni, "[Settings]\n");
    const QString portable = DataDir::path();
    QFile::remove(portableIni);
    QCOMPARE(portable, DataDir::programDir());

    qputenv("CORVANE_HOME", oldHome);
    if (oldHome.isNull()) qunsetenv("CORVANE_HOME");
    qputenv("XDG_DATA_HOME", oldXdg);
    if (oldXdg.isNull()) qunsetenv("XDG_DATA_HOME");
}

void TestPlatform::areaCodeFilePrefersTheDataDirectory()
{
    QTemporaryDir home;
    const QByteArray old = qgetenv("CORVANE_HOME");
    qputenv("CORVANE_HOME", home.path().toUtf8());
    const QString fallback = DataDir::areaCodeFile();
    QVERIFY(fallback != home.path() + "/orte.asc");
    writeFile(home.path() + "/orte.asc", "30 Berlin\n");
    QCOMPARE(DataDir::areaCodeFile(), home.path() + "/orte.asc");
    qputenv("CORVANE_HOME", old);
}

void TestPlatform::decodesUtf8AndFallsBackToWindows1252()
{
    QCOMPARE(TextCodec::decode("M\xc3\xbcnchen"), QString::fromUtf8("München"));
    QCOMPARE(TextCodec::decode("\xef\xbb\xbfK\xc3\xb6ln"), QString::fromUtf8("Köln"));
    // Bytes of the Windows version: ü, the euro sign and the typographic quotes.
    QCOMPARE(TextCodec::decode("M\xfcnchen \x80 \x84x\x93"), QString::fromUtf8("München € „x“"));
    QVERIFY(!TextCodec::isUtf8("\xc3"));
    QVERIFY(!TextCodec::isUtf8("\xed\xa0\x80")); // encoded surrogate
}

void TestPlatform::atomicWriteReplacesAndKeepsPermissions()
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/Calls";
    QString error;
    QVERIFY2(AtomicFile::write(path, "first", &error), qPrintable(error));
    QCOMPARE(readFile(path), QByteArray("first"));
    ::chmod(QFile::encodeName(path).constData(), 0640);
    QVERIFY(AtomicFile::write(path, "second"));
    QCOMPARE(readFile(path), QByteArray("second"));
    struct stat st;
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
    QCOMPARE(int(st.st_mode & 0777), 0640);
    // Nothing but the file itself is left behind.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"Calls"});
}

void TestPlatform::atomicWriteFollowsSymlinks()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("real"));
    const QString real = dir.path() + "/real/Nicks";
    writeFile(real, "old");
    QVERIFY(QFile::link(real, dir.path() + "/Nicks"));
    QVERIFY(AtomicFile::write(dir.path() + "/Nicks", "new"));
    QVERIFY(QFileInfo(dir.path() + "/Nicks").isSymLink());
    QCOMPARE(readFile(real), QByteArray("new"));
}

void TestPlatform::failedWriteLeavesTheOldFile_data()
{
    QTest::addColumn<int>("stage");
    QTest::newRow("open") << int(AtomicFile::Stage::Open);
    QTest::newRow("write") << int(AtomicFile::Stage::Write);
    QTest::newRow("sync") << int(AtomicFile::Stage::Sync);
    QTest::newRow("rename") << int(AtomicFile::Stage::Rename);
}

void TestPlatform::failedWriteLeavesTheOldFile()
{
    QFETCH(int, stage);
    QTemporaryDir dir;
    const QString path = dir.path() + "/MSN";
    writeFile(path, "complete old content");
    AtomicFile::setFaultHook([stage](AtomicFile::Stage s) { return int(s) != stage; });
    QString error;
    const bool ok = AtomicFile::write(path, QByteArray(100000, 'x'), &error);
    AtomicFile::setFaultHook(nullptr);
    QVERIFY(!ok);
    QVERIFY(!error.isEmpty());
    QCOMPARE(readFile(path), QByteArray("complete old content"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"MSN"});
}

void TestPlatform::backupIsACompleteCopy()
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/Calls";
    writeFile(path, "version 1");
    QVERIFY(AtomicFile::backup(path, dir.path() + "/Calls.bak"));
    // Replacing the list must not touch the backup, hard link or not.
    QVERIFY(AtomicFile::write(path, "version 2"));
    QCOMPARE(readFile(dir.path() + "/Calls.bak"), QByteArray("version 1"));
    QVERIFY(AtomicFile::backup(path, dir.path() + "/Calls.bak"));
    QCOMPARE(readFile(dir.path() + "/Calls.bak"), QByteArray("version 2"));
    QString error;
    QVERIFY(!AtomicFile::backup(dir.path() + "/missing", dir.path() + "/missing.bak", &error));
    QVERIFY(!error.isEmpty());
}

void TestPlatform::readRefusesWhatIsNoFile()
{
    QTemporaryDir dir;
    const QString fifo = dir.path() + "/Calls";
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QByteArray bytes;
    QString error;
    QVERIFY(!AtomicFile::read(fifo, &bytes, &error)); // and does not block
    QVERIFY(!error.isEmpty());
    QVERIFY(!AtomicFile::read(dir.path(), &bytes, &error));
    writeFile(dir.path() + "/big", QByteArray(100, 'x'));
    QVERIFY(!AtomicFile::read(dir.path() + "/big", &bytes, &error, 99));
    QVERIFY(AtomicFile::read(dir.path() + "/big", &bytes, &error, 100));
    QCOMPARE(bytes.size(), 100);
}

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
