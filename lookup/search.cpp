#include "lookup/search.h"

#include "lists/ListView.h"
#include "lists/lists.h"
#include "settings/SettingsStore.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

template <class W> W *named(W *widget, const char *name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

inline char16_t foldAZ(char16_t c)
{
    return c >= u'A' && c <= u'Z' ? char16_t(c + (u'a' - u'A')) : c;
}

// The cells of one row as the lists dialog shows them (dates and times included).
template <class Model> QStringList copyRow(const Model &model, int row)
{
    QStringList cells;
    cells.reserve(model.columnCount());
    for (int c = 0; c < model.columnCount(); ++c)
        cells.append(model.text(row, c));
    return cells;
}

template <class Model>
QList<QStringList> searchRows(const Model &model, int column, QStringView folded)
{
    QList<QStringList> found;
    if (folded.isEmpty() || column < 0 || column >= model.columnCount()) return found;
    for (int i = 0; i < model.count(); ++i) {
        if (TSearchDlg::ContainsFolded(model.text(i, column), folded))
            found.append(copyRow(model, i));
    }
    return found;
}

template <class Model> int firstEqualRow(const Model &model, const QStringList &cells)
{
    if (cells.size() != model.columnCount()) return -1;
    for (int i = 0; i < model.count(); ++i) {
        bool equal = true;
        for (int c = 0; equal && c < model.columnCount(); ++c)
            equal = model.text(i, c) == cells.at(c);
        if (equal) return i;
    }
    return -1;
}

// The first column offered in the column choices, and the default choice.
int firstChoiceColumn(ListPage page)
{
    return page == ListPage::Nicks ? 0 : 1;
}

int defaultChoice(ListPage page)
{
    switch (page) {
    case ListPage::Calls:
        return 2; // the number
    case ListPage::Nicks:
        return 0; // the nickname
    case ListPage::Msn:
        break;
    }
    return 1; // the MSN's name
}

} // namespace

int TSearchResults::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

int TSearchResults::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() || !FSource ? 0 : FSource->columnCount();
}

QVariant TSearchResults::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= count() || role != Qt::DisplayRole) return QVariant();
    const QStringList &cells = FRows.at(index.row());
    return index.column() < cells.size() ? cells.at(index.column()) : QString();
}

QVariant TSearchResults::headerData(int section, Qt::Orientation orientation, int role) const
{
    return FSource ? FSource->headerData(section, orientation, role) : QVariant();
}

void TSearchResults::setSource(QAbstractItemModel *source)
{
    beginResetModel();
    disconnect(FHeaderConnection);
    FSource = source;
    FRows.clear();
    if (source) {
        FHeaderConnection = connect(source, &QAbstractItemModel::headerDataChanged, this,
                                    &QAbstractItemModel::headerDataChanged);
    }
    endResetModel();
}

void TSearchResults::setRows(QList<QStringList> rows)
{
    beginResetModel();
    FRows = std::move(rows);
    endResetModel();
}

void TSearchResults::reorder(const std::vector<int> &order)
{
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    QList<QStringList> sorted;
    sorted.reserve(count());
    std::vector<int> newPlace(order.size());
    for (size_t i = 0; i < order.size(); ++i) {
        newPlace[size_t(order[i])] = int(i);
        sorted.append(std::move(FRows[order[i]]));
    }
    FRows = std::move(sorted);
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    for (const QModelIndex &index : from)
        to.append(this->index(newPlace[size_t(index.row())], index.column()));
    changePersistentIndexList(from, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

TSearchDlg::TSearchDlg(TLists &lists, TListDlg &listDlg, QWidget *parent)
    : QDialog(parent), FLists(lists), FListDlg(listDlg), FLanguage(lists.language())
{
    setObjectName(QStringLiteral("SearchDlg"));
    setModal(true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    resize(600, 300);

    lbListe = named(new QLabel(this), "lbListe");
    cbLists = named(new QComboBox(this), "cbLists");
    lbSpalte = named(new QLabel(this), "lbSpalte");
    cbItem = named(new QComboBox(this), "cbItem");
    lbContent = named(new QLabel(this), "lbContent");
    edSearch = named(new QLineEdit(this), "edSearch");
    btnSearch = named(new QPushButton(this), "btnSearch");
    btnClear = named(new QPushButton(this), "btnClear");
    for (QLabel *label : {lbListe, lbSpalte, lbContent}) {
        label->setTextFormat(Qt::PlainText);
        label->installEventFilter(this);
    }
    lbListe->setBuddy(cbLists);
    lbSpalte->setBuddy(cbItem);
    lbContent->setBuddy(edSearch);
    // Enter in the text field searches; Escape closes the dialog.
    btnSearch->setDefault(true);
    btnClear->setAutoDefault(false);
    connect(btnSearch, &QPushButton::clicked, this, &TSearchDlg::Search);
    connect(btnClear, &QPushButton::clicked, this, &TSearchDlg::Clear);
    connect(cbLists, &QComboBox::currentIndexChanged, this, &TSearchDlg::cbListsChange);

    lvSearch = named(new TListView(this), "lvSearch");
    lvSearch->setModel(&FResults);
    lvSearch->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lvSearch, &QWidget::customContextMenuRequested, this,
            &TSearchDlg::lvSearchContextPopup);
    connect(lvSearch, &QAbstractItemView::doubleClicked, this, &TSearchDlg::lvSearchDblClick);
    connect(lvSearch->header(), &QHeaderView::sectionClicked, this,
            &TSearchDlg::lvSearchColumnClick);

    auto *bar = new QHBoxLayout;
    bar->addWidget(lbListe);
    bar->addWidget(cbLists);
    bar->addWidget(lbSpalte);
    bar->addWidget(cbItem);
    bar->addWidget(lbContent);
    bar->addWidget(edSearch, 1);
    bar->addWidget(btnSearch);
    bar->addWidget(btnClear);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(lvSearch, 1);

    ApplyLanguage(FLanguage);
    {
        const QSignalBlocker blocker(cbLists);
        cbLists->setCurrentIndex(int(FList));
    }
    FResults.setSource(FListDlg.View(FList)->model());
    FillColumnChoices(defaultChoice(FList));
    ReadSettings();
    FListDlg.AttachSearchDialog(this);
}

TSearchDlg::~TSearchDlg() = default;

void TSearchDlg::ChooseList(ListPage page)
{
    FList = page;
    {
        const QSignalBlocker blocker(cbLists);
        cbLists->setCurrentIndex(int(page));
    }
    TListView *source = FListDlg.View(page);
    FResults.setSource(source->model());
    // The columns as the list shows them; the calls' date-time key stays hidden.
    QHeaderView *header = lvSearch->header();
    for (int c = 0; c < header->count(); ++c) {
        header->setSectionHidden(c, false);
        header->setSectionResizeMode(c, QHeaderView::Interactive);
    }
    if (page == ListPage::Calls) lvSearch->setFixedHiddenColumn(CallRow::DateTime);
    lvSearch->setColumnWidths(source->columnWidths());
    FillColumnChoices(defaultChoice(page));
    FListDlg.SetCurrentPage(page);
}

int TSearchDlg::SearchColumn() const
{
    return qMax(0, cbItem->currentIndex()) + firstChoiceColumn(FList);
}

void TSearchDlg::SetSearchText(const QString &text)
{
    edSearch->setText(text);
}

QString TSearchDlg::FoldAZ(QStringView text)
{
    QString folded(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        folded[i] = QChar(foldAZ(text[i].unicode()));
    return folded;
}

bool TSearchDlg::ContainsFolded(QStringView cell, QStringView foldedText)
{
    const qsizetype n = foldedText.size();
    if (n == 0 || cell.size() < n) return false;
    const char16_t first = foldedText[0].unicode();
    for (qsizetype i = 0; i + n <= cell.size(); ++i) {
        if (foldAZ(cell[i].unicode()) != first) continue;
        qsizetype j = 1;
        while (j < n && foldAZ(cell[i + j].unicode()) == foldedText[j].unicode())
            ++j;
        if (j == n) return true;
    }
    return false;
}

int TSearchDlg::Search()
{
    const QString folded = FoldAZ(edSearch->text());
    const int column = SearchColumn();
    switch (FList) {
    case ListPage::Calls:
        FResults.setRows(searchRows(FLists.calls(), column, folded));
        break;
    case ListPage::Nicks:
        FResults.setRows(searchRows(FLists.nicks(), column, folded));
        break;
    case ListPage::Msn:
        FResults.setRows(searchRows(FLists.msns(), column, folded));
        break;
    }
    return FResults.count();
}

void TSearchDlg::Clear()
{
    FResults.clear();
    edSearch->clear();
}

int TSearchDlg::Locate(int resultRow)
{
    TListView *view = FListDlg.View(FList);
    view->clearSelection();
    if (resultRow < 0 || resultRow >= FResults.count()) return -1;
    const QStringList &cells = FResults.row(resultRow);
    int row = -1;
    switch (FList) {
    case ListPage::Calls:
        row = firstEqualRow(FLists.calls(), cells);
        break;
    case ListPage::Nicks:
        row = firstEqualRow(FLists.nicks(), cells);
        break;
    case ListPage::Msn:
        row = firstEqualRow(FLists.msns(), cells);
        break;
    }
    if (row < 0) return -1;
    view->selectOnlyRow(row);
    if (FListDlg.isVisible()) view->setFocus();
    return row;
}

void TSearchDlg::lvSearchDblClick()
{
    if (Locate(lvSearch->selectedRow()) < 0) return;
    if (FListDlg.isVisible()) {
        close();
        return;
    }
    hide();
    FListDlg.ShowPage(FList);
}

void TSearchDlg::lvSearchContextPopup(const QPoint &at)
{
    // The list may have changed since the search ran: search again, highlight the same row
    // wherever it is now, and let the menu act on exactly that row.
    const int selected = lvSearch->selectedRow();
    const QStringList shown =
        selected >= 0 && selected < FResults.count() ? FResults.row(selected) : QStringList();
    Search();
    const int now = shown.isEmpty() ? -1 : FResults.indexOf(shown);
    if (now >= 0)
        lvSearch->selectOnlyRow(now);
    else
        lvSearch->clearSelection();
    Locate(now);
    FListDlg.ExecContextMenu(lvSearch->viewport()->mapToGlobal(at), TListDlg::MenuSource::Search);
}

void TSearchDlg::lvSearchColumnClick(int column)
{
    const int n = FResults.count();
    if (n == 0 || FList == ListPage::Msn || column < 0) return;
    const TextCollator &collator = FLists.collator();
    const QStringList &first = FResults.row(0);
    const QStringList &last = FResults.row(n - 1);
    int key = 0;
    int sortColumn = column;
    if (FList == ListPage::Calls) {
        // As a click on the call list's header: the date and time columns sort by the key.
        if (column <= CallRow::Time) {
            key = collator.compare(last.at(CallRow::DateTime), first.at(CallRow::DateTime)) < 0 ? -1
                                                                                                : 1;
            sortColumn = CallRow::DateTime;
        } else {
            key = collator.compare(last.at(column), first.at(column)) <= 0 ? -column : column;
        }
        FLists.settings().listViews.callsSort = key;
    } else {
        const int magnitude = column == NickRow::Nickname ? 100 : column;
        key = collator.compare(last.at(column), first.at(column)) <= 0 ? -magnitude : magnitude;
        FLists.settings().listViews.nicksSort = key;
    }
    std::vector<QStringView> texts;
    texts.reserve(size_t(n));
    for (int i = 0; i < n; ++i)
        texts.push_back(FResults.row(i).at(sortColumn));
    FResults.reorder(collator.order(texts, key > 0));
}

void TSearchDlg::cbListsChange(int index)
{
    if (index >= 0 && index <= int(ListPage::Msn)) ChooseList(ListPage(index));
}

void TSearchDlg::FillListChoices()
{
    const QSignalBlocker blocker(cbLists);
    const int current = cbLists->currentIndex();
    cbLists->clear();
    for (const char16_t *page : {u"Anrufe", u"Nicknames", u"MSN"})
        cbLists->addItem(UiText(UiForm::Lists, QStringView(page), FLanguage));
    cbLists->setCurrentIndex(current >= 0 ? current : int(FList));
}

void TSearchDlg::FillColumnChoices(int keep)
{
    QAbstractItemModel *source = FListDlg.View(FList)->model();
    cbItem->clear();
    for (int c = firstChoiceColumn(FList); c < source->columnCount(); ++c)
        cbItem->addItem(source->headerData(c, Qt::Horizontal).toString());
    cbItem->setCurrentIndex(qBound(0, keep, cbItem->count() - 1));
}

void TSearchDlg::ReadSettings()
{
    const WindowPlace &place = FLists.settings().searchWindow;
    FApplyingSettings = true;
    if (place.width > 0 && place.height > 0) resize(place.width, place.height);
    move(place.left, place.top);
    FApplyingSettings = false;
}

void TSearchDlg::StorePlace()
{
    if (FApplyingSettings || !isVisible() || isMaximized() || isMinimized()) return;
    FLists.settings().searchWindow = {x(), y(), width(), height()};
}

void TSearchDlg::moveEvent(QMoveEvent *event)
{
    QDialog::moveEvent(event);
    StorePlace();
}

void TSearchDlg::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    StorePlace();
}

void TSearchDlg::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    FResults.clear();
    ChooseList(FListDlg.isVisible() ? FListDlg.CurrentPage() : ListPage::Nicks);
    edSearch->setFocus();
    StorePlace();
}

bool TSearchDlg::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress &&
        (watched == lbListe || watched == lbSpalte || watched == lbContent)) {
        Clear();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TSearchDlg::ApplyLanguage(Language language)
{
    FLanguage = language;
    setWindowTitle(UiText(UiForm::Search, u"Caption", language));
    lbListe->setText(UiText(UiForm::Search, u"lbListe", language));
    lbSpalte->setText(UiText(UiForm::Search, u"lbSpalte", language));
    lbContent->setText(UiText(UiForm::Search, u"lbContent", language));
    btnSearch->setText(UiText(UiForm::Search, u"btnSearch", language));
    btnClear->setText(UiText(UiForm::Search, u"btnClear", language));
    FillListChoices();
    if (cbItem->count() > 0) FillColumnChoices(cbItem->currentIndex());
}
