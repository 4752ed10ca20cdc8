// The options dialog on its own, over a real settings file, lists and autostart entries:
// its enabling rules, its choosers, what OK writes and what a cancel undoes, and the answers
// to bad input.
#include "lists/ListPrompts.h"
#include "lists/lang.h"
#include "lists/lists.h"
#include "phone/isdntool.h"
#include "platform/AtomicFile.h"
#include "settings/OptionPrompts.h"
#include "settings/SettingsStore.h"
#include "settings/option.h"
#include "tests/lists/WidgetTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// A 32 × 32 picture of one colour.
void writePicture(const QString &path, QColor color)
{
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(color);
    QVERIFY(image.save(path));
}

// A click on a check box's square: the middle of a wide box may lie beyond its caption.
void tick(QAbstractButton *box)
{
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
}

QRgb iconColor(const QIcon &icon)
{
    return icon.pixmap(32, 32).toImage().pixel(16, 16) & 0xFFFFFF;
}

} // namespace

class TestOptDlg : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void popupOptionsFollowPopupAndDuration_data();
    void popupOptionsFollowPopupAndDuration();
    void escapeAfterAColourChangeRestoresIt();
    void okWritesTheControlsAndKeepsWhatItDoesNotKnow();
    void cutZeroesIsTakenOnOkOnly();
    void iconLoadedThenSecondChooserCancelled();
    void iconFileThatIsNoIcon();
    void storedIconsThatCannotBeReadAreSaidOnce();
    void pictureFileThatIsNoPicture();
    void numbersTypedBeyondTheRange();
    void languageSwitchFromTheDialog();
    void telephonyDevices();
    void lookupSourcesFollowTheControls();
    void plainHttpLookupIsPointedOut();
    void routerMonitorField();
    void badAddressKeepsTheDialogOpen_data();
    void badAddressKeepsTheDialogOpen();
    void transparencyOnlyWhereItShows();
    void contactsPage();
    void loadAtStartup();
    void unwritableFileKeepsTheDialogOpen();
    void unreadableFileKeepsTheDialogOpen();
    void secondRequestWhileOpenIsIgnored();
    void captionsInBothLanguages();

private:
    void makeDialog();
    // Opens the dialog and runs the action inside it; the action closes it (or the helper
    // cancels it). Returns what Open returned.
    bool inDialog(const std::function<void(TOptDlg *)> &action);
    template <class W> W *c(const char *name) { return child<W>(FDlg.get(), name); }
    GeneralSettings &s() { return FSettings->settings; }
    QString ini() const { return FDir->filePath("corvane.ini"); }

    std::unique_ptr<QTemporaryDir> FDir;
    std::unique_ptr<SettingsStore> FSettings;
    ScriptedPrompts FListPrompts;
    ScriptedOptionPrompts FPrompts;
    std::unique_ptr<TLists> FLists;
    std::unique_ptr<TOptDlg> FDlg;
};

void TestOptDlg::init()
{
    FDir = std::make_unique<QTemporaryDir>();
    FPrompts = ScriptedOptionPrompts();
}

void TestOptDlg::makeDialog()
{
    FSettings = std::make_unique<SettingsStore>(ini());
    FSettings->readAll();
    FLists = std::make_unique<TLists>(*FSettings, FListPrompts, FDir->path());
    FLists->SetLanguage(Language::English);
    FDlg = std::make_unique<TOptDlg>(*FSettings, *FLists, FPrompts);
    FDlg->ApplyLanguage(Language::English);
    FDlg->SetAutostart(platform::Autostart("/usr/bin/corvane", FDir->filePath("autostart"),
                                           FDir->filePath("machine")));
    FDlg->TransparencyAvailable = [] { return true; };
}

void TestOptDlg::cleanup()
{
    FDlg.reset();
    FLists.reset();
    FSettings.reset();
    FDir.reset();
}

bool TestOptDlg::inDialog(const std::function<void(TOptDlg *)> &action)
{
    auto ran = whenModal<TOptDlg>(action);
    const bool ok = FDlg->Open();
    if (!*ran) qWarning("the options dialog did not open");
    return ok;
}

void TestOptDlg::popupOptionsFollowPopupAndDuration_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<bool>("durationEnabled");
    QTest::addColumn<bool>("closeOnEnabled");
    QTest::addColumn<bool>("keepUnknownEnabled");
    QTest::newRow("stays until closed")
        << QByteArray("Popup=1\nIntervall=0\n") << true << true << false;
    QTest::newRow("five seconds") << QByteArray("Popup=1\nIntervall=5000\n") << true << false
                                  << true;
    QTest::newRow("no popup") << QByteArray("Popup=0\nIntervall=0\n") << false << false << false;
}

void TestOptDlg::popupOptionsFollowPopupAndDuration()
{
    QFETCH(QByteArray, settings);
    QFETCH(bool, durationEnabled);
    QFETCH(bool, closeOnEnabled);
    QFETCH(bool, keepUnknownEnabled);
    writeFile(ini(), "[Settings]\n" + settings);
    makeDialog();
    inDialog([&](TOptDlg *) {
        QCOMPARE(c<QSpinBox>("udDuration")->isEnabled(), durationEnabled);
        for (const char *name :
             {"cbCloseOnDisconnect", "cbCloseOnConnect", "cbCloseOnReject", "cbCloseOnBusy"})
            QVERIFY2(c<QCheckBox>(name)->isEnabled() == closeOnEnabled, name);
        QCOMPARE(c<QCheckBox>("cbKeepUnknownOpen")->isEnabled(), keepUnknownEnabled);

        // The rules follow the controls too: the popup switched off disables all six.
        if (c<QCheckBox>("cbPopup")->isChecked()) {
            tick(c<QCheckBox>("cbPopup"));
            QVERIFY(!c<QSpinBox>("udDuration")->isEnabled());
            QVERIFY(!c<QCheckBox>("cbCloseOnBusy")->isEnabled());
            QVERIFY(!c<QCheckBox>("cbKeepUnknownOpen")->isEnabled());
        } else {
            tick(c<QCheckBox>("cbPopup"));
            c<QSpinBox>("udDuration")->stepUp();
            QVERIFY(!c<QCheckBox>("cbCloseOnBusy")->isEnabled());
            QVERIFY(c<QCheckBox>("cbKeepUnknownOpen")->isEnabled());
        }
    });
}

void TestOptDlg::escapeAfterAColourChangeRestoresIt()
{
    writeFile(ini(), "[Settings]\nbgColor=1122867\nfColor=65535\n"); // 0x112233
    makeDialog();
    int repaints = 0;
    FDlg->OnPopupAppearance = [&repaints] { ++repaints; };
    FPrompts.chosenColors = {QColor(255, 0, 0), QColor(0, 0, 255)};
    const bool ok = inDialog([&](TOptDlg *dlg) {
        QTest::mouseClick(c<QAbstractButton>("shBg"), Qt::LeftButton);
        // At once, for the popup to show it.
        QCOMPARE(s().bgColor, 0x0000FF);
        QCOMPARE(repaints, 1);
        QTest::keyClick(c<QAbstractButton>("shFontColor"), Qt::Key_Space);
        QCOMPARE(s().fColor, 0xFF0000);
        QTest::keyClick(dlg, Qt::Key_Escape);
    });
    QVERIFY(!ok);
    QCOMPARE(s().bgColor, 0x112233);
    QCOMPARE(s().fColor, 0x00FFFF);
    QCOMPARE(c<QAbstractButton>("shBg")->accessibleDescription(), QString("#332211"));
    QVERIFY(!readFile(ini()).contains("bgColor=255\n"));
}

void TestOptDlg::okWritesTheControlsAndKeepsWhatItDoesNotKnow()
{
    writeFile(ini(), "; my notes\n[Settings]\nHomeFritz=1\nRejectTime=25\nPopup=1\n"
                     "[StatusCodes]\n$3490=1\n[Mine]\nkey=value\n");
    makeDialog();
    const bool ok = inDialog([&](TOptDlg *dlg) {
        tick(c<QCheckBox>("cbPopup"));
        c<QSpinBox>("udDuration")->setValue(12);
        tick(c<QCheckBox>("StayOnTopBox"));
        tick(c<QCheckBox>("cbSearchOutlook"));
        c<QComboBox>("cbCountryCode")->setEditText(" ++43 ");
        c<QListWidget>("lvOutlookSearch")->item(8)->setCheckState(Qt::Checked);
        c<QLineEdit>("edModemPorts")->setText("/dev/ttyACM0");
        c<QLineEdit>("edAddressBook")->setText("Family");
        tick(c<QCheckBox>("cbPreNumber"));
        QTest::keyClicks(c<QLineEdit>("edPreNumber"), "0");
        QTest::keyClick(dlg, Qt::Key_Return); // Enter acts as OK
    });
    QVERIFY(ok);
    const QByteArray written = readFile(ini());
    for (const char *line :
         {"Popup=0\n", "Intervall=12000\n", "StayOnTop=0\n", "SearchOutlook=1\n",
          "CountryCode=++43\n", "MobileTelephoneNumber=1\n", "ModemPorts=/dev/ttyACM0\n",
          "OLEObject=Family\n", "DoPrependNum=1\n", "PrependNum=0\n",
          // What the dialog does not know stays as it was.
          "HomeFritz=1\n", "RejectTime=25\n", "[StatusCodes]\n$3490=1\n", "[Mine]\nkey=value\n"})
        QVERIFY2(written.contains(line), line);
    QVERIFY(written.startsWith("; my notes\n"));
    QVERIFY(!written.contains("ContactsVCard"));
    QVERIFY(!written.contains("ReverseLookupURL"));
}

void TestOptDlg::cutZeroesIsTakenOnOkOnly()
{
    writeFile(ini(), "[Settings]\nCutZeroes=1\n");
    makeDialog();
    inDialog([&](TOptDlg *dlg) {
        c<QSpinBox>("udCutNumber")->setValue(3);
        QCOMPARE(s().cutZeroes, 1); // the calls in between still lose one zero
        QTest::keyClick(dlg, Qt::Key_Escape);
    });
    QCOMPARE(s().cutZeroes, 1);
    // Opening again shows the setting, not what the cancelled dialog held.
    inDialog([&](TOptDlg *dlg) {
        QCOMPARE(c<QSpinBox>("udCutNumber")->value(), 1);
        c<QSpinBox>("udCutNumber")->setValue(3);
        dlg->OKBtnClick();
    });
    QCOMPARE(s().cutZeroes, 3);
    QVERIFY(readFile(ini()).contains("CutZeroes=3\n"));
}

void TestOptDlg::iconLoadedThenSecondChooserCancelled()
{
    const QString oldInactive = FDir->filePath("grey.png");
    const QString newActive = FDir->filePath("icons/green.png");
    QDir(FDir->path()).mkpath("icons");
    writePicture(oldInactive, Qt::gray);
    writePicture(newActive, Qt::green);
    writeFile(ini(), "[DIcons]\n1=" + oldInactive.toUtf8() + "\n");
    makeDialog();
    int trayUpdates = 0;
    FDlg->OnTrayIcons = [&trayUpdates] { ++trayUpdates; };
    FPrompts.chosenFiles = {newActive}; // the second chooser is cancelled
    inDialog([&](TOptDlg *dlg) {
        QCOMPARE(iconColor(dlg->InactiveIcons()[1]), QColor(Qt::gray).rgb() & 0xFFFFFF);
        c<QListWidget>("EnabledIconsListView")->setCurrentRow(1);
        QTest::mouseClick(c<QPushButton>("btnLoad"), Qt::LeftButton);
        QCOMPARE(FPrompts.fileChooserTitles,
                 QStringList({"Selection of icon for activated Corvane",
                              "Selection of icon for deactivated Corvane"}));
        QVERIFY(FPrompts.fileChooserFilters.first().contains("*.ico"));
        QCOMPARE(FPrompts.fileChooserDirectories.at(1), FDir->filePath("icons"));
        QCOMPARE(iconColor(dlg->ActiveIcons()[1]), QColor(Qt::green).rgb() & 0xFFFFFF);
        QCOMPARE(iconColor(dlg->InactiveIcons()[1]), QColor(Qt::gray).rgb() & 0xFFFFFF);
        QCOMPARE(iconColor(c<QListWidget>("EnabledIconsListView")->item(1)->icon()),
                 QColor(Qt::green).rgb() & 0xFFFFFF);
        dlg->reject();
    });
    // Written at once, so a cancelled dialog keeps the icon.
    QCOMPARE(FSettings->iconFile(1), newActive);
    QCOMPARE(FSettings->iconInitialDir(), FDir->filePath("icons"));
    QCOMPARE(FSettings->disabledIconFile(1), oldInactive);
    QCOMPARE(trayUpdates, 1);
    QVERIFY(FPrompts.messages.isEmpty());
}

void TestOptDlg::iconFileThatIsNoIcon()
{
    const QString good = FDir->filePath("good.png");
    const QString bad = FDir->filePath("bad.ico");
    writePicture(good, Qt::blue);
    writeFile(bad, "this is text, not an icon\n");
    writeFile(ini(), "[Icons]\n2=" + good.toUtf8() + "\nSelected=2\n");
    makeDialog();
    FPrompts.chosenFiles = {bad, good};
    inDialog([&](TOptDlg *dlg) {
        auto *icons = c<QListWidget>("EnabledIconsListView");
        QCOMPARE(icons->currentRow(), 2); // the selected slot
        icons->setCurrentRow(-1);
        QTest::mouseClick(c<QPushButton>("btnLoad"), Qt::LeftButton);
        QCOMPARE(FPrompts.messages, QStringList("Select that icon that should be replaced"));
        QVERIFY(FPrompts.fileChooserTitles.isEmpty());

        icons->setCurrentRow(2);
        QTest::mouseClick(c<QPushButton>("btnLoad"), Qt::LeftButton);
        QCOMPARE(FPrompts.messages.last(), QString("Icon read error"));
        QCOMPARE(FPrompts.fileChooserTitles.size(), 1); // no second chooser
        QCOMPARE(iconColor(dlg->ActiveIcons()[2]), QColor(Qt::blue).rgb() & 0xFFFFFF);
        dlg->reject();
    });
    // The icon the file named before is still there.
    QCOMPARE(FSettings->iconFile(2), good);
}

void TestOptDlg::storedIconsThatCannotBeReadAreSaidOnce()
{
    const QString good = FDir->filePath("good.png");
    const QString text = FDir->filePath("text.ico");
    writePicture(good, Qt::blue);
    writeFile(text, "this is text, not an icon\n");
    // Readable icons: nothing to say.
    writeFile(ini(), "[Icons]\n1=" + good.toUtf8() + "\n[DIcons]\n1=" + good.toUtf8() + "\n");
    makeDialog();
    FDlg->ReportStartIconError();
    QVERIFY(FPrompts.messages.isEmpty());

    // A file that is gone and one that holds no picture: one message that names them.
    FDlg.reset();
    const QString gone = FDir->filePath("gone.png");
    writeFile(ini(), "[Icons]\n1=" + gone.toUtf8() + "\n[DIcons]\n2=" + text.toUtf8() + "\n");
    makeDialog();
    QVERIFY(FPrompts.messages.isEmpty()); // not while the dialog is made
    FDlg->ReportStartIconError();
    FDlg->ReportStartIconError();
    QCOMPARE(FPrompts.messages, QStringList("Icon read error\n" + gone + "\n" + text));
    // The settings stay, for a file that comes back.
    QCOMPARE(FSettings->iconFile(1), gone);
    QCOMPARE(FSettings->disabledIconFile(2), text);
}

void TestOptDlg::pictureFileThatIsNoPicture()
{
    const QString good = FDir->filePath("sky.png");
    const QString bad = FDir->filePath("notes.jpg");
    writePicture(good, Qt::cyan);
    writeFile(bad, "no picture in here");
    writeFile(ini(), "[Picture]\nUsePic=1\nFile=" + good.toUtf8() + "\n");
    makeDialog();
    QStringList loaded;
    FDlg->OnLoadPicture = [&loaded](const QString &file) {
        loaded << file;
        return true;
    };
    FPrompts.chosenFiles = {bad};
    const bool ok = inDialog([&](TOptDlg *dlg) {
        QCOMPARE(c<QLabel>("lbFile")->text(), good);
        QVERIFY(c<QToolButton>("sbPic")->isEnabled());
        QTest::mouseClick(c<QToolButton>("sbPic"), Qt::LeftButton);
        QCOMPARE(FPrompts.messages,
                 QStringList("This file is not a picture that can be shown: " + bad));
        QVERIFY(loaded.isEmpty());
        QCOMPARE(c<QLabel>("lbFile")->text(), good);
        QVERIFY(c<QCheckBox>("cbPic")->isChecked());
        dlg->OKBtnClick();
    });
    QVERIFY(ok);
    QVERIFY(readFile(ini()).contains("File=" + good.toUtf8() + "\n"));
    QVERIFY(readFile(ini()).contains("UsePic=1\n"));

    // The chooser offers what this system reads, and the clear button switches the picture off.
    QVERIFY(FPrompts.fileChooserFilters.first().startsWith("All files (*.gif *.jpg *.jpeg"));
    QVERIFY(FPrompts.fileChooserFilters.first().contains("*.png"));
    QVERIFY(!FPrompts.fileChooserFilters.first().contains("*.wmf"));
    inDialog([&](TOptDlg *dlg) {
        QTest::mouseClick(c<QToolButton>("sbClear"), Qt::LeftButton);
        QCOMPARE(c<QLabel>("lbFile")->text(), QString());
        QVERIFY(!c<QCheckBox>("cbPic")->isChecked());
        QVERIFY(!c<QToolButton>("sbPic")->isEnabled());
        dlg->OKBtnClick();
    });
    QVERIFY(readFile(ini()).contains("UsePic=0\n"));
    QVERIFY(readFile(ini()).contains("File=\n"));
}

void TestOptDlg::numbersTypedBeyondTheRange()
{
    makeDialog();
    const bool ok = inDialog([&](TOptDlg *dlg) {
        auto *days = c<QSpinBox>("udDays");
        dlg->activateWindow();
        days->setFocus();
        days->selectAll();
        QTest::keyClicks(days, "40000");
        QCOMPARE(days->text(), QString("40000")); // typing is not cut short
        QTest::keyClick(days, Qt::Key_Return);
        // The dialog stays, the field goes back, and the user is told why.
        QVERIFY(dlg->isVisible());
        QCOMPARE(days->text(), QString("10"));
        QTRY_COMPARE(FPrompts.messages,
                     QStringList("Please enter a number from 0 to 32000; 40000 is too large."));

        auto *cut = c<QSpinBox>("udCutNumber");
        cut->selectAll();
        QTest::keyClicks(cut, "150");
        QTest::keyClick(cut, Qt::Key_Return);
        QTRY_COMPARE(FPrompts.messages.size(), 2);
        QVERIFY(FPrompts.messages.last().startsWith("Please enter a number from 0 to 100;"));

        cut->selectAll();
        QTest::keyClicks(cut, "7");
        QTest::keyClick(cut, Qt::Key_Return); // a good number: Enter is OK
    });
    QVERIFY(ok);
    QVERIFY(readFile(ini()).contains("ClearCallDays=10\n"));
    QVERIFY(readFile(ini()).contains("CutZeroes=7\n"));
}

void TestOptDlg::languageSwitchFromTheDialog()
{
    writeFile(ini(), "[Settings]\nLanguage=1\n");
    makeDialog();
    TLanguageSwitch language(FLists.get());
    language.Register(FDlg.get(), UiForm::Options);
    language.SetLanguage(1);
    FDlg->OnLanguage = [&language](int index) { language.SetLanguage(index); };
    FDlg->OnReadSettings = [&] {
        FSettings->readAll();
        language.SetLanguage(s().language);
    };
    const QString callsFile = FLists->fileName(ListKind::Calls);

    // Cancelled: back to English, the lists untouched.
    inDialog([&](TOptDlg *dlg) {
        tick(c<QRadioButton>("LangGroup.0"));
        QCOMPARE(dlg->windowTitle(), QString("Optionen"));
        QCOMPARE(FLists->language(), Language::German);
        QCOMPARE(c<QCheckBox>("LoadBox")->text(), QString("&Beim Systemstart laden"));
        QTest::keyClick(dlg, Qt::Key_Escape);
    });
    QCOMPARE(FDlg->windowTitle(), QString("Options"));
    QVERIFY(c<QRadioButton>("LangGroup.1")->isChecked());
    QVERIFY(!QFile::exists(callsFile));

    // OK: the language is written and the lists are saved with their words converted.
    FLists->calls().appendRow(CallRow{"45000.50000", "0441123", " ", " ", "85606", "busy"});
    inDialog([&](TOptDlg *dlg) {
        tick(c<QRadioButton>("LangGroup.0"));
        dlg->OKBtnClick();
    });
    QVERIFY(readFile(ini()).contains("Language=0\n"));
    QVERIFY(FLists->WaitForSaves()); // saved in the background
    QVERIFY(readFile(callsFile).contains(";besetzt"));
    QVERIFY(QFile::exists(FLists->fileName(ListKind::Nicks)));
    QVERIFY(QFile::exists(FLists->fileName(ListKind::Msn)));
}

void TestOptDlg::telephonyDevices()
{
    makeDialog();
    // No line-device layer: telephony cannot be switched on.
    inDialog([&](TOptDlg *dlg) {
        QVERIFY(!c<QPushButton>("btnProbe")->isEnabled());
        tick(c<QCheckBox>("cbUseTapi"));
        QCOMPARE(FPrompts.messages,
                 QStringList("No dialling device found: telephony stays disabled"));
        QVERIFY(!c<QCheckBox>("cbUseTapi")->isChecked());
        QCOMPARE(c<QListWidget>("lbTAPI")->count(), 0);
        dlg->reject();
    });

    writeFile(ini(), "[Settings]\nUseTAPI=1\nTAPIDevice=Desktop telephony (tel: link)\n");
    FSettings->readAll();
    QStringList found = {"Modem on /dev/ttyACM0", "Desktop telephony (tel: link)"};
    // As the dial window answers: false while there is no device.
    FDlg->OnListDevices = [&found](QStringList &devices) {
        devices = found;
        return !found.isEmpty();
    };
    QStringList probes;
    FDlg->OnProbeDevices = [&probes](const QString &device) { probes << device; };
    FDlg->ProbeNotes = [] { return QStringLiteral("/dev/ttyACM2 did not answer AT"); };
    inDialog([&](TOptDlg *dlg) {
        auto *list = c<QListWidget>("lbTAPI");
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->currentRow(), 1);
        // Answers that come while the dialog is open show, the choice kept.
        found.prepend("Modem on /dev/ttyACM1");
        QVERIFY(c<QLabel>("lbProbeNotes")->text().isEmpty());
        dlg->DevicesChanged();
        QCOMPARE(list->count(), 3);
        QCOMPARE(list->currentItem()->text(), QString("Desktop telephony (tel: link)"));
        QCOMPARE(c<QLabel>("lbProbeNotes")->text(), QString("/dev/ttyACM2 did not answer AT"));
        // Only the user asks modems: a device chosen, or all with the button.
        QVERIFY(probes.isEmpty());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(1)).center());
        QTest::mouseClick(c<QPushButton>("btnProbe"), Qt::LeftButton);
        QCOMPARE(probes, QStringList({"Modem on /dev/ttyACM0", ""}));
        dlg->OKBtnClick();
    });
    QVERIFY(readFile(ini()).contains("TAPIDevice=Modem on /dev/ttyACM0\n"));

    // A device list that is empty for now (the modem unplugged) changes no setting.
    found.clear();
    inDialog([&](TOptDlg *dlg) {
        QVERIFY(c<QCheckBox>("cbUseTapi")->isChecked());
        QVERIFY(c<QPushButton>("btnProbe")->isEnabled());
        QCOMPARE(c<QListWidget>("lbTAPI")->count(), 0);
        dlg->OKBtnClick();
    });
    QCOMPARE(FPrompts.messages.size(), 1);
    QVERIFY(readFile(ini()).contains("UseTAPI=1\n"));
    QVERIFY(readFile(ini()).contains("TAPIDevice=Modem on /dev/ttyACM0\n"));

    // Switched off, the device is no longer written.
    inDialog([&](TOptDlg *dlg) {
        tick(c<QCheckBox>("cbUseTapi"));
        QCOMPARE(c<QListWidget>("lbTAPI")->count(), 0);
        QVERIFY(!c<QPushButton>("btnProbe")->isEnabled());
        dlg->OKBtnClick();
    });
    QVERIFY(readFile(ini()).contains("UseTAPI=0\n"));
}

void TestOptDlg::lookupSourcesFollowTheControls()
{
    makeDialog();
    QStringList calls;
    FDlg->OnLoadLookupPlugin = [&calls](const QString &file) {
        calls << "load " + file;
        return file.endsWith("good.so");
    };
    FDlg->OnUnloadLookupPlugin = [&calls] { calls << "unload"; };
    FDlg->OnLoadNumberPlugin = [&calls](const QString &file) {
        calls << "number " + file;
        return true;
    };
    FDlg->OnSelectLookupSource = [&calls](bool builtIn) {
        calls << (builtIn ? "built-in" : "plug-in");
    };
    FPrompts.chosenFiles = {"/opt/bad.so", "/opt/good.so", "/opt/rules.so"};
    inDialog([&](TOptDlg *dlg) {
        auto *path = c<QLineEdit>("edLookupDll");
        QVERIFY(path->isEnabled());
        QVERIFY(!c<QLineEdit>("edLookupURL")->isEnabled());
        QTest::mouseClick(c<QToolButton>("btnLookupLoad"), Qt::LeftButton);
        QCOMPARE(path->text(), QString()); // a plug-in that did not load is not shown
        QTest::mouseClick(c<QToolButton>("btnLookupLoad"), Qt::LeftButton);
        QCOMPARE(path->text(), QString("/opt/good.so"));
        QCOMPARE(FPrompts.fileChooserFilters.first(), QString("Plug-in (*.so *.so.*)"));
        QTest::mouseClick(c<QToolButton>("sbDLL"), Qt::LeftButton);
        QCOMPARE(c<QLineEdit>("edDLL")->text(), QString("/opt/rules.so"));

        tick(c<QCheckBox>("cbBuiltIn"));
        QVERIFY(!path->isEnabled());
        QVERIFY(!c<QToolButton>("btnLookupLoad")->isEnabled());
        auto *url = c<QLineEdit>("edLookupURL");
        QVERIFY(url->isEnabled());
        // An address the server cannot use stays in the field, unused, for OK to refuse.
        url->setText("ftp://lookup.example");
        emit url->editingFinished();
        QCOMPARE(url->text(), QString("ftp://lookup.example"));
        QCOMPARE(s().reverseLookupUrl, QString());
        url->setText("https://lookup.example/");
        emit url->editingFinished();
        QCOMPARE(s().reverseLookupUrl, QString("https://lookup.example/"));
        dlg->OKBtnClick();
    });
    QCOMPARE(calls, QStringList({"load /opt/bad.so", "load /opt/good.so", "number /opt/rules.so",
                                 "built-in", "built-in"}));
    const QByteArray written = readFile(ini());
    for (const char *line :
         {"ExternalNumberLookupDLL=/opt/good.so\n", "ExternalNumberManipulationDLL=/opt/rules.so\n",
          "InternalReverseSearch=1\n", "ReverseLookupURL=https://lookup.example/\n"})
        QVERIFY2(written.contains(line), line);

    // Clearing the plug-in stops it, and the emptied key goes.
    calls.clear();
    inDialog([&](TOptDlg *dlg) {
        tick(c<QCheckBox>("cbBuiltIn"));
        QTest::mouseClick(c<QToolButton>("btnLookupDLLClear"), Qt::LeftButton);
        dlg->OKBtnClick();
    });
    QCOMPARE(calls, QStringList({"plug-in", "unload"}));
    QVERIFY(readFile(ini()).contains("ExternalNumberLookupDLL=\n"));
}

void TestOptDlg::plainHttpLookupIsPointedOut()
{
    writeFile(ini(),
              "[Settings]\nInternalReverseSearch=1\nReverseLookupURL=HTTP://lookup.example/\n");
    makeDialog();
    inDialog([&](TOptDlg *dlg) {
        auto *hint = c<QLabel>("lbLookupPlainHttp");
        auto *url = c<QLineEdit>("edLookupURL");
        // The stored address is plain HTTP: the hint is there when the dialog opens.
        QVERIFY(hint->isVisible());
        QCOMPARE(hint->text(),
                 QString("With http:// unknown callers' numbers are sent unencrypted."));
        QCOMPARE(hint->textFormat(), Qt::PlainText);
        // It follows the typing.
        url->setText("https://lookup.example/");
        QVERIFY(!hint->isVisible());
        url->setText(" http://lookup.example/");
        QVERIFY(hint->isVisible());
        for (const char *other : {"", "https://http.example/", "ftp://lookup.example/", "http:"}) {
            url->setText(other);
            QVERIFY2(!hint->isVisible(), other);
        }
        url->setText("http://lookup.example/");
        dlg->ApplyLanguage(Language::German);
        QCOMPARE(hint->text(), QString::fromUtf8("Mit http:// werden die Nummern unbekannter "
                                                 "Anrufer unverschlüsselt gesendet."));
        dlg->ApplyLanguage(Language::English);
        dlg->reject();
    });
    // Opened again with the stored https address: no hint.
    writeFile(ini(),
              "[Settings]\nInternalReverseSearch=1\nReverseLookupURL=https://lookup.example/\n");
    makeDialog();
    inDialog([&](TOptDlg *dlg) {
        QVERIFY(!c<QLabel>("lbLookupPlainHttp")->isVisible());
        dlg->reject();
    });
}

void TestOptDlg::routerMonitorField()
{
    writeFile(ini(), "[Settings]\nRouterMonitorHost=router.home\n");
    makeDialog();
    inDialog([&](TOptDlg *dlg) {
        auto *field = c<QLineEdit>("edRouterHost");
        QCOMPARE(field->text(), QString("router.home"));
        // Blanks around the address are no part of it.
        field->setText(" [fd00::1]:1013 ");
        dlg->OKBtnClick();
    });
    QCOMPARE(s().routerMonitorHost, QString("[fd00::1]:1013"));
    QVERIFY(readFile(ini()).contains("\nRouterMonitorHost=[fd00::1]:1013\n"));

    // Emptied: the ISDN line again, and the key goes.
    inDialog([&](TOptDlg *dlg) {
        QCOMPARE(c<QLineEdit>("edRouterHost")->text(), QString("[fd00::1]:1013"));
        c<QLineEdit>("edRouterHost")->clear();
        dlg->OKBtnClick();
    });
    QVERIFY(FPrompts.messages.isEmpty());
    QCOMPARE(s().routerMonitorHost, QString());
    QVERIFY(!readFile(ini()).contains("RouterMonitorHost"));

    // A change that is cancelled is not kept.
    inDialog([&](TOptDlg *dlg) {
        c<QLineEdit>("edRouterHost")->setText("router.home");
        dlg->reject();
    });
    QCOMPARE(s().routerMonitorHost, QString());
    QCOMPARE(c<QLineEdit>("edRouterHost")->text(), QString());
}

void TestOptDlg::badAddressKeepsTheDialogOpen_data()
{
    QTest::addColumn<Language>("language");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("mended");
    QTest::addColumn<QString>("written");
    const QString router = "edRouterHost";
    const QString routerMended = "router.home:1013";
    const QString routerWritten = "RouterMonitorHost=router.home:1013\n";
    QTest::newRow("router: semicolon")
        << Language::English << router << "router.home;1012"
        << "The router monitor needs a host name (letters, digits, - and .) or an IP address, "
           "optionally followed by :port: router.home;1012"
        << routerMended << routerWritten;
    QTest::newRow("router: blank")
        << Language::English << router << "router home"
        << "The router monitor needs a host name (letters, digits, - and .) or an IP address, "
           "optionally followed by :port: router home"
        << routerMended << routerWritten;
    QTest::newRow("router: port 0")
        << Language::English << router << "router.home:0"
        << "The router monitor's port must be a number from 1 to 65535: router.home:0"
        << routerMended << routerWritten;
    QTest::newRow("router: IPv6 with a port, no brackets")
        << Language::English << router << "fd00::1::1012"
        << "This is no IPv6 address; with a port, the address goes in brackets, as in "
           "[fd00::1]:1012: fd00::1::1012"
        << routerMended << routerWritten;
    QTest::newRow("router: German")
        << Language::German << router << "router.home:65536"
        << "Der Port des Router-Anrufmonitors muss eine Zahl von 1 bis 65535 sein: "
           "router.home:65536"
        << routerMended << routerWritten;

    const QString server = "edLookupURL";
    const QString serverMended = "https://other.example/";
    const QString serverWritten = "ReverseLookupURL=https://other.example/\n";
    QTest::newRow("server: scheme misspelt")
        << Language::English << server << "htp://lookup.example/"
        << "The server address must begin with http:// or https:// and a host name: "
           "htp://lookup.example/"
        << serverMended << serverWritten;
    QTest::newRow("server: colon missing")
        << Language::German << server << "http//lookup.example/"
        << "Die Server-Adresse muss mit http:// oder https:// und einem Rechnernamen beginnen: "
           "http//lookup.example/"
        << serverMended << serverWritten;
    QTest::newRow("server: no host") << Language::English << server << "https://"
                                     << "The server address must begin with http:// or https:// "
                                        "and a host name: https://"
                                     << serverMended << serverWritten;
}

void TestOptDlg::badAddressKeepsTheDialogOpen()
{
    QFETCH(Language, language);
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(QString, message);
    QFETCH(QString, mended);
    QFETCH(QString, written);
    writeFile(ini(), "[Settings]\nRouterMonitorHost=router.home\nInternalReverseSearch=1\n"
                     "ReverseLookupURL=https://lookup.example/\nStayOnTop=1\n");
    makeDialog();
    FDlg->ApplyLanguage(language);
    int serverChanges = 0;
    FDlg->OnSelectLookupSource = [&serverChanges](bool) { ++serverChanges; };
    const QByteArray stored = readFile(ini());
    const bool ok = inDialog([&](TOptDlg *dlg) {
        auto *edit = c<QLineEdit>(field.toLatin1().constData());
        tick(c<QCheckBox>("StayOnTopBox"));
        edit->setText(typed);
        // The field is left, then OK is given by Enter on another page, as a user does it.
        emit edit->editingFinished();
        c<QTabWidget>("PageControl1")->setCurrentIndex(1);
        QTest::keyClick(c<QCheckBox>("cbPopup"), Qt::Key_Return);
        QVERIFY(dlg->isVisible());
        QCOMPARE(FPrompts.messages, QStringList(message));
        QCOMPARE(edit->text(), typed);
        QCOMPARE(c<QTabWidget>("PageControl1")->currentWidget(), c<QWidget>("tsGeneral"));
        QCOMPARE(dlg->focusWidget(), edit);
        // Nothing was taken, used or written, the other change neither.
        QCOMPARE(s().routerMonitorHost, QString("router.home"));
        QCOMPARE(s().reverseLookupUrl, QString("https://lookup.example/"));
        QCOMPARE(serverChanges, 0);
        QVERIFY(s().stayOnTop);
        QCOMPARE(readFile(ini()), stored);

        // Mended, OK takes everything.
        edit->setText(mended);
        QTest::keyClick(edit, Qt::Key_Return);
        QVERIFY(!dlg->isVisible());
    });
    QVERIFY(ok);
    QCOMPARE(FPrompts.messages.size(), 1);
    QVERIFY(!s().stayOnTop);
    const QByteArray now = readFile(ini());
    QVERIFY2(now.contains(written.toUtf8()), now.constData());
    QVERIFY(now.contains("StayOnTop=0\n"));
}

void TestOptDlg::transparencyOnlyWhereItShows()
{
    writeFile(ini(), "[Settings]\nTransparency=40\n");
    makeDialog();
    FDlg->TransparencyAvailable = [] { return false; };
    int applied = 0;
    FDlg->OnPopupTransparency = [&applied] { ++applied; };
    inDialog([&](TOptDlg *dlg) {
        QVERIFY(!c<QCheckBox>("cbTrans")->isEnabled());
        QVERIFY(!c<QSlider>("tbTrans")->isEnabled());
        dlg->OKBtnClick();
    });
    // Kept for a session where it shows.
    QVERIFY(readFile(ini()).contains("Transparency=40\n"));

    FDlg->TransparencyAvailable = [] { return true; };
    inDialog([&](TOptDlg *dlg) {
        auto *box = c<QCheckBox>("cbTrans");
        auto *slider = c<QSlider>("tbTrans");
        QVERIFY(box->isChecked());
        QCOMPARE(slider->value(), 40);
        tick(box);
        QVERIFY(!slider->isEnabled());
        QCOMPARE(s().transparency, 0);
        tick(box);
        QCOMPARE(s().transparency, 40);
        slider->setFocus();
        QTest::keyClick(slider, Qt::Key_PageUp);
        QCOMPARE(s().transparency, 50);
        QCOMPARE(applied, 3);
        dlg->reject();
    });
    QCOMPARE(s().transparency, 40);
}

void TestOptDlg::contactsPage()
{
    makeDialog();
    AreaCodeTable table;
    table.setLines(
        {"441 Oldenburg", "++49 Deutschland", "++43 Österreich", "++43 Austria", "++1 USA"});
    FDlg->SetCountryCodeChoices(CountryCodeChoices(table));
    int imports = 0;
    FDlg->OnImportContacts = [&imports] { ++imports; };
    FPrompts.chosenFiles = {FDir->filePath("people.vcf")};
    inDialog([&](TOptDlg *dlg) {
        auto *codes = c<QComboBox>("cbCountryCode");
        QCOMPARE(codes->count(), 3);
        QCOMPARE(codes->itemText(0), QString("++1"));
        QCOMPARE(codes->itemText(2), QString("++49"));
        QCOMPARE(codes->currentText(), QString("++49"));
        QVERIFY(!codes->isEnabled());
        QCOMPARE(c<QListWidget>("lvOutlookSearch")->item(12)->text(),
                 QString("TTYTDDTelephoneNumber"));
        // The file names no field: the searched ones are checked.
        QCOMPARE(c<QListWidget>("lvOutlookSearch")->item(6)->text(),
                 QString("HomeTelephoneNumber"));
        QCOMPARE(c<QListWidget>("lvOutlookSearch")->item(6)->checkState(), Qt::Checked);
        QCOMPARE(c<QListWidget>("lvOutlookSearch")->item(7)->checkState(), Qt::Unchecked);
        tick(c<QCheckBox>("cbSearchOutlook"));
        QVERIFY(codes->isEnabled());
        QTest::mouseClick(c<QToolButton>("sbVCard"), Qt::LeftButton);
        QCOMPARE(c<QLineEdit>("edVCard")->text(), FDir->filePath("people.vcf"));
        dlg->OKBtnClick();
    });
    QCOMPARE(imports, 1);
    QVERIFY(readFile(ini()).contains("ContactsVCard=" + FDir->filePath("people.vcf").toUtf8()));
    QVERIFY(readFile(ini()).contains("HomeTelephoneNumber=1\nHome2TelephoneNumber=0\n"));
}

void TestOptDlg::loadAtStartup()
{
    makeDialog();
    const QString entry = FDir->filePath("autostart/corvane.desktop");
    inDialog([&](TOptDlg *dlg) {
        QVERIFY(!c<QCheckBox>("LoadBox")->isChecked());
        tick(c<QCheckBox>("LoadBox"));
        dlg->OKBtnClick();
    });
    QVERIFY(QFile::exists(entry));
    inDialog([&](TOptDlg *dlg) {
        QVERIFY(c<QCheckBox>("LoadBox")->isChecked());
        tick(c<QCheckBox>("LoadBox"));
        dlg->OKBtnClick();
    });
    QVERIFY(!QFile::exists(entry));

    // A place the entry cannot be written to.
    FDlg->SetAutostart(
        platform::Autostart("/usr/bin/corvane", ini() + "/no/such/dir", FDir->filePath("machine")));
    inDialog([&](TOptDlg *dlg) {
        tick(c<QCheckBox>("LoadBox"));
        dlg->OKBtnClick();
    });
    // The message names the entry and says why.
    QCOMPARE(FPrompts.messages,
             QStringList("Error writing \"Load at startup\" option to the autostart entry: "
                         "Cannot create the directory " +
                         ini() + "/no/such/dir"));
}

void TestOptDlg::unwritableFileKeepsTheDialogOpen()
{
    makeDialog();
    // The disk refuses the new file at its last step.
    AtomicFile::setFaultHook(
        [](AtomicFile::Stage stage) { return stage != AtomicFile::Stage::Rename; });
    inDialog([&](TOptDlg *dlg) {
        dlg->OKBtnClick();
        QVERIFY(dlg->isVisible());
        QCOMPARE(FPrompts.messages,
                 QStringList("The settings were not saved. Unable to write to " + ini()));
        dlg->reject();
    });
    AtomicFile::setFaultHook(nullptr);
}

void TestOptDlg::unreadableFileKeepsTheDialogOpen()
{
    QVERIFY(QDir().mkpath(ini())); // a directory where the file should be: it cannot be read
    makeDialog();
    inDialog([&](TOptDlg *dlg) {
        dlg->OKBtnClick();
        QVERIFY(dlg->isVisible());
        QCOMPARE(FPrompts.messages.size(), 1);
        // The message names the file and why it was not written.
        QVERIFY2(FPrompts.messages.first().startsWith("The settings were not saved. Unable to "
                                                      "write to " +
                                                      ini() + ": the file cannot be read ("),
                 qPrintable(FPrompts.messages.first()));
        dlg->reject();
    });
    QVERIFY(QFileInfo(ini()).isDir());

    // Mended, the next cancel reads it, and OK writes again.
    QVERIFY(QDir(ini()).removeRecursively());
    writeFile(ini(), "[Settings]\nPopup=0\n[StatusCodes]\n$3490=1\n");
    inDialog([&](TOptDlg *dlg) { dlg->reject(); });
    QVERIFY(FSettings->readError().isEmpty());
    QVERIFY(!s().popup);
    QVERIFY(inDialog([&](TOptDlg *dlg) { dlg->OKBtnClick(); }));
    QVERIFY(readFile(ini()).contains("$3490=1"));
}

void TestOptDlg::secondRequestWhileOpenIsIgnored()
{
    makeDialog();
    int opened = 0;
    const bool ok = inDialog([&](TOptDlg *dlg) {
        ++opened;
        QVERIFY(!dlg->Open()); // returns at once
        dlg->OKBtnClick();
    });
    QVERIFY(ok);
    QCOMPARE(opened, 1);
}

void TestOptDlg::captionsInBothLanguages()
{
    makeDialog();
    auto *pages = c<QTabWidget>("PageControl1");
    QStringList english;
    for (int i = 0; i < pages->count(); ++i)
        english << pages->tabText(i);
    QCOMPARE(english,
             QStringList({"General", "Calls", "Icon", "Colours", "Telephony", "Contacts"}));
    QCOMPARE(c<QCheckBox>("cbStoreNoNum")->text(), QString("Store \"&not submitted\" calls"));
    QCOMPARE(c<QToolButton>("sbPic")->toolTip(), QString("Load"));
    QCOMPARE(c<QLabel>("lbLookupURL")->text(), QString("Ser&ver address:"));
    QCOMPARE(c<QLabel>("lbLookupURL")->buddy(), c<QLineEdit>("edLookupURL"));
    QCOMPARE(c<QLabel>("lbRouterHost")->text(), QString("Router &monitor (host[:port]):"));
    QCOMPARE(c<QCheckBox>("cbShowReject")->toolTip(),
             QString("Only a CAPI line can reject calls; the router monitor only reports them."));

    FDlg->ApplyLanguage(Language::German);
    QCOMPARE(pages->tabText(0), QString("Allgemein"));
    QCOMPARE(pages->tabText(3), QString("Farben"));
    QCOMPARE(c<QToolButton>("sbPic")->toolTip(), QString("Laden"));
    QCOMPARE(c<QGroupBox>("gbAddressBook")->title(), QString("Adressbuch"));
    QCOMPARE(c<QLabel>("lbModemPorts")->text(), QString("&Modem-Anschlüsse (durch ; getrennt):"));
    QCOMPARE(c<QGroupBox>("gbLine")->title(), QString("Leitung"));
    QCOMPARE(c<QLabel>("lbRouterHost")->text(), QString("&Router-Anrufmonitor (Host[:Port]):"));
    QCOMPARE(c<QLabel>("lbRouterHost")->buddy(), c<QLineEdit>("edRouterHost"));
    QCOMPARE(c<QLabel>("lbLineHint")->text(),
             QString("Leer: die ISDN-Leitung über CAPI. Nur eine CAPI-Leitung kann Anrufe "
                     "abweisen."));
    QCOMPARE(c<QCheckBox>("cbShowReject")->toolTip(),
             QString("Nur eine CAPI-Leitung kann Anrufe abweisen; der Router-Anrufmonitor meldet "
                     "sie nur."));
    // A note, not the box's name: a screen reader still reads the caption.
    QCOMPARE(c<QCheckBox>("cbShowReject")->accessibleName(), QString());
    QVERIFY(c<QRadioButton>("LangGroup.0")->isChecked());

    // Every check box and label has its caption, in each language, and no two controls of a
    // page answer the same Alt key.
    for (Language language : {Language::German, Language::English}) {
        FDlg->ApplyLanguage(language);
        for (int i = 0; i < pages->count(); ++i) {
            QStringList keys;
            for (QWidget *w : pages->widget(i)->findChildren<QWidget *>()) {
                QString text;
                if (auto *button = qobject_cast<QAbstractButton *>(w)) text = button->text();
                if (auto *label = qobject_cast<QLabel *>(w)) text = label->text();
                const qsizetype amp = text.indexOf(u'&');
                if (amp < 0 || amp + 1 >= text.size()) continue;
                const QString key = text.mid(amp + 1, 1).toLower();
                QVERIFY2(!keys.contains(key), qPrintable(pages->tabText(i) + ": Alt+" + key));
                keys << key;
            }
        }
        for (QAbstractButton *button : FDlg->findChildren<QAbstractButton *>()) {
            if (qobject_cast<QCheckBox *>(button) || qobject_cast<QRadioButton *>(button))
                QVERIFY2(!button->text().isEmpty(), qPrintable(button->objectName()));
        }
        // Status lines (the picture's file, the modems' answers) are no captions.
        for (QLabel *label : FDlg->findChildren<QLabel *>()) {
            if (label->objectName() != "lbFile" && label->objectName() != "lbProbeNotes")
                QVERIFY2(!label->text().isEmpty(), qPrintable(label->objectName()));
        }
    }
}

QTEST_MAIN(TestOptDlg)
#include "tst_optdlg.moc"
