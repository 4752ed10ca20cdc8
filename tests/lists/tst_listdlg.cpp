#include "lists/Calls.h"
#include "lists/ListDlg.h"
#include "lists/ListPrompts.h"
#include "lists/ListView.h"
#include "lists/lists.h"
#include "lists/nick.h"
#include "settings/SettingsStore.h"
#include "tests/lists/WidgetTestSupport.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

namespace {

CallRow call(const QString &key, const QString &number, const QString &nickname = " ")
{
    CallRow row;
    row.dateTime = key;
    row.number = number;
    row.nickname = nickname;
    row.town = " ";
    row.target = "Office";
    row.status = " ";
    return row;
}

QString readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void clickHeader(TListView *view, int column)
{
    QHeaderView *header = view->header();
    const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                    header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
}

void doubleClickRow(TListView *view, int row)
{
    const QRect rect = view->visualRect(view->model()->index(row, 3));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, rect.center());
}

} // namespace

class TestListDlg : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void captionFollowsRowsPagesAndLanguage();
    void menuStatesPerPageAndSelection();
    void headerClicksToggleSortKeysAndStoreThem();
    void hiddenKeyColumnStaysHiddenAndWidthsPersist();
    void firstOpenWidensColumnsToTheirContents();
    void statusWordsOfTheLanguageFitAtTheFirstOpen();
    void deleteAsksAndSaves();
    void deletingTheCallersNicknameClearsThePopupName();
    void deleteAllOnCallsBlanksThePopupNumber();
    void clearNoSubmitRemovesCallsWithoutNumber();
    void doubleClickOnACallTakesItOver();
    void newEntryNamesCallsAndThePendingCall();
    void newEntryIsCheckedAgainstEveryRow();
    void editingAnIgnoredMsnIsRefused();
    void editingAnMsnWritesItBack();
    void toggledMsnCheckBoxSavesAtOnce();
    void popupOfferOpensTheListsOnNicknames();
    void prefilledEntriesStartFromTheDefaultBoxes();
    void prefilledLongNameGetsTheLengthMessage();
    void languageSwitchReachesTheClosedDialog();
    void hooksForDialReverseSearchAndExport();

private:
    TListView *view(const char *name) { return child<TListView>(FDlg.data(), name); }
    QAction *action(const char *name) { return child<QAction>(FDlg.data(), name); }
    // The visible items of the context menu, "+" enabled, "-" disabled (separators bare).
    QString menuStates();
    // Answers the editor opened next with the fields and OK (or Cancel when ok is false).
    std::shared_ptr<bool> answerEditor(const QString &nickname, const QString &number,
                                       bool ok = true);

    QScopedPointer<QTemporaryDir> FDir;
    QScopedPointer<SettingsStore> FSettings;
    ScriptedPrompts FPrompts;
    QScopedPointer<TLists> FLists;
    QScopedPointer<TNickForm> FEditor;
    QScopedPointer<TListDlg> FDlg;
    TCalls FPending;
};

void TestListDlg::init()
{
    FDir.reset(new QTemporaryDir);
    FSettings.reset(new SettingsStore(FDir->filePath("corvane.ini")));
    FSettings->readAll();
    FPrompts = ScriptedPrompts();
    FLists.reset(new TLists(*FSettings, FPrompts, FDir->path()));
    FLists->SetLanguage(Language::English);
    FEditor.reset(new TNickForm(*FLists));
    FDlg.reset(new TListDlg(*FLists, *FEditor));
    FPending = TCalls();
    FDlg->PendingCalls = &FPending;
}

void TestListDlg::cleanup()
{
    FDlg.reset();
    FEditor.reset();
    FLists.reset();
}

QString TestListDlg::menuStates()
{
    QStringList states;
    for (QAction *item : FDlg->ContextMenu()->actions()) {
        if (!item->isVisible()) continue;
        states.append(item->objectName() + (item->isSeparator() ? ""
                                            : item->isEnabled() ? "+"
                                                                : "-"));
    }
    return states.join(u' ');
}

std::shared_ptr<bool> TestListDlg::answerEditor(const QString &nickname, const QString &number,
                                                bool ok)
{
    return whenModal<TNickForm>([=](TNickForm *form) {
        if (!nickname.isNull()) child<QLineEdit>(form, "edNick")->setText(nickname);
        if (!number.isNull()) child<QLineEdit>(form, "edNumber")->setText(number);
        if (ok) QTest::mouseClick(child<QPushButton>(form, "OKBtn"), Qt::LeftButton);
        if (form->isVisible()) form->reject();
    });
}

void TestListDlg::captionFollowsRowsPagesAndLanguage()
{
    FDlg->show();
    QCOMPARE(FDlg->windowTitle(), QStringLiteral("Lists - 0 Entries"));
    FLists->calls().appendRow(call("46000.5", "0301"));
    QCOMPARE(FDlg->windowTitle(), QStringLiteral("Lists - 1 Entries"));
    FLists->nicks().setRows({NickRow{"A", "1", "", ""}, NickRow{"B", "2", "", ""}});
    FDlg->SetCurrentPage(ListPage::Nicks);
    QCOMPARE(FDlg->windowTitle(), QStringLiteral("Lists - 2 Entries"));
    FLists->nicks().removeRows(0, 1);
    QCOMPARE(FDlg->windowTitle(), QStringLiteral("Lists - 1 Entries"));
    FDlg->ApplyLanguage(Language::German);
    QCOMPARE(FDlg->windowTitle(), QString::fromUtf8("Listen - 1 Einträge"));
}

void TestListDlg::menuStatesPerPageAndSelection()
{
    FLists->calls().setRows({call("46000.1", "0301"), call("46000.2", "0402", "Bert"),
                             call("46000.3", "-not transmitted-")});
    FLists->nicks().setRows({NickRow{"Bert", "0402", "", ""}});
    FLists->msns().setRows({MsnRow{true, "4711", "Office", "", ""}});
    FDlg->show();

    const QString callsBare = "Lschen1- ClearNoSubmit1+ Allelschen1- N3 Dial- mnuReverseSearch-";
    FDlg->UpdateMenuStates();
    QCOMPARE(menuStates(), callsBare);

    view("lvCalls")->selectOnlyRow(0);
    FDlg->UpdateMenuStates();
    QCOMPARE(menuStates(), QStringLiteral("Lschen1+ ClearNoSubmit1+ Allelschen1+ N2 nickedit+ N3 "
                                          "Dial- mnuReverseSearch-"));
    QCOMPARE(FDlg->NumberToTakeOver(), QStringLiteral("0301"));

    // Telephony with a device, and a lookup source, enable Dial and the reverse search.
    FSettings->settings.useTapi = true;
    FSettings->settings.tapiDevice = "Modem";
    FSettings->settings.internalReverseSearch = true;
    FDlg->UpdateMenuStates();
    // The built-in lookup needs a server.
    QCOMPARE(menuStates(), QStringLiteral("Lschen1+ ClearNoSubmit1+ Allelschen1+ N2 nickedit+ N3 "
                                          "Dial+ mnuReverseSearch-"));
    FSettings->settings.reverseLookupUrl = "http://lookup.example/";
    FDlg->UpdateMenuStates();
    QCOMPARE(menuStates(), QStringLiteral("Lschen1+ ClearNoSubmit1+ Allelschen1+ N2 nickedit+ N3 "
                                          "Dial+ mnuReverseSearch+"));
    bool lookup = false;
    FDlg->ReverseSearchEnabled = [&] { return lookup; };
    FDlg->UpdateMenuStates();
    QVERIFY(!action("mnuReverseSearch")->isEnabled());

    // A caller with a nickname cannot be taken over; a call without number cannot be dialled.
    view("lvCalls")->selectOnlyRow(1);
    FDlg->UpdateMenuStates();
    QVERIFY(!action("nickedit")->isEnabled());
    QVERIFY(action("Dial")->isEnabled());
    view("lvCalls")->selectOnlyRow(2);
    FDlg->UpdateMenuStates();
    QVERIFY(action("nickedit")->isEnabled());
    QVERIFY(!action("Dial")->isEnabled());
    FDlg->UpdateMenuStates(TListDlg::MenuSource::Search);
    QVERIFY(!action("ClearNoSubmit1")->isVisible());

    FDlg->SetCurrentPage(ListPage::Nicks);
    FDlg->UpdateMenuStates();
    QCOMPARE(menuStates(), QStringLiteral("Lschen1- Allelschen1- N1 New1+ Edit1- Outlook- N3 Dial- "
                                          "mnuReverseSearch-"));
    view("lvNicks")->selectOnlyRow(0);
    FDlg->UpdateMenuStates();
    QCOMPARE(menuStates(), QStringLiteral("Lschen1+ Allelschen1+ N1 New1+ Edit1+ Outlook+ N3 Dial+ "
                                          "mnuReverseSearch-"));
    FDlg->UpdateMenuStates(TListDlg::MenuSource::Search);
    QCOMPARE(menuStates(), QStringLiteral("Lschen1+ Allelschen1+ N1 Edit1+ Outlook+ N3 Dial+ "
                                          "mnuReverseSearch-"));

    FDlg->SetCurrentPage(ListPage::Msn);
    view("lvMSN")->selectOnlyRow(0);
    FDlg->UpdateMenuStates();
    QCOMPARE(menuStates(),
             QStringLiteral("Lschen1+ Allelschen1+ N1 New1+ Edit1+ mnuReverseSearch-"));
}

void TestListDlg::headerClicksToggleSortKeysAndStoreThem()
{
    FLists->calls().setRows(
        {call("46000.1", "0301"), call("46000.3", "0402"), call("46000.2", "0503")});
    FLists->SortCalls(-1);
    FDlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(FDlg.data()));
    auto storedSort = [this](const char *section) {
        SettingsStore reread(FDir->filePath("corvane.ini"));
        reread.readAll();
        return QString(section) == "Calls" ? reread.listViews.callsSort
                                           : reread.listViews.nicksSort;
    };

    clickHeader(view("lvCalls"), CallRow::Date);
    QCOMPARE(FLists->calls().row(0).dateTime, QStringLiteral("46000.3"));
    QCOMPARE(storedSort("Calls"), 1);
    clickHeader(view("lvCalls"), CallRow::Date);
    QCOMPARE(FLists->calls().row(0).dateTime, QStringLiteral("46000.1"));
    QCOMPARE(storedSort("Calls"), -1);
    clickHeader(view("lvCalls"), CallRow::Number);
    QCOMPARE(FLists->calls().row(0).number, QStringLiteral("0503"));
    QCOMPARE(storedSort("Calls"), 3);

    FLists->nicks().setRows(
        {NickRow{"Cleo", "1", "", ""}, NickRow{"Anna", "2", "", ""}, NickRow{"Bert", "3", "", ""}});
    FLists->SortNicks(-1); // ascending by number
    FDlg->SetCurrentPage(ListPage::Nicks);
    clickHeader(view("lvNicks"), NickRow::Number);
    QCOMPARE(FLists->nicks().row(0).number, QStringLiteral("3"));
    QCOMPARE(storedSort("Nicks"), 1);
    FLists->SortNicks(-100); // ascending by nickname
    clickHeader(view("lvNicks"), NickRow::Nickname);
    QCOMPARE(FLists->nicks().row(0).nickname, QStringLiteral("Cleo"));
    QCOMPARE(storedSort("Nicks"), 100);
}

void TestListDlg::hiddenKeyColumnStaysHiddenAndWidthsPersist()
{
    FSettings->listViews.callsCol[3] = 150;
    FSettings->listViews.nicksCol[0] = 140;
    FSettings->listWindow = {30, 40, 700, 500};
    FDlg->ReadSettings();
    TListView *calls = view("lvCalls");
    QCOMPARE(calls->header()->sectionSize(3), 150);
    QCOMPARE(view("lvNicks")->header()->sectionSize(0), 140);
    QCOMPARE(FDlg->size(), QSize(700, 500));

    FLists->calls().setRows({call("46000.1", "0301")}); // a model reset
    calls->header()->resizeSection(CallRow::DateTime, 80);
    QVERIFY(calls->header()->isSectionHidden(CallRow::DateTime));
    QCOMPARE(calls->columnWidths().at(CallRow::DateTime), 0);

    // The store follows the user's changes, so the next write of the settings keeps them.
    FDlg->show();
    calls->header()->resizeSection(CallRow::Town, 123);
    FDlg->resize(650, 450);
    QCOMPARE(FSettings->listViews.callsCol[CallRow::Town], 123);
    QCOMPARE(FSettings->listWindow.width, 650);
    QCOMPARE(FSettings->listViews.callsCol[CallRow::DateTime], 0);
}

void TestListDlg::firstOpenWidensColumnsToTheirContents()
{
    CallRow longCall = call("46000.75", "0301234567890", "Anna Example-Longname");
    longCall.town = "Garmisch-Partenkirchen";
    longCall.target = "Office downstairs";
    longCall.status = "not answered";
    FLists->calls().setRows({longCall});
    FLists->nicks().setRows(
        {NickRow{"Bakery round the corner", "0301234567", "/home/anna/bakery.wav", "log|popup|"}});
    FDlg->ReadSettings();
    FDlg->show();
    const std::array<int, 8> design = ListViewSettings().callsCol;
    // No text is cut off: each fits with the style's margin on either side.
    for (const char *name : {"lvCalls", "lvNicks"}) {
        TListView *list = view(name);
        const int margin =
            list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1;
        for (int c = 0; c < list->header()->count(); ++c) {
            if (list->header()->isSectionHidden(c)) continue;
            const QString text = list->model()->index(0, c).data().toString();
            const int needed = list->fontMetrics().horizontalAdvance(text) + 2 * margin;
            QVERIFY2(list->header()->sectionSize(c) >= needed,
                     qPrintable(QString("%1 column %2: %3").arg(name).arg(c).arg(text)));
        }
    }
    // Date and state were cut off at the design's widths; an empty column keeps its width.
    QVERIFY(view("lvCalls")->header()->sectionSize(CallRow::Date) > design[CallRow::Date]);
    QVERIFY(view("lvCalls")->header()->sectionSize(CallRow::Status) > design[CallRow::Status]);
    QCOMPARE(view("lvMSN")->header()->sectionSize(1), ListViewSettings().msnCol[1]);
    // The window, never opened before, grows to show the wider columns, within the screen.
    QVERIFY(FDlg->width() > 566);
    QVERIFY(FDlg->width() <= FDlg->screen()->availableGeometry().width());
    // The widths are the settings' from now on.
    QCOMPARE(FSettings->listViews.callsCol[CallRow::Town],
             view("lvCalls")->header()->sectionSize(CallRow::Town));
    FDlg->hide();

    // Widths the user keeps in the file stay, even narrower than the contents.
    QVERIFY(FSettings->writeAll());
    QFile ini(FDir->filePath("corvane.ini"));
    QVERIFY(ini.open(QIODevice::Append));
    ini.write("[Calls]\nCol5=40\n");
    ini.close();
    FSettings->readAll();
    TListDlg again(*FLists, *FEditor);
    again.ReadSettings();
    again.show();
    QCOMPARE(child<TListView>(&again, "lvCalls")->header()->sectionSize(CallRow::Town), 40);
}

void TestListDlg::statusWordsOfTheLanguageFitAtTheFirstOpen()
{
    // Widths kept in the file, as every run writes them; no call has a status yet.
    FSettings->listViews.callsColStored = true;
    TListView *calls = view("lvCalls");
    const int margin = calls->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, calls) + 1;
    const auto fits = [&](const QString &word) {
        return calls->header()->sectionSize(CallRow::Status) >=
               calls->fontMetrics().horizontalAdvance(word) + 2 * margin;
    };
    for (const Language language : {Language::German, Language::English}) {
        FSettings->listViews.callsCol[CallRow::Status] = 50;
        FLists->SetLanguage(language);
        FDlg->ApplyLanguage(language);
        FDlg->ReadSettings();
        QCOMPARE(calls->header()->sectionSize(CallRow::Status), 50);
        FDlg->show();
        for (CallStatus status : {CallStatus::Rejected, CallStatus::Busy, CallStatus::NotAnswered,
                                  CallStatus::Answered, CallStatus::Unknown})
            QVERIFY2(fits(statusWord(status, language)), qPrintable(statusWord(status, language)));
        // Kept by the settings from now on.
        QCOMPARE(FSettings->listViews.callsCol[CallRow::Status],
                 calls->header()->sectionSize(CallRow::Status));
        FDlg->hide();
    }
    // Switched while open: the new language's words fit at once. A column the user made wider
    // stays so.
    FDlg->show();
    FLists->SetLanguage(Language::German);
    FDlg->ApplyLanguage(Language::German);
    QVERIFY(fits(QStringLiteral("nicht angenommen")));
    calls->header()->resizeSection(CallRow::Status, 400);
    FDlg->hide();
    FDlg->show();
    QCOMPARE(calls->header()->sectionSize(CallRow::Status), 400);
}

void TestListDlg::deleteAsksAndSaves()
{
    FLists->calls().setRows(
        {call("46000.1", "0301"), call("46000.2", "0402"), call("46000.3", "0503")});
    TListView *calls = view("lvCalls");
    calls->selectOnlyRow(0);
    calls->selectionModel()->select(FLists->calls().index(2, 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    FPrompts.yesNoAnswers = {false, true};
    FDlg->Lschen1Click();
    QCOMPARE(FLists->calls().count(), 3);
    QVERIFY(FLists->WaitForSaves());
    QVERIFY(!QFile::exists(FDir->filePath("Calls")));
    FDlg->Lschen1Click();
    QCOMPARE(FPrompts.questions, QStringList({"Delete line(s)?", "Delete line(s)?"}));
    QCOMPARE(FLists->calls().count(), 1);
    QCOMPARE(FLists->calls().row(0).number, QStringLiteral("0402"));
    QVERIFY(FLists->WaitForSaves());
    const QString file = readFile(FDir->filePath("Calls"));
    QVERIFY(file.contains(";0402;"));
    QVERIFY(!file.contains(";0301;"));
}

void TestListDlg::deletingTheCallersNicknameClearsThePopupName()
{
    FLists->nicks().setRows({NickRow{"Anna", "0301", "", ""}, NickRow{"Bert", "0402", "", ""}});
    FPending.Add("0402", "Bert", "12:00:00", "", "", "Office");
    int redisplays = 0;
    FDlg->OnPendingCallChanged = [&] { ++redisplays; };
    FDlg->SetCurrentPage(ListPage::Nicks);
    FPrompts.yesNoAnswers = {true, true};

    view("lvNicks")->selectOnlyRow(0); // Anna: not the popup's caller
    FDlg->Lschen1Click();
    QCOMPARE(redisplays, 0);
    QCOMPARE(FPending.Get(-1).value("NickName"), QStringLiteral("Bert"));

    view("lvNicks")->selectOnlyRow(0); // Bert
    FDlg->Lschen1Click();
    QCOMPARE(redisplays, 1);
    QVERIFY(FPending.Get(-1).value("NickName").isEmpty());
    QCOMPARE(FLists->nicks().count(), 0);
    QVERIFY(FLists->WaitForSaves());
    QVERIFY(QFile::exists(FDir->filePath("Nicks")));
}

void TestListDlg::deleteAllOnCallsBlanksThePopupNumber()
{
    FLists->calls().setRows({call("46000.1", "0301"), call("46000.2", "0402")});
    FLists->nicks().setRows({NickRow{"Anna", "0301", "", ""}});
    int blanked = 0;
    FDlg->OnClearPopupNumber = [&] { ++blanked; };
    FPrompts.yesNoAnswers = {false, true, true};
    FDlg->Allelschen1Click();
    QCOMPARE(blanked, 0);
    QCOMPARE(FLists->calls().count(), 2);
    FDlg->Allelschen1Click();
    QCOMPARE(FPrompts.questions.last(), QStringLiteral("Delete all lines?"));
    QCOMPARE(blanked, 1);
    QCOMPARE(FLists->calls().count(), 0);
    QVERIFY(FLists->WaitForSaves());
    QCOMPARE(readFile(FDir->filePath("Calls")).count("\r\n"), 2); // header and captions

    FDlg->SetCurrentPage(ListPage::Nicks);
    FDlg->Allelschen1Click();
    QCOMPARE(blanked, 1);
    QCOMPARE(FLists->nicks().count(), 0);
}

void TestListDlg::clearNoSubmitRemovesCallsWithoutNumber()
{
    FLists->calls().setRows({call("46000.1", "-not transmitted-"), call("46000.2", "0402"),
                             call("46000.3", QString::fromUtf8("-nicht übermittelt-")),
                             call("46000.4", "-not transmitted")});
    FDlg->ClearNoSubmit1Click();
    QCOMPARE(FLists->calls().count(), 2);
    QCOMPARE(FLists->calls().row(0).number, QStringLiteral("0402"));
    QCOMPARE(FLists->calls().row(1).number, QStringLiteral("-not transmitted"));
    QVERIFY(FLists->WaitForSaves());
    QVERIFY(QFile::exists(FDir->filePath("Calls")));
}

void TestListDlg::doubleClickOnACallTakesItOver()
{
    FLists->calls().setRows(
        {call("46000.1", "0301"), call("46000.2", "0402", "Bert"), call("46000.3", "03015")});
    FLists->nicks().setRows({NickRow{"Bert", "0402", "", ""}});
    FDlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(FDlg.data()));

    // A caller who has a nickname already: nothing opens.
    auto opened = whenModal<TNickForm>([](TNickForm *form) { form->reject(); }, 300);
    doubleClickRow(view("lvCalls"), 1);
    QTest::qWait(400);
    QVERIFY(!*opened);

    QString shownNumber = "unset";
    QString shownNickname = "unset";
    auto ran = whenModal<TNickForm>([&](TNickForm *form) {
        shownNumber = child<QLineEdit>(form, "edNumber")->text();
        shownNickname = child<QLineEdit>(form, "edNick")->text();
        child<QLineEdit>(form, "edNick")->setText("Anna");
        QTest::mouseClick(child<QPushButton>(form, "OKBtn"), Qt::LeftButton);
    });
    doubleClickRow(view("lvCalls"), 0);
    QVERIFY(*ran);
    QCOMPARE(shownNumber, QStringLiteral("0301"));
    QCOMPARE(shownNickname, QString());
    QCOMPARE(FDlg->CurrentPage(), ListPage::Nicks);
    QCOMPARE(FLists->FindNickByNumber("0301"), view("lvNicks")->selectedRow());
    // The new name reaches the calls that begin with the number.
    QCOMPARE(FLists->calls().row(0).nickname, QStringLiteral("Anna"));
    QCOMPARE(FLists->calls().row(2).nickname, QStringLiteral("Anna"));
    QVERIFY(FLists->WaitForSaves());
    QVERIFY(readFile(FDir->filePath("Nicks")).contains("Anna;0301;;log|popup|;"));
}

void TestListDlg::newEntryNamesCallsAndThePendingCall()
{
    FLists->calls().setRows(
        {call("46000.1", "123"), call("46000.2", "1239"), call("46000.3", "124")});
    FLists->nicks().setRows({NickRow{"Zora", "0301", "", ""}});
    FLists->SortNicks(100);
    FPending.Add("1234", "", "12:00:00", "", "", "Office");
    int redisplays = 0;
    FDlg->OnPendingCallChanged = [&] { ++redisplays; };
    FDlg->SetCurrentPage(ListPage::Nicks);
    FDlg->show(); // else the dialog opens modally after the new entry
    FDlg->UpdateMenuStates();

    auto ran = answerEditor("Anna", "123*");
    action("New1")->trigger();
    QVERIFY(*ran);
    QCOMPARE(FLists->calls().row(0).nickname, QStringLiteral("Anna"));
    QCOMPARE(FLists->calls().row(1).nickname, QStringLiteral("Anna"));
    QCOMPARE(FLists->calls().row(2).nickname, QStringLiteral(" "));
    QCOMPARE(FPending.Get(-1).value("NickName"), QStringLiteral("Anna"));
    QCOMPARE(redisplays, 1);
    // Sorted by the stored key: 100 is descending by nickname.
    QCOMPARE(FLists->nicks().row(0).nickname, QStringLiteral("Zora"));
    QCOMPARE(FLists->nicks().row(1).nickname, QStringLiteral("Anna"));
    QVERIFY(FLists->WaitForSaves());
    QVERIFY(readFile(FDir->filePath("Calls")).contains(";1239;Anna;"));

    // Cancel adds nothing.
    answerEditor("Carl", "555", false);
    action("New1")->trigger();
    QCOMPARE(FLists->nicks().count(), 2);
}

void TestListDlg::newEntryIsCheckedAgainstEveryRow()
{
    FLists->nicks().setRows({NickRow{"Anna", "0301", "", ""}, NickRow{"Bert", "0402", "", ""}});
    FLists->SortNicks(-100);
    FLists->calls().setRows({call("46000.1", "0402")});
    FDlg->SetCurrentPage(ListPage::Nicks);
    FDlg->show();

    // Editing Bert and cancelling leaves the editor's index at Bert's row.
    view("lvNicks")->selectOnlyRow(1);
    answerEditor(QString(), QString(), false);
    FDlg->Edit1Click();

    // A take-over of Bert's number must still meet Bert's row in the duplicate check.
    FDlg->SetCurrentPage(ListPage::Calls);
    view("lvCalls")->selectOnlyRow(0);
    FDlg->UpdateMenuStates();
    FLists->nicks().setRow(1, NickRow{"Bert", "0403", "", ""});
    FDlg->UpdateMenuStates();
    answerEditor("Bertram", "0403");
    FDlg->nickeditClick();
    QCOMPARE(FPrompts.messages,
             QStringList({"Entry for number 0403 already exits\n\rfor nickname Bert"}));
    QCOMPARE(FLists->nicks().count(), 2);
}

void TestListDlg::editingAnIgnoredMsnIsRefused()
{
    FLists->msns().setRows({MsnRow{false, "4711", "Office", "", "log|"}});
    FDlg->SetCurrentPage(ListPage::Msn);
    view("lvMSN")->selectOnlyRow(0);
    auto opened = whenModal<TNickForm>([](TNickForm *form) { form->reject(); }, 200);
    FDlg->Edit1Click();
    QTest::qWait(300);
    QVERIFY(!*opened);
    QCOMPARE(FPrompts.messages,
             QStringList({"You cannot change the properties of an ignored MSN"}));
    QCOMPARE(FLists->msns().row(0), (MsnRow{false, "4711", "Office", "", "log|"}));
}

void TestListDlg::editingAnMsnWritesItBack()
{
    FLists->msns().setRows({MsnRow{true, "4711", "Office", "", "log|reject not submmitted|"}});
    FDlg->SetCurrentPage(ListPage::Msn);
    view("lvMSN")->selectOnlyRow(0);
    bool offered = false;
    auto ran = whenModal<TNickForm>([&](TNickForm *form) {
        offered = child<QCheckBox>(form, "cbRejectNotSub")->isVisible() &&
                  child<QCheckBox>(form, "cbRejectNotSub")->isChecked();
        child<QLineEdit>(form, "edNick")->setText("Desk");
        QTest::mouseClick(child<QPushButton>(form, "OKBtn"), Qt::LeftButton);
    });
    FDlg->Edit1Click();
    QVERIFY(*ran);
    QVERIFY(offered);
    QCOMPARE(FLists->msns().row(0),
             (MsnRow{true, "4711", "Desk", "", "log|reject not submmitted|"}));
    QVERIFY(FLists->WaitForSaves());
    QVERIFY(readFile(FDir->filePath("MSN")).contains("1;4711;Desk;;log|reject not submmitted|;"));
}

void TestListDlg::toggledMsnCheckBoxSavesAtOnce()
{
    FLists->msns().setRows(
        {MsnRow{true, "4711", "Office", "", ""}, MsnRow{true, "4712", "Fax", "", ""}});
    FDlg->SetCurrentPage(ListPage::Msn);
    FDlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(FDlg.data()));
    TListView *msns = view("lvMSN");
    // A click on the box of the first row.
    QStyleOptionViewItem option;
    option.initFrom(msns);
    option.rect = msns->visualRect(FLists->msns().index(0, MsnRow::Check));
    option.features = QStyleOptionViewItem::HasCheckIndicator;
    const QRect box =
        msns->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, msns);
    QTest::mouseClick(msns->viewport(), Qt::LeftButton, {}, box.center());
    QVERIFY(!FLists->msns().row(0).checked);
    QVERIFY(FLists->WaitForSaves());
    QVERIFY(readFile(FDir->filePath("MSN")).contains("0;4711;Office;;;"));

    QVERIFY(QFile::remove(FDir->filePath("MSN")));
    msns->selectOnlyRow(1);
    msns->selectOnlyRow(0);
    QVERIFY(FLists->WaitForSaves());
    QVERIFY(!QFile::exists(FDir->filePath("MSN")));
}

void TestListDlg::popupOfferOpensTheListsOnNicknames()
{
    FLists->calls().setRows({call("46000.1", "0301")});
    QString shownNickname;
    QString shownNumber;
    auto edited = whenModal<TNickForm>([&](TNickForm *form) {
        shownNickname = child<QLineEdit>(form, "edNick")->text();
        shownNumber = child<QLineEdit>(form, "edNumber")->text();
        QTest::mouseClick(child<QPushButton>(form, "OKBtn"), Qt::LeftButton);
    });
    ListPage shownPage = ListPage::Calls;
    auto listed = whenModal<TListDlg>([&](TListDlg *dlg) {
        shownPage = dlg->CurrentPage();
        dlg->accept();
    });
    FDlg->OfferNewNickname(QString::fromUtf8("Müller KG"), "0301");
    QVERIFY(*edited);
    QVERIFY(*listed);
    QCOMPARE(shownNickname, QString::fromUtf8("Müller KG"));
    QCOMPARE(shownNumber, QStringLiteral("0301"));
    QCOMPARE(shownPage, ListPage::Nicks);
    QCOMPARE(FLists->calls().row(0).nickname, QString::fromUtf8("Müller KG"));
    QVERIFY(!FEditor->Prefilled);
}

void TestListDlg::prefilledEntriesStartFromTheDefaultBoxes()
{
    FLists->nicks().setRows({NickRow{"Spam", "0900", "", "log|reject all|"}});
    FLists->calls().setRows({call("46000.1", "0301"), call("46000.2", "0402")});
    FDlg->SetCurrentPage(ListPage::Nicks);
    FDlg->show();
    // The last entry edited rejects its calls and shows no popup.
    view("lvNicks")->selectOnlyRow(0);
    answerEditor(QString(), QString(), false);
    FDlg->Edit1Click();

    // The popup's offer and the take-over each add an entry with the default flags.
    answerEditor(QString(), QString());
    FDlg->OfferNewNickname("Anna", "0301");
    FDlg->SetCurrentPage(ListPage::Calls);
    view("lvCalls")->selectOnlyRow(FLists->calls().row(0).number == "0402" ? 0 : 1);
    FDlg->UpdateMenuStates();
    answerEditor("Bert", QString());
    FDlg->nickeditClick();
    const int anna = FLists->FindNickByNumber("0301");
    const int bert = FLists->FindNickByNumber("0402");
    QVERIFY(anna >= 0 && bert >= 0);
    QCOMPARE(FLists->nicks().row(anna).action, QStringLiteral("log|popup|"));
    QCOMPARE(FLists->nicks().row(bert).action, QStringLiteral("log|popup|"));
    QVERIFY(!FLists->NickRejectAllFlag(anna));
}

void TestListDlg::prefilledLongNameGetsTheLengthMessage()
{
    const QString name(TNickForm::MaxNicknameLength + 5, u'n');
    QString shown;
    int afterTyping = 0;
    auto edited = whenModal<TNickForm>([&](TNickForm *form) {
        QLineEdit *edNick = child<QLineEdit>(form, "edNick");
        shown = edNick->text();
        // Typing does not make it longer; OK names the limit and keeps the editor open.
        edNick->end(false);
        QTest::keyClicks(edNick, "xy");
        afterTyping = int(edNick->text().size());
        QTest::mouseClick(child<QPushButton>(form, "OKBtn"), Qt::LeftButton);
        QVERIFY(form->isVisible());
        // Shortened to the limit, it is taken; typing stops there.
        for (int i = 0; i < 5; ++i)
            QTest::keyClick(edNick, Qt::Key_Backspace);
        QTest::keyClicks(edNick, "z");
        QCOMPARE(edNick->text().size(), qsizetype(TNickForm::MaxNicknameLength));
        QTest::mouseClick(child<QPushButton>(form, "OKBtn"), Qt::LeftButton);
    });
    auto listed = whenModal<TListDlg>([](TListDlg *dlg) { dlg->accept(); });
    FDlg->OfferNewNickname(name, "0301");
    QVERIFY(*edited);
    QCOMPARE(shown, name);
    QCOMPARE(afterTyping, int(name.size()));
    QCOMPARE(FPrompts.messages,
             QStringList({"Please do not use nicknames longer than 45 characters"}));
    QCOMPARE(FLists->nicks().row(0).nickname, QString(TNickForm::MaxNicknameLength, u'n'));
}

void TestListDlg::languageSwitchReachesTheClosedDialog()
{
    TLanguageSwitch language(FLists.data());
    language.Register(FDlg.data(), UiForm::Lists);
    language.Register(FEditor.data(), UiForm::Nick);
    auto texts = [this] {
        QStringList all;
        for (QAction *item : FDlg->findChildren<QAction *>()) {
            if (!item->objectName().isEmpty() && !item->isSeparator())
                all.append(item->objectName() + "=" + item->text());
        }
        auto *pages = child<QTabWidget>(FDlg.data(), "PageControl1");
        for (int i = 0; i < pages->count(); ++i)
            all.append(pages->tabText(i));
        all.append(child<QPushButton>(FDlg.data(), "OKBtn")->text());
        all.append(child<QPushButton>(FDlg.data(), "btnSearch")->text());
        all.append(FLists->calls().headerData(1, Qt::Horizontal).toString());
        return all;
    };
    language.SetLanguage(0);
    const QStringList german = texts();
    QVERIFY(german.contains(QString::fromUtf8("Allelschen1=&Alle Löschen")));
    QVERIFY(german.contains(QString::fromUtf8("Schließen")));
    QVERIFY(german.contains("Datum"));
    QVERIFY(german.contains("Spitznamen"));
    language.SetLanguage(1);
    const QStringList english = texts();
    QVERIFY(english.contains("Allelschen1=Delete &All"));
    QVERIFY(english.contains("Search (F3)"));
    QVERIFY(english.contains("Date"));
    for (const QString &text : german + english)
        QVERIFY2(!text.endsWith(u'=') && !text.isEmpty(), qPrintable(text));
    QCOMPARE(german.size(), english.size());
    for (int i = 0; i < german.size(); ++i) {
        if (!german.at(i).contains("MSN"))
            QVERIFY2(german.at(i) != english.at(i), qPrintable(german.at(i)));
    }
    QCOMPARE(child<QPushButton>(FEditor.data(), "CancelBtn")->text(), QStringLiteral("Cancel"));
}

void TestListDlg::hooksForDialReverseSearchAndExport()
{
    FLists->calls().setRows({call("46000.1", "0301")});
    FLists->nicks().setRows({NickRow{"Anna", "0402", "", ""}});
    FSettings->settings.useTapi = true;
    FSettings->settings.tapiDevice = "Modem";
    view("lvCalls")->selectOnlyRow(0);

    FDlg->DialClick(); // no dialer yet: nothing happens
    QStringList dialled;
    FDlg->OnDial = [&](const QString &number) { dialled.append(number); };
    FDlg->DialClick();
    QCOMPARE(dialled, QStringList({"0301"}));

    FDlg->mnuReverseSearchClick();
    QVERIFY(FPrompts.messages.isEmpty());
    // The search answers later: until then the cursor is busy and the item does nothing.
    QStringList searched;
    TListDlg::ReverseSearchDone answer;
    FDlg->ReverseSearchEnabled = [] { return true; };
    FDlg->OnReverseSearch = [&](const QString &number, TListDlg::ReverseSearchDone done) {
        searched.append(number);
        answer = std::move(done);
    };
    FDlg->mnuReverseSearchClick();
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    FDlg->UpdateMenuStates();
    QVERIFY(!action("mnuReverseSearch")->isEnabled());
    FDlg->mnuReverseSearchClick();
    QCOMPARE(searched, QStringList({"0301"}));
    std::exchange(answer, nullptr)(true, "Name of 0301\nStreet 1");
    QVERIFY(!QApplication::overrideCursor());
    QCOMPARE(FPrompts.messages, QStringList({"Name of 0301\nStreet 1"}));
    FDlg->UpdateMenuStates();
    QVERIFY(action("mnuReverseSearch")->isEnabled());
    // Nothing found; a search that ended with a message of its own shows no second box.
    FDlg->mnuReverseSearchClick();
    std::exchange(answer, nullptr)(true, QString());
    QCOMPARE(FPrompts.messages.last(), QStringLiteral("No information found in reverse search"));
    FDlg->mnuReverseSearchClick();
    std::exchange(answer, nullptr)(false, QString());
    QVERIFY(!QApplication::overrideCursor());
    QCOMPARE(FPrompts.messages.size(), 2);

    QStringList exported;
    FDlg->OnExportToOutlook = [&](const QString &nickname, const QString &number,
                                  OutlookField field) {
        exported.append(nickname + "/" + number + "/" + QString::number(int(field)));
    };
    FDlg->SetCurrentPage(ListPage::Nicks);
    view("lvNicks")->selectOnlyRow(0);
    FDlg->UpdateMenuStates();
    action("Mobil1")->trigger();
    FDlg->DialClick();
    QCOMPARE(exported, QStringList({"Anna/0402/1"}));
    QCOMPARE(dialled, QStringList({"0301", "0402"}));
}

QTEST_MAIN(TestListDlg)
#include "tst_listdlg.moc"
