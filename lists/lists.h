#pragma once

#include "lists/DayCount.h"
#include "lists/RowChunks.h"
#include "lists/TextCollator.h"
#include "phone/isdntool.h"
#include "platform/PrivateFiles.h"

#include <QAbstractTableModel>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

#include <climits>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

class ListPrompts;
class SettingsStore;
struct GeneralSettings;
class TCalls;
class TListFiles;

// One stored call. dateTime is the day-count key text. The date and time columns are not
// stored: the call list formats them from the key with the settings DateFormat and TimeFormat
// when they are asked for (TCallList::text), so a list of 100,000 calls loads without
// formatting 200,000 texts nobody looks at.
struct CallRow
{
    enum Column
    {
        DateTime,
        Date,
        Time,
        Number,
        Nickname,
        Town,
        Target,
        Status,
        ColumnCount
    };
    QString dateTime, number, nickname, town, target, status;
    // The call that added the row while the program runs (0: a row read from the file). Not
    // stored; it finds the row again whatever sorting or a language switch did to it.
    quint64 callId = 0;

    // The stored text of a column; nullptr for the date and the time.
    const QString *field(int c) const;
    QString *field(int c);
    // Compares what is stored.
    bool operator==(const CallRow &other) const
    {
        return dateTime == other.dateTime && number == other.number &&
               nickname == other.nickname && town == other.town && target == other.target &&
               status == other.status;
    }
};

// One phone-book entry. A number ending in "*" is a prefix entry.
struct NickRow
{
    enum Column
    {
        Nickname,
        Number,
        Sound,
        Action,
        ColumnCount
    };
    QString nickname, number, sound, action;

    const QString *field(int c) const;
    QString *field(int c);
    bool operator==(const NickRow &) const = default;
};

// One own MSN. Column 0 is the check-box column without text; unchecked means ignored.
struct MsnRow
{
    enum Column
    {
        Check,
        Msn,
        Nickname,
        Sound,
        Action,
        ColumnCount
    };
    bool checked = true;
    QString msn, nickname, sound, action;

    // nullptr for the check-box column.
    const QString *field(int c) const;
    QString *field(int c);
    bool operator==(const MsnRow &) const = default;
};

// Column captions in the given language (column 0 of the calls keeps its design caption).
QStringList callColumnCaptions(Language language);
QStringList nickColumnCaptions(Language language);
QStringList msnColumnCaptions(Language language);

// A list as a table model: rows of text columns, captions in the language in force. The lists
// dialog shows it; every change goes through the methods below so that views and look-up
// indexes follow. The caller saves the list after a change.
template <class Row> class TListModel : public QAbstractTableModel
{
public:
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    bool removeRows(int row, int count, const QModelIndex &parent = QModelIndex()) override;

    int count() const { return FRows.size(); }
    const Row &row(int index) const { return FRows.at(index); }
    // Copying the rows is cheap (a snapshot that shares them, see TRowChunks).
    const TRowChunks<Row> &rows() const { return FRows; }
    // The text of a cell as the lists dialog shows it.
    virtual QString text(int row, int column) const;
    // Views of one stored column's texts, valid until the list changes (for sorting).
    std::vector<QStringView> columnTexts(int column) const;

    void setRows(QList<Row> rows);
    void appendRow(const Row &row);
    // Inserts the row before index (count() appends). The caller tells whether the rows are
    // still in the order they were sorted by.
    void insertRow(int index, const Row &row, bool keepsSortOrder);
    void setRow(int index, const Row &row);
    // Sets a stored column; derived columns are left alone.
    void setText(int row, int column, const QString &text);
    void clear();
    // order[i] is the old index of the row that goes to place i.
    void reorder(const std::vector<int> &order);

    Language language() const { return FLanguage; }
    void setLanguage(Language language);

    // The sort key the rows are known to be in (set by the lists after sorting, dropped by
    // any change that may break the order), or NotSorted.
    static constexpr int NotSorted = INT_MIN;
    // The column a sort key orders by (a change elsewhere keeps the order); -1 for none.
    virtual int sortColumn(int key) const = 0;
    int sortedBy() const { return FSortedBy; }
    void setSortedBy(int key) { FSortedBy = key; }

protected:
    virtual QStringList captions() const = 0;
    virtual void rowsChanged() {}
    void changed()
    {
        FSortedBy = NotSorted;
        rowsChanged();
    }

    TRowChunks<Row> FRows;
    Language FLanguage = Language::German;
    int FSortedBy = NotSorted;
};

// The call list. The date and time columns are formatted from the key with the live settings
// and locale given to setFormats (empty without them). Owned by the lists; main thread only.
class TCallList : public TListModel<CallRow>
{
public:
    void setFormats(const GeneralSettings *settings, const QLocale &locale);
    QString text(int row, int column) const override;

    // Keys of magnitude 0 or 1 order by the date-time key, which the date and time show.
    int sortColumn(int key) const override { return std::abs(key) <= 1 ? 0 : std::abs(key); }

protected:
    QStringList captions() const override { return callColumnCaptions(FLanguage); }

private:
    DayCountFormatter &formatter() const;

    const GeneralSettings *FSettings = nullptr;
    QLocale FLocale;
    mutable std::unique_ptr<DayCountFormatter> FFormatter;
    mutable DateTimeFormat FDateFormat, FTimeFormat;
};

// The nickname list with indexes for the number and prefix look-ups, rebuilt after a change.
// Owned by the lists; main thread only.
class TNickList : public TListModel<NickRow>
{
public:
    // First row whose number equals the number exactly; -1 when none.
    int FindNickByNumber(const QString &number) const;
    // First prefix entry ("12*") whose prefix begins the number; "*" alone never matches.
    int FindNickByPrefix(const QString &number) const;
    bool NickExists(const QString &nickname) const;
    int sortColumn(int key) const override
    {
        return key == 0 || std::abs(key) == 100 ? 0 : std::abs(key);
    }

protected:
    QStringList captions() const override { return nickColumnCaptions(FLanguage); }
    void rowsChanged() override { FIndexed = false; }

private:
    void rebuildIndex() const;

    mutable bool FIndexed = false;
    mutable QHash<QString, int> FByNumber;
    mutable QHash<QString, int> FByPrefix;
    mutable QHash<QString, int> FByNickname;
    mutable qsizetype FLongestPrefix = 0;
};

// The MSN list; the check box of column 0 is editable through setData(CheckStateRole), which
// emits checkedChanged so that the list gets saved. Owned by the lists; main thread only.
class TMsnList : public TListModel<MsnRow>
{
    Q_OBJECT
public:
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    int FindMsn(const QString &msn) const;
    void setChecked(int row, bool checked);
    int sortColumn(int) const override { return -1; } // never sorted

signals:
    void checkedChanged(int row);

protected:
    QStringList captions() const override { return msnColumnCaptions(FLanguage); }
    void rowsChanged() override { FIndexed = false; }

private:
    mutable bool FIndexed = false;
    mutable QHash<QString, int> FByMsn;
};

enum class ListKind
{
    Calls,
    Nicks,
    Msn
};

// The three persistent lists with the look-ups and updates the call handling, the lookup
// threads, the lists dialog and the nickname editor use, their sort orders, the language of
// their stored words, and their files (directory/"Calls", "Nicks", "MSN").
//
// Owned by the lists dialog (created with it at start-up, living until the end); main thread
// only. The settings store and the prompts must outlive it.
class TLists
{
public:
    TLists(SettingsStore &settings, ListPrompts &prompts, const QString &directory,
           const QLocale &locale = QLocale::system());
    ~TLists();

    TCallList &calls() { return FCalls; }
    TNickList &nicks() { return FNicks; }
    TMsnList &msns() { return FMsns; }
    const TCallList &calls() const { return FCalls; }
    const TNickList &nicks() const { return FNicks; }
    const TMsnList &msns() const { return FMsns; }
    SettingsStore &settings() { return FSettings; }
    ListPrompts &prompts() { return FPrompts; }
    const TextCollator &collator() const { return FCollator; }

    // Look-ups; -1 means not found.
    int FindNickByNumber(const QString &number) const { return FNicks.FindNickByNumber(number); }
    int FindNickByPrefix(const QString &number) const { return FNicks.FindNickByPrefix(number); }
    bool NickExists(const QString &nickname) const { return FNicks.NickExists(nickname); }
    int FindMsn(const QString &msn) const { return FMsns.FindMsn(msn); }
    bool MsnIgnored(int index) const;
    bool MsnStoreFlag(int index) const;
    bool MsnPopupFlag(int index) const;
    bool MsnRejectAllFlag(int index) const;
    bool MsnRejectNotSubmittedFlag(int index) const;
    // True when no row has exactly this number (prefix entries are not consulted).
    bool NickStoreFlag(const QString &number) const;
    bool NickPopupFlag(const QString &number) const;
    // False for an index outside the list, so -1 may be passed.
    bool NickRejectAllFlag(int index) const;

    // A nickname entry's name for the calls: names every call whose number begins with the
    // number (a trailing "*" removed) and the newest pending call when its caller begins with
    // it, then saves the call list. Returns true when the pending call changed (the popup
    // shows it again). Nothing happens for an empty nickname, an empty number or "*" alone.
    bool ApplyNicknameToCalls(const QString &nickname, const QString &number,
                              TCalls *pending = nullptr);
    // A name found for a number (a lookup): names the calls of exactly that number, then
    // saves the call list. Nothing happens for an empty name or number.
    void NameCallsFromNumber(const QString &name, const QString &number);
    // The call row with this date-time key added by this call, or -1; quick while the list is
    // sorted by the date-time key.
    int FindCall(const QString &dateTime, quint64 callId) const;
    // Column "Status" of a call row; false for a bad index. A list sorted by the status moves
    // the row to its place. The caller saves the list.
    bool SetCallStatus(int index, const QString &text);
    // The action text of the nickname editor's four boxes, in the language in force.
    QString BuildActionText(bool log, bool popup, bool reject, bool rejectNotSubmitted) const;

    // Adds a call row for a call at `when`: its key (the date and time columns follow from
    // it), " " for an empty nickname or town, status " ". A sorted list gets the row at its
    // place and stays sorted; otherwise it is appended. Returns its index. The caller saves.
    int AddCall(const QDateTime &when, const QString &number, const QString &nickname,
                const QString &town, const QString &target, quint64 callId = 0);

    // Sorting. The call key k: |k| <= 1 compares the date-time keys, else column |k|; the
    // nickname key: 0 and |k| = 100 compare nicknames, else column |k|. Negative sorts
    // ascending, positive descending. Both keys live in the settings store.
    void SortCalls(int key);
    void SortNicks(int key);
    void SortCalls(); // by the stored key
    void SortNicks();
    // The key a click on a column header chooses (the current key for an empty list).
    int CallsClickSortKey(int column) const;
    int NicksClickSortKey(int column) const;
    // A column-header click: re-reads SortDebug, sorts by the new key and writes all settings.
    bool CallsColumnClick(int column);
    bool NicksColumnClick(int column);

    // The language of captions and stored words. SetLanguage also converts the words already
    // stored (not-transmitted numbers, status words, action texts); the lists are not saved.
    Language language() const { return FLanguage; }
    void SetLanguage(Language language);
    void ConvertListWords();

    // Files.
    QString directory() const { return FDirectory; }
    QString fileName(ListKind kind) const;
    bool LoadList(ListKind kind);
    // Tells the user when others could change the files in the directory (replace a list,
    // plant a name beside it); called once at start. `uid` is the user's own.
    void WarnIfDirectoryShared(uint uid,
                               const std::function<bool(const QString &)> &unixPermissions =
                                   PrivateFiles::hasUnixPermissions);
    // Saves and waits for the file (and the answers to its questions).
    bool SaveList(ListKind kind);
    // Saves in the background from a snapshot of the rows as they are now; the file is
    // current shortly after (see TListFiles). Every change of a list while the program runs
    // is saved this way.
    void RequestSave(ListKind kind);
    // Waits for the saves asked for; false when one ended with Abort.
    bool WaitForSaves();
    TListFiles &files() { return *FFiles; }
    // Start-up: calls, then nicknames, then the MSN list, from the old ini section when the
    // settings still have one (saved to the MSN file at once), else from its file. False when
    // a list could not be loaded (the program ends).
    bool LoadAtStartup();
    // Shut-down: writes every list whose file does not exist.
    void SaveMissingLists();

    // The clock for call keys and purging old calls; tests set a fixed one.
    std::function<QDateTime()> now = [] { return QDateTime::currentDateTime(); };

private:
    int insertCall(const CallRow &row);
    // Names every call whose number matches; true when a row changed.
    bool renameCalls(const QString &nickname, const std::function<bool(const QString &)> &matches);
    void setCallText(int index, int column, const QString &text);

    SettingsStore &FSettings;
    ListPrompts &FPrompts;
    QString FDirectory;
    TextCollator FCollator;
    Language FLanguage = Language::German;
    TCallList FCalls;
    TNickList FNicks;
    TMsnList FMsns;
    std::unique_ptr<TListFiles> FFiles;
};
