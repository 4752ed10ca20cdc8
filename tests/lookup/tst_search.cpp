#include "lists/ListDlg.h"
#include "lists/ListPrompts.h"
#include "lists/ListView.h"
#include "lists/lists.h"
#include "lists/nick.h"
#include "lookup/search.h"
#include "settings/SettingsStore.h"
#include "tests/lists/WidgetTestSupport.h"

#include <QAction>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace {

CallRow call(const QString &key, const QString &number)
{
    CallRow row;
    row.dateTime = key;
    row.number = number;
    row.nickname = " ";
    row.town = " ";
    row.target = "Office";
    row.status = " ";
    return row;
}

QStringList resultColumn(TSearchDlg &dlg, int column)
{
    QStringList texts;
    for (int i = 0; i < dlg.results().count(); ++i)
        texts.append(dlg.results().row(i).at(column));
    return texts;
}

QStringList comboItems(QComboBox *box)
{
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items.append(box->itemText(i));
    return items;
}

} // namespace

class TestSearch : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void caseFoldingCoversAToZOnly();
    void enterInTheTextFieldSearches();
    void columnChoicesPerList();
    void changingTheListClearsResultsAndSwitchesThePage();
    void locateFindsTheFirstOfIdenticalRows();
    void doubleClickLeadsToTheListsDialog();
    void resultHeaderClickSortsAndRemembersTheKey();
    void contextMenuActsOnTheLocatedRow();
    void contextMenuRowIsTheHighlightedResultAfterTheListChanged();
    void showPicksTheListAndFollowsTheLanguage();

private:
    QScopedPointer<QTemporaryDir> FDir;
    QScopedPointer<SettingsStore> FSettings;
    ScriptedPrompts FPrompts;
    QScopedPointer<TLists> FLists;
    QScopedPointer<TNickForm> FEditor;
    QScopedPointer<TListDlg> FListDlg;
    QScopedPointer<TSearchDlg> FDlg;
};

void TestSearch::init()
{
    FDir.reset(new QTemporaryDir);
    FSettings.reset(new SettingsStore(FDir->filePath("corvane.ini")));
    FSettings->readAll();
    FPrompts = ScriptedPrompts();
    FLists.reset(new TLists(*FSettings, FPrompts, FDir->path()));
    FLists->SetLanguage(Language::English);
    FEditor.reset(new TNickForm(*FLists));
    FListDlg.reset(new TListDlg(*FLists, *FEditor));
    FDlg.reset(new TSearchDlg(*FLists, *FListDlg));
    FLists->nicks().setRows(
        {NickRow{"Bakery", "0301", "", ""}, NickRow{QString::fromUtf8("Bäckerei"), "0302", "", ""},
         NickRow{"City Bakery", "0303", "", ""},
         NickRow{QString::fromUtf8("BÄCKEREI"), "0304", "", ""}, NickRow{"Smith", "0305", "", ""}});
}

void TestSearch::cleanup()
{
    FDlg.reset();
    FListDlg.reset();
    FEditor.reset();
    FLists.reset();
}

void TestSearch::caseFoldingCoversAToZOnly()
{
    FDlg->ChooseList(ListPage::Nicks);
    FDlg->SetSearchText("BAK");
    QCOMPARE(FDlg->Search(), 2);
    QCOMPARE(resultColumn(*FDlg, 0), QStringList({"Bakery", "City Bakery"}));
    QCOMPARE(resultColumn(*FDlg, 1), QStringList({"0301", "0303"}));

    // Umlauts are compared as they are; the letters around them fold.
    FDlg->SetSearchText(QString::fromUtf8("bä"));
    FDlg->Search();
    QCOMPARE(resultColumn(*FDlg, 0), QStringList({QString::fromUtf8("Bäckerei")}));
    FDlg->SetSearchText(QString::fromUtf8("bÄcK"));
    FDlg->Search();
    QCOMPARE(resultColumn(*FDlg, 0), QStringList({QString::fromUtf8("BÄCKEREI")}));

    FDlg->SetSearchText("");
    QCOMPARE(FDlg->Search(), 0);
    QVERIFY(TSearchDlg::ContainsFolded(u"xyABC", u"abc"));
    QVERIFY(!TSearchDlg::ContainsFolded(u"ab", u"abc"));
}

void TestSearch::enterInTheTextFieldSearches()
{
    FDlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(FDlg.data()));
    auto *edit = child<QLineEdit>(FDlg.data(), "edSearch");
    QCOMPARE(FDlg->focusWidget(), edit);
    QTest::keyClicks(edit, "smi");
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(resultColumn(*FDlg, 0), QStringList({"Smith"}));
    QVERIFY(FDlg->isVisible());

    // A click on a label clears results and text.
    QTest::mouseClick(child<QLabel>(FDlg.data(), "lbContent"), Qt::LeftButton);
    QCOMPARE(FDlg->results().count(), 0);
    QVERIFY(edit->text().isEmpty());
    QTest::keyClick(edit, Qt::Key_Escape);
    QVERIFY(!FDlg->isVisible());
}

void TestSearch::columnChoicesPerList()
{
    auto *columns = child<QComboBox>(FDlg.data(), "cbItem");
    FDlg->ChooseList(ListPage::Calls);
    QCOMPARE(comboItems(columns),
             QStringList({"Date", "Time", "Phone number", "Nickname", "Town", "Target", "State"}));
    QCOMPARE(columns->currentText(), QStringLiteral("Phone number"));
    QCOMPARE(FDlg->SearchColumn(), int(CallRow::Number));

    FDlg->ChooseList(ListPage::Nicks);
    QCOMPARE(comboItems(columns), QStringList({"Nickname", "Phone number", "Soundfile", "Action"}));
    QCOMPARE(FDlg->SearchColumn(), int(NickRow::Nickname));
    columns->setCurrentIndex(1);
    FDlg->SetSearchText("030");
    QCOMPARE(FDlg->Search(), 5);

    FLists->msns().setRows(
        {MsnRow{true, "4711", "Office", "", ""}, MsnRow{false, "4712", "Fax", "", ""}});
    FDlg->ChooseList(ListPage::Msn);
    QCOMPARE(comboItems(columns), QStringList({"MSN", "Nickname", "Soundfile", "Action"}));
    QCOMPARE(FDlg->SearchColumn(), int(MsnRow::Nickname));
    FDlg->SetSearchText("FAX");
    FDlg->Search();
    QCOMPARE(resultColumn(*FDlg, MsnRow::Msn), QStringList({"4712"}));
}

void TestSearch::changingTheListClearsResultsAndSwitchesThePage()
{
    FLists->calls().setRows({call("46000.1", "0301"), call("46000.2", "0402")});
    FDlg->ChooseList(ListPage::Nicks);
    FDlg->SetSearchText("a");
    QVERIFY(FDlg->Search() > 0);

    child<QComboBox>(FDlg.data(), "cbLists")->setCurrentIndex(int(ListPage::Calls));
    QCOMPARE(FDlg->ChosenList(), ListPage::Calls);
    QCOMPARE(FDlg->results().count(), 0);
    QCOMPARE(FListDlg->CurrentPage(), ListPage::Calls);
    QCOMPARE(FDlg->results().columnCount(), int(CallRow::ColumnCount));

    // The calls' date-time key column stays hidden in the results as well.
    FDlg->SetSearchText("04");
    QCOMPARE(FDlg->Search(), 1);
    QHeaderView *header = FDlg->resultView()->header();
    QVERIFY(header->isSectionHidden(CallRow::DateTime));
    header->resizeSection(CallRow::DateTime, 60);
    QVERIFY(header->isSectionHidden(CallRow::DateTime));
}

void TestSearch::locateFindsTheFirstOfIdenticalRows()
{
    FLists->nicks().setRows({NickRow{"Smith", "1", "", ""}, NickRow{"Anna", "0301", "", ""},
                             NickRow{"Bert", "2", "", ""}, NickRow{"Anna", "0301", "", ""}});
    FDlg->ChooseList(ListPage::Nicks);
    FDlg->SetSearchText("anna");
    QCOMPARE(FDlg->Search(), 2);
    TListView *nicks = FListDlg->View(ListPage::Nicks);
    nicks->selectOnlyRow(2);
    QCOMPARE(FDlg->Locate(1), 1);
    QCOMPARE(FDlg->Locate(0), 1);
    QCOMPARE(nicks->selectedRows(), QList<int>({1}));

    // A result whose row is gone selects nothing.
    FLists->nicks().setRows({NickRow{"Smith", "1", "", ""}});
    QCOMPARE(FDlg->Locate(0), -1);
    QVERIFY(nicks->selectedRows().isEmpty());
}

void TestSearch::doubleClickLeadsToTheListsDialog()
{
    FDlg->show();
    FDlg->SetSearchText("city");
    FDlg->Search();
    TListView *results = FDlg->resultView();
    const QPoint at = results->visualRect(FDlg->results().index(0, 0)).center();

    // The lists dialog is hidden: the search steps aside and the lists open on the row.
    int selected = -1;
    ListPage page = ListPage::Calls;
    auto opened = whenModal<TListDlg>([&](TListDlg *dlg) {
        page = dlg->CurrentPage();
        selected = dlg->View(page)->selectedRow();
        dlg->accept();
    });
    QTest::mouseClick(results->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(results->viewport(), Qt::LeftButton, {}, at);
    QVERIFY(*opened);
    QCOMPARE(page, ListPage::Nicks);
    QCOMPARE(selected, 2);
    QVERIFY(!FDlg->isVisible());

    // The lists dialog is visible: the search closes.
    FListDlg->show();
    FDlg->show();
    FDlg->SetSearchText("smith");
    FDlg->Search();
    QTest::mouseClick(results->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(results->viewport(), Qt::LeftButton, {}, at);
    QVERIFY(!FDlg->isVisible());
    QCOMPARE(FListDlg->View(ListPage::Nicks)->selectedRow(), 4);
}

void TestSearch::resultHeaderClickSortsAndRemembersTheKey()
{
    FLists->nicks().setRows({NickRow{"Anna", "0303", "", ""}, NickRow{"Bert", "0301", "", ""},
                             NickRow{"Cleo", "0302", "", ""}});
    FDlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(FDlg.data()));
    child<QComboBox>(FDlg.data(), "cbItem")->setCurrentIndex(NickRow::Number);
    FDlg->SetSearchText("030");
    FDlg->Search();
    QHeaderView *header = FDlg->resultView()->header();
    auto click = [header](int column) {
        const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                        header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    };
    click(NickRow::Number);
    QCOMPARE(resultColumn(*FDlg, NickRow::Number), QStringList({"0301", "0302", "0303"}));
    QCOMPARE(FSettings->listViews.nicksSort, -1);
    click(NickRow::Number);
    QCOMPARE(resultColumn(*FDlg, NickRow::Number), QStringList({"0303", "0302", "0301"}));
    QCOMPARE(FSettings->listViews.nicksSort, 1);
    click(NickRow::Nickname);
    QCOMPARE(resultColumn(*FDlg, NickRow::Nickname), QStringList({"Cleo", "Bert", "Anna"}));
    QCOMPARE(FSettings->listViews.nicksSort, 100);
    click(NickRow::Nickname);
    QCOMPARE(FSettings->listViews.nicksSort, -100);
    // The list itself keeps its order, and the settings are not written by the click.
    QCOMPARE(FLists->nicks().row(0).nickname, QStringLiteral("Anna"));
    SettingsStore reread(FDir->filePath("corvane.ini"));
    reread.readAll();
    QCOMPARE(reread.listViews.nicksSort, 100);

    FLists->calls().setRows({call("46000.2", "0301"), call("46000.1", "0302")});
    child<QComboBox>(FDlg.data(), "cbLists")->setCurrentIndex(int(ListPage::Calls));
    FDlg->SetSearchText("030");
    FDlg->Search();
    click(CallRow::Date);
    QCOMPARE(resultColumn(*FDlg, CallRow::DateTime), QStringList({"46000.1", "46000.2"}));
    QCOMPARE(FSettings->listViews.callsSort, -1);
}

void TestSearch::contextMenuActsOnTheLocatedRow()
{
    FDlg->show();
    FDlg->SetSearchText("bakery");
    FDlg->Search();
    FDlg->resultView()->selectOnlyRow(1); // City Bakery
    FLists->nicks().appendRow(NickRow{"Bakery Two", "0306", "", ""});

    QStringList visible;
    QMenu *menu = FListDlg->ContextMenu();
    auto *timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, [&, timer] {
        if (!menu->isVisible()) return;
        timer->stop();
        for (QAction *item : menu->actions()) {
            if (item->isVisible() && !item->isSeparator()) visible.append(item->objectName());
        }
        menu->close();
    });
    timer->start(5);
    emit FDlg->resultView()->customContextMenuRequested(QPoint(5, 5));
    delete timer;

    QCOMPARE(visible, QStringList({"Lschen1", "Allelschen1", "Edit1", "Outlook", "Dial",
                                   "mnuReverseSearch"}));
    QCOMPARE(FListDlg->View(ListPage::Nicks)->selectedRow(), 2);
    // The search ran again before the menu opened.
    QCOMPARE(resultColumn(*FDlg, 0), QStringList({"Bakery", "City Bakery", "Bakery Two"}));
    QCOMPARE(FDlg->resultView()->selectedRow(), 1);

    // Delete acts on the located row and closes the search.
    FPrompts.yesNoAnswers = {true};
    FListDlg->Lschen1Click();
    QVERIFY(!FDlg->isVisible());
    QCOMPARE(FLists->FindNickByNumber("0303"), -1);
    QCOMPARE(FLists->nicks().count(), 5);
}

void TestSearch::contextMenuRowIsTheHighlightedResultAfterTheListChanged()
{
    QMenu *menu = FListDlg->ContextMenu();
    bool deleteEnabled = true;
    auto openMenu = [&] {
        QTimer timer;
        connect(&timer, &QTimer::timeout, this, [&] {
            if (!menu->isVisible()) return;
            timer.stop();
            for (QAction *item : menu->actions()) {
                if (item->objectName() == "Lschen1") deleteEnabled = item->isEnabled();
            }
            menu->close();
        });
        timer.start(5);
        emit FDlg->resultView()->customContextMenuRequested(QPoint(5, 5));
    };
    FDlg->show();
    FDlg->SetSearchText("bakery");
    FDlg->Search();
    FDlg->resultView()->selectOnlyRow(1); // City Bakery
    // A new match before it in list order moves it down the results.
    QList<NickRow> rows = {NickRow{"Apple Bakery", "0300", "", ""}};
    for (int i = 0; i < FLists->nicks().count(); ++i)
        rows.append(FLists->nicks().row(i));
    FLists->nicks().setRows(rows);
    openMenu();
    const int highlighted = FDlg->resultView()->selectedRow();
    QVERIFY(highlighted >= 0);
    QCOMPARE(FDlg->results().row(highlighted).at(0), QString("City Bakery"));
    const int acted = FListDlg->View(ListPage::Nicks)->selectedRow();
    QVERIFY(acted >= 0);
    QCOMPARE(FLists->nicks().row(acted).nickname, QString("City Bakery"));
    QVERIFY(deleteEnabled);

    // A result that no longer matches leaves nothing to act on.
    FDlg->resultView()->selectOnlyRow(0); // Apple Bakery
    rows[0].nickname = "Apple Shop";
    FLists->nicks().setRows(rows);
    openMenu();
    QCOMPARE(FDlg->resultView()->selectedRow(), -1);
    QCOMPARE(FListDlg->View(ListPage::Nicks)->selectedRow(), -1);
    QVERIFY(!deleteEnabled);
}

void TestSearch::showPicksTheListAndFollowsTheLanguage()
{
    FListDlg->SetCurrentPage(ListPage::Calls);
    FDlg->show();
    QCOMPARE(FDlg->ChosenList(), ListPage::Nicks);
    QCOMPARE(FListDlg->CurrentPage(), ListPage::Nicks);
    FDlg->hide();

    FListDlg->show();
    FListDlg->SetCurrentPage(ListPage::Msn);
    FDlg->show();
    QCOMPARE(FDlg->ChosenList(), ListPage::Msn);
    FDlg->move(40, 50);
    QCOMPARE(FSettings->searchWindow.left, 40);

    TLanguageSwitch language(FLists.data());
    language.Register(FDlg.data(), UiForm::Search);
    language.Register(FListDlg.data(), UiForm::Lists);
    language.SetLanguage(0);
    QCOMPARE(comboItems(child<QComboBox>(FDlg.data(), "cbLists")),
             QStringList({"Anrufe", "Spitznamen", "MSN"}));
    QCOMPARE(comboItems(child<QComboBox>(FDlg.data(), "cbItem")),
             QStringList({"MSN", "Spitzname", "Sounddatei", "Aktion"}));
    QCOMPARE(child<QComboBox>(FDlg.data(), "cbLists")->currentIndex(), int(ListPage::Msn));
    QCOMPARE(FDlg->windowTitle(), QStringLiteral("Suchen"));
    QCOMPARE(child<QLabel>(FDlg.data(), "lbContent")->text(), QString::fromUtf8("enthält"));
    QCOMPARE(child<QPushButton>(FDlg.data(), "btnClear")->text(), QString::fromUtf8("Löschen"));
    QCOMPARE(FDlg->results().headerData(2, Qt::Horizontal).toString(), QStringLiteral("Spitzname"));
}

QTEST_MAIN(TestSearch)
#include "tst_search.moc"
