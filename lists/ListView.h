#pragma once

#include <QTreeView>

// A report-style list: one line per row of a flat table model, grid lines, whole-row
// selection, read-only, uniform row heights (so a hundred thousand rows lay out at once).
// Header clicks are reported through the header's sectionClicked; the view never sorts by
// itself. A click that leaves no row selected clears the focus mark.
//
// Owned by the window that shows it; main thread only.
class TListView : public QTreeView
{
    Q_OBJECT
public:
    explicit TListView(QWidget *parent = nullptr);

    // Column widths in logical order; missing entries keep their width.
    void setColumnWidths(const QList<int> &widths);
    QList<int> columnWidths() const;
    // Widens every visible column that is narrower than its header or the rows' texts.
    void widenColumnsToContents();
    // Widens the column so that each of the texts shows whole in its cells.
    void fitColumnToTexts(int column, const QStringList &texts);
    // The column is hidden and cannot be widened (the date-time key of the calls).
    void setFixedHiddenColumn(int column);

    // The row of the current index when it is selected, else the first selected row; -1
    // when no row is selected.
    int selectedRow() const;
    QList<int> selectedRows() const;
    // Selects exactly this row, makes it current and scrolls it into view.
    void selectOnlyRow(int row);

protected:
    void mousePressEvent(QMouseEvent *event) override;
};
