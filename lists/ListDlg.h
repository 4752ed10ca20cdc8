#pragma once

#include "lists/lang.h"

#include <QDialog>
#include <QPointer>

#include <functional>

class QAction;
class QMenu;
class QPushButton;
class QTabWidget;
class TCalls;
class TListView;
class TLists;
class TNickForm;

enum class ListPage
{
    Calls,
    Nicks,
    Msn
};
// The telephone field of a contact that an exported nickname entry fills.
enum class OutlookField
{
    Home,
    Mobile,
    Business,
    Primary
};

// The window of the three lists: calls, nicknames, own MSNs, each a page with a report view
// over its model. The user sorts by column headers, deletes rows, creates and edits entries
// through the nickname editor, takes callers into the phone book, and reaches the actions of
// other windows (dial, reverse search, export) through hooks. Every change is saved at once.
//
// The main window talks to it through the hooks below and ShowPage / OfferNewNickname; the
// search dialog attaches itself and shares the context menu.
//
// Created at start-up after the nickname editor and owned by the main window; lives until
// the end. Main thread only. The lists and the editor must outlive it.
class TListDlg : public QDialog, public ILanguageSwitchable
{
    Q_OBJECT
public:
    enum class MenuSource
    {
        Lists,
        Search
    };

    TListDlg(TLists &lists, TNickForm &editor, QWidget *parent = nullptr);
    ~TListDlg() override;

    TLists &lists() { return FLists; }
    TNickForm &editor() { return FEditor; }

    // Hooks to the main window; each may stay unset.
    // The popup's pending calls: deleting a nickname or naming a caller changes the newest.
    TCalls *PendingCalls = nullptr;
    // The newest pending call changed: the popup shows it again.
    std::function<void()> OnPendingCallChanged;
    // "Delete all" on the calls page: the popup's number display is blanked.
    std::function<void()> OnClearPopupNumber;
    // Dial the number with the TAPI device chosen in the options.
    std::function<void(const QString &number)> OnDial;
    // A reverse lookup in the background; the dialog shows the busy cursor until done is
    // called, in the main thread: answered with the result text (empty: nothing found), or
    // not answered when the search ended otherwise and the user has been told why.
    using ReverseSearchDone = std::function<void(bool answered, const QString &text)>;
    std::function<void(const QString &number, ReverseSearchDone done)> OnReverseSearch;
    // A reverse search is configured (built-in lookup with a server, or a loaded lookup
    // plug-in). Unset: the settings decide (built-in lookup with "ReverseLookupURL", or a lookup
    // plug-in named).
    std::function<bool()> ReverseSearchEnabled;
    // Export a nickname entry as a contact with the number in the given field.
    std::function<void(const QString &nickname, const QString &number, OutlookField field)>
        OnExportToOutlook;

    // The search dialog: opened by F3 and btnSearch, closed when a list changes under it.
    void AttachSearchDialog(QDialog *dialog);
    QDialog *searchDialog() const { return FSearchDlg; }

    // Switches to the page and shows the window modally, unless it is visible already (then
    // it only comes to the front).
    void ShowPage(ListPage page);
    ListPage CurrentPage() const;
    void SetCurrentPage(ListPage page);
    TListView *View(ListPage page) const;
    // The tab caption of the page in the current language.
    QString PageCaption(ListPage page) const;

    // The popup's offer: a new nickname entry with the editor prefilled (the nickname may be
    // empty), run as New on the nicknames page.
    void OfferNewNickname(const QString &nickname, const QString &number);

    // Column widths and the window's place from the settings store (after it was read), and
    // both lists sorted by their stored keys. The store follows every later change of widths
    // and place, so that writing the settings saves them.
    void ReadSettings();

    // The shared context menu. Its items' visibility and enabling follow the current page and
    // its selection; MenuSource::Search hides the items that make no sense for search results.
    QMenu *ContextMenu() const { return FPopup; }
    void UpdateMenuStates(MenuSource source = MenuSource::Lists);
    void ExecContextMenu(const QPoint &globalPos, MenuSource source);
    // The number of the call selected when the menu states were last updated on the calls
    // page.
    QString NumberToTakeOver() const { return FNumberToTakeOver; }

    // "Lists - 12 Entries".
    void UpdateCaption();

    // The menu items' actions; each works on the current page and its selection.
    void Lschen1Click();
    void Allelschen1Click();
    void ClearNoSubmit1Click();
    void New1Click();
    void Edit1Click();
    void nickeditClick();
    void DialClick();
    void mnuReverseSearchClick();
    void ExportToOutlook(OutlookField field);

    void ApplyLanguage(Language language) override;
    Language language() const { return FLanguage; }

protected:
    void showEvent(QShowEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void WidenToColumns(const QList<TListView *> &views);
    // The status column shows the longest status word of the language whole.
    void FitStatusColumn();
    void BuildMenu();
    void OpenSearch();
    void CloseSearch();
    void ApplyNickname(const QString &nickname, const QString &number);
    void RemoveRows(ListPage page, const QList<int> &rows);
    QString SelectedNumber(ListPage page, int row) const;
    void ApplyViewSettings();
    void StorePlace();
    void StoreColumnWidths();
    void lvCallsDblClick();
    void lvNicksDblClick();
    void lvCallsColumnClick(int column);
    void lvNicksColumnClick(int column);

    TLists &FLists;
    TNickForm &FEditor;
    Language FLanguage;
    QString FNumberToTakeOver;
    QPointer<QDialog> FSearchDlg;
    bool FApplyingSettings = false;
    bool FReverseSearching = false;
    // Lists whose widths the settings did not hold: widened to their contents when the
    // dialog is first shown.
    QList<TListView *> FWidenOnShow;
    // No size in the settings: the first open may widen the window for those columns.
    bool FWindowAtDesignSize = true;
    // Widths from the settings or another language: the status column is fitted at the next
    // open.
    bool FFitStatusOnShow = true;

    QTabWidget *PageControl1;
    QWidget *Panel1;
    QWidget *Anrufe;
    QWidget *Nicknames;
    QWidget *MSN;
    TListView *lvCalls;
    TListView *lvNicks;
    TListView *lvMSN;
    QPushButton *OKBtn;
    QPushButton *btnSearch;

    QMenu *FPopup;
    QAction *Lschen1;
    QAction *ClearNoSubmit1;
    QAction *Allelschen1;
    QAction *N1;
    QAction *New1;
    QAction *Edit1;
    QAction *N2;
    QAction *nickedit;
    QMenu *OutlookMenu;
    QAction *Privat1;
    QAction *Mobil1;
    QAction *Arbeit1;
    QAction *Haupt1;
    QAction *N3;
    QAction *Dial;
    QAction *mnuReverseSearch;
};
