#include "lists/ListView.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyledItemDelegate>

#include <algorithm>

namespace {

// Lines right and below each cell, as the list views of the Windows version drew them.
class GridDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        QStyledItemDelegate::paint(painter, option, index);
        painter->save();
        painter->setPen(option.palette.color(QPalette::Midlight));
        const QRect r = option.rect;
        painter->drawLine(r.topRight(), r.bottomRight());
        painter->drawLine(r.bottomLeft(), r.bottomRight());
        painter->restore();
    }
};

} // namespace

TListView::TListView(QWidget *parent) : QTreeView(parent)
{
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    setTextElideMode(Qt::ElideRight);
    setItemDelegate(new GridDelegate(this));
    header()->setStretchLastSection(false);
    header()->setSectionsClickable(true);
    header()->setSectionsMovable(false);
    header()->setSortIndicatorShown(false);
}

void TListView::setColumnWidths(const QList<int> &widths)
{
    for (int c = 0; c < widths.size() && c < header()->count(); ++c) {
        if (!header()->isSectionHidden(c) && widths.at(c) > 0)
            header()->resizeSection(c, widths.at(c));
    }
}

QList<int> TListView::columnWidths() const
{
    QList<int> widths;
    for (int c = 0; c < header()->count(); ++c)
        widths.append(header()->isSectionHidden(c) ? 0 : header()->sectionSize(c));
    return widths;
}

void TListView::widenColumnsToContents()
{
    for (int c = 0; c < header()->count(); ++c) {
        if (header()->isSectionHidden(c)) continue;
        const int needed = std::max(sizeHintForColumn(c), header()->sectionSizeHint(c));
        if (needed > header()->sectionSize(c)) header()->resizeSection(c, needed);
    }
}

void TListView::fitColumnToTexts(int column, const QStringList &texts)
{
    if (column >= header()->count() || header()->isSectionHidden(column)) return;
    // Measured as the item delegate measures a cell: the text and the style's margins.
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.features |= QStyleOptionViewItem::HasDisplay;
    int needed = 0;
    for (const QString &text : texts) {
        option.text = text;
        needed = std::max(needed, style()->sizeFromContents(QStyle::CT_ItemViewItem, &option,
                                                            QSize(), this)
                                      .width());
    }
    if (needed > header()->sectionSize(column)) header()->resizeSection(column, needed);
}

void TListView::setFixedHiddenColumn(int column)
{
    // A hidden section has no divider to drag and ignores resizeSection.
    header()->setSectionHidden(column, true);
    header()->setSectionResizeMode(column, QHeaderView::Fixed);
}

int TListView::selectedRow() const
{
    if (!selectionModel()) return -1;
    const QModelIndex current = currentIndex();
    if (current.isValid() && selectionModel()->isRowSelected(current.row(), QModelIndex()))
        return current.row();
    const QList<int> rows = selectedRows();
    return rows.isEmpty() ? -1 : rows.first();
}

QList<int> TListView::selectedRows() const
{
    QList<int> rows;
    if (!selectionModel()) return rows;
    for (const QItemSelectionRange &range : selectionModel()->selection()) {
        for (int r = range.top(); r <= range.bottom(); ++r)
            rows.append(r);
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void TListView::selectOnlyRow(int row)
{
    if (!model() || !selectionModel() || row < 0 || row >= model()->rowCount()) return;
    const QModelIndex index = model()->index(row, 0);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                 QItemSelectionModel::Rows);
    scrollTo(index);
}

void TListView::mousePressEvent(QMouseEvent *event)
{
    QTreeView::mousePressEvent(event);
    if (selectionModel() && !selectionModel()->hasSelection())
        selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
}
