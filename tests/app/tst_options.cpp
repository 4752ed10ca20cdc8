// The options dialog linked to the real popup, tray menu and language switch, as the program
// links them: what the popup shows while the dialog is open, after OK and after a cancel.
#include "app/OptionsLink.h"
#include "app/main.h"
#include "lists/ListPrompts.h"
#include "lists/lists.h"
#include "platform/KeyboardLed.h"
#include "platform/Sound.h"
#include "settings/OptionPrompts.h"
#include "settings/SettingsStore.h"
#include "settings/option.h"
#include "tests/lists/WidgetTestSupport.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

namespace {

class DarkLed : public platform::KeyboardLed
{
public:
    bool ReadScrollLock(bool &state, QString *) override
    {
        state = false;
        return true;
    }
    bool PressScrollLock(QString *) override { return true; }
};

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestOptions : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void trayMenuAndCommandOpenTheDialogOnce();
    void sliderSetsThePopupsOpacity_data();
    void sliderSetsThePopupsOpacity();
    void escapeRestoresThePopupsColourButNotItsPlace();
    void languageClickSwitchesEveryWindowAndOkSavesTheLists();
    void stayOnTopOnOkKeepsAShownPopupShown();
    void numberPluginShownOnlyWhenItLoaded();

private:
    QColor popupBackground() const
    {
        return FForm->findChild<QWidget *>("pnlMain")->palette().color(QPalette::Window);
    }
    template <class W> W *option(const char *name) { return child<W>(FDlg.get(), name); }

    std::unique_ptr<QTemporaryDir> FDir;
    std::unique_ptr<SettingsStore> FSettings;
    ScriptedPrompts FPrompts;
    ScriptedOptionPrompts FOptionPrompts;
    std::unique_ptr<TLists> FLists;
    AreaCodeTable FTowns;
    DarkLed FLed;
    platform::Sound FSound;
    std::unique_ptr<TMainForm> FForm;
    std::unique_ptr<TLanguageSwitch> FLanguage;
    std::unique_ptr<TOptDlg> FDlg;
    int FReads = 0;
};

void TestOptions::init()
{
    FDir = std::make_unique<QTemporaryDir>();
    qputenv("CORVANE_HOME", FDir->path().toLocal8Bit());
    QFile ini(FDir->filePath("corvane.ini"));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[Settings]\nLanguage=1\nbgColor=32768\nScrollLED=0\nBalloon=0\n"
              "[MainPos]\nLeft=10\nTop=20\nWidth=400\nHeight=100\n");
    ini.close();
    FSettings = std::make_unique<SettingsStore>(FDir->filePath("corvane.ini"));
    FLists = std::make_unique<TLists>(*FSettings, FPrompts, FDir->path());
    FForm = std::make_unique<TMainForm>(*FSettings, *FLists, FTowns, FPrompts, FLed, FSound);
    FLanguage = std::make_unique<TLanguageSwitch>(FLists.get());
    FLanguage->Register(FForm.get(), UiForm::Main);
    FForm->OnLanguageSetting = [this](int index) {
        if (FLanguage->Index() != index) FLanguage->SetLanguage(index);
    };
    FOptionPrompts = ScriptedOptionPrompts();
    FDlg = std::make_unique<TOptDlg>(*FSettings, *FLists, FOptionPrompts);
    FDlg->SetAutostart(platform::Autostart("/usr/bin/corvane", FDir->filePath("autostart"),
                                           FDir->filePath("machine")));
    FDlg->TransparencyAvailable = [] { return true; };
    FReads = 0;
    LinkOptionsDialog(*FDlg, *FForm, *FLanguage, [this] {
        ++FReads;
        FForm->ReadIni();
    });
    FForm->ReadIni();
    QVERIFY(FLists->LoadAtStartup());
    FForm->SetListsLoaded(true);
    FForm->SetDialogsReady(true);
}

void TestOptions::cleanup()
{
    FDlg.reset();
    FLanguage.reset();
    FForm.reset();
    FLists.reset();
    FSettings.reset();
    FDir.reset();
}

void TestOptions::trayMenuAndCommandOpenTheDialogOnce()
{
    QAction *item = FForm->PopupMenu()->findChild<QAction *>("Optionen1");
    QVERIFY(item->isEnabled());
    int opened = 0;
    whenModal<TOptDlg>([&](TOptDlg *dlg) {
        ++opened;
        // "/o" from a second start while the dialog is up changes nothing.
        FForm->AppMessage(platform::InstanceCommand::Options, QString());
        QVERIFY(dlg->isVisible());
        dlg->OKBtnClick();
    });
    item->trigger();
    QCOMPARE(opened, 1);

    whenModal<TOptDlg>([&](TOptDlg *dlg) {
        ++opened;
        dlg->reject();
    });
    FForm->AppMessage(platform::InstanceCommand::Options, QString());
    QCOMPARE(opened, 2);
    QCOMPARE(FReads, 1); // the cancel read the settings again
}

void TestOptions::sliderSetsThePopupsOpacity_data()
{
    QTest::addColumn<int>("percent");
    QTest::addColumn<int>("alpha");
    QTest::newRow("half") << 50 << 128; // 127.5 rounds to the even neighbour
    QTest::newRow("one") << 1 << 252;
    QTest::newRow("all") << 100 << 0;
}

void TestOptions::sliderSetsThePopupsOpacity()
{
    QFETCH(int, percent);
    QFETCH(int, alpha);
    whenModal<TOptDlg>([&](TOptDlg *dlg) {
        QTest::mouseClick(option<QCheckBox>("cbTrans"), Qt::LeftButton);
        option<QSlider>("tbTrans")->setValue(percent);
        QCOMPARE(qRound(FForm->windowOpacity() * 255), alpha);
        QTest::mouseClick(option<QCheckBox>("cbTrans"), Qt::LeftButton);
        QCOMPARE(FForm->windowOpacity(), 1.0);
        QTest::mouseClick(option<QCheckBox>("cbTrans"), Qt::LeftButton);
        dlg->OKBtnClick();
    });
    FDlg->Open();
    QCOMPARE(qRound(FForm->windowOpacity() * 255), alpha);
    QVERIFY(readFile(FSettings->iniPath()).contains("Transparency=" + QByteArray::number(percent)));
}

void TestOptions::escapeRestoresThePopupsColourButNotItsPlace()
{
    FForm->ShowPopup();
    QCOMPARE(popupBackground(), QColor(0, 128, 0));
    FOptionPrompts.chosenColors = {QColor(255, 0, 0)};
    whenModal<TOptDlg>([&](TOptDlg *dlg) {
        QTest::mouseClick(option<QAbstractButton>("shBg"), Qt::LeftButton);
        QCOMPARE(popupBackground(), QColor(255, 0, 0));
        FForm->move(200, 150); // the user moves the popup meanwhile
        QTest::keyClick(dlg, Qt::Key_Escape);
    });
    FDlg->Open();
    QCOMPARE(popupBackground(), QColor(0, 128, 0));
    QCOMPARE(FForm->pos(), QPoint(200, 150));
    QVERIFY(FForm->isVisible());
}

void TestOptions::languageClickSwitchesEveryWindowAndOkSavesTheLists()
{
    QAction *exit = FForm->PopupMenu()->findChild<QAction *>("Beenden1");
    QCOMPARE(exit->text(), QString("E&xit"));
    QFile::remove(FLists->fileName(ListKind::Nicks));
    whenModal<TOptDlg>([&](TOptDlg *dlg) {
        QTest::mouseClick(option<QRadioButton>("LangGroup.0"), Qt::LeftButton);
        QCOMPARE(exit->text(), QString("&Beenden"));
        QCOMPARE(dlg->windowTitle(), QString("Optionen"));
        dlg->OKBtnClick();
    });
    FDlg->Open();
    QCOMPARE(exit->text(), QString("&Beenden"));
    QVERIFY(readFile(FSettings->iniPath()).contains("Language=0\n"));
    QVERIFY(FLists->WaitForSaves()); // the lists are saved in the background
    QVERIFY(QFile::exists(FLists->fileName(ListKind::Nicks)));
    QCOMPARE(FReads, 0);
}

void TestOptions::stayOnTopOnOkKeepsAShownPopupShown()
{
    FForm->ShowPopup();
    QVERIFY(FForm->windowFlags() & Qt::WindowStaysOnTopHint);
    whenModal<TOptDlg>([&](TOptDlg *dlg) {
        QTest::mouseClick(option<QCheckBox>("StayOnTopBox"), Qt::LeftButton);
        // Applied on OK only.
        QVERIFY(FForm->windowFlags() & Qt::WindowStaysOnTopHint);
        dlg->OKBtnClick();
    });
    FDlg->Open();
    QVERIFY(!(FForm->windowFlags() & Qt::WindowStaysOnTopHint));
    QVERIFY(FForm->isVisible());
}

void TestOptions::numberPluginShownOnlyWhenItLoaded()
{
    // Named in the file but not there: reported at reading, left out of the dialog, so the
    // next OK writes the key empty.
    FSettings->settings.externalNumberManipulationDll = FDir->filePath("gone.so");
    QVERIFY(FSettings->writeAll());
    FPrompts.messages.clear();
    FForm->ReadIni();
    QCOMPARE(FPrompts.messages.size(), 1);
    whenModal<TOptDlg>([&](TOptDlg *dlg) {
        QCOMPARE(option<QLineEdit>("edDLL")->text(), QString());
        dlg->OKBtnClick();
    });
    FDlg->Open();
    QVERIFY(readFile(FSettings->iniPath()).contains("ExternalNumberManipulationDLL=\n"));

    // A real plug-in chosen in the dialog is loaded at once and rewrites numbers.
    const QString plugin = QStringLiteral(EXAMPLE_PLUGIN_DIR "/outsideline.so");
    FOptionPrompts.chosenFiles = {plugin};
    whenModal<TOptDlg>([&](TOptDlg *dlg) {
        QTest::mouseClick(option<QToolButton>("sbDLL"), Qt::LeftButton);
        QCOMPARE(option<QLineEdit>("edDLL")->text(), plugin);
        dlg->OKBtnClick();
    });
    FDlg->Open();
    QCOMPARE(FForm->Lookup().NumberPluginPath(), plugin);
    whenModal<TOptDlg>([&](TOptDlg *dlg) {
        QCOMPARE(option<QLineEdit>("edDLL")->text(), plugin);
        dlg->reject();
    });
    FDlg->Open();
}

QTEST_MAIN(TestOptions)
#include "tst_options.moc"
