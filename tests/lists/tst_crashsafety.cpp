// A save killed at any moment leaves the list or its backup complete. A child process saves
// a large list again and again with growing content; the parent kills it at random moments and
// then checks that the list and, where present, its backup load as complete files of one of
// the versions written.

#include "lists/ListFiles.h"
#include "lists/ListPrompts.h"
#include "lists/lists.h"
#include "settings/SettingsStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstring>

namespace {

constexpr int RowsPerVersion = 2000;

QList<CallRow> rowsOfVersion(int version)
{
    QList<CallRow> rows;
    for (int i = 0; i < RowsPerVersion + version; ++i) {
        CallRow row;
        row.dateTime = QString::number(40000 + i);
        row.number = QString::number(version);
        row.nickname = QStringLiteral("Nick %1").arg(i);
        row.town = QStringLiteral("Town");
        row.target = QStringLiteral("Office");
        row.status = QStringLiteral("answered");
        rows.append(row);
    }
    return rows;
}

// Child: saves versions 1, 2, 3, ... until it is killed; tells the parent after the first.
int saveForever(const QString &dir)
{
    SettingsStore settings(dir + "/corvane.ini");
    ScriptedPrompts prompts;
    TLists lists(settings, prompts, dir, QLocale::c());
    for (int version = 1;; ++version) {
        lists.calls().setRows(rowsOfVersion(version));
        if (!lists.SaveList(ListKind::Calls)) return 1;
        if (version == 1) {
            fputs("saved\n", stdout);
            fflush(stdout);
        }
    }
}

// A complete file of one version: every row there and of the same version.
bool isComplete(const QString &dir, const QString &file, QString *why)
{
    SettingsStore settings(dir + "/check.ini");
    ScriptedPrompts prompts;
    TLists lists(settings, prompts, dir, QLocale::c());
    if (!lists.files().LoadCalls(file) || !prompts.fileErrors.isEmpty()) {
        *why = file + " does not load";
        return false;
    }
    const int count = lists.calls().count();
    if (count <= RowsPerVersion) {
        *why = file + QStringLiteral(" has %1 rows").arg(count);
        return false;
    }
    const QString version = QString::number(count - RowsPerVersion);
    for (const CallRow &row : lists.calls().rows()) {
        if (row.number != version) {
            *why = file + " mixes versions";
            return false;
        }
    }
    return true;
}

} // namespace

class TestCrashSafety : public QObject
{
    Q_OBJECT

private slots:
    void killedSavesLeaveCompleteFiles();
};

void TestCrashSafety::killedSavesLeaveCompleteFiles()
{
    QRandomGenerator random(20251209);
    for (int round = 0; round < 25; ++round) {
        QTemporaryDir dir;
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {"--save-forever", dir.path()});
        QVERIFY(child.waitForStarted());
        QVERIFY(child.waitForReadyRead(30000));
        QTest::qSleep(random.bounded(1, 120));
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished());

        const QString calls = dir.path() + "/Calls";
        QString why;
        QVERIFY2(QFile::exists(calls), "the list is gone");
        QVERIFY2(isComplete(dir.path(), calls, &why), qPrintable(why));
        if (QFile::exists(calls + ".bak"))
            QVERIFY2(isComplete(dir.path(), calls + ".bak", &why), qPrintable(why));
    }
}

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--save-forever") == 0) {
        QCoreApplication app(argc, argv);
        return saveForever(QString::fromLocal8Bit(argv[2]));
    }
    QCoreApplication app(argc, argv);
    TestCrashSafety test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_crashsafety.moc"
