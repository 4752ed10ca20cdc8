#pragma once

#include "lists/ListWriter.h"
#include "lists/lists.h"
#include "phone/isdntool.h"

#include <QByteArray>
#include <QLocale>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

// The text format of the list files "Calls", "Nicks" and "MSN": a header line with the version
// of the writer, a caption line, then one line per row with every field followed by the
// separator (";" since version 2.6, BEL before and in files without header). Parsing and
// formatting are pure functions; TListFiles adds the files, backups and questions.
namespace ListFormat {

// Written as major * 65536 + minor of the program version.
int version();
extern const QString HeaderMarker; // " # DO NOT EDIT / NICHT VERAENDERN/LOESCHEN!!"
constexpr int FirstSemicolonVersion = 131078;

// Lines end at CR, LF or CR LF; a final line end does not start another line.
std::vector<QByteArrayView> splitLines(QByteArrayView text);

struct CallsOptions
{
    bool clearCalls = false;
    int clearCallDays = 10;
    double now = 0; // day count
};

struct CallsResult
{
    bool ok = false;
    QString error;
    int steps = 0;
    QList<CallRow> rows;        // also the rows read before a failure
    QStringList purged;         // lines for the archive, the last one read first
    QList<CallRow> purgedRows;  // the same calls as rows, in case the archive cannot be written
    bool keyCommaFixed = false; // a key had "," as decimal mark: rewrite the file
    bool keysAscending = false; // the keys are digits and "." in ascending text order
};
// The parsers take the file's bytes: UTF-8, or Windows-1252 when they are not valid UTF-8.
CallsResult parseCalls(QByteArrayView bytes, const CallsOptions &options);

struct NicksResult
{
    bool ok = false;
    QString error;
    int steps = 0;
    QList<NickRow> rows;
};
// A file without header gets the store and popup words of `language` as action text.
NicksResult parseNicks(QByteArrayView bytes, Language language);

struct MsnResult
{
    bool ok = false;
    QString error;
    int steps = 0;
    QList<MsnRow> rows;
};
MsnResult parseMsn(QByteArrayView bytes);

// The regional formats of the date and time fields written into the calls file (never read
// back): the locale's short date and long time formats, without a time zone.
struct FileFormats
{
    QLocale locale;
    QString dateFormat;
    QString timeFormat;
    static FileFormats fromLocale(const QLocale &locale);
};

// The whole file, rows in the given order (indexes into rows). Safe in any thread.
QByteArray formatCalls(const TRowChunks<CallRow> &rows, const std::vector<int> &order,
                       Language language, const FileFormats &formats, int *steps = nullptr);
QByteArray formatNicks(const TRowChunks<NickRow> &rows, const std::vector<int> &order,
                       Language language, int *steps = nullptr);
QByteArray formatMsn(const TRowChunks<MsnRow> &rows, Language language, int *steps = nullptr);
QByteArray formatCalls(const QList<CallRow> &rows, const std::vector<int> &order, Language language,
                       const FileFormats &formats, int *steps = nullptr);
QByteArray formatNicks(const QList<NickRow> &rows, const std::vector<int> &order, Language language,
                       int *steps = nullptr);
QByteArray formatMsn(const QList<MsnRow> &rows, Language language, int *steps = nullptr);

} // namespace ListFormat

// Loading and saving the three list files of a TLists, with the ".bak" backup before every
// save, the archive "Calls.old", dated copies of damaged files and the Abort / Retry / Ignore
// questions. A save writes a temporary file, flushes it to disk and renames it over the list,
// so a crash at any moment leaves the list or its backup complete; a backup is only made from
// a file that was read or written completely.
//
// Saves run in the list writer's thread from a snapshot of the rows taken when the save is
// asked for (RequestSave), so nobody waits for the disk; a save that fails is reported on the
// main thread, where the questions are asked, and the rows stay in memory meanwhile.
//
// Owned by its TLists; main thread only. Long call lists are parsed and formatted with the help
// of one more thread, which always ends before the call returns.
class TListFiles
{
public:
    explicit TListFiles(TLists &lists);
    ~TListFiles();

    // Saves the list in the background; a newer request replaces one not yet started.
    void RequestSave(ListKind kind, const QString &fileName);
    // Waits for every save asked for so far and answers the questions of those that failed
    // (Retry waits for that save too). False when one of them ended with Abort.
    bool WaitForSaves();
    bool SavesPending() const { return FWriter->Busy(); }
    const TListWriter &writer() const { return *FWriter; }
    TListWriter &writer() { return *FWriter; }

    bool LoadCalls(const QString &fileName);
    bool LoadNicks(const QString &fileName);
    bool LoadMsn(const QString &fileName);
    // Save and wait. True also after Ignore; false after Abort.
    bool SaveCalls(const QString &fileName);
    bool SaveNicks(const QString &fileName);
    bool SaveMsn(const QString &fileName);

    // The companions of a list file: "Calls.bak", "Calls.old", "Calls.09.12.2025_18.00.00".
    static QString backupName(const QString &fileName);
    static QString archiveName(const QString &fileName);
    QString datedCopyName(const QString &fileName) const;

    // Files larger than this are not read (they would not fit a phone's lifetime of calls).
    static constexpr qint64 MaxFileSize = qint64(256) << 20;

    ListFormat::FileFormats fileFormats;

private:
    // In the writer's thread.
    TListWriter::Result writeList(ListKind kind, const QString &fileName,
                                  const std::function<QByteArray(int *steps)> &build);
    // On the main thread.
    void HandleResults();
    void handleResult(const TListWriter::Result &result);
    bool saveNow(ListKind kind, const QString &fileName);
    bool askAboutLoad(ListKind kind, const QString &fileName, const QString &text, bool *retry);
    // Asks about a symbolic link at the list's name, which is never read through. Empty when
    // there is none (any more), else whether loading may go on without the list.
    std::optional<bool> askAboutLink(ListKind kind, const QString &fileName);
    bool keepDatedCopy(const QString &fileName);
    bool writeArchive(const QString &fileName, const QStringList &purged);
    QString text(QStringView message) const;

    TLists &FLists;
    // Per list: the file on disk was read or written completely, so it may become the backup.
    std::atomic<bool> FTrusted[3] = {true, true, true};
    // Per list: how its last save ended (true also after Ignore); empty while it runs.
    std::optional<bool> FOutcome[3];
    bool FHandling = false;
    QObject FNotices; // the writer's notices arrive in the main thread through it
    std::unique_ptr<TListWriter> FWriter;
};
