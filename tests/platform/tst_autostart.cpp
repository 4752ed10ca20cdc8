// Autostart entries in temporary XDG directories.
#include "platform/Autostart.h"
#include "tests/DesktopExec.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>
#include <unistd.h>

using namespace platform;
using Scope = Autostart::Scope;

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

struct FileStamp
{
    ino_t inode = 0;
    qint64 mtimeNs = 0;
    bool operator==(const FileStamp &) const = default;
};

FileStamp stamp(const QString &path)
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return {};
    return {st.st_ino, qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

QString writtenEntry(const Autostart &autostart)
{
    return autostart.SetRunKey(Autostart::Scope::User, true)
               ? autostart.EntryPath(Autostart::Scope::User)
               : QString();
}

} // namespace

class TestAutostart : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    QString m_user;
    QString m_machine;
    const QString m_program = "/opt/corvane/bin/corvane";

    Autostart autostart() const { return Autostart(m_program, m_user, m_machine); }

private slots:
    void init()
    {
        QVERIFY(m_root.isValid());
        static int n = 0;
        ++n;
        // The user's directory does not exist yet, as on a fresh account.
        m_user = m_root.filePath(QString("home%1/.config/autostart").arg(n));
        m_machine = m_root.filePath(QString("etc%1/xdg/autostart").arg(n));
        QVERIFY(QDir().mkpath(m_machine));
    }

    void setAndClearUserEntry()
    {
        const Autostart a = autostart();
        QCOMPARE(a.EntryPath(Scope::User), m_user + "/corvane.desktop");
        QCOMPARE(a.EntryPath(Scope::Machine), m_machine + "/corvane.desktop");
        QVERIFY(!a.RunKeyIsSet(Scope::User));

        QString error;
        QVERIFY2(a.SetRunKey(Scope::User, true, &error), qPrintable(error));
        QVERIFY(a.RunKeyIsSet(Scope::User));
        QVERIFY(!a.RunKeyIsSet(Scope::Machine));
        const QByteArray text = readAll(a.EntryPath(Scope::User));
        QVERIFY(text.startsWith("[Desktop Entry]\n"));
        for (const char *line :
             {"Type=Application\n", "Name=Corvane\n", "Exec=\"/opt/corvane/bin/corvane\"\n",
              "X-GNOME-Autostart-enabled=true\n"})
            QVERIFY2(text.contains(line), line);

        QVERIFY(a.SetRunKey(Scope::User, false, &error));
        QVERIFY(!QFile::exists(a.EntryPath(Scope::User)));
        QVERIFY(!a.RunKeyIsSet(Scope::User));
    }

    void machineEntryIsSeparate()
    {
        const Autostart a = autostart();
        QVERIFY(a.SetRunKey(Scope::Machine, true));
        QVERIFY(a.RunKeyIsSet(Scope::Machine));
        QVERIFY(!a.RunKeyIsSet(Scope::User));
        QVERIFY(!QDir(m_user).exists());
        QVERIFY(a.SetRunKey(Scope::Machine, false));
        QVERIFY(!a.RunKeyIsSet(Scope::Machine));
    }

    void wantedStateWritesNothing()
    {
        const Autostart a = autostart();
        // An entry someone else wrote counts as set and is kept as it is.
        const QString path = a.EntryPath(Scope::User);
        const QByteArray foreign = "[Desktop Entry]\nType=Application\nExec=/usr/bin/corvane\n";
        QVERIFY(writeFile(path, foreign));
        const FileStamp before = stamp(path);
        QTest::qWait(20);
        QVERIFY(a.SetRunKey(Scope::User, true));
        QCOMPARE(stamp(path), before);
        QCOMPARE(readAll(path), foreign);

        // Clearing what is not there creates nothing.
        const Autostart b(m_program, m_root.filePath("nowhere/autostart"), m_machine);
        QVERIFY(b.SetRunKey(Scope::User, false));
        QVERIFY(!QDir(m_root.filePath("nowhere")).exists());
    }

    void switchedOffEntriesCountAsUnset_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("set");
        QTest::newRow("plain") << QByteArray("[Desktop Entry]\nExec=x\n") << true;
        QTest::newRow("Hidden=true")
            << QByteArray("[Desktop Entry]\nExec=x\nHidden=true\n") << false;
        QTest::newRow("Hidden = true") << QByteArray("[Desktop Entry]\nHidden = true\n") << false;
        QTest::newRow("Hidden=false") << QByteArray("[Desktop Entry]\nHidden=false\n") << true;
        QTest::newRow("GNOME disabled")
            << QByteArray("[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n") << false;
        QTest::newRow("Hidden in another group")
            << QByteArray("[Desktop Entry]\nExec=x\n[Desktop Action a]\nHidden=true\n") << true;
        QTest::newRow("commented") << QByteArray("[Desktop Entry]\n# Hidden=true\n") << true;
        QTest::newRow("empty file") << QByteArray() << true;
    }
    void switchedOffEntriesCountAsUnset()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, set);
        const Autostart a = autostart();
        QVERIFY(writeFile(a.EntryPath(Scope::User), content));
        QCOMPARE(a.RunKeyIsSet(Scope::User), set);
        if (set) return;
        // Switching on replaces the hidden entry with a live one.
        QVERIFY(a.SetRunKey(Scope::User, true));
        QVERIFY(a.RunKeyIsSet(Scope::User));
        QVERIFY(readAll(a.EntryPath(Scope::User)).contains("Exec=\"/opt/corvane/bin/corvane\""));
    }

    void moveMachineWideToUser()
    {
        const Autostart a = autostart();
        QVERIFY(a.SetRunKey(Scope::Machine, true));
        QString error;
        QVERIFY2(a.MoveMachineWideToUser(&error), qPrintable(error));
        QVERIFY(!QFile::exists(a.EntryPath(Scope::Machine)));
        QVERIFY(a.RunKeyIsSet(Scope::User));
        QVERIFY(readAll(a.EntryPath(Scope::User)).contains("Exec=\"/opt/corvane/bin/corvane\""));
    }

    void moveWithoutMachineEntryLeavesUserAlone()
    {
        const Autostart a = autostart();
        QVERIFY(a.MoveMachineWideToUser());
        QVERIFY(!a.RunKeyIsSet(Scope::User));
        QVERIFY(!QDir(m_user).exists());

        // A user who switched autostart off keeps it off.
        QVERIFY(writeFile(a.EntryPath(Scope::User), "[Desktop Entry]\nHidden=true\n"));
        QVERIFY(a.MoveMachineWideToUser());
        QVERIFY(!a.RunKeyIsSet(Scope::User));
    }

    void moveWithoutRootStillSetsUser()
    {
        if (::geteuid() == 0) QSKIP("root may remove anything; needs an unprivileged user");
        const Autostart a = autostart();
        QVERIFY(a.SetRunKey(Scope::Machine, true));
        QVERIFY(QFile::setPermissions(m_machine, QFile::ReadOwner | QFile::ExeOwner));
        const auto restore = qScopeGuard([&] {
            QFile::setPermissions(m_machine,
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        });
        QString error;
        QVERIFY(!a.SetRunKey(Scope::Machine, false, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(a.MoveMachineWideToUser());
        QVERIFY(a.RunKeyIsSet(Scope::User));
    }

    void errorsGiveFalse()
    {
        // A regular file where the directory should be: fails for root too.
        QVERIFY(writeFile(m_root.filePath("blocker"), "x"));
        const Autostart blocked(m_program, m_root.filePath("blocker/autostart"), m_machine);
        QVERIFY(!blocked.RunKeyIsSet(Scope::User));
        QString error;
        QVERIFY(!blocked.SetRunKey(Scope::User, true, &error));
        QVERIFY(!error.isEmpty());

        // A directory in the entry's place cannot be read nor replaced.
        const Autostart a = autostart();
        QVERIFY(QDir().mkpath(a.EntryPath(Scope::User) + "/sub"));
        QVERIFY(!a.RunKeyIsSet(Scope::User));
        error.clear();
        QVERIFY(!a.SetRunKey(Scope::User, true, &error));
        QVERIFY(!error.isEmpty());
    }

    void unreadableEntryIsUnset()
    {
        if (::geteuid() == 0) QSKIP("root reads any file");
        const Autostart a = autostart();
        QVERIFY(a.SetRunKey(Scope::User, true));
        QVERIFY(QFile::setPermissions(a.EntryPath(Scope::User), QFile::WriteOwner));
        QVERIFY(!a.RunKeyIsSet(Scope::User));
    }

    void execQuoting_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("exec");
        // Expected values worked out by hand from the Exec quoting and string escapes.
        QTest::newRow("plain") << "/usr/bin/corvane"
                               << "\"/usr/bin/corvane\"";
        QTest::newRow("blank") << "/opt/my apps/corvane"
                               << "\"/opt/my apps/corvane\"";
        QTest::newRow("dollar") << "/opt/a$b/corvane"
                                << "\"/opt/a\\\\$b/corvane\"";
        QTest::newRow("quote") << "/opt/a\"b/corvane"
                               << "\"/opt/a\\\\\"b/corvane\"";
        QTest::newRow("backtick") << "/opt/a`b/corvane"
                                  << "\"/opt/a\\\\`b/corvane\"";
        QTest::newRow("backslash") << "/opt/a\\b/corvane"
                                   << "\"/opt/a\\\\\\\\b/corvane\"";
        QTest::newRow("percent") << "/opt/100%/corvane"
                                 << "\"/opt/100%%/corvane\"";
        QTest::newRow("newline") << "/opt/a\nb/corvane"
                                 << "\"/opt/a\\nb/corvane\"";
        QTest::newRow("umlaut") << QString::fromUtf8("/home/jörg/corvane")
                                << QString::fromUtf8("\"/home/jörg/corvane\"");
    }
    void execQuoting()
    {
        QFETCH(QString, path);
        QFETCH(QString, exec);
        QCOMPARE(Autostart::ExecValue({path}), exec);
        QVERIFY(Autostart::DesktopEntry(path).contains("\nExec=" + exec.toUtf8() + "\n"));
        QCOMPARE(desktopexec::Split(exec).value_or(QStringList()), QStringList{path});
    }

    // Started during the demo, the entry starts the program with the demo's files and line;
    // a launcher reads back exactly the paths written, whatever they hold.
    void entryCarriesTheEnvironment()
    {
        const QString program = "/home/anna/my apps/100% \"corvane\"/corvane";
        const QStringList environment{"CORVANE_HOME=/home/anna/demo files/$HOME `x` \\z",
                                      "CORVANE_CAPI_LIBRARY=/home/anna/my apps/libcapisim.so"};
        const Autostart a(program, m_user, m_machine, environment);
        QString error;
        QVERIFY2(a.SetRunKey(Scope::User, true, &error), qPrintable(error));
        const QString exec = desktopexec::ExecOf(a.EntryPath(Scope::User));
        QVERIFY2(exec.startsWith("env "), qPrintable(exec));
        QCOMPARE(desktopexec::Split(exec).value_or(QStringList()),
                 QStringList{"env"} + environment + QStringList{program});

        QProcess validate;
        validate.start("desktop-file-validate", {a.EntryPath(Scope::User)});
        QVERIFY2(validate.waitForFinished(30000), "desktop-file-validate (desktop-file-utils)");
        QCOMPARE(validate.readAll(), QByteArray());
        QCOMPARE(validate.exitCode(), 0);

        // Without variables the program stands alone, as before.
        const QString alone =
            desktopexec::ExecOf(writtenEntry(Autostart(program, m_user + "2", m_machine)));
        QCOMPARE(desktopexec::Split(alone).value_or(QStringList()), QStringList{program});
    }

    void runningEnvironment()
    {
        const QByteArray home = qgetenv("CORVANE_HOME");
        const QByteArray library = qgetenv("CORVANE_CAPI_LIBRARY");
        const QString cwd = QDir::currentPath();
        const auto restore = qScopeGuard([&] {
            home.isNull() ? qunsetenv("CORVANE_HOME") : qputenv("CORVANE_HOME", home);
            library.isNull() ? qunsetenv("CORVANE_CAPI_LIBRARY")
                             : qputenv("CORVANE_CAPI_LIBRARY", library);
            QDir::setCurrent(cwd);
        });
        QVERIFY(QDir::setCurrent(m_root.path()));

        qunsetenv("CORVANE_HOME");
        qunsetenv("CORVANE_CAPI_LIBRARY");
        QCOMPARE(Autostart::RunningEnvironment(), QStringList());
        qputenv("CORVANE_HOME", "");
        QCOMPARE(Autostart::RunningEnvironment(), QStringList());

        // The login starts the entry elsewhere: relative paths become absolute.
        qputenv("CORVANE_HOME", "demo/../demo files/");
        qputenv("CORVANE_CAPI_LIBRARY", "build/libcapisim.so");
        QCOMPARE(Autostart::RunningEnvironment(),
                 QStringList({"CORVANE_HOME=" + m_root.filePath("demo files"),
                              "CORVANE_CAPI_LIBRARY=" + m_root.filePath("build/libcapisim.so")}));
        // A bare name is the loader's to find.
        qunsetenv("CORVANE_HOME");
        qputenv("CORVANE_CAPI_LIBRARY", "libcapi20.so.3");
        QCOMPARE(Autostart::RunningEnvironment(),
                 QStringList{"CORVANE_CAPI_LIBRARY=libcapi20.so.3"});
    }

    void defaultDirectories()
    {
        const QByteArray home = qgetenv("XDG_CONFIG_HOME");
        const QByteArray dirs = qgetenv("XDG_CONFIG_DIRS");
        const auto restore = qScopeGuard([&] {
            home.isNull() ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", home);
            dirs.isNull() ? qunsetenv("XDG_CONFIG_DIRS") : qputenv("XDG_CONFIG_DIRS", dirs);
        });

        qputenv("XDG_CONFIG_HOME", "/cfg/home");
        QCOMPARE(Autostart::DefaultUserDirectory(), QString("/cfg/home/autostart"));
        qputenv("XDG_CONFIG_HOME", "relative/cfg");
        QCOMPARE(Autostart::DefaultUserDirectory(), QDir::homePath() + "/.config/autostart");
        qunsetenv("XDG_CONFIG_HOME");
        QCOMPARE(Autostart::DefaultUserDirectory(), QDir::homePath() + "/.config/autostart");

        qputenv("XDG_CONFIG_DIRS", "/site/xdg:/etc/xdg");
        QCOMPARE(Autostart::DefaultMachineDirectory(), QString("/site/xdg/autostart"));
        qputenv("XDG_CONFIG_DIRS", "rel:/second");
        QCOMPARE(Autostart::DefaultMachineDirectory(), QString("/second/autostart"));
        qunsetenv("XDG_CONFIG_DIRS");
        QCOMPARE(Autostart::DefaultMachineDirectory(), QString("/etc/xdg/autostart"));
    }
};

QTEST_GUILESS_MAIN(TestAutostart)
#include "tst_autostart.moc"
