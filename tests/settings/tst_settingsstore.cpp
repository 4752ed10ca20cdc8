#include "platform/AtomicFile.h"
#include "settings/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

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

// Keys of a written file in order, as "Section/Key".
QStringList keyOrder(const QByteArray &ini)
{
    QStringList keys;
    QString section;
    for (const QByteArray &line : ini.split('\n')) {
        const QString text = QString::fromUtf8(line).trimmed();
        if (text.startsWith(u'['))
            section = text.mid(1, text.size() - 2);
        else if (text.contains(u'='))
            keys.append(section + u'/' + text.left(text.indexOf(u'=')));
    }
    return keys;
}

} // namespace

class TestSettingsStore : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void missingFileGivesDefaultsAndFirstSaveCreatesIt();
    void writesInTheWindowsOrderAndKeepsForeignKeys();
    void roundTripsEveryKey();
    void readsEveryKeyByItsName();
    void badValuesReadAsDefaultsOrClamped_data();
    void badValuesReadAsDefaultsOrClamped();
    void stringsFollowTheProfileRules();
    void hiddenKeysAreNeverWritten();
    void contactsVCardIsWrittenOnlyWhenSet();
    void oldRegClearedMovesAutostartOnce();
    void msnSectionIsParsedAndErasedByTheNextSave();
    void tapiDeviceByIndexOrName();
    void sourceAddressesExistOnlyWhileSet();
    void routerMonitorHostExistsOnlyWhileSet();
    void singleKeysSeeEditsMadeWhileRunning();
    void unwritableFileReportsItsPath();
    void unreadableFileIsNeverOverwritten_data();
    void unreadableFileIsNeverOverwritten();
    void unreadableFileIsNeverWrittenOver();
    void windows1252FileKeepsItsUmlauts();

private:
    QScopedPointer<QTemporaryDir> FDir;
    QString FIni;
};

void TestSettingsStore::init()
{
    FDir.reset(new QTemporaryDir);
    FIni = FDir->path() + "/corvane.ini";
}

void TestSettingsStore::missingFileGivesDefaultsAndFirstSaveCreatesIt()
{
    SettingsStore store(FIni);
    QVERIFY(store.readAll());
    const GeneralSettings d;
    QCOMPARE(store.settings.duration, 5);
    QVERIFY(store.settings.popup);
    QCOMPARE(store.settings.language, 1);
    QCOMPARE(store.settings.countryCode, QString("++49"));
    QCOMPARE(store.settings.fColor, 65535);
    QCOMPARE(store.settings.timeFormat.text(), QString("hh:mm:ss"));
    QCOMPARE(store.mainPos.width, 400);
    QCOMPARE(store.listViews.callsSort, -1);
    QCOMPARE(store.listViews.nicksSort, 100);
    QCOMPARE(store.listViews.callsCol[3], 120);
    QCOMPARE(store.settings.rejectTimeOut(), 10);
    QVERIFY(!store.hasMsnSection());

    QVERIFY(store.writeAll());
    const QByteArray written = readFile(FIni);
    QVERIFY(written.contains("Intervall=5000\n"));
    QVERIFY(written.contains("[OutlookNumbers]\n"));
}

void TestSettingsStore::writesInTheWindowsOrderAndKeepsForeignKeys()
{
    writeFile(FIni, "; user notes\n[StatusCodeStrings]\n$34A2=Leitung belegt\n");
    SettingsStore store(FIni);
    store.readAll();
    QVERIFY(store.writeAll());
    const QByteArray written = readFile(FIni);
    QVERIFY(written.startsWith("; user notes\n"));
    QVERIFY(written.contains("[StatusCodeStrings]\n$34A2=Leitung belegt\n"));

    const QStringList order = keyOrder(written);
    // Sections appear as they are first written; OldRegCleared opened "Settings" at reading.
    const QStringList expected = {
        "StatusCodeStrings/$34A2",
        "Settings/OldRegCleared",
        "Settings/Popup",
        "Settings/ShowMultipleCalls",
        "Settings/Balloon",
        "Settings/CloseDisCon",
        "Settings/CloseConnect",
        "Settings/CloseReject",
        "Settings/CloseBusy",
        "Settings/KeepUnknown",
        "Settings/ShowReject",
        "Settings/Intervall",
        "Settings/bgColor",
        "Settings/fColor",
        "Settings/Transparency",
        "Settings/Font",
        "Settings/Language",
        "Settings/StayOnTop",
        "Settings/KeepFocus",
        "Settings/Screensaver",
        "Settings/ShowNag",
        "Settings/AllowGroup",
        "Settings/ScrollLED",
        "Settings/ShowClose",
        "Settings/StoreNotSubmitted",
        "Settings/ClearCalls",
        "Settings/ClearCallDays",
        "Settings/SearchOutlook",
        "Settings/CountryCode",
        "Settings/UseTAPI",
        "Settings/DoPrependNum",
        "Settings/PrependNum",
        "Settings/ExternalNumberManipulationDLL",
        "Settings/ExternalNumberLookupDLL",
        "Settings/InternalReverseSearch",
        "Settings/CutZeroes",
        "MainPos/Left",
        "MainPos/Top",
        "MainPos/Width",
        "MainPos/Height",
        "Picture/UsePic",
        "Picture/Stretch",
        "Picture/File",
        "Calls/Col1",
        "Calls/Col2",
        "Calls/Col3",
        "Calls/Col4",
        "Calls/Col5",
        "Calls/Col6",
        "Calls/Col7",
        "Calls/Sort",
        "Nicks/Col0",
        "Nicks/Col1",
        "Nicks/Col2",
        "Nicks/Col3",
        "Nicks/Sort",
        "MSNCol/Col0",
        "MSNCol/Col1",
        "MSNCol/Col2",
        "MSNCol/Col3",
        "MSNCol/Col4",
        "List/Left",
        "List/Top",
        "List/Width",
        "List/Height",
        "Search/Left",
        "Search/Top",
        "Search/Width",
        "Search/Height",
    };
    QCOMPARE(order.mid(0, expected.size()), expected);
    QCOMPARE(order.size(), expected.size() + 13);
    QCOMPARE(order.last(), QString("OutlookNumbers/TTYTDDTelephoneNumber"));
}

void TestSettingsStore::roundTripsEveryKey()
{
    SettingsStore store(FIni);
    store.readAll();
    GeneralSettings &s = store.settings;
    s.popup = false;
    s.duration = 12;
    s.closeBusy = true;
    s.bgColor = 0x00336699;
    s.transparency = 40;
    s.font = "DejaVu Sans";
    s.language = 0;
    s.cutZeroes = 2;
    s.clearCalls = true;
    s.clearCallDays = 30;
    s.countryCode = "++43";
    s.useTapi = true;
    s.tapiDevice = "ISDN Modem";
    s.prependNum = "0";
    s.externalNumberLookupDll = "/opt/lookup.so";
    s.reverseLookupUrl = "https://lookup.example/rs/";
    store.picture = {true, true, QString::fromUtf8("/home/u/Bilder/Blümchen.jpg")};
    store.mainPos = {10, 20, 500, 120};
    store.listViews.callsSort = 3;
    store.listViews.nicksSort = -1;
    store.listViews.msnCol[4] = 99;
    store.outlookNumbers[8] = true;
    QVERIFY(store.writeAll());

    SettingsStore again(FIni);
    again.readAll();
    QCOMPARE(again.settings.popup, false);
    QCOMPARE(again.settings.duration, 12);
    QCOMPARE(again.settings.closeBusy, true);
    QCOMPARE(again.settings.bgColor, 0x00336699);
    QCOMPARE(again.settings.transparency, 40);
    QCOMPARE(again.settings.font, QString("DejaVu Sans"));
    QCOMPARE(again.settings.language, 0);
    QCOMPARE(again.settings.cutZeroes, 2);
    QCOMPARE(again.settings.clearCallDays, 30);
    QCOMPARE(again.settings.countryCode, QString("++43"));
    QCOMPARE(again.settings.tapiDevice, QString("ISDN Modem"));
    QCOMPARE(again.settings.externalNumberLookupDll, QString("/opt/lookup.so"));
    QCOMPARE(again.settings.reverseLookupUrl, QString("https://lookup.example/rs/"));
    QVERIFY(readFile(FIni).contains(
        "InternalReverseSearch=0\nReverseLookupURL=https://lookup.example/rs/\n"));
    QCOMPARE(again.picture.file, store.picture.file);
    QCOMPARE(again.mainPos.height, 120);
    QCOMPARE(again.listViews.callsSort, 3);
    QCOMPARE(again.listViews.nicksSort, -1);
    QCOMPARE(again.listViews.msnCol[4], 99);
    QVERIFY(again.outlookNumbers[8]);
    QVERIFY(!again.outlookNumbers[7]);
    // Written once more unchanged, the file stays the same byte for byte.
    const QByteArray before = readFile(FIni);
    QVERIFY(again.writeAll());
    QCOMPARE(readFile(FIni), before);
}

void TestSettingsStore::readsEveryKeyByItsName()
{
    // A file as a user writes it, every key away from its default: a key read under another
    // name would come back as the default.
    writeFile(FIni, "[Settings]\n"
                    "ODS=1\nShowInfo=0\nOldRegCleared=1\nHomeFritz=1\nHideFirstLine=1\n"
                    "RejectTime=25\nDebug=1\nDebugInt=3\nSecondTrayIcon=1\nIntervall=7000\n"
                    "CallRotationTimeout=45\nPopup=0\nShowMultipleCalls=0\nBalloon=0\n"
                    "CloseDisCon=1\nCloseConnect=1\nCloseReject=1\nCloseBusy=1\n"
                    "KeepUnknown=1\nShowReject=1\nStayOnTop=0\nKeepFocus=1\nScreensaver=1\n"
                    "CutZeroes=2\nDateFormat=yyyy\nTimeFormat=hh\nDisplayTimeFormat=nn\n"
                    "Language=0\nShowNag=0\nAllowGroup=0\nScrollLED=0\nShowClose=0\n"
                    "StoreNotSubmitted=0\nClearCalls=1\nClearCallDays=30\nCountryCode=++43\n"
                    "SearchOutlook=1\nbgColor=255\nTransparency=20\nfColor=16711680\n"
                    "Font=Courier\nUseTAPI=1\nTAPIDevice=Modem\nDoPrependNum=1\n"
                    "PrependNum=0\nExternalNumberManipulationDLL=/m.so\n"
                    "ExternalNumberLookupDLL=/l.so\nInternalReverseSearch=1\nTAPIDebug=1\n"
                    "LastWavePath=/w/\n"
                    "[MainPos]\nLeft=11\nTop=12\nWidth=513\nHeight=114\n"
                    "[Picture]\nUsePic=1\nStretch=1\nFile=/p.jpg\n"
                    "[Debug]\nSortDebug=1\n"
                    "[Calls]\nCol1=11\nCol2=12\nCol3=13\nCol4=14\nCol5=15\nCol6=16\n"
                    "Col7=17\nSort=4\n"
                    "[Nicks]\nCol0=20\nCol1=21\nCol2=22\nCol3=23\nSort=-2\n"
                    "[MSNCol]\nCol0=30\nCol1=31\nCol2=32\nCol3=33\nCol4=34\n"
                    "[List]\nLeft=41\nTop=42\nWidth=543\nHeight=344\n"
                    "[Search]\nLeft=51\nTop=52\nWidth=653\nHeight=354\n"
                    "[OutlookNumbers]\nAssistantTelephoneNumber=1\nBusinessTelephoneNumber=1\n"
                    "Business2TelephoneNumber=1\nCallbackTelephoneNumber=1\n"
                    "CarTelephoneNumber=1\nCompanyMainTelephoneNumber=1\n"
                    "HomeTelephoneNumber=1\nHome2TelephoneNumber=1\nMobileTelephoneNumber=1\n"
                    "OtherTelephoneNumber=1\nPrimaryTelephoneNumber=1\n"
                    "RadioTelephoneNumber=1\nTTYTDDTelephoneNumber=1\n"
                    "[Icons]\n0=/i0\n1=/i1\n2=/i2\n3=/i3\nInitialDir=/icons/\nSelected=2\n"
                    "[DIcons]\n0=/d0\n3=/d3\n"
                    "[StatusCodes]\n$3490=1\n[StatusCodeStrings]\n$34BB=Belegt\n");
    SettingsStore store(FIni);
    QVERIFY(store.readAll());
    const GeneralSettings &s = store.settings;
    const QDateTime moment(QDate(2025, 3, 7), QTime(14, 5));
    auto place = [](const WindowPlace &p) {
        return QStringLiteral("%1 %2 %3 %4").arg(p.left).arg(p.top).arg(p.width).arg(p.height);
    };
    // Key, value as read, value in the file.
    const QList<std::tuple<const char *, QString, QString>> values = {
        {"ODS", QString::number(s.ods), "1"},
        {"ShowInfo", QString::number(s.showInfo), "0"},
        {"OldRegCleared", QString::number(s.oldRegCleared), "1"},
        {"HomeFritz", QString::number(s.homeFritz), "1"},
        {"HideFirstLine", QString::number(s.hideFirstLine), "1"},
        {"RejectTime", QString::number(s.rejectTime), "25"},
        {"Debug", QString::number(s.debug), "1"},
        {"DebugInt", QString::number(s.debugInt), "3"},
        {"SecondTrayIcon", QString::number(s.secondTrayIcon), "1"},
        {"Intervall", QString::number(s.duration * 1000), "7000"},
        {"CallRotationTimeout", QString::number(s.callRotationTimeout), "45"},
        {"Popup", QString::number(s.popup), "0"},
        {"ShowMultipleCalls", QString::number(s.showMultipleCalls), "0"},
        {"Balloon", QString::number(s.balloon), "0"},
        {"CloseDisCon", QString::number(s.closeDisCon), "1"},
        {"CloseConnect", QString::number(s.closeConnect), "1"},
        {"CloseReject", QString::number(s.closeReject), "1"},
        {"CloseBusy", QString::number(s.closeBusy), "1"},
        {"KeepUnknown", QString::number(s.keepUnknown), "1"},
        {"ShowReject", QString::number(s.showReject), "1"},
        {"StayOnTop", QString::number(s.stayOnTop), "0"},
        {"KeepFocus", QString::number(s.keepFocus), "1"},
        {"Screensaver", QString::number(s.screensaver), "1"},
        {"CutZeroes", QString::number(s.cutZeroes), "2"},
        {"DateFormat", s.dateFormat.format(moment, QLocale::c()), "2025"},
        {"TimeFormat", s.timeFormat.format(moment, QLocale::c()), "14"},
        {"DisplayTimeFormat", s.displayTimeFormat.format(moment, QLocale::c()), "05"},
        {"Language", QString::number(s.language), "0"},
        {"ShowNag", QString::number(s.showNag), "0"},
        {"AllowGroup", QString::number(s.allowGroup), "0"},
        {"ScrollLED", QString::number(s.scrollLed), "0"},
        {"ShowClose", QString::number(s.showClose), "0"},
        {"StoreNotSubmitted", QString::number(s.storeNotSubmitted), "0"},
        {"ClearCalls", QString::number(s.clearCalls), "1"},
        {"ClearCallDays", QString::number(s.clearCallDays), "30"},
        {"CountryCode", s.countryCode, "++43"},
        {"SearchOutlook", QString::number(s.searchOutlook), "1"},
        {"bgColor", QString::number(s.bgColor), "255"},
        {"Transparency", QString::number(s.transparency), "20"},
        {"fColor", QString::number(s.fColor), "16711680"},
        {"Font", s.font, "Courier"},
        {"UseTAPI", QString::number(s.useTapi), "1"},
        {"TAPIDevice", s.tapiDevice, "Modem"},
        {"DoPrependNum", QString::number(s.doPrependNum), "1"},
        {"PrependNum", s.prependNum, "0"},
        {"ExternalNumberManipulationDLL", s.externalNumberManipulationDll, "/m.so"},
        {"ExternalNumberLookupDLL", s.externalNumberLookupDll, "/l.so"},
        {"InternalReverseSearch", QString::number(s.internalReverseSearch), "1"},
        {"TAPIDebug", QString::number(s.tapiDebug), "1"},
        {"LastWavePath", s.lastWavePath, "/w/"},
        {"MainPos", place(store.mainPos), "11 12 513 114"},
        {"Picture",
         QStringLiteral("%1 %2 %3")
             .arg(store.picture.usePic)
             .arg(store.picture.stretch)
             .arg(store.picture.file),
         "1 1 /p.jpg"},
        {"SortDebug", QString::number(store.sortDebug), "1"},
        {"List", place(store.listWindow), "41 42 543 344"},
        {"Search", place(store.searchWindow), "51 52 653 354"},
    };
    for (const auto &[key, value, expected] : values)
        QVERIFY2(value == expected, qPrintable(QString("%1 read as %2").arg(key, value)));

    const ListViewSettings &views = store.listViews;
    QCOMPARE(QList<int>(views.callsCol.begin() + 1, views.callsCol.end()),
             QList<int>({11, 12, 13, 14, 15, 16, 17}));
    QCOMPARE(QList<int>(views.nicksCol.begin(), views.nicksCol.end()),
             QList<int>({20, 21, 22, 23}));
    QCOMPARE(QList<int>(views.msnCol.begin(), views.msnCol.end()),
             QList<int>({30, 31, 32, 33, 34}));
    QCOMPARE(views.callsSort, 4);
    QCOMPARE(views.nicksSort, -2);
    for (int i = 0; i < int(store.outlookNumbers.size()); ++i)
        QVERIFY2(store.outlookNumbers[i], qPrintable(SettingsStore::outlookNumberKeys().at(i)));

    QCOMPARE(QStringList({store.iconFile(0), store.iconFile(1), store.iconFile(2),
                          store.iconFile(3), store.disabledIconFile(0), store.disabledIconFile(3)}),
             QStringList({"/i0", "/i1", "/i2", "/i3", "/d0", "/d3"}));
    QCOMPARE(store.iconInitialDir(), QString("/icons/"));
    QCOMPARE(store.selectedIcon(), std::optional<int>(2));
    QCOMPARE(store.statusCode(0x3490), std::optional<bool>(true));
    QCOMPARE(store.statusCodeString(0x34BB, "built-in"), QString("Belegt"));
}

void TestSettingsStore::badValuesReadAsDefaultsOrClamped_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("expected");

    QTest::newRow("negative duration switches popup off")
        << QByteArray("Intervall=-5000\nPopup=1") << "popup" << 0;
    QTest::newRow("negative duration gives 0 s")
        << QByteArray("Intervall=-5000") << "duration" << 0;
    QTest::newRow("-500 ms is 0 s") << QByteArray("Intervall=-500\nPopup=1") << "duration" << 0;
    QTest::newRow("-500 ms keeps popup") << QByteArray("Intervall=-500\nPopup=1") << "popup" << 1;
    QTest::newRow("2500 ms truncates") << QByteArray("Intervall=2500") << "duration" << 2;
    QTest::newRow("non-numeric duration") << QByteArray("Intervall=abc") << "duration" << 5;
    QTest::newRow("negative CutZeroes") << QByteArray("CutZeroes=-3") << "cutZeroes" << 0;
    QTest::newRow("huge CutZeroes") << QByteArray("CutZeroes=500") << "cutZeroes" << 100;
    QTest::newRow("Transparency above 100")
        << QByteArray("Transparency=150") << "transparency" << 100;
    QTest::newRow("Transparency below 0") << QByteArray("Transparency=-1") << "transparency" << 0;
    QTest::newRow("bool any non-zero") << QByteArray("Balloon=0\nCloseBusy=7") << "closeBusy" << 1;
    QTest::newRow("bool non-numeric is default") << QByteArray("Balloon=yes") << "balloon" << 1;
    QTest::newRow("hex colour") << QByteArray("bgColor=$00FF00") << "bgColor" << 0xFF00;
    QTest::newRow("0x colour") << QByteArray("fColor=0x0000FF") << "fColor" << 0xFF;
    QTest::newRow("overflow is default")
        << QByteArray("ClearCallDays=99999999999") << "clearCallDays" << 10;
    QTest::newRow("keys ignore case") << QByteArray("cLeArCaLlDaYs=12") << "clearCallDays" << 12;
    QTest::newRow("RejectTime 0 counts as 10")
        << QByteArray("RejectTime=0") << "rejectTimeOut" << 10;
    QTest::newRow("RejectTime 25") << QByteArray("RejectTime=25") << "rejectTimeOut" << 25;
}

void TestSettingsStore::badValuesReadAsDefaultsOrClamped()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, field);
    QFETCH(int, expected);
    writeFile(FIni, "[settings]\n" + ini + "\n");
    SettingsStore store(FIni);
    store.readAll();
    const GeneralSettings &s = store.settings;
    const QHash<QString, int> values = {
        {"popup", s.popup},
        {"duration", s.duration},
        {"cutZeroes", s.cutZeroes},
        {"transparency", s.transparency},
        {"closeBusy", s.closeBusy},
        {"balloon", s.balloon},
        {"bgColor", s.bgColor},
        {"fColor", s.fColor},
        {"clearCallDays", s.clearCallDays},
        {"rejectTimeOut", s.rejectTimeOut()},
    };
    QVERIFY(values.contains(field));
    QCOMPARE(values.value(field), expected);
}

void TestSettingsStore::stringsFollowTheProfileRules()
{
    const QByteArray longValue(3000, 'x');
    writeFile(FIni, "[Settings]\nFont=\"Liberation Sans\"\nPrependNum='0'\nCountryCode=\n"
                    "DateFormat=" +
                        longValue + "\n");
    SettingsStore store(FIni);
    store.readAll();
    QCOMPARE(store.settings.font, QString("Liberation Sans"));
    QCOMPARE(store.settings.prependNum, QString("0"));
    QCOMPARE(store.settings.countryCode, QString()); // present but empty is not missing
    QCOMPARE(store.settings.dateFormat.text().size(), 2047);

    // A value with a line break must not split into a stray key.
    store.picture.file = "a\nEvil=1";
    QVERIFY(store.writeAll());
    SettingsStore again(FIni);
    again.readAll();
    QVERIFY(!again.ini().keyExists("Picture", "Evil"));
}

void TestSettingsStore::hiddenKeysAreNeverWritten()
{
    SettingsStore store(FIni);
    store.readAll();
    store.settings.ods = true;
    store.settings.homeFritz = true;
    store.settings.debug = true;
    store.settings.rejectTime = 30;
    store.settings.dateFormat = "yyyy";
    QVERIFY(store.writeAll());
    const QByteArray written = readFile(FIni);
    for (const char *key :
         {"ODS=", "ShowInfo=", "HomeFritz=", "HideFirstLine=", "RejectTime=", "Debug=", "DebugInt=",
          "SecondTrayIcon=", "CallRotationTimeout=", "DateFormat=", "TimeFormat=",
          "DisplayTimeFormat=", "TAPIDebug=", "LastWavePath=", "TAPIDevice=", "SortDebug="})
        QVERIFY2(!written.contains(QByteArray("\n") + key), key);

    // A hidden key the user wrote stays as the user wrote it.
    writeFile(FIni, "[Settings]\nHomeFritz=1\n");
    store.readAll();
    QVERIFY(store.settings.homeFritz);
    store.settings.homeFritz = false;
    QVERIFY(store.writeAll());
    QVERIFY(readFile(FIni).contains("HomeFritz=1\n"));
}

void TestSettingsStore::contactsVCardIsWrittenOnlyWhenSet()
{
    SettingsStore store(FIni);
    store.readAll();
    QVERIFY(store.writeAll());
    QVERIFY(!readFile(FIni).contains("ContactsVCard"));

    store.settings.contactsVCard = QString::fromUtf8("/home/u/Kontakte/Büro.vcf");
    QVERIFY(store.writeAll());
    SettingsStore again(FIni);
    again.readAll();
    QCOMPARE(again.settings.contactsVCard, store.settings.contactsVCard);

    // Cleared in the dialog: the old file must not come back at the next start.
    again.settings.contactsVCard.clear();
    QVERIFY(again.writeAll());
    QVERIFY(!readFile(FIni).contains("ContactsVCard"));
    SettingsStore third(FIni);
    third.readAll();
    QCOMPARE(third.settings.contactsVCard, QString());
}

void TestSettingsStore::oldRegClearedMovesAutostartOnce()
{
    int moves = 0;
    SettingsStore store(FIni);
    store.onMoveAutostart = [&moves] { ++moves; };
    store.readAll();
    store.readAll();
    QCOMPARE(moves, 1);
    QVERIFY(readFile(FIni).contains("OldRegCleared=1"));
    SettingsStore again(FIni);
    again.onMoveAutostart = [&moves] { ++moves; };
    again.readAll();
    QCOMPARE(moves, 1);
}

void TestSettingsStore::msnSectionIsParsedAndErasedByTheNextSave()
{
    writeFile(FIni, "[MSN]\n85606=Office\n85607=Fax;0;/snd/fax.wav\n85608=\n85609=Home;1\n");
    SettingsStore store(FIni);
    store.readAll();
    QVERIFY(store.hasMsnSection());
    const QList<MsnSectionEntry> entries = store.msnSectionEntries();
    QCOMPARE(entries.size(), 3); // the empty value is skipped
    QCOMPARE(entries[0].msn, QString("85606"));
    QCOMPARE(entries[0].nickname, QString("Office"));
    QVERIFY(entries[0].checked);
    QCOMPARE(entries[0].sound, QString());
    QCOMPARE(entries[1].nickname, QString("Fax"));
    QVERIFY(!entries[1].checked);
    QCOMPARE(entries[1].sound, QString("/snd/fax.wav"));
    QCOMPARE(entries[2].nickname, QString("Home"));
    QVERIFY(entries[2].checked);

    QVERIFY(store.writeAll());
    QVERIFY(!readFile(FIni).contains("[MSN]"));
    QVERIFY(!store.hasMsnSection());
}

void TestSettingsStore::tapiDeviceByIndexOrName()
{
    SettingsStore store(FIni);
    const QStringList devices = {"Modem A", "ISDN B", "7"};
    store.settings.tapiDevice = "1";
    QCOMPARE(store.tapiDeviceIndex(devices), 1);
    store.settings.tapiDevice = "ISDN B";
    QCOMPARE(store.tapiDeviceIndex(devices), 1);
    store.settings.tapiDevice = "5";
    QCOMPARE(store.tapiDeviceIndex(devices), -1);
    store.settings.tapiDevice = "Unknown";
    QCOMPARE(store.tapiDeviceIndex(devices), -1);

    // Written only with telephony on.
    store.settings.useTapi = false;
    store.settings.tapiDevice = "Modem A";
    QVERIFY(store.writeAll());
    QVERIFY(!readFile(FIni).contains("TAPIDevice"));
    store.settings.useTapi = true;
    QVERIFY(store.writeAll());
    QVERIFY(readFile(FIni).contains("TAPIDevice=Modem A\n"));
}

void TestSettingsStore::sourceAddressesExistOnlyWhileSet()
{
    SettingsStore store(FIni);
    store.readAll();
    QVERIFY(store.writeAll());
    for (const char *key : {"ReverseLookupURL", "ModemPorts", "OLEObject", "ContactsVCard"})
        QVERIFY2(!readFile(FIni).contains(key), key);

    store.settings.reverseLookupUrl = "https://lookup.example/rs.php";
    store.settings.modemPorts = "/dev/ttyACM0;/dev/ttyUSB1@57600";
    store.settings.contactsSource = "Family";
    store.settings.contactsVCard = "/home/u/contacts.vcf";
    QVERIFY(store.writeAll());
    SettingsStore again(FIni);
    again.readAll();
    QCOMPARE(again.settings.reverseLookupUrl, QString("https://lookup.example/rs.php"));
    QCOMPARE(again.settings.modemPorts, QString("/dev/ttyACM0;/dev/ttyUSB1@57600"));
    QCOMPARE(again.settings.contactsSource, QString("Family"));
    QCOMPARE(again.settings.contactsVCard, QString("/home/u/contacts.vcf"));

    // An emptied field takes its key away, so the old value does not come back.
    again.settings.reverseLookupUrl.clear();
    again.settings.contactsVCard.clear();
    QVERIFY(again.writeAll());
    const QByteArray written = readFile(FIni);
    QVERIFY(!written.contains("ReverseLookupURL"));
    QVERIFY(!written.contains("ContactsVCard"));
    QVERIFY(written.contains("ModemPorts=/dev/ttyACM0;/dev/ttyUSB1@57600\n"));
    QVERIFY(written.contains("OLEObject=Family\n"));
}

void TestSettingsStore::routerMonitorHostExistsOnlyWhileSet()
{
    // Absent: the ISDN line, and no key is written for it.
    writeFile(FIni, "[Settings]\nPopup=1\n");
    SettingsStore store(FIni);
    QVERIFY(store.readAll());
    QCOMPARE(store.settings.routerMonitorHost, QString());
    QVERIFY(store.writeAll());
    QVERIFY(!readFile(FIni).contains("RouterMonitorHost"));

    store.settings.routerMonitorHost = "[fd00::1]:1013";
    QVERIFY(store.writeAll());
    QVERIFY(readFile(FIni).contains("[Settings]\nPopup=1\n"));
    QVERIFY(readFile(FIni).contains("\nRouterMonitorHost=[fd00::1]:1013\n"));
    SettingsStore again(FIni);
    QVERIFY(again.readAll());
    QCOMPARE(again.settings.routerMonitorHost, QString("[fd00::1]:1013"));

    // A value edited by hand comes back as it stands, even one the dialog would refuse: the
    // line reports it, and the user's text is not lost.
    writeFile(FIni, "[Settings]\nroutermonitorhost = router home;1012\n");
    QVERIFY(again.readAll());
    QCOMPARE(again.settings.routerMonitorHost, QString("router home;1012"));
    QVERIFY(again.writeAll());
    QVERIFY(readFile(FIni).contains("router home;1012\n"));

    // Emptied, the key goes, so the router does not come back at the next start.
    again.settings.routerMonitorHost.clear();
    QVERIFY(again.writeAll());
    QVERIFY(!readFile(FIni).contains("RouterMonitorHost"));
    QVERIFY(!readFile(FIni).contains("routermonitorhost"));
    QVERIFY(again.readAll());
    QCOMPARE(again.settings.routerMonitorHost, QString());
}

void TestSettingsStore::singleKeysSeeEditsMadeWhileRunning()
{
    SettingsStore store(FIni);
    store.readAll();
    QCOMPARE(store.statusCode(0x3490), std::nullopt);
    QCOMPARE(store.statusCodeString(0x34A2, "busy"), QString("busy"));
    QVERIFY(!store.readSortDebug());

    // The user edits the file while the program runs.
    QByteArray text = readFile(FIni);
    text += "[StatusCodes]\n$3490=1\n$34a1=0\n[StatusCodeStrings]\n$34A2=Besetzt!\n"
            "[Debug]\nSortDebug=1\n";
    QTest::qWait(20); // a different modification time
    writeFile(FIni, text);
    QCOMPARE(store.statusCode(0x3490), std::optional<bool>(true));
    QCOMPARE(store.statusCode(0x34A1), std::optional<bool>(false));
    QCOMPARE(store.statusCodeString(0x34A2, "busy"), QString("Besetzt!"));
    QVERIFY(store.readSortDebug());
    QCOMPARE(SettingsStore::statusCodeKey(0x34a2), QString("$34A2"));

    // Single-key writes keep the user's edits.
    QVERIFY(store.writeIconFile(2, "/icons/two.ico"));
    QVERIFY(store.writeSelectedIcon(2));
    QVERIFY(store.writeLastWavePath("/home/u/sounds/"));
    QCOMPARE(store.iconFile(2), QString("/icons/two.ico"));
    QCOMPARE(store.selectedIcon(), std::optional<int>(2));
    QVERIFY(store.removeIconFile(2));
    QCOMPARE(store.iconFile(2), QString());
    QVERIFY(readFile(FIni).contains("$3490=1"));
    SettingsStore again(FIni);
    again.readAll();
    QCOMPARE(again.settings.lastWavePath, QString("/home/u/sounds/"));
}

void TestSettingsStore::unwritableFileReportsItsPath()
{
    // A file where the file's folder should be: nothing can be created there.
    writeFile(FDir->path() + "/folder", "a file");
    const QString ini = FDir->path() + "/folder/corvane.ini";
    SettingsStore store(ini);
    QVERIFY(store.readAll()); // no file reads as the defaults
    QString error;
    QVERIFY(!store.writeAll(&error));
    QCOMPARE(error, "Unable to write to " + ini);
    QVERIFY(!store.writeSelectedIcon(1, &error));
    QCOMPARE(error, "Unable to write to " + ini);
}

void TestSettingsStore::unreadableFileIsNeverOverwritten_data()
{
    QTest::addColumn<QString>("kind");
    // A directory in its place: unreadableFileIsNeverWrittenOver.
    QTest::newRow("fifo") << "fifo";
    QTest::newRow("no read permission") << "permission";
}

void TestSettingsStore::unreadableFileIsNeverOverwritten()
{
    QFETCH(QString, kind);
    const QByteArray users = "[Settings]\nPopup=0\nOldRegCleared=0\n[StatusCodes]\n$3490=1\n"
                             "[StatusCodeStrings]\n$34BB=Leitung belegt\n[Icons]\n0=/i/a.ico\n";
    const QByteArray sideFile = FDir->path().toUtf8() + "/kept.ini";
    writeFile(sideFile, users);
    if (kind == "fifo") {
        QCOMPARE(::mkfifo(QFile::encodeName(FIni).constData(), 0600), 0);
    } else {
        if (::geteuid() == 0) QSKIP("root reads every file");
        writeFile(FIni, users);
        QVERIFY(QFile::setPermissions(FIni, QFileDevice::WriteOwner));
    }

    SettingsStore store(FIni);
    int autostartMoves = 0;
    store.onMoveAutostart = [&] { ++autostartMoves; };
    QVERIFY(!store.readAll());
    QVERIFY(!store.readError().isEmpty());
    QVERIFY(store.settings.popup); // the default
    QCOMPARE(autostartMoves, 0);   // the flag in the file is unknown

    QString error;
    QVERIFY(!store.writeAll(&error));
    QVERIFY2(error.startsWith("Unable to write to " + FIni + ": the file cannot be read ("),
             qPrintable(error));
    QVERIFY(error.contains(store.readError()));
    QVERIFY(!store.writeSelectedIcon(1, &error));
    QVERIFY(!store.writeLastWavePath("/tmp/", &error));
    struct stat st;
    QCOMPARE(::stat(QFile::encodeName(FIni).constData(), &st), 0);
    QCOMPARE(S_ISFIFO(st.st_mode), kind == "fifo");
    if (kind == "permission") {
        QVERIFY(QFile::setPermissions(FIni, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        QCOMPARE(readFile(FIni), users);
    }

    // Mended while the program runs: the values in memory are still the defaults, so the next
    // full write waits for a full read.
    QVERIFY(QFile::remove(FIni));
    QVERIFY(QFile::copy(QString::fromUtf8(sideFile), FIni));
    QVERIFY(!store.writeAll(&error));
    QCOMPARE(readFile(FIni), users);
    QVERIFY(store.readAll());
    QVERIFY(store.readError().isEmpty());
    QVERIFY(!store.settings.popup);
    QVERIFY(store.writeAll());
    const QByteArray written = readFile(FIni);
    QVERIFY(written.contains("$3490=1"));
    QVERIFY(written.contains("$34BB=Leitung belegt"));
    QVERIFY(written.contains("0=/i/a.ico"));
}

void TestSettingsStore::unreadableFileIsNeverWrittenOver()
{
    // Something that cannot be read stands where the file is.
    QVERIFY(QDir().mkpath(FIni));
    SettingsStore store(FIni);
    int moves = 0;
    store.onMoveAutostart = [&moves] { ++moves; };
    QVERIFY(!store.readAll());
    QVERIFY(!store.readError().isEmpty());
    QCOMPARE(moves, 0); // whether the entry moved before is not known
    QString error;
    QVERIFY(!store.writeAll(&error));
    QVERIFY2(error.startsWith("Unable to write to " + FIni + ": the file cannot be read ("),
             qPrintable(error));
    QVERIFY(!store.writeSelectedIcon(1, &error));

    // Mended while the program runs: the defaults in memory still do not replace it ...
    QVERIFY(QDir().rmdir(FIni));
    writeFile(FIni, "[Settings]\nPopup=0\n[StatusCodes]\n$3490=1\n");
    QVERIFY(!store.writeAll(&error));
    QCOMPARE(readFile(FIni), QByteArray("[Settings]\nPopup=0\n[StatusCodes]\n$3490=1\n"));
    // ... until it has been read.
    QVERIFY(store.readAll());
    QVERIFY(store.readError().isEmpty());
    QVERIFY(!store.settings.popup);
    QVERIFY(store.writeAll(&error));
    QVERIFY(readFile(FIni).contains("$3490=1\n"));
    QVERIFY(readFile(FIni).contains("Popup=0\n"));
}

void TestSettingsStore::windows1252FileKeepsItsUmlauts()
{
    writeFile(FIni, "[Picture]\nFile=C:\\Bilder\\Gr\xfc\xdf"
                    "e.jpg\n[Settings]\nPopup=0\n");
    SettingsStore store(FIni);
    store.readAll();
    QCOMPARE(store.picture.file, QString::fromUtf8("C:\\Bilder\\Grüße.jpg"));
    QVERIFY(!store.settings.popup);
    QVERIFY(store.writeAll());
    QVERIFY(readFile(FIni).contains("File=C:\\Bilder\\Gr\xc3\xbc\xc3\x9f"
                                    "e.jpg"));
}

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
