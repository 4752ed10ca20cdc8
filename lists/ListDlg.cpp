#include "lists/ListDlg.h"

#include "lists/Calls.h"
#include "lists/ListPrompts.h"
#include "lists/ListView.h"
#include "lists/lists.h"
#include "lists/nick.h"
#include "settings/SettingsStore.h"

#include <QApplication>
#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace {

template <class W> W *named(W *widget, const char *name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

// The bottom bar: the close button centred, the search button 8 pixels from the right edge.
class ButtonPanel : public QWidget
{
public:
    ButtonPanel(QPushButton *centre, QPushButton *right, QWidget *parent)
        : QWidget(parent), FCentre(centre), FRight(right)
    {
        setFixedHeight(38);
    }

    // Also after a language change: the buttons' widths follow their texts.
    void relayout()
    {
        for (QPushButton *button : {FCentre, FRight})
            button->resize(button->sizeHint().expandedTo(QSize(75, 25)));
        const int top = (height() - FCentre->height()) / 2;
        FCentre->move((width() - FCentre->width()) / 2, top);
        FRight->move(width() - FRight->width() - 8, top);
    }

protected:
    void resizeEvent(QResizeEvent *) override { relayout(); }

private:
    QPushButton *FCentre;
    QPushButton *FRight;
};

QWidget *pageWith(TListView *view, const char *name)
{
    auto *page = new QWidget;
    page->setObjectName(QLatin1String(name));
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view);
    return page;
}

template <size_t N> QList<int> toList(const std::array<int, N> &widths)
{
    return QList<int>(widths.begin(), widths.end());
}

} // namespace

TListDlg::TListDlg(TLists &lists, TNickForm &editor, QWidget *parent)
    : QDialog(parent), FLists(lists), FEditor(editor), FLanguage(lists.language())
{
    setObjectName(QStringLiteral("ListDlg"));
    setModal(true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    setMinimumSize(442, 200);
    resize(566, 382);

    lvCalls = named(new TListView, "lvCalls");
    lvNicks = named(new TListView, "lvNicks");
    lvMSN = named(new TListView, "lvMSN");
    lvCalls->setModel(&lists.calls());
    lvNicks->setModel(&lists.nicks());
    lvMSN->setModel(&lists.msns());
    lvMSN->setSelectionMode(QAbstractItemView::SingleSelection);
    lvCalls->setFixedHiddenColumn(CallRow::DateTime);

    PageControl1 = named(new QTabWidget(this), "PageControl1");
    Anrufe = pageWith(lvCalls, "Anrufe");
    Nicknames = pageWith(lvNicks, "Nicknames");
    MSN = pageWith(lvMSN, "MSN");
    PageControl1->addTab(Anrufe, QString());
    PageControl1->addTab(Nicknames, QString());
    PageControl1->addTab(MSN, QString());

    OKBtn = named(new QPushButton, "OKBtn");
    btnSearch = named(new QPushButton, "btnSearch");
    OKBtn->setDefault(true);
    btnSearch->setAutoDefault(false);
    auto *panel = new ButtonPanel(OKBtn, btnSearch, this);
    Panel1 = panel;
    panel->setObjectName(QStringLiteral("Panel1"));
    OKBtn->setParent(panel);
    btnSearch->setParent(panel);
    connect(OKBtn, &QPushButton::clicked, this, &TListDlg::accept);
    connect(btnSearch, &QPushButton::clicked, this, &TListDlg::OpenSearch);
    auto *f3 = new QShortcut(QKeySequence(Qt::Key_F3), this);
    connect(f3, &QShortcut::activated, this, &TListDlg::OpenSearch);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(PageControl1, 1);
    layout->addWidget(panel);

    BuildMenu();
    for (TListView *view : {lvCalls, lvNicks, lvMSN}) {
        view->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(view, &QWidget::customContextMenuRequested, this, [this, view](const QPoint &at) {
            ExecContextMenu(view->viewport()->mapToGlobal(at), MenuSource::Lists);
        });
        connect(view->header(), &QHeaderView::sectionResized, this, &TListDlg::StoreColumnWidths);
    }
    connect(lvCalls, &QAbstractItemView::doubleClicked, this, &TListDlg::lvCallsDblClick);
    connect(lvNicks, &QAbstractItemView::doubleClicked, this, &TListDlg::lvNicksDblClick);
    connect(lvMSN, &QAbstractItemView::doubleClicked, this, &TListDlg::lvNicksDblClick);
    connect(lvCalls->header(), &QHeaderView::sectionClicked, this, &TListDlg::lvCallsColumnClick);
    connect(lvNicks->header(), &QHeaderView::sectionClicked, this, &TListDlg::lvNicksColumnClick);

    // The caption counts the rows of the current page.
    connect(PageControl1, &QTabWidget::currentChanged, this, &TListDlg::UpdateCaption);
    for (QAbstractItemModel *model : std::initializer_list<QAbstractItemModel *>{
             &lists.calls(), &lists.nicks(), &lists.msns()}) {
        connect(model, &QAbstractItemModel::rowsInserted, this, &TListDlg::UpdateCaption);
        connect(model, &QAbstractItemModel::rowsRemoved, this, &TListDlg::UpdateCaption);
        connect(model, &QAbstractItemModel::modelReset, this, &TListDlg::UpdateCaption);
    }
    // A toggled check box is a change of the MSN list; a new selection is not.
    connect(&lists.msns(), &TMsnList::checkedChanged, this,
            [this] { FLists.RequestSave(ListKind::Msn); });

    ApplyViewSettings();
    ApplyLanguage(FLanguage);
}

TListDlg::~TListDlg() = default;

void TListDlg::BuildMenu()
{
    FPopup = named(new QMenu(this), "PopupMenu1");
    auto item = [this](const char *name, void (TListDlg::*handler)()) {
        QAction *action = named(FPopup->addAction(QString()), name);
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    auto separator = [this](const char *name) {
        QAction *action = FPopup->addSeparator();
        action->setObjectName(QLatin1String(name));
        return action;
    };
    Lschen1 = item("Lschen1", &TListDlg::Lschen1Click);
    ClearNoSubmit1 = item("ClearNoSubmit1", &TListDlg::ClearNoSubmit1Click);
    Allelschen1 = item("Allelschen1", &TListDlg::Allelschen1Click);
    N1 = separator("N1");
    New1 = item("New1", &TListDlg::New1Click);
    Edit1 = item("Edit1", &TListDlg::Edit1Click);
    N2 = separator("N2");
    nickedit = item("nickedit", &TListDlg::nickeditClick);

    OutlookMenu = named(new QMenu(FPopup), "OutlookMenu");
    OutlookMenu->menuAction()->setObjectName(QStringLiteral("Outlook"));
    FPopup->addMenu(OutlookMenu);
    auto field = [this](const char *name, OutlookField target) {
        QAction *action = named(OutlookMenu->addAction(QString()), name);
        connect(action, &QAction::triggered, this, [this, target] { ExportToOutlook(target); });
        return action;
    };
    Privat1 = field("Privat1", OutlookField::Home);
    Mobil1 = field("Mobil1", OutlookField::Mobile);
    Arbeit1 = field("Arbeit1", OutlookField::Business);
    Haupt1 = field("Haupt1", OutlookField::Primary);

    N3 = separator("N3");
    Dial = item("Dial", &TListDlg::DialClick);
    mnuReverseSearch = item("mnuReverseSearch", &TListDlg::mnuReverseSearchClick);
}

void TListDlg::AttachSearchDialog(QDialog *dialog)
{
    FSearchDlg = dialog;
}

void TListDlg::ShowPage(ListPage page)
{
    SetCurrentPage(page);
    if (isVisible()) {
        raise();
        activateWindow();
        return;
    }
    exec();
}

ListPage TListDlg::CurrentPage() const
{
    return ListPage(qBound(0, PageControl1->currentIndex(), 2));
}

void TListDlg::SetCurrentPage(ListPage page)
{
    PageControl1->setCurrentIndex(int(page));
}

TListView *TListDlg::View(ListPage page) const
{
    switch (page) {
    case ListPage::Calls:
        return lvCalls;
    case ListPage::Nicks:
        return lvNicks;
    case ListPage::Msn:
        break;
    }
    return lvMSN;
}

QString TListDlg::PageCaption(ListPage page) const
{
    return PageControl1->tabText(int(page));
}

void TListDlg::OfferNewNickname(const QString &nickname, const QString &number)
{
    SetCurrentPage(ListPage::Nicks);
    FEditor.Prefill(nickname, number);
    New1Click();
}

void TListDlg::ReadSettings()
{
    ApplyViewSettings();
    FLists.SortNicks();
    FLists.SortCalls();
}

void TListDlg::ApplyViewSettings()
{
    const SettingsStore &settings = FLists.settings();
    FApplyingSettings = true;
    lvCalls->setColumnWidths(toList(settings.listViews.callsCol));
    lvNicks->setColumnWidths(toList(settings.listViews.nicksCol));
    lvMSN->setColumnWidths(toList(settings.listViews.msnCol));
    FFitStatusOnShow = true;
    FWidenOnShow.clear();
    if (!settings.listViews.callsColStored) FWidenOnShow << lvCalls;
    if (!settings.listViews.nicksColStored) FWidenOnShow << lvNicks;
    if (!settings.listViews.msnColStored) FWidenOnShow << lvMSN;
    const WindowPlace &place = settings.listWindow;
    FWindowAtDesignSize = !settings.listWindowStored;
    if (place.width > 0 && place.height > 0)
        resize(qMax(place.width, minimumWidth()), qMax(place.height, minimumHeight()));
    move(place.left, place.top);
    FApplyingSettings = false;
}

void TListDlg::StorePlace()
{
    if (FApplyingSettings || !isVisible() || isMaximized() || isMinimized()) return;
    FLists.settings().listWindow = {x(), y(), width(), height()};
}

void TListDlg::StoreColumnWidths()
{
    if (FApplyingSettings) return;
    ListViewSettings &views = FLists.settings().listViews;
    const QList<int> calls = lvCalls->columnWidths();
    for (int c = 1; c < int(views.callsCol.size()) && c < calls.size(); ++c)
        views.callsCol[c] = calls.at(c);
    const QList<int> nicks = lvNicks->columnWidths();
    for (int c = 0; c < int(views.nicksCol.size()) && c < nicks.size(); ++c)
        views.nicksCol[c] = nicks.at(c);
    const QList<int> msns = lvMSN->columnWidths();
    for (int c = 0; c < int(views.msnCol.size()) && c < msns.size(); ++c)
        views.msnCol[c] = msns.at(c);
}

void TListDlg::moveEvent(QMoveEvent *event)
{
    QDialog::moveEvent(event);
    StorePlace();
}

void TListDlg::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    StorePlace();
}

void TListDlg::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (std::exchange(FFitStatusOnShow, false)) FitStatusColumn();
    // The design's widths cut dates, states and long names off; the user's own stay.
    const QList<TListView *> widen = std::exchange(FWidenOnShow, {});
    for (TListView *view : widen)
        view->widenColumnsToContents();
    if (!widen.isEmpty() && std::exchange(FWindowAtDesignSize, false)) WidenToColumns(widen);
    for (TListView *view : {lvCalls, lvNicks, lvMSN}) {
        if (!view->selectionModel()->hasSelection())
            view->selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    }
    View(CurrentPage())->setFocus();
    UpdateCaption();
    StorePlace();
}

void TListDlg::FitStatusColumn()
{
    QStringList words;
    for (CallStatus status : {CallStatus::Rejected, CallStatus::Busy, CallStatus::NotAnswered,
                              CallStatus::Answered, CallStatus::Unknown})
        words << statusWord(status, FLanguage);
    lvCalls->fitColumnToTexts(CallRow::Status, words);
}

void TListDlg::WidenToColumns(const QList<TListView *> &views)
{
    // A window of its design size at its first open: wide enough for the widened columns,
    // within the screen.
    const TListView *shown = View(CurrentPage());
    const int chrome = width() - shown->viewport()->width() +
                       style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, shown);
    int wanted = width();
    for (const TListView *view : views)
        wanted = std::max(wanted, view->header()->length() + chrome);
    if (const QScreen *display = screen())
        wanted = std::min(wanted, display->availableGeometry().width() * 9 / 10);
    if (wanted > width()) resize(wanted, height());
}

void TListDlg::UpdateCaption()
{
    const QString title = UiText(UiForm::Lists, u"Caption", FLanguage);
    const int count = View(CurrentPage())->model()->rowCount();
    setWindowTitle(title.section(u' ', 0, 0) + QStringLiteral(" - ") + QString::number(count) +
                   u' ' + UiText(UiForm::Words, u"Entries", FLanguage));
}

QString TListDlg::SelectedNumber(ListPage page, int row) const
{
    if (row < 0) return QString();
    switch (page) {
    case ListPage::Calls:
        return row < FLists.calls().count() ? FLists.calls().row(row).number : QString();
    case ListPage::Nicks:
        return row < FLists.nicks().count() ? FLists.nicks().row(row).number : QString();
    case ListPage::Msn:
        break;
    }
    return row < FLists.msns().count() ? FLists.msns().row(row).msn : QString();
}

void TListDlg::UpdateMenuStates(MenuSource source)
{
    const ListPage page = CurrentPage();
    const int row = View(page)->selectedRow();
    const bool selected = row >= 0;
    const QString number = SelectedNumber(page, row);
    const bool calls = page == ListPage::Calls;
    const bool fromSearch = source == MenuSource::Search;
    const SettingsStore &settings = FLists.settings();

    Lschen1->setVisible(true);
    Lschen1->setEnabled(selected);
    ClearNoSubmit1->setVisible(calls && !fromSearch);
    ClearNoSubmit1->setEnabled(true);
    Allelschen1->setVisible(true);
    Allelschen1->setEnabled(selected);
    N1->setVisible(!calls);
    New1->setVisible(!calls && !fromSearch);
    New1->setEnabled(true);
    Edit1->setVisible(!calls);
    Edit1->setEnabled(selected);
    nickedit->setVisible(calls && selected);
    nickedit->setEnabled(calls && selected && FLists.FindNickByNumber(number) < 0);
    N2->setVisible(nickedit->isVisible());
    OutlookMenu->menuAction()->setVisible(page == ListPage::Nicks);
    OutlookMenu->menuAction()->setEnabled(selected);
    N3->setVisible(page != ListPage::Msn);
    Dial->setVisible(page != ListPage::Msn);
    Dial->setEnabled(selected && IsPhoneNumber(number) && settings.settings.useTapi &&
                     !settings.settings.tapiDevice.isEmpty());
    const GeneralSettings &g = settings.settings;
    const bool lookup = ReverseSearchEnabled      ? ReverseSearchEnabled()
                        : g.internalReverseSearch ? !g.reverseLookupUrl.isEmpty()
                                                  : !g.externalNumberLookupDll.isEmpty();
    mnuReverseSearch->setVisible(true);
    mnuReverseSearch->setEnabled(calls && selected && IsPhoneNumber(number) && lookup &&
                                 !FReverseSearching);

    if (calls && selected) FNumberToTakeOver = number;
}

void TListDlg::ExecContextMenu(const QPoint &globalPos, MenuSource source)
{
    UpdateMenuStates(source);
    FPopup->exec(globalPos);
}

void TListDlg::OpenSearch()
{
    if (FSearchDlg && !FSearchDlg->isVisible()) FSearchDlg->exec();
}

void TListDlg::CloseSearch()
{
    if (FSearchDlg && FSearchDlg->isVisible()) FSearchDlg->close();
}

void TListDlg::ApplyNickname(const QString &nickname, const QString &number)
{
    if (FLists.ApplyNicknameToCalls(nickname, number, PendingCalls) && OnPendingCallChanged)
        OnPendingCallChanged();
}

void TListDlg::RemoveRows(ListPage page, const QList<int> &rows)
{
    // Whole ranges, from the last to the first, so the indexes below stay valid.
    QAbstractItemModel *model = View(page)->model();
    qsizetype end = rows.size();
    while (end > 0) {
        qsizetype begin = end - 1;
        while (begin > 0 && rows.at(begin - 1) == rows.at(begin) - 1)
            --begin;
        model->removeRows(rows.at(begin), int(end - begin));
        end = begin;
    }
}

static ListKind kindOf(ListPage page)
{
    switch (page) {
    case ListPage::Calls:
        return ListKind::Calls;
    case ListPage::Nicks:
        return ListKind::Nicks;
    case ListPage::Msn:
        break;
    }
    return ListKind::Msn;
}

void TListDlg::Lschen1Click()
{
    const ListPage page = CurrentPage();
    if (View(page)->selectedRows().isEmpty()) return;
    if (!FLists.prompts().askYesNo(UiText(UiForm::Messages, u"DeleteLines", FLanguage))) return;
    CloseSearch();
    // Read the selection again: calls may have come in while the question was open.
    const QList<int> rows = View(page)->selectedRows();
    bool pendingChanged = false;
    if (page == ListPage::Nicks && PendingCalls && PendingCalls->Count() > 0) {
        TCallRecord &newest = PendingCalls->Get(-1);
        const QString caller = newest.value(QStringLiteral("Caller"));
        for (int row : rows) {
            if (FLists.nicks().row(row).number == caller) {
                newest.setValue(QStringLiteral("NickName"), QString());
                pendingChanged = true;
            }
        }
    }
    RemoveRows(page, rows);
    FLists.RequestSave(kindOf(page));
    if (pendingChanged && OnPendingCallChanged) OnPendingCallChanged();
}

void TListDlg::Allelschen1Click()
{
    const ListPage page = CurrentPage();
    if (!FLists.prompts().askYesNo(UiText(UiForm::Messages, u"DeleteAll", FLanguage))) return;
    CloseSearch();
    switch (page) {
    case ListPage::Calls:
        if (OnClearPopupNumber) OnClearPopupNumber();
        FLists.calls().clear();
        break;
    case ListPage::Nicks:
        FLists.nicks().clear();
        break;
    case ListPage::Msn:
        FLists.msns().clear();
        break;
    }
    FLists.RequestSave(kindOf(page));
}

void TListDlg::ClearNoSubmit1Click()
{
    CloseSearch();
    TCallList &calls = FLists.calls();
    QList<CallRow> kept;
    kept.reserve(calls.count());
    for (const CallRow &row : calls.rows()) {
        if (!IsNotTransmitted(row.number)) kept.append(row);
    }
    if (kept.size() != calls.count()) calls.setRows(kept);
    FLists.RequestSave(ListKind::Calls);
}

void TListDlg::New1Click()
{
    CloseSearch();
    const bool msnPage = CurrentPage() == ListPage::Msn;
    FEditor.SetRejectNotSubVisible(msnPage);
    if (!FEditor.Prefilled || msnPage) FEditor.Reset();
    // A new entry is never the one last edited: the duplicate check must see every row.
    FEditor.EditingIndex = -1;
    FEditor.Prefilled = false;

    if (msnPage) {
        if (!FEditor.Open(TNickForm::Mode::Msn)) return;
        TMsnList &msns = FLists.msns();
        msns.appendRow(MsnRow{true, FEditor.Number(), FEditor.Nickname(), FEditor.Sound(),
                              FEditor.ActionText()});
        FLists.RequestSave(ListKind::Msn);
        lvMSN->selectOnlyRow(msns.count() - 1);
        return;
    }
    if (!FEditor.Open(TNickForm::Mode::Nickname)) return;
    const QString nickname = FEditor.Nickname();
    const QString number = FEditor.Number();
    FLists.nicks().appendRow(NickRow{nickname, number, FEditor.Sound(), FEditor.ActionText()});
    ApplyNickname(nickname, number);
    FLists.RequestSave(ListKind::Nicks);
    FLists.SortNicks();
    SetCurrentPage(ListPage::Nicks);
    lvNicks->selectOnlyRow(FLists.FindNickByNumber(number));
    if (!isVisible()) exec();
}

void TListDlg::Edit1Click()
{
    const ListPage page = CurrentPage();
    const int row = View(page)->selectedRow();
    if (row < 0) return;
    if (page == ListPage::Nicks) {
        const NickRow entry = FLists.nicks().row(row);
        FEditor.SetEntry(entry.nickname, entry.number, entry.sound, entry.action);
        FEditor.EditingIndex = row;
        FEditor.SetRejectNotSubVisible(false);
        if (FEditor.Open(TNickForm::Mode::Nickname)) {
            const QString nickname = FEditor.Nickname();
            const QString number = FEditor.Number();
            FLists.nicks().setRow(row,
                                  NickRow{nickname, number, FEditor.Sound(), FEditor.ActionText()});
            FLists.RequestSave(ListKind::Nicks);
            ApplyNickname(nickname, number);
            FLists.SortNicks();
        }
    } else if (page == ListPage::Msn) {
        const MsnRow entry = FLists.msns().row(row);
        if (!entry.checked) {
            FLists.prompts().inform(UiText(UiForm::Messages, u"IgnoredMsn", FLanguage));
            return;
        }
        FEditor.SetEntry(entry.nickname, entry.msn, entry.sound, entry.action);
        FEditor.EditingIndex = row;
        FEditor.SetRejectNotSubVisible(true);
        if (FEditor.Open(TNickForm::Mode::Msn)) {
            FLists.msns().setRow(row, MsnRow{entry.checked, FEditor.Number(), FEditor.Nickname(),
                                             FEditor.Sound(), FEditor.ActionText()});
            FLists.RequestSave(ListKind::Msn);
        }
    } else {
        return;
    }
    CloseSearch();
}

void TListDlg::nickeditClick()
{
    FEditor.Prefill(QString(), FNumberToTakeOver);
    SetCurrentPage(ListPage::Nicks);
    New1Click();
}

void TListDlg::DialClick()
{
    const ListPage page = CurrentPage();
    const int row = View(page)->selectedRow();
    if (row < 0 || page == ListPage::Msn || !OnDial) return;
    OnDial(SelectedNumber(page, row));
}

void TListDlg::mnuReverseSearchClick()
{
    const int row = lvCalls->selectedRow();
    if (CurrentPage() != ListPage::Calls || row < 0 || !OnReverseSearch || FReverseSearching)
        return;
    FReverseSearching = true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    OnReverseSearch(SelectedNumber(ListPage::Calls, row), [this](bool answered,
                                                                 const QString &text) {
        FReverseSearching = false;
        QApplication::restoreOverrideCursor();
        if (!answered) return;
        FLists.prompts().inform(
            !text.isEmpty() ? text : UiText(UiForm::Messages, u"ReverseSearchEmpty", FLanguage));
    });
}

void TListDlg::ExportToOutlook(OutlookField field)
{
    const int row = lvNicks->selectedRow();
    if (CurrentPage() != ListPage::Nicks || row < 0 || !OnExportToOutlook) return;
    const NickRow &entry = FLists.nicks().row(row);
    OnExportToOutlook(entry.nickname, entry.number, field);
}

void TListDlg::lvCallsDblClick()
{
    UpdateMenuStates();
    if (lvCalls->selectedRow() >= 0 && nickedit->isEnabled()) nickeditClick();
}

void TListDlg::lvNicksDblClick()
{
    UpdateMenuStates();
    if (View(CurrentPage())->selectedRow() >= 0 && Edit1->isEnabled()) Edit1Click();
}

void TListDlg::lvCallsColumnClick(int column)
{
    FLists.CallsColumnClick(column);
    lvCalls->scrollTo(lvCalls->currentIndex());
}

void TListDlg::lvNicksColumnClick(int column)
{
    FLists.NicksColumnClick(column);
    lvNicks->scrollTo(lvNicks->currentIndex());
}

void TListDlg::ApplyLanguage(Language language)
{
    FLanguage = language;
    PageControl1->setTabText(int(ListPage::Calls), UiText(UiForm::Lists, u"Anrufe", language));
    PageControl1->setTabText(int(ListPage::Nicks), UiText(UiForm::Lists, u"Nicknames", language));
    PageControl1->setTabText(int(ListPage::Msn), UiText(UiForm::Lists, u"MSN", language));
    OKBtn->setText(UiText(UiForm::Lists, u"OKBtn", language));
    btnSearch->setText(UiText(UiForm::Lists, u"btnSearch", language));
    const std::pair<QAction *, const char16_t *> items[] = {
        {Lschen1, u"Lschen1"},
        {ClearNoSubmit1, u"ClearNoSubmit1"},
        {Allelschen1, u"Allelschen1"},
        {New1, u"New1"},
        {Edit1, u"Edit1"},
        {nickedit, u"nickedit"},
        {OutlookMenu->menuAction(), u"Outlook"},
        {Privat1, u"Privat1"},
        {Mobil1, u"Mobil1"},
        {Arbeit1, u"Arbeit1"},
        {Haupt1, u"Haupt1"},
        {Dial, u"Dial"},
        {mnuReverseSearch, u"mnuReverseSearch"},
    };
    for (const auto &[action, name] : items)
        action->setText(UiText(UiForm::Lists, QStringView(name), language));
    static_cast<ButtonPanel *>(Panel1)->relayout();
    if (isVisible())
        FitStatusColumn();
    else
        FFitStatusOnShow = true;
    UpdateCaption();
}
