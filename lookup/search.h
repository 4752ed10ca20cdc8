#pragma once

#include "lists/ListDlg.h"
#include "lists/lang.h"

#include <QAbstractTableModel>
#include <QDialog>
#include <QPointer>
#include <QStringList>

#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class TListView;
class TLists;

// The rows a search found: copies of whole rows of one list, in the order found, under that
// list's column captions (which follow the language).
//
// Owned by the search dialog; main thread only.
class TSearchResults : public QAbstractTableModel
{
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // The list whose columns the results copy; clears the results.
    void setSource(QAbstractItemModel *source);
    QAbstractItemModel *source() const { return FSource; }
    void setRows(QList<QStringList> rows);
    void clear() { setRows({}); }
    const QStringList &row(int index) const { return FRows.at(index); }
    int count() const { return int(FRows.size()); }
    // The first result equal to the row in every column, or -1.
    int indexOf(const QStringList &row) const { return int(FRows.indexOf(row)); }
    // order[i] is the old index of the row that goes to place i.
    void reorder(const std::vector<int> &order);

private:
    QPointer<QAbstractItemModel> FSource;
    QMetaObject::Connection FHeaderConnection;
    QList<QStringList> FRows;
};

// Finds the rows of one list (calls, nicknames or MSNs) whose chosen column contains a text,
// ignoring the case of A-Z only, and leads from a result to the same row in the lists
// dialog: double click, and the lists dialog's context menu on the results.
//
// Created at start-up (before the lists dialog is shown) and owned by the main window; lives
// until the end. Main thread only. The lists and the lists dialog must outlive it.
class TSearchDlg : public QDialog, public ILanguageSwitchable
{
    Q_OBJECT
public:
    TSearchDlg(TLists &lists, TListDlg &listDlg, QWidget *parent = nullptr);
    ~TSearchDlg() override;

    // Clears the results and their columns, takes the list's columns, fills the column
    // choices with the list's default, and switches the lists dialog to that page.
    void ChooseList(ListPage page);
    ListPage ChosenList() const { return FList; }
    // The list column the column choice selects.
    int SearchColumn() const;
    void SetSearchText(const QString &text);

    // Runs the search; an empty text finds nothing. Returns the number of results.
    int Search();
    // Empties the results and the search text.
    void Clear();
    // Selects the first row of the chosen list equal to the result row in every column,
    // scrolled into view; the list gets the focus when the lists dialog is visible. The list
    // row, or -1 (nothing selected then).
    int Locate(int resultRow);

    TSearchResults &results() { return FResults; }
    TListView *resultView() const { return lvSearch; }

    // The window's place from the settings store (after it was read); the store follows
    // every later move.
    void ReadSettings();

    void ApplyLanguage(Language language) override;

    // The search rule: the text occurs in the cell when both are lower-cased in A-Z only.
    static QString FoldAZ(QStringView text);
    static bool ContainsFolded(QStringView cell, QStringView foldedText);

protected:
    void showEvent(QShowEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void cbListsChange(int index);
    void lvSearchDblClick();
    void lvSearchColumnClick(int column);
    void lvSearchContextPopup(const QPoint &at);
    void FillListChoices();
    void FillColumnChoices(int keep);
    void StorePlace();

    TLists &FLists;
    TListDlg &FListDlg;
    Language FLanguage;
    ListPage FList = ListPage::Nicks;
    TSearchResults FResults;
    bool FApplyingSettings = false;

    QLabel *lbListe;
    QComboBox *cbLists;
    QLabel *lbSpalte;
    QComboBox *cbItem;
    QLabel *lbContent;
    QLineEdit *edSearch;
    QPushButton *btnSearch;
    QPushButton *btnClear;
    TListView *lvSearch;
};
