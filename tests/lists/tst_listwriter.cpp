// The list writer and the chunked rows it takes its snapshots of: saves in the background
// write the rows as they were when asked for, bursts of requests are merged, failures are
// asked about on the main thread with the rows kept, and the chunks behave as one list.

#include "lists/ListFiles.h"
#include "lists/ListPrompts.h"
#include "lists/RowChunks.h"
#include "lists/lists.h"
#include "platform/AtomicFile.h"
#include "settings/SettingsStore.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <numeric>
#include <random>

namespace {

CallRow call(int i)
{
    return CallRow{QString::number(45000 + i),
                   QStringLiteral("0301%1").arg(i),
                   " ",
                   "Berlin",
                   "Office",
                   "answered"};
}

// Notes the thread each question is asked in.
class ThreadNotingPrompts : public ScriptedPrompts
{
public:
    QThread *askedIn = nullptr;
    Answer askFileError(const QString &text) override
    {
        askedIn = QThread::currentThread();
        return ScriptedPrompts::askFileError(text);
    }
};

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestListWriter : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> FDir;
    std::unique_ptr<SettingsStore> FSettings;
    ThreadNotingPrompts FPrompts;
    std::unique_ptr<TLists> FLists;

    QString callsFile() const { return FLists->fileName(ListKind::Calls); }
    qint64 rewrites() const { return FLists->files().writer().Rewrites; }

private slots:
    void init()
    {
        FDir = std::make_unique<QTemporaryDir>();
        FSettings = std::make_unique<SettingsStore>(FDir->filePath("corvane.ini"));
        FPrompts = ThreadNotingPrompts();
        FLists = std::make_unique<TLists>(*FSettings, FPrompts, FDir->path(), QLocale::c());
        FLists->SetLanguage(Language::English);
    }

    void cleanup()
    {
        AtomicFile::setFaultHook(nullptr);
        FLists.reset();
        FSettings.reset();
        FDir.reset();
    }

    void chunksBehaveAsOneList()
    {
        // Random inserts, removals and reorders across chunk borders, against a plain list;
        // a snapshot taken on the way keeps what it saw.
        QRandomGenerator random(7);
        QList<int> plain;
        TRowChunks<int> chunks;
        TRowChunks<int> snapshot;
        QList<int> atSnapshot;
        for (int step = 0; step < 4000; ++step) {
            const int what = int(random.bounded(10));
            if (what < 6 || plain.size() < 2000) {
                const int at = int(random.bounded(plain.size() + 1));
                plain.insert(at, step);
                chunks.insert(at, step);
            } else if (what < 9) {
                const int at = int(random.bounded(plain.size()));
                const int n = std::min(int(random.bounded(1, 700)), int(plain.size()) - at);
                plain.remove(at, n);
                chunks.remove(at, n);
            } else {
                std::vector<int> order(size_t(plain.size()));
                std::iota(order.begin(), order.end(), 0);
                std::shuffle(order.begin(), order.end(), std::mt19937(step));
                QList<int> reordered;
                for (int from : order)
                    reordered.append(plain.at(from));
                plain = reordered;
                chunks.reorder(order);
            }
            if (step == 2500) {
                snapshot = chunks;
                atSnapshot = plain;
            }
            if (step % 500 == 0 || step == 3999) {
                QCOMPARE(chunks.size(), int(plain.size()));
                QCOMPARE(chunks.toList(), plain);
                QList<int> iterated(chunks.begin(), chunks.end());
                QCOMPARE(iterated, plain);
                for (int i = 0; i < plain.size(); i += 97)
                    QCOMPARE(chunks.at(i), plain.at(i));
            }
        }
        QVERIFY(chunks.chunkCount() > 1);
        QCOMPARE(snapshot.toList(), atSnapshot);
        chunks[0] = -1; // a change after the snapshot stays out of it
        QCOMPARE(snapshot.toList(), atSnapshot);
    }

    void aSnapshotIsWrittenAsItWas()
    {
        FLists->calls().setRows({call(1), call(2)});
        FLists->RequestSave(ListKind::Calls);
        // Changed before the writer starts, without a new request: not in this save.
        FLists->calls().appendRow(call(3));
        FLists->calls().setText(0, CallRow::Status, "busy");
        QVERIFY(FLists->WaitForSaves());
        QByteArray written = readFile(callsFile());
        QVERIFY(written.contains(";03012;"));
        QVERIFY(!written.contains(";03013;"));
        QVERIFY(!written.contains("busy"));

        FLists->RequestSave(ListKind::Calls);
        QVERIFY(FLists->WaitForSaves());
        written = readFile(callsFile());
        QVERIFY(written.contains(";03013;") && written.contains("busy"));
    }

    void theFileIsCurrentSoonWithoutWaiting()
    {
        FLists->calls().setRows({call(1)});
        FLists->RequestSave(ListKind::Calls);
        QTRY_VERIFY_WITH_TIMEOUT(readFile(callsFile()).contains(";03011;"), 1000);
    }

    void aBurstOfRequestsIsOneRewrite()
    {
        QList<CallRow> rows;
        for (int i = 0; i < 20000; ++i)
            rows.append(call(i));
        FLists->calls().setRows(rows);
        const qint64 before = rewrites();
        // However slow the machine, the requests come within the writer's wait.
        FLists->files().writer().Delay = std::chrono::seconds(30);
        for (int i = 0; i < 50; ++i) {
            FLists->calls().appendRow(call(100000 + i));
            FLists->RequestSave(ListKind::Calls);
        }
        QVERIFY(FLists->WaitForSaves());
        QCOMPARE(rewrites() - before, 1);
        QVERIFY(readFile(callsFile()).contains(";0301100049;"));
        QVERIFY(FLists->files().writer().BytesWritten > 20000 * 40);
    }

    void aFailedBackgroundSaveAsksOnTheMainThreadAndKeepsTheRows()
    {
        FLists->calls().setRows({call(1)});
        QVERIFY(FLists->SaveList(ListKind::Calls));
        int failures = 1;
        AtomicFile::setFaultHook([&failures](AtomicFile::Stage stage) {
            return stage != AtomicFile::Stage::Write || failures-- <= 0;
        });
        FPrompts.fileErrorAnswers = {ListPrompts::Answer::Retry};
        FLists->calls().appendRow(call(2));
        FLists->RequestSave(ListKind::Calls);
        // Nobody waits: the question comes through the event loop, and Retry writes.
        QTRY_COMPARE(FPrompts.fileErrors.size(), 1);
        QCOMPARE(FPrompts.askedIn, QThread::currentThread());
        QVERIFY(FPrompts.fileErrors.first().startsWith("Error saving file with incoming calls: "));
        QTRY_VERIFY(readFile(callsFile()).contains(";03012;"));
        QCOMPARE(FLists->calls().count(), 2);

        // Abort: the rows stay in memory, and the next change writes them all.
        failures = 1;
        FPrompts.fileErrorAnswers = {ListPrompts::Answer::Abort};
        FPrompts.restoreAnswers = {false};
        FLists->calls().appendRow(call(3));
        FLists->RequestSave(ListKind::Calls);
        QVERIFY(!FLists->WaitForSaves());
        QVERIFY(!readFile(callsFile()).contains(";03013;"));
        FLists->calls().appendRow(call(4));
        FLists->RequestSave(ListKind::Calls);
        QVERIFY(FLists->WaitForSaves());
        const QByteArray written = readFile(callsFile());
        QVERIFY(written.contains(";03013;") && written.contains(";03014;"));
    }

    void endingWritesWhatWasAskedFor()
    {
        FLists->calls().setRows({call(1)});
        FLists->RequestSave(ListKind::Calls);
        FLists->nicks().setRows({NickRow{"Anna", "0301", "", "log|"}});
        FLists->RequestSave(ListKind::Nicks);
        FLists.reset(); // no wait, no event loop: the writer still finishes
        QVERIFY(readFile(FDir->filePath("Calls")).contains(";03011;"));
        QVERIFY(readFile(FDir->filePath("Nicks")).contains("Anna;0301;"));
    }
};

QTEST_GUILESS_MAIN(TestListWriter)
#include "tst_listwriter.moc"
