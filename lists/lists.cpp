#include "lists/lists.h"

#include "lists/Calls.h"
#include "lists/DayCount.h"
#include "lists/ListFiles.h"
#include "lists/ListPrompts.h"
#include "lists/lang.h"
#include "settings/SettingsStore.h"

#include <QDebug>
#include <QFileInfo>

#include <algorithm>

namespace {

const QString Blank = QStringLiteral(" ");

} // namespace

const QString *CallRow::field(int c) const
{
    return const_cast<CallRow *>(this)->field(c);
}

QString *CallRow::field(int c)
{
    switch (c) {
    case DateTime:
        return &dateTime;
    case Number:
        return &number;
    case Nickname:
        return &nickname;
    case Town:
        return &town;
    case Target:
        return &target;
    case Status:
        return &status;
    default:
        return nullptr;
    }
}

const QString *NickRow::field(int c) const
{
    return const_cast<NickRow *>(this)->field(c);
}

QString *NickRow::field(int c)
{
    switch (c) {
    case Nickname:
        return &nickname;
    case Number:
        return &number;
    case Sound:
        return &sound;
    case Action:
        return &action;
    default:
        return nullptr;
    }
}

const QString *MsnRow::field(int c) const
{
    return const_cast<MsnRow *>(this)->field(c);
}

QString *MsnRow::field(int c)
{
    switch (c) {
    case Msn:
        return &msn;
    case Nickname:
        return &nickname;
    case Sound:
        return &sound;
    case Action:
        return &action;
    default:
        return nullptr;
    }
}

static QStringList columnCaptions(QStringView view, int count, Language language)
{
    QStringList result;
    for (int c = 0; c < count; ++c)
        result.append(UiText(UiForm::Lists,
                             view.toString() + QStringLiteral(".Col") + QString::number(c),
                             language));
    return result;
}

// The views ask for captions on every paint; the texts are fixed per language.
QStringList callColumnCaptions(Language language)
{
    static const QStringList german =
        columnCaptions(u"lvCalls", CallRow::ColumnCount, Language::German);
    static const QStringList english =
        columnCaptions(u"lvCalls", CallRow::ColumnCount, Language::English);
    return language == Language::English ? english : german;
}

QStringList nickColumnCaptions(Language language)
{
    static const QStringList german =
        columnCaptions(u"lvNicks", NickRow::ColumnCount, Language::German);
    static const QStringList english =
        columnCaptions(u"lvNicks", NickRow::ColumnCount, Language::English);
    return language == Language::English ? english : german;
}

QStringList msnColumnCaptions(Language language)
{
    static const QStringList german =
        columnCaptions(u"lvMSN", MsnRow::ColumnCount, Language::German);
    static const QStringList english =
        columnCaptions(u"lvMSN", MsnRow::ColumnCount, Language::English);
    return language == Language::English ? english : german;
}

template <class Row> int TListModel<Row>::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

template <class Row> int TListModel<Row>::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(Row::ColumnCount);
}

template <class Row> QVariant TListModel<Row>::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= count() || index.column() >= int(Row::ColumnCount))
        return QVariant();
    if (role == Qt::DisplayRole || role == Qt::EditRole) return text(index.row(), index.column());
    return QVariant();
}

template <class Row> QString TListModel<Row>::text(int row, int column) const
{
    if (row < 0 || row >= count()) return QString();
    const QString *field = FRows.at(row).field(column);
    return field ? *field : QString();
}

template <class Row>
QVariant TListModel<Row>::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= int(Row::ColumnCount))
        return QVariant();
    return captions().at(section);
}

template <class Row> bool TListModel<Row>::removeRows(int row, int count, const QModelIndex &parent)
{
    if (parent.isValid() || row < 0 || count <= 0 || row + count > this->count()) return false;
    beginRemoveRows(QModelIndex(), row, row + count - 1);
    FRows.remove(row, count);
    endRemoveRows();
    rowsChanged(); // what remains keeps its order
    return true;
}

template <class Row> std::vector<QStringView> TListModel<Row>::columnTexts(int column) const
{
    std::vector<QStringView> texts;
    texts.reserve(size_t(FRows.size()));
    FRows.forEach([&texts, column](const Row &row) {
        const QString *field = row.field(column);
        texts.push_back(field ? QStringView(*field) : QStringView());
    });
    return texts;
}

template <class Row> void TListModel<Row>::setRows(QList<Row> rows)
{
    beginResetModel();
    FRows.assign(std::move(rows));
    endResetModel();
    changed();
}

template <class Row> void TListModel<Row>::appendRow(const Row &row)
{
    insertRow(count(), row, false);
}

template <class Row> void TListModel<Row>::insertRow(int index, const Row &row, bool keepsSortOrder)
{
    index = std::clamp(index, 0, count());
    beginInsertRows(QModelIndex(), index, index);
    FRows.insert(index, row);
    endInsertRows();
    if (keepsSortOrder)
        rowsChanged();
    else
        changed();
}

template <class Row> void TListModel<Row>::setRow(int index, const Row &row)
{
    if (index < 0 || index >= count()) return;
    FRows[index] = row;
    emit this->dataChanged(this->index(index, 0), this->index(index, Row::ColumnCount - 1));
    changed();
}

template <class Row> void TListModel<Row>::setText(int row, int column, const QString &text)
{
    if (row < 0 || row >= count() || column < 0 || column >= int(Row::ColumnCount)) return;
    const QString *current = FRows.at(row).field(column);
    if (!current || *current == text) return;
    *FRows[row].field(column) = text;
    const QModelIndex at = this->index(row, column);
    emit this->dataChanged(at, at);
    // A column the rows are not sorted by leaves them in order.
    if (FSortedBy != NotSorted && sortColumn(FSortedBy) != column)
        rowsChanged();
    else
        changed();
}

template <class Row> void TListModel<Row>::clear()
{
    setRows({});
}

template <class Row> void TListModel<Row>::reorder(const std::vector<int> &order)
{
    Q_ASSERT(order.size() == size_t(count()));
    bool identity = true;
    for (size_t i = 0; identity && i < order.size(); ++i)
        identity = order[i] == int(i);
    if (identity) return;

    emit this->layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> newPlace(order.size());
    for (size_t i = 0; i < order.size(); ++i)
        newPlace[size_t(order[i])] = int(i);
    FRows.reorder(order);
    const QModelIndexList from = this->persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex &index : from)
        to.append(this->index(newPlace[size_t(index.row())], index.column()));
    this->changePersistentIndexList(from, to);
    emit this->layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    changed();
}

template <class Row> void TListModel<Row>::setLanguage(Language language)
{
    if (FLanguage == language) return;
    FLanguage = language;
    emit this->headerDataChanged(Qt::Horizontal, 0, Row::ColumnCount - 1);
}

template class TListModel<CallRow>;
template class TListModel<NickRow>;
template class TListModel<MsnRow>;

void TCallList::setFormats(const GeneralSettings *settings, const QLocale &locale)
{
    FSettings = settings;
    FLocale = locale;
    FFormatter.reset();
}

DayCountFormatter &TCallList::formatter() const
{
    // The settings may change while the program runs (options dialog cancelled).
    if (!FFormatter || FDateFormat != FSettings->dateFormat ||
        FTimeFormat != FSettings->timeFormat) {
        FDateFormat = FSettings->dateFormat;
        FTimeFormat = FSettings->timeFormat;
        FFormatter = std::make_unique<DayCountFormatter>(FLocale, FDateFormat, FTimeFormat);
    }
    return *FFormatter;
}

QString TCallList::text(int row, int column) const
{
    if (column != CallRow::Date && column != CallRow::Time) return TListModel::text(row, column);
    double key = 0;
    if (!FSettings || row < 0 || row >= count() ||
        !DayCount::parseKey(FRows.at(row).dateTime, &key))
        return QString();
    return column == CallRow::Date ? formatter().date(key) : formatter().time(key);
}

void TNickList::rebuildIndex() const
{
    if (FIndexed) return;
    FByNumber.clear();
    FByPrefix.clear();
    FByNickname.clear();
    FLongestPrefix = 0;
    for (int i = 0; i < count(); ++i) {
        const NickRow &row = FRows.at(i);
        FByNumber.insert(row.number, qMin(FByNumber.value(row.number, i), i));
        FByNickname.insert(row.nickname, i);
        if (row.number.size() > 1 && row.number.endsWith(u'*')) {
            const QString prefix = row.number.chopped(1);
            if (!FByPrefix.contains(prefix)) FByPrefix.insert(prefix, i);
            FLongestPrefix = qMax(FLongestPrefix, prefix.size());
        }
    }
    FIndexed = true;
}

int TNickList::FindNickByNumber(const QString &number) const
{
    rebuildIndex();
    return FByNumber.value(number, -1);
}

int TNickList::FindNickByPrefix(const QString &number) const
{
    rebuildIndex();
    // Only the beginnings of the number can be prefixes; the earliest row among them wins.
    int best = -1;
    const qsizetype longest = qMin(FLongestPrefix, number.size());
    for (qsizetype length = 1; length <= longest; ++length) {
        const auto it = FByPrefix.constFind(number.left(length));
        if (it != FByPrefix.constEnd() && (best < 0 || *it < best)) best = *it;
    }
    return best;
}

bool TNickList::NickExists(const QString &nickname) const
{
    rebuildIndex();
    return FByNickname.contains(nickname);
}

QVariant TMsnList::data(const QModelIndex &index, int role) const
{
    if (role == Qt::CheckStateRole && index.isValid() && index.column() == MsnRow::Check &&
        index.row() < count())
        return FRows.at(index.row()).checked ? Qt::Checked : Qt::Unchecked;
    return TListModel::data(index, role);
}

bool TMsnList::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::CheckStateRole || !index.isValid() || index.column() != MsnRow::Check ||
        index.row() >= count())
        return false;
    setChecked(index.row(), value.toInt() == Qt::Checked);
    return true;
}

Qt::ItemFlags TMsnList::flags(const QModelIndex &index) const
{
    Qt::ItemFlags f = TListModel::flags(index);
    if (index.isValid() && index.column() == MsnRow::Check) f |= Qt::ItemIsUserCheckable;
    return f;
}

int TMsnList::FindMsn(const QString &msn) const
{
    if (!FIndexed) {
        FByMsn.clear();
        for (int i = count() - 1; i >= 0; --i)
            FByMsn.insert(FRows.at(i).msn, i);
        FIndexed = true;
    }
    return FByMsn.value(msn, -1);
}

void TMsnList::setChecked(int row, bool checked)
{
    if (row < 0 || row >= count() || FRows.at(row).checked == checked) return;
    FRows[row].checked = checked;
    const QModelIndex at = index(row, MsnRow::Check);
    emit dataChanged(at, at, {Qt::CheckStateRole});
    emit checkedChanged(row);
}

TLists::TLists(SettingsStore &settings, ListPrompts &prompts, const QString &directory,
               const QLocale &locale)
    : FSettings(settings), FPrompts(prompts), FDirectory(directory), FCollator(locale),
      FFiles(std::make_unique<TListFiles>(*this))
{
    FCalls.setFormats(&settings.settings, locale);
}

TLists::~TLists() = default;

bool TLists::MsnIgnored(int index) const
{
    return index >= 0 && index < FMsns.count() && !FMsns.row(index).checked;
}

bool TLists::MsnStoreFlag(int index) const
{
    return index >= 0 && index < FMsns.count() && HasStoreFlag(FMsns.row(index).action);
}

bool TLists::MsnPopupFlag(int index) const
{
    return index >= 0 && index < FMsns.count() && HasPopupFlag(FMsns.row(index).action);
}

bool TLists::MsnRejectAllFlag(int index) const
{
    return index >= 0 && index < FMsns.count() && HasRejectAllFlag(FMsns.row(index).action);
}

bool TLists::MsnRejectNotSubmittedFlag(int index) const
{
    return index >= 0 && index < FMsns.count() &&
           HasRejectNotSubmittedFlag(FMsns.row(index).action);
}

bool TLists::NickStoreFlag(const QString &number) const
{
    const int index = FindNickByNumber(number);
    return index < 0 || HasStoreFlag(FNicks.row(index).action);
}

bool TLists::NickPopupFlag(const QString &number) const
{
    const int index = FindNickByNumber(number);
    return index < 0 || HasPopupFlag(FNicks.row(index).action);
}

bool TLists::NickRejectAllFlag(int index) const
{
    return index >= 0 && index < FNicks.count() && HasRejectAllFlag(FNicks.row(index).action);
}

bool TLists::ApplyNicknameToCalls(const QString &nickname, const QString &number, TCalls *pending)
{
    if (nickname.isEmpty() || number.isEmpty()) return false;
    QString prefix = number;
    if (prefix.endsWith(u'*')) prefix.chop(1);
    // "*" alone is no prefix entry: it would rename every call.
    if (prefix.isEmpty()) return false;
    renameCalls(nickname, [&prefix](const QString &caller) { return caller.startsWith(prefix); });
    bool pendingChanged = false;
    if (pending && pending->Count() > 0) {
        TCallRecord &newest = pending->Get(-1);
        if (newest.value(QStringLiteral("Caller")).startsWith(prefix)) {
            newest.setValue(QStringLiteral("NickName"), nickname);
            pendingChanged = true;
        }
    }
    RequestSave(ListKind::Calls);
    return pendingChanged;
}

void TLists::NameCallsFromNumber(const QString &name, const QString &number)
{
    if (name.isEmpty() || number.isEmpty()) return;
    if (renameCalls(name, [&number](const QString &caller) { return caller == number; }))
        RequestSave(ListKind::Calls);
}

bool TLists::renameCalls(const QString &nickname,
                         const std::function<bool(const QString &)> &matches)
{
    const int key = FCalls.sortedBy();
    if (key == TCallList::NotSorted || FCalls.sortColumn(key) != CallRow::Nickname) {
        bool changed = false;
        for (int i = 0; i < FCalls.count(); ++i) {
            if (!matches(FCalls.row(i).number) || FCalls.row(i).nickname == nickname) continue;
            FCalls.setText(i, CallRow::Nickname, nickname);
            changed = true;
        }
        return changed;
    }
    // Sorted by the nickname: renamed rows move, so they are taken out first (from the end,
    // so that the indexes still to visit stay) and put back at their new places.
    std::vector<CallRow> renamed;
    for (int i = FCalls.count() - 1; i >= 0; --i) {
        if (!matches(FCalls.row(i).number) || FCalls.row(i).nickname == nickname) continue;
        renamed.push_back(FCalls.row(i));
        FCalls.removeRows(i, 1);
    }
    for (auto it = renamed.rbegin(); it != renamed.rend(); ++it) {
        it->nickname = nickname;
        insertCall(*it);
    }
    return !renamed.empty();
}

bool TLists::SetCallStatus(int index, const QString &text)
{
    if (index < 0 || index >= FCalls.count()) return false;
    setCallText(index, CallRow::Status, text);
    return true;
}

void TLists::setCallText(int index, int column, const QString &text)
{
    const int key = FCalls.sortedBy();
    if (key == TCallList::NotSorted || FCalls.sortColumn(key) != column ||
        *FCalls.row(index).field(column) == text) {
        FCalls.setText(index, column, text);
        return;
    }
    // The column the list is sorted by: the row moves to its new place.
    CallRow row = FCalls.row(index);
    *row.field(column) = text;
    FCalls.removeRows(index, 1);
    insertCall(row);
}

int TLists::FindCall(const QString &dateTime, quint64 callId) const
{
    if (callId == 0) return -1;
    const int key = FCalls.sortedBy();
    if (key == TCallList::NotSorted || FCalls.sortColumn(key) != CallRow::DateTime) {
        // Newest rows first: they are the ones asked for.
        for (int i = FCalls.count() - 1; i >= 0; --i) {
            const CallRow &row = FCalls.row(i);
            if (row.callId == callId && row.dateTime == dateTime) return i;
        }
        return -1;
    }
    // The first row whose key does not sort before the one looked for, then its equals.
    const bool descending = key >= 0;
    int low = 0;
    int high = FCalls.count();
    while (low < high) {
        const int middle = low + (high - low) / 2;
        const int c = FCollator.compare(FCalls.row(middle).dateTime, dateTime);
        if (descending ? c > 0 : c < 0)
            low = middle + 1;
        else
            high = middle;
    }
    for (int i = low; i < FCalls.count() && FCalls.row(i).dateTime == dateTime; ++i)
        if (FCalls.row(i).callId == callId) return i;
    return -1;
}

int TLists::insertCall(const CallRow &row)
{
    const int key = FCalls.sortedBy();
    const int column = key == TCallList::NotSorted ? -1 : FCalls.sortColumn(key);
    if (column < 0 || column == CallRow::Date || column == CallRow::Time || FSettings.sortDebug) {
        FCalls.appendRow(row);
        return FCalls.count() - 1;
    }
    // After every row it does not sort before, as sorting the appended row would put it.
    const bool descending = key >= 0;
    const QString &text = *row.field(column);
    int low = 0;
    int high = FCalls.count();
    while (low < high) {
        const int middle = low + (high - low) / 2;
        const int c = FCollator.compare(*FCalls.row(middle).field(column), text);
        if (descending ? c < 0 : c > 0)
            high = middle;
        else
            low = middle + 1;
    }
    FCalls.insertRow(low, row, true);
    return low;
}

QString TLists::BuildActionText(bool log, bool popup, bool reject, bool rejectNotSubmitted) const
{
    return ::BuildActionText(log, popup, reject, rejectNotSubmitted, FLanguage);
}

int TLists::AddCall(const QDateTime &when, const QString &number, const QString &nickname,
                    const QString &town, const QString &target, quint64 callId)
{
    CallRow row;
    row.callId = callId;
    row.dateTime = DayCount::keyText(DayCount::fromDateTime(when));
    row.number = number;
    row.nickname = nickname.isEmpty() ? Blank : nickname;
    QString place = town;
    while (place.startsWith(u' '))
        place.remove(0, 1);
    row.town = place.isEmpty() ? Blank : place;
    row.target = target;
    row.status = Blank;
    return insertCall(row);
}

void TLists::SortCalls(int key)
{
    FSettings.listViews.callsSort = key;
    const int column = std::abs(key) <= 1 ? int(CallRow::DateTime) : std::abs(key);
    if (column >= CallRow::ColumnCount || FCalls.count() < 2 ||
        (FCalls.sortedBy() == key && !FSettings.sortDebug))
        return;
    const bool descending = key >= 0;
    const TRowChunks<CallRow> &rows = FCalls.rows();
    if (FSettings.sortDebug && column == CallRow::DateTime) {
        // Traces every comparison of two keys, for finding out why an order looks wrong.
        std::vector<int> order(size_t(rows.size()));
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = int(i);
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            const int c = FCollator.compare(rows.at(a).dateTime, rows.at(b).dateTime);
            qDebug().noquote() << (c < 0 ? "1 less 2" : "2 less 1");
            return descending ? c > 0 : c < 0;
        });
        FCalls.reorder(order);
        FCalls.setSortedBy(key);
        return;
    }
    if (column == CallRow::DateTime && descending && FCalls.sortedBy() == -1) {
        // Newest first from oldest first (a freshly loaded file): the reverse, with each run
        // of equal keys turned back so that equal keys keep their order.
        const int n = FCalls.count();
        std::vector<int> order(static_cast<size_t>(n));
        int out = 0;
        for (int end = n; end > 0;) {
            int begin = end - 1;
            while (begin > 0 && rows.at(begin - 1).dateTime == rows.at(end - 1).dateTime)
                --begin;
            for (int i = begin; i < end; ++i)
                order[size_t(out++)] = i;
            end = begin;
        }
        FCalls.reorder(order);
        FCalls.setSortedBy(key);
        return;
    }
    if (column == CallRow::Date || column == CallRow::Time) {
        // A sort by the formatted texts themselves (only a hand-edited key asks for it).
        std::vector<QString> texts;
        for (int i = 0; i < FCalls.count(); ++i)
            texts.push_back(FCalls.text(i, column));
        FCalls.reorder(
            FCollator.order(std::vector<QStringView>(texts.begin(), texts.end()), descending));
        return;
    }
    FCalls.reorder(FCollator.order(FCalls.columnTexts(column), descending));
    FCalls.setSortedBy(key);
}

void TLists::SortNicks(int key)
{
    FSettings.listViews.nicksSort = key;
    const int magnitude = key == 0 ? 100 : std::abs(key);
    const int column = magnitude == 100 ? int(NickRow::Nickname) : magnitude;
    if (column >= NickRow::ColumnCount || FNicks.count() < 2 || FNicks.sortedBy() == key) return;
    FNicks.reorder(FCollator.order(FNicks.columnTexts(column), key >= 0));
    FNicks.setSortedBy(key);
}

void TLists::SortCalls()
{
    SortCalls(FSettings.listViews.callsSort);
}

void TLists::SortNicks()
{
    SortNicks(FSettings.listViews.nicksSort);
}

int TLists::CallsClickSortKey(int column) const
{
    if (FCalls.count() == 0 || column < 0 || column >= CallRow::ColumnCount)
        return FSettings.listViews.callsSort;
    const CallRow &first = FCalls.row(0);
    const CallRow &last = FCalls.row(FCalls.count() - 1);
    if (column <= CallRow::Time)
        return FCollator.compare(last.dateTime, first.dateTime) < 0 ? -1 : 1;
    return FCollator.compare(*last.field(column), *first.field(column)) <= 0 ? -column : column;
}

int TLists::NicksClickSortKey(int column) const
{
    if (FNicks.count() == 0 || column < 0 || column >= NickRow::ColumnCount)
        return FSettings.listViews.nicksSort;
    const NickRow &first = FNicks.row(0);
    const NickRow &last = FNicks.row(FNicks.count() - 1);
    const int key = column == NickRow::Nickname ? 100 : column;
    return FCollator.compare(*last.field(column), *first.field(column)) <= 0 ? -key : key;
}

bool TLists::CallsColumnClick(int column)
{
    if (FCalls.count() == 0) return true;
    const int key = CallsClickSortKey(column);
    FSettings.readSortDebug();
    SortCalls(key);
    return FSettings.writeAll();
}

bool TLists::NicksColumnClick(int column)
{
    if (FNicks.count() == 0) return true;
    SortNicks(NicksClickSortKey(column));
    return FSettings.writeAll();
}

void TLists::SetLanguage(Language language)
{
    FLanguage = language;
    FCalls.setLanguage(language);
    FNicks.setLanguage(language);
    FMsns.setLanguage(language);
    ConvertListWords();
}

void TLists::ConvertListWords()
{
    for (int i = FCalls.count() - 1; i >= 0; --i) {
        const CallRow &row = FCalls.row(i);
        FCalls.setText(i, CallRow::Number, convertNumber(row.number, FLanguage));
        FCalls.setText(i, CallRow::Status, convertStatus(row.status, FLanguage));
    }
    for (int i = FNicks.count() - 1; i >= 0; --i)
        FNicks.setText(i, NickRow::Action, convertActionText(FNicks.row(i).action, FLanguage));
    for (int i = FMsns.count() - 1; i >= 0; --i)
        FMsns.setText(i, MsnRow::Action, convertActionText(FMsns.row(i).action, FLanguage));
}

QString TLists::fileName(ListKind kind) const
{
    switch (kind) {
    case ListKind::Calls:
        return FDirectory + QStringLiteral("/Calls");
    case ListKind::Nicks:
        return FDirectory + QStringLiteral("/Nicks");
    case ListKind::Msn:
        break;
    }
    return FDirectory + QStringLiteral("/MSN");
}

void TLists::WarnIfDirectoryShared(uint uid,
                                   const std::function<bool(const QString &)> &unixPermissions)
{
    const PrivateFiles::Exposure exposure =
        PrivateFiles::exposure(FDirectory, uid, unixPermissions);
    if (exposure == PrivateFiles::Exposure::Private) return;
    const QStringView name = exposure == PrivateFiles::Exposure::ForeignOwner
                                 ? u"DataDirForeignOwner"
                                 : u"DataDirWritableByOthers";
    FPrompts.inform(UiText(UiForm::Messages, name, FLanguage).arg(FDirectory));
}

bool TLists::LoadList(ListKind kind)
{
    // A save still under way would write the old rows over what is read now.
    FFiles->WaitForSaves();
    switch (kind) {
    case ListKind::Calls:
        return FFiles->LoadCalls(fileName(kind));
    case ListKind::Nicks:
        return FFiles->LoadNicks(fileName(kind));
    case ListKind::Msn:
        break;
    }
    return FFiles->LoadMsn(fileName(kind));
}

bool TLists::SaveList(ListKind kind)
{
    switch (kind) {
    case ListKind::Calls:
        return FFiles->SaveCalls(fileName(kind));
    case ListKind::Nicks:
        return FFiles->SaveNicks(fileName(kind));
    case ListKind::Msn:
        break;
    }
    return FFiles->SaveMsn(fileName(kind));
}

void TLists::RequestSave(ListKind kind)
{
    FFiles->RequestSave(kind, fileName(kind));
}

bool TLists::WaitForSaves()
{
    return FFiles->WaitForSaves();
}

bool TLists::LoadAtStartup()
{
    if (!LoadList(ListKind::Calls) || !LoadList(ListKind::Nicks)) return false;
    if (!FSettings.hasMsnSection()) return LoadList(ListKind::Msn);
    // The Windows version kept the MSNs in the ini file; they move into the MSN list file.
    QList<MsnRow> rows;
    const QString action =
        actionWord(ActionFlag::Store, FLanguage) + u'|' + actionWord(ActionFlag::Popup, FLanguage);
    for (const MsnSectionEntry &entry : FSettings.msnSectionEntries())
        rows.append(MsnRow{entry.checked, entry.msn, entry.nickname, entry.sound, action});
    FMsns.setRows(rows);
    SaveList(ListKind::Msn);
    return true;
}

void TLists::SaveMissingLists()
{
    WaitForSaves();
    for (const ListKind kind : {ListKind::Nicks, ListKind::Calls, ListKind::Msn}) {
        if (!QFileInfo::exists(fileName(kind))) SaveList(kind);
    }
}
