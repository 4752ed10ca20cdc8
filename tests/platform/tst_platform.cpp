#include "platform/AtomicFile.h"
#include "platform/DataDir.h"
#include "platform/PrivateFiles.h"
#include "platform/TextCodec.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

int modeOf(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return -1;
    return int(st.st_mode & 07777);
}

void setMode(const QString &path, int mode)
{
    QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode_t(mode)), 0);
}

// Files and directories as a usual umask makes them, readable to everyone.
class OpenUmask
{
public:
    OpenUmask() : FOld(::umask(022)) {}
    ~OpenUmask() { ::umask(FOld); }

private:
    mode_t FOld;
};

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
    void writtenFilesArePrivate();
    void backupsArePrivate();
    void appendCreatesAPrivateFile();
    void recognisesTheProgramsFiles_data();
    void recognisesTheProgramsFiles();
    void startTightensWhatEarlierVersionsLeftOpen();
    void atomicWriteReplacesALinkItself();
    void plantedTemporaryNamesRedirectNothing();
    void failedWriteLeavesTheOldFile_data();
    void failedWriteLeavesTheOldFile();
    void backupIsACompleteCopy();
    void readRefusesWhatIsNoFile();
    void directoriesOthersCanChange();
    void directoryOfAnotherUser();
};

void TestPlatform::dataDirFollowsTheRule()
{
    QTemporaryDir home, xdg;
    const QByteArray oldHome = qgetenv("CORVANE_HOME");
    const QByteArray oldXdg = qgetenv("XDG_DATA_HOME");

    qputenv("CORVANE_HOME", home.path().toUtf8());
    QCOMPARE(DataDir::path(), home.path());
    QCOMPARE(DataDir::iniFile(), home.path() + "/corvane.ini");
    QVERIFY(!DataDir::isDefault());

    // Without CORVANE_HOME and without a portable ini next to the program: XDG, created.
    qunsetenv("CORVANE_HOME");
    qputenv("XDG_DATA_HOME", xdg.path().toUtf8());
    QCOMPARE(DataDir::path(), xdg.path() + "/corvane");
    QVERIFY(DataDir::isDefault());
    // The usual directory is the usual one however it is named.
    qputenv("CORVANE_HOME", (xdg.path() + "/./corvane/").toUtf8());
    QCOMPARE(DataDir::location(), xdg.path() + "/corvane");
    QVERIFY(DataDir::isDefault());
    qunsetenv("CORVANE_HOME");
    QVERIFY(QFileInfo(xdg.path() + "/corvane").isDir());
    QCOMPARE(QFileInfo(xdg.path() + "/corvane").permissions() &
                 (QFile::ReadOther | QFile::ReadGroup),
             QFile::Permissions());

    // A corvane.ini next to the program makes the installation portable.
    const QString portableIni = DataDir::programDir() + "/corvane.ini";
    writeFile(portableIni, "[Settings]\n");
    const QString portable = DataDir::path();
    const bool portableIsDefault = DataDir::isDefault();
    QFile::remove(portableIni);
    QCOMPARE(portable, DataDir::programDir());
    QVERIFY(!portableIsDefault);

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
    ::chmod(QFile::encodeName(path).constData(), 0400);
    QVERIFY(AtomicFile::write(path, "second"));
    QCOMPARE(readFile(path), QByteArray("second"));
    struct stat st;
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
    QCOMPARE(int(st.st_mode & 0777), 0400);
    // Nothing but the file itself is left behind.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"Calls"});
}

void TestPlatform::writtenFilesArePrivate()
{
    OpenUmask umask;
    QTemporaryDir dir;
    const QString path = dir.path() + "/Nicks";
    QVERIFY(AtomicFile::write(path, "new"));
    QCOMPARE(modeOf(path), 0600);

    // A file an earlier version wrote readable to all, or group-readable.
    for (int mode : {0644, 0664, 0640, 0755}) {
        setMode(path, mode);
        QVERIFY(AtomicFile::write(path, "rewritten"));
        QCOMPARE(modeOf(path), 0600);
    }
    QVERIFY(AtomicFile::write(dir.path() + "/MSN", "complete"));
    QCOMPARE(modeOf(dir.path() + "/MSN"), 0600);
    // A copy (the dated copy of a damaged list) is private even when its source is not.
    setMode(path, 0644);
    QVERIFY(AtomicFile::copy(path, dir.path() + "/Nicks.20.12.2025_12.00.00"));
    QCOMPARE(modeOf(dir.path() + "/Nicks.20.12.2025_12.00.00"), 0600);
}

void TestPlatform::backupsArePrivate()
{
    OpenUmask umask;
    QTemporaryDir dir;
    const QString path = dir.path() + "/Calls";
    writeFile(path, "version 1");
    setMode(path, 0644);
    writeFile(dir.path() + "/Calls.bak", "version 0");
    setMode(dir.path() + "/Calls.bak", 0644);
    QVERIFY(AtomicFile::backup(path, dir.path() + "/Calls.bak"));
    QCOMPARE(readFile(dir.path() + "/Calls.bak"), QByteArray("version 1"));
    QCOMPARE(modeOf(dir.path() + "/Calls.bak"), 0600);
    QVERIFY(AtomicFile::write(path, "version 2"));
    QCOMPARE(modeOf(path), 0600);
    QCOMPARE(modeOf(dir.path() + "/Calls.bak"), 0600);
}

void TestPlatform::appendCreatesAPrivateFile()
{
    OpenUmask umask;
    QTemporaryDir dir;
    const QString log = dir.path() + "/corvane.log";
    QVERIFY(PrivateFiles::append(log, "one\n"));
    QCOMPARE(modeOf(log), 0600);
    // Readable to all, or to the group only: both are tightened.
    for (int mode : {0644, 0640}) {
        setMode(log, mode);
        QVERIFY(PrivateFiles::append(log, "more\n"));
        QCOMPARE(modeOf(log), 0600);
    }
    QCOMPARE(readFile(log), QByteArray("one\nmore\nmore\n"));
    QString error;
    QVERIFY(!PrivateFiles::append(dir.path() + "/missing/corvane.log", "x", &error));
    QVERIFY(!error.isEmpty());

    // A link planted at the log's name carries no line anywhere.
    const QString notes = dir.path() + "/notes";
    writeFile(notes, "the user's own notes\n");
    QVERIFY(QFile::remove(log));
    QVERIFY(QFile::link(notes, log));
    QVERIFY(!PrivateFiles::append(log, "a call\n"));
    QCOMPARE(readFile(notes), QByteArray("the user's own notes\n"));
    // Nor does a file another user made there first.
    if (::geteuid() != 0) QSKIP("Giving a file to another user needs root");
    QVERIFY(QFile::remove(log));
    writeFile(log, "");
    QCOMPARE(::chown(QFile::encodeName(log).constData(), 65534, 65534), 0);
    QVERIFY(!PrivateFiles::append(log, "a call\n", &error));
    QCOMPARE(readFile(log), QByteArray());
}

void TestPlatform::recognisesTheProgramsFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("ours");
    for (const char *name : {"Calls", "Nicks", "MSN", "Calls.bak", "Nicks.bak", "MSN.bak",
                             "Calls.old", "Calls.09.12.2025_18.00.00", "MSN.09.12.2025_18.00.00_2",
                             "corvane.ini", "corvane.log", ".Calls.tmp", ".corvane.ini.tmp",
                             ".Calls.bak.tmp", ".Calls.x7Qa9z.tmp", ".corvane.ini.AbC123.tmp"})
        QTest::newRow(name) << QString(name) << true;
    for (const char *name : {"orte.asc", "notes.txt", "Calls.txt", "calls", "Calls.tmp", ".Calls",
                             "Calls.9.12.2025_18.00.00", "Corvane_e.pdf", "testcallnum",
                             "Calls.x7Qa9z", ".Calls.x7Q.tmp"})
        QTest::newRow(name) << QString(name) << false;
}

void TestPlatform::recognisesTheProgramsFiles()
{
    QFETCH(QString, name);
    QFETCH(bool, ours);
    QCOMPARE(PrivateFiles::isProgramFile(name), ours);
}

void TestPlatform::startTightensWhatEarlierVersionsLeftOpen()
{
    OpenUmask umask;
    QTemporaryDir xdg, home;
    const QByteArray oldHome = qgetenv("CORVANE_HOME");
    const QByteArray oldXdg = qgetenv("XDG_DATA_HOME");
    const auto restore = qScopeGuard([&] {
        qputenv("CORVANE_HOME", oldHome);
        if (oldHome.isNull()) qunsetenv("CORVANE_HOME");
        qputenv("XDG_DATA_HOME", oldXdg);
        if (oldXdg.isNull()) qunsetenv("XDG_DATA_HOME");
    });

    // As an earlier version left the directory under $XDG_DATA_HOME.
    const QString data = xdg.path() + "/corvane";
    QVERIFY(QDir().mkdir(data));
    setMode(data, 0755);
    const QStringList ours = {"Calls", "Calls.bak", "Calls.old",   "Calls.09.12.2025_18.00.00",
                              "Nicks", "MSN.bak",   "corvane.ini", "corvane.log"};
    for (const QString &name : ours) {
        writeFile(data + '/' + name, "x");
        setMode(data + '/' + name, 0644);
    }
    writeFile(data + "/orte.asc", "441 Oldenburg\n");
    setMode(data + "/orte.asc", 0644);
    setMode(data + "/Nicks", 0400);

    qunsetenv("CORVANE_HOME");
    qputenv("XDG_DATA_HOME", xdg.path().toUtf8());
    DataDir::tightenPermissions();
    QCOMPARE(modeOf(data), 0700);
    for (const QString &name : ours)
        QCOMPARE(modeOf(data + '/' + name), name == "Nicks" ? 0400 : 0600);
    QCOMPARE(modeOf(data + "/orte.asc"), 0644); // the user's own table, not ours

    // A directory the user named keeps its mode; the files in it do not.
    setMode(home.path(), 0755);
    writeFile(home.path() + "/Calls", "x");
    setMode(home.path() + "/Calls", 0664);
    qputenv("CORVANE_HOME", home.path().toUtf8());
    DataDir::tightenPermissions();
    QCOMPARE(modeOf(home.path()), 0755);
    QCOMPARE(modeOf(home.path() + "/Calls"), 0600);
    // Created fresh, the directory is private from the start.
    qputenv("CORVANE_HOME", (home.path() + "/new/corvane").toUtf8());
    QCOMPARE(DataDir::path(), home.path() + "/new/corvane");
    QCOMPARE(modeOf(home.path() + "/new/corvane"), 0700);
}

void TestPlatform::atomicWriteReplacesALinkItself()
{
    // Another user planted links at a list's names, pointing at a file of the user's.
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("elsewhere"));
    const QString victim = dir.path() + "/elsewhere/notes";
    writeFile(victim, "the user's own notes");
    for (const char *name : {"/Nicks", "/Calls.bak"})
        QVERIFY(QFile::link(victim, dir.path() + name));
    QVERIFY(AtomicFile::write(dir.path() + "/Nicks", "new"));
    QVERIFY(!QFileInfo(dir.path() + "/Nicks").isSymLink());
    QCOMPARE(readFile(dir.path() + "/Nicks"), QByteArray("new"));
    QCOMPARE(readFile(victim), QByteArray("the user's own notes"));

    // The backup replaces a link at its name too, and is never made from a link.
    QVERIFY(AtomicFile::backup(dir.path() + "/Nicks", dir.path() + "/Calls.bak"));
    QVERIFY(!QFileInfo(dir.path() + "/Calls.bak").isSymLink());
    QCOMPARE(readFile(victim), QByteArray("the user's own notes"));
    QVERIFY(QFile::link(victim, dir.path() + "/MSN"));
    QString error;
    QVERIFY(!AtomicFile::backup(dir.path() + "/MSN", dir.path() + "/MSN.bak", &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!QFileInfo::exists(dir.path() + "/MSN.bak"));
    setMode(victim, 0644);
    PrivateFiles::tightenDataDirectory(dir.path(), false);
    QCOMPARE(modeOf(victim), 0644);
}

void TestPlatform::plantedTemporaryNamesRedirectNothing()
{
    // The fixed names earlier versions used, planted as links and as a file of someone else.
    QTemporaryDir dir;
    const QString victim = dir.path() + "/victim";
    writeFile(victim, "untouched");
    QVERIFY(QFile::link(victim, dir.path() + "/.Calls.tmp"));
    QVERIFY(QFile::link(victim, dir.path() + "/.Calls.bak.tmp"));
    writeFile(dir.path() + "/.Nicks.tmp", "someone else's");
    setMode(dir.path() + "/.Nicks.tmp", 0666);

    QVERIFY(AtomicFile::write(dir.path() + "/Calls", "calls"));
    QVERIFY(AtomicFile::backup(dir.path() + "/Calls", dir.path() + "/Calls.bak"));
    QVERIFY(AtomicFile::write(dir.path() + "/Nicks", "nicks"));
    QCOMPARE(readFile(victim), QByteArray("untouched"));
    QCOMPARE(readFile(dir.path() + "/.Nicks.tmp"), QByteArray("someone else's"));
    QCOMPARE(readFile(dir.path() + "/Calls"), QByteArray("calls"));
    QCOMPARE(readFile(dir.path() + "/Calls.bak"), QByteArray("calls"));
    QCOMPARE(readFile(dir.path() + "/Nicks"), QByteArray("nicks"));
    QCOMPARE(modeOf(dir.path() + "/Nicks"), 0600);
    // Nothing else was left behind.
    QStringList names = QDir(dir.path()).entryList(QDir::Files | QDir::System | QDir::Hidden);
    names.sort();
    QCOMPARE(names, QStringList({".Calls.bak.tmp", ".Calls.tmp", ".Nicks.tmp", "Calls", "Calls.bak",
                                 "Nicks", "victim"}));
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
    // A link is followed only where that is asked for; a copy (a restored backup) never
    // follows one.
    QVERIFY(QFile::link(dir.path() + "/big", dir.path() + "/MSN.bak"));
    QVERIFY(AtomicFile::read(dir.path() + "/MSN.bak", &bytes, &error));
    QVERIFY(
        !AtomicFile::read(dir.path() + "/MSN.bak", &bytes, &error, 100, AtomicFile::Links::Refuse));
    QVERIFY(!AtomicFile::copy(dir.path() + "/MSN.bak", dir.path() + "/MSN", &error));
    QVERIFY(!QFileInfo::exists(dir.path() + "/MSN"));
}

void TestPlatform::directoriesOthersCanChange()
{
    using PrivateFiles::Exposure;
    QTemporaryDir dir;
    const uint me = ::getuid();
    const auto unix = [](const QString &) { return true; };
    const auto fat = [](const QString &) { return false; }; // modes from mount options
    QVERIFY(PrivateFiles::hasUnixPermissions(dir.path()));
    for (int mode : {0700, 0755, 0500, 01700}) {
        setMode(dir.path(), mode);
        QCOMPARE(PrivateFiles::exposure(dir.path(), me, unix), Exposure::Private);
    }
    // Any write bit for others, sticky or not, lets them plant names.
    for (int mode : {0777, 01777, 0770, 0730, 0702}) {
        setMode(dir.path(), mode);
        QCOMPARE(PrivateFiles::exposure(dir.path(), me, unix), Exposure::WritableByOthers);
        QCOMPARE(PrivateFiles::exposure(dir.path(), me, fat), Exposure::Private);
    }
    // Played as another user: the directory is not theirs, whatever its mode.
    setMode(dir.path(), 0700);
    QCOMPARE(PrivateFiles::exposure(dir.path(), me + 1, unix), Exposure::ForeignOwner);
    QCOMPARE(PrivateFiles::exposure(dir.path(), me + 1, fat), Exposure::Private);
    // Through a link to the directory, the directory counts.
    QTemporaryDir other;
    QVERIFY(QFile::link(dir.path(), other.path() + "/data"));
    setMode(dir.path(), 0777);
    QCOMPARE(PrivateFiles::exposure(other.path() + "/data", me, unix), Exposure::WritableByOthers);
    QCOMPARE(PrivateFiles::exposure(other.path() + "/missing", me, unix), Exposure::Private);
    setMode(dir.path(), 0700);
}

void TestPlatform::directoryOfAnotherUser()
{
    if (::geteuid() != 0) QSKIP("Giving a directory to another user needs root");
    QTemporaryDir dir;
    const QByteArray name = QFile::encodeName(dir.path());
    QCOMPARE(::chown(name.constData(), 65534, 65534), 0);
    QCOMPARE(PrivateFiles::exposure(dir.path(), 0), PrivateFiles::Exposure::ForeignOwner);
    QCOMPARE(PrivateFiles::exposure(dir.path(), 65534), PrivateFiles::Exposure::Private);
    QCOMPARE(::chown(name.constData(), 0, 0), 0);
}

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
