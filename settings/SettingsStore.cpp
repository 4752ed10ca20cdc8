#include "settings/SettingsStore.h"

#include <QFileInfo>
#include <QLocale>

namespace {

const QString General = QStringLiteral("Settings");
const QString MainPos = QStringLiteral("MainPos");
const QString Picture = QStringLiteral("Picture");
const QString Calls = QStringLiteral("Calls");
const QString Nicks = QStringLiteral("Nicks");
const QString MsnCol = QStringLiteral("MSNCol");
const QString List = QStringLiteral("List");
const QString Search = QStringLiteral("Search");
const QString Outlook = QStringLiteral("OutlookNumbers");
const QString Icons = QStringLiteral("Icons");
const QString DIcons = QStringLiteral("DIcons");
const QString Msn = QStringLiteral("MSN");

QString col(int index)
{
    return QStringLiteral("Col") + QString::number(index);
}

// The dialog's spin boxes and slider hold these ranges; a value beyond them lands on the edge.
int clamp(int value, int low, int high)
{
    return qBound(low, value, high);
}

void readPlace(const IniFile &ini, const QString &section, WindowPlace &place)
{
    place.left = ini.readInt(section, QStringLiteral("Left"), place.left);
    place.top = ini.readInt(section, QStringLiteral("Top"), place.top);
    place.width = ini.readInt(section, QStringLiteral("Width"), place.width);
    place.height = ini.readInt(section, QStringLiteral("Height"), place.height);
}

// Keys that only exist while they hold something.
void writeUnlessEmpty(IniFile &ini, const QString &section, const QString &key,
                      const QString &value)
{
    if (value.isEmpty())
        ini.deleteKey(section, key);
    else
        ini.writeString(section, key, value);
}

void writePlace(IniFile &ini, const QString &section, const WindowPlace &place)
{
    ini.writeInt(section, QStringLiteral("Left"), place.left);
    ini.writeInt(section, QStringLiteral("Top"), place.top);
    ini.writeInt(section, QStringLiteral("Width"), place.width);
    ini.writeInt(section, QStringLiteral("Height"), place.height);
}

} // namespace

SettingsStore::SettingsStore(const QString &iniPath) : FIni(iniPath)
{
    settings.dateFormat = QLocale::system().dateFormat(QLocale::ShortFormat);
    settings.lastWavePath = QFileInfo(iniPath).absolutePath() + u'/';
}

const QStringList &SettingsStore::outlookNumberKeys()
{
    static const QStringList keys = {
        QStringLiteral("AssistantTelephoneNumber"), QStringLiteral("BusinessTelephoneNumber"),
        QStringLiteral("Business2TelephoneNumber"), QStringLiteral("CallbackTelephoneNumber"),
        QStringLiteral("CarTelephoneNumber"),       QStringLiteral("CompanyMainTelephoneNumber"),
        QStringLiteral("HomeTelephoneNumber"),      QStringLiteral("Home2TelephoneNumber"),
        QStringLiteral("MobileTelephoneNumber"),    QStringLiteral("OtherTelephoneNumber"),
        QStringLiteral("PrimaryTelephoneNumber"),   QStringLiteral("RadioTelephoneNumber"),
        QStringLiteral("TTYTDDTelephoneNumber"),
    };
    return keys;
}

bool SettingsStore::readAll()
{
    const bool readable = FIni.refresh();
    FReadError = FIni.readError();
    // Unread, the flag is unknown: the autostart entry is not touched.
    if (readable && !FIni.readBool(General, QStringLiteral("OldRegCleared"), false)) {
        if (onMoveAutostart) onMoveAutostart();
        // A read-only file only means the move is tried again at the next start.
        writeOne([this] { FIni.writeBool(General, QStringLiteral("OldRegCleared"), true); },
                 nullptr);
    }
    readValues();
    return readable;
}

QList<MsnSectionEntry> SettingsStore::readFromData(const QByteArray &bytes)
{
    FIni.loadData(bytes);
    readValues();
    return parseMsnSection();
}

void SettingsStore::readValues()
{
    const IniFile &ini = FIni;
    GeneralSettings &s = settings;
    const GeneralSettings d; // defaults

    s.ods = ini.readBool(General, QStringLiteral("ODS"), d.ods);
    s.showInfo = ini.readBool(General, QStringLiteral("ShowInfo"), d.showInfo);
    s.oldRegCleared = ini.readBool(General, QStringLiteral("OldRegCleared"), d.oldRegCleared);
    s.homeFritz = ini.readBool(General, QStringLiteral("HomeFritz"), d.homeFritz);
    s.hideFirstLine = ini.readBool(General, QStringLiteral("HideFirstLine"), d.hideFirstLine);
    s.rejectTime = ini.readInt(General, QStringLiteral("RejectTime"), d.rejectTime);

    s.debug = ini.readBool(General, QStringLiteral("Debug"), d.debug);
    s.debugInt = ini.readInt(General, QStringLiteral("DebugInt"), d.debugInt);
    s.secondTrayIcon = ini.readBool(General, QStringLiteral("SecondTrayIcon"), d.secondTrayIcon);
    const int intervall = ini.readInt(General, QStringLiteral("Intervall"), 5000);
    s.callRotationTimeout =
        ini.readInt(General, QStringLiteral("CallRotationTimeout"), d.callRotationTimeout);
    readPlace(ini, MainPos, mainPos);

    // A negative duration switches the popup off; the division truncates toward zero, so
    // -500 ms is 0 s with "Popup" honoured.
    const int seconds = intervall / 1000;
    if (seconds < 0) {
        s.popup = false;
        s.duration = 0;
    } else {
        s.popup = ini.readBool(General, QStringLiteral("Popup"), d.popup);
        s.duration = clamp(seconds, 0, 32000);
    }
    s.showMultipleCalls =
        ini.readBool(General, QStringLiteral("ShowMultipleCalls"), d.showMultipleCalls);
    s.balloon = ini.readBool(General, QStringLiteral("Balloon"), d.balloon);
    s.closeDisCon = ini.readBool(General, QStringLiteral("CloseDisCon"), d.closeDisCon);
    s.closeConnect = ini.readBool(General, QStringLiteral("CloseConnect"), d.closeConnect);
    s.closeReject = ini.readBool(General, QStringLiteral("CloseReject"), d.closeReject);
    s.closeBusy = ini.readBool(General, QStringLiteral("CloseBusy"), d.closeBusy);
    s.keepUnknown = ini.readBool(General, QStringLiteral("KeepUnknown"), d.keepUnknown);
    s.showReject = ini.readBool(General, QStringLiteral("ShowReject"), d.showReject);

    s.stayOnTop = ini.readBool(General, QStringLiteral("StayOnTop"), d.stayOnTop);
    s.keepFocus = ini.readBool(General, QStringLiteral("KeepFocus"), d.keepFocus);
    s.screensaver = ini.readBool(General, QStringLiteral("Screensaver"), d.screensaver);
    s.cutZeroes = clamp(ini.readInt(General, QStringLiteral("CutZeroes"), d.cutZeroes), 0, 100);

    // The file's formats are in the language of the files users have; the defaults in Qt's.
    auto readFormat = [&ini](const QString &key, const DateTimeFormat &fallback) {
        const QString text = ini.readString(General, key, QString());
        return text.isEmpty() ? fallback : DateTimeFormat::fromIni(text);
    };
    s.dateFormat = readFormat(QStringLiteral("DateFormat"),
                              QLocale::system().dateFormat(QLocale::ShortFormat));
    s.timeFormat = readFormat(QStringLiteral("TimeFormat"), d.timeFormat);
    s.displayTimeFormat = readFormat(QStringLiteral("DisplayTimeFormat"), d.displayTimeFormat);
    s.language = ini.readInt(General, QStringLiteral("Language"), d.language);
    s.showNag = ini.readBool(General, QStringLiteral("ShowNag"), d.showNag);
    s.allowGroup = ini.readBool(General, QStringLiteral("AllowGroup"), d.allowGroup);
    s.scrollLed = ini.readBool(General, QStringLiteral("ScrollLED"), d.scrollLed);
    s.showClose = ini.readBool(General, QStringLiteral("ShowClose"), d.showClose);
    s.storeNotSubmitted =
        ini.readBool(General, QStringLiteral("StoreNotSubmitted"), d.storeNotSubmitted);
    s.clearCalls = ini.readBool(General, QStringLiteral("ClearCalls"), d.clearCalls);
    s.clearCallDays =
        clamp(ini.readInt(General, QStringLiteral("ClearCallDays"), d.clearCallDays), 0, 32000);
    s.countryCode = ini.readString(General, QStringLiteral("CountryCode"), d.countryCode);
    s.searchOutlook = ini.readBool(General, QStringLiteral("SearchOutlook"), d.searchOutlook);

    s.bgColor = ini.readInt(General, QStringLiteral("bgColor"), d.bgColor);
    s.transparency =
        clamp(ini.readInt(General, QStringLiteral("Transparency"), d.transparency), 0, 100);
    s.fColor = ini.readInt(General, QStringLiteral("fColor"), d.fColor);
    s.font = ini.readString(General, QStringLiteral("Font"), d.font);
    const PictureSettings pd;
    picture.usePic = ini.readBool(Picture, QStringLiteral("UsePic"), pd.usePic);
    picture.stretch = ini.readBool(Picture, QStringLiteral("Stretch"), pd.stretch);
    picture.file = ini.readString(Picture, QStringLiteral("File"), pd.file);

    s.useTapi = ini.readBool(General, QStringLiteral("UseTAPI"), d.useTapi);
    s.tapiDevice = ini.readString(General, QStringLiteral("TAPIDevice"), d.tapiDevice);
    s.doPrependNum = ini.readBool(General, QStringLiteral("DoPrependNum"), d.doPrependNum);
    s.prependNum = ini.readString(General, QStringLiteral("PrependNum"), d.prependNum);

    s.externalNumberManipulationDll = ini.readString(
        General, QStringLiteral("ExternalNumberManipulationDLL"), d.externalNumberManipulationDll);
    s.externalNumberLookupDll = ini.readString(General, QStringLiteral("ExternalNumberLookupDLL"),
                                               d.externalNumberLookupDll);
    s.internalReverseSearch =
        ini.readBool(General, QStringLiteral("InternalReverseSearch"), d.internalReverseSearch);

    s.reverseLookupUrl =
        ini.readString(General, QStringLiteral("ReverseLookupURL"), d.reverseLookupUrl);
    s.modemPorts = ini.readString(General, QStringLiteral("ModemPorts"), d.modemPorts);
    s.contactsSource = ini.readString(General, QStringLiteral("OLEObject"), d.contactsSource);
    s.contactsVCard = ini.readString(General, QStringLiteral("ContactsVCard"), d.contactsVCard);
    s.routerMonitorHost =
        ini.readString(General, QStringLiteral("RouterMonitorHost"), d.routerMonitorHost);

    s.lastWavePath = ini.readString(General, QStringLiteral("LastWavePath"),
                                    QFileInfo(FIni.path()).absolutePath() + u'/');

    const ListViewSettings ld;
    for (int i = 1; i < int(ld.callsCol.size()); ++i)
        listViews.callsCol[i] = ini.readInt(Calls, col(i), ld.callsCol[i]);
    for (int i = 0; i < int(ld.nicksCol.size()); ++i)
        listViews.nicksCol[i] = ini.readInt(Nicks, col(i), ld.nicksCol[i]);
    for (int i = 0; i < int(ld.msnCol.size()); ++i)
        listViews.msnCol[i] = ini.readInt(MsnCol, col(i), ld.msnCol[i]);
    listViews.callsColStored = ini.keyExists(Calls, col(1));
    listViews.nicksColStored = ini.keyExists(Nicks, col(0));
    listViews.msnColStored = ini.keyExists(MsnCol, col(0));
    listViews.nicksSort = ini.readInt(Nicks, QStringLiteral("Sort"), ld.nicksSort);
    listViews.callsSort = ini.readInt(Calls, QStringLiteral("Sort"), ld.callsSort);
    readPlace(ini, List, listWindow);
    listWindowStored = ini.keyExists(List, QStringLiteral("Width"));
    readPlace(ini, Search, searchWindow);

    for (int i = 0; i < int(outlookNumbers.size()); ++i)
        outlookNumbers[i] =
            ini.readBool(Outlook, outlookNumberKeys().at(i), outlookNumberDefaults()[i]);

    s.tapiDebug = ini.readBool(General, QStringLiteral("TAPIDebug"), d.tapiDebug);
    sortDebug = ini.readBool(QStringLiteral("Debug"), QStringLiteral("SortDebug"), false);
}

bool SettingsStore::writeAll(QString *error)
{
    if (!FReadError.isEmpty()) {
        // The values are defaults, not the user's: even a file readable again is kept.
        if (error) *error = IniFile::unableToWriteText(FIni.path(), FReadError);
        return false;
    }
    FIni.refresh();
    IniFile &ini = FIni;
    const GeneralSettings &s = settings;

    writePlace(ini, MainPos, mainPos);
    ini.eraseSection(Msn);
    ini.writeBool(General, QStringLiteral("Popup"), s.popup);
    ini.writeBool(General, QStringLiteral("ShowMultipleCalls"), s.showMultipleCalls);
    ini.writeBool(General, QStringLiteral("Balloon"), s.balloon);
    ini.writeBool(General, QStringLiteral("CloseDisCon"), s.closeDisCon);
    ini.writeBool(General, QStringLiteral("CloseConnect"), s.closeConnect);
    ini.writeBool(General, QStringLiteral("CloseReject"), s.closeReject);
    ini.writeBool(General, QStringLiteral("CloseBusy"), s.closeBusy);
    ini.writeBool(General, QStringLiteral("KeepUnknown"), s.keepUnknown);
    ini.writeBool(General, QStringLiteral("ShowReject"), s.showReject);
    ini.writeInt(General, QStringLiteral("Intervall"), clamp(s.duration, 0, 32000) * 1000);
    ini.writeInt(General, QStringLiteral("bgColor"), s.bgColor);
    ini.writeInt(General, QStringLiteral("fColor"), s.fColor);
    ini.writeInt(General, QStringLiteral("Transparency"), s.transparency);
    ini.writeString(General, QStringLiteral("Font"), s.font);
    ini.writeBool(Picture, QStringLiteral("UsePic"), picture.usePic);
    ini.writeBool(Picture, QStringLiteral("Stretch"), picture.stretch);
    ini.writeString(Picture, QStringLiteral("File"), picture.file);
    ini.writeInt(General, QStringLiteral("Language"), s.language);
    ini.writeBool(General, QStringLiteral("StayOnTop"), s.stayOnTop);
    ini.writeBool(General, QStringLiteral("KeepFocus"), s.keepFocus);
    ini.writeBool(General, QStringLiteral("Screensaver"), s.screensaver);
    ini.writeBool(General, QStringLiteral("ShowNag"), s.showNag);
    ini.writeBool(General, QStringLiteral("AllowGroup"), s.allowGroup);
    ini.writeBool(General, QStringLiteral("ScrollLED"), s.scrollLed);
    ini.writeBool(General, QStringLiteral("ShowClose"), s.showClose);
    ini.writeBool(General, QStringLiteral("StoreNotSubmitted"), s.storeNotSubmitted);
    ini.writeBool(General, QStringLiteral("ClearCalls"), s.clearCalls);
    ini.writeInt(General, QStringLiteral("ClearCallDays"), s.clearCallDays);
    ini.writeBool(General, QStringLiteral("SearchOutlook"), s.searchOutlook);
    ini.writeString(General, QStringLiteral("CountryCode"), s.countryCode);
    writeUnlessEmpty(ini, General, QStringLiteral("OLEObject"), s.contactsSource);
    writeUnlessEmpty(ini, General, QStringLiteral("ContactsVCard"), s.contactsVCard);
    ini.writeBool(General, QStringLiteral("UseTAPI"), s.useTapi);
    ini.writeBool(General, QStringLiteral("DoPrependNum"), s.doPrependNum);
    ini.writeString(General, QStringLiteral("PrependNum"), s.prependNum);
    writeUnlessEmpty(ini, General, QStringLiteral("ModemPorts"), s.modemPorts);
    ini.writeString(General, QStringLiteral("ExternalNumberManipulationDLL"),
                    s.externalNumberManipulationDll);
    ini.writeString(General, QStringLiteral("ExternalNumberLookupDLL"), s.externalNumberLookupDll);
    ini.writeBool(General, QStringLiteral("InternalReverseSearch"), s.internalReverseSearch);
    writeUnlessEmpty(ini, General, QStringLiteral("ReverseLookupURL"), s.reverseLookupUrl);
    writeUnlessEmpty(ini, General, QStringLiteral("RouterMonitorHost"), s.routerMonitorHost);
    ini.writeInt(General, QStringLiteral("CutZeroes"), s.cutZeroes);
    if (s.useTapi && !s.tapiDevice.isEmpty())
        ini.writeString(General, QStringLiteral("TAPIDevice"), s.tapiDevice);

    for (int i = 1; i < int(listViews.callsCol.size()); ++i)
        ini.writeInt(Calls, col(i), listViews.callsCol[i]);
    for (int i = 0; i < int(listViews.nicksCol.size()); ++i)
        ini.writeInt(Nicks, col(i), listViews.nicksCol[i]);
    for (int i = 0; i < int(listViews.msnCol.size()); ++i)
        ini.writeInt(MsnCol, col(i), listViews.msnCol[i]);
    ini.writeInt(Calls, QStringLiteral("Sort"), listViews.callsSort);
    ini.writeInt(Nicks, QStringLiteral("Sort"), listViews.nicksSort);
    writePlace(ini, List, listWindow);
    writePlace(ini, Search, searchWindow);
    for (int i = 0; i < int(outlookNumbers.size()); ++i)
        ini.writeBool(Outlook, outlookNumberKeys().at(i), outlookNumbers[i]);

    return ini.save(error);
}

bool SettingsStore::hasMsnSection()
{
    FIni.refresh();
    return FIni.sectionExists(Msn);
}

QList<MsnSectionEntry> SettingsStore::msnSectionEntries()
{
    FIni.refresh();
    return parseMsnSection();
}

QList<MsnSectionEntry> SettingsStore::parseMsnSection() const
{
    QList<MsnSectionEntry> entries;
    for (const QString &key : FIni.keys(Msn)) {
        QString value = FIni.readString(Msn, key, QString());
        if (value.isEmpty()) continue;
        // name;flag;rest, where the flag defaults to 1 and the rest to empty.
        if (!value.contains(u';')) value += QStringLiteral(";1");
        MsnSectionEntry entry;
        entry.msn = key;
        qsizetype cut = value.indexOf(u';');
        entry.nickname = value.left(cut);
        value.remove(0, cut + 1);
        if (!value.contains(u';')) value += u';';
        cut = value.indexOf(u';');
        entry.checked = value.left(cut) == QStringLiteral("1");
        value.remove(0, cut + 1);
        entry.sound = value;
        entries.append(entry);
    }
    return entries;
}

int SettingsStore::tapiDeviceIndex(const QStringList &devices) const
{
    const QString &device = settings.tapiDevice;
    bool isNumber = false;
    const int index = device.toInt(&isNumber);
    if (isNumber) return index >= 0 && index < devices.size() ? index : -1;
    return devices.indexOf(device);
}

QString SettingsStore::statusCodeKey(quint16 cause)
{
    return u'$' + QStringLiteral("%1").arg(cause, 4, 16, QLatin1Char('0')).toUpper();
}

std::optional<bool> SettingsStore::statusCode(quint16 cause)
{
    FIni.refresh();
    const QString section = QStringLiteral("StatusCodes");
    const QString key = statusCodeKey(cause);
    if (!FIni.keyExists(section, key)) return std::nullopt;
    return FIni.readBool(section, key, false);
}

QString SettingsStore::statusCodeString(quint16 cause, const QString &defaultText)
{
    FIni.refresh();
    return FIni.readString(QStringLiteral("StatusCodeStrings"), statusCodeKey(cause), defaultText);
}

QString SettingsStore::iconFile(int slot)
{
    FIni.refresh();
    return FIni.readString(Icons, QString::number(slot), QString());
}

QString SettingsStore::disabledIconFile(int slot)
{
    FIni.refresh();
    return FIni.readString(DIcons, QString::number(slot), QString());
}

QString SettingsStore::iconInitialDir()
{
    FIni.refresh();
    return FIni.readString(Icons, QStringLiteral("InitialDir"), QString());
}

std::optional<int> SettingsStore::selectedIcon()
{
    FIni.refresh();
    const std::optional<QString> text = FIni.value(Icons, QStringLiteral("Selected"));
    if (!text) return std::nullopt;
    return IniFile::parseInt(*text);
}

bool SettingsStore::writeOne(const std::function<void()> &change, QString *error)
{
    FIni.refresh();
    change();
    return FIni.save(error);
}

bool SettingsStore::writeIconFile(int slot, const QString &file, QString *error)
{
    return writeOne([&] { FIni.writeString(Icons, QString::number(slot), file); }, error);
}

bool SettingsStore::writeDisabledIconFile(int slot, const QString &file, QString *error)
{
    return writeOne([&] { FIni.writeString(DIcons, QString::number(slot), file); }, error);
}

bool SettingsStore::removeIconFile(int slot, QString *error)
{
    return writeOne([&] { FIni.deleteKey(Icons, QString::number(slot)); }, error);
}

bool SettingsStore::writeIconInitialDir(const QString &dir, QString *error)
{
    return writeOne([&] { FIni.writeString(Icons, QStringLiteral("InitialDir"), dir); }, error);
}

bool SettingsStore::writeSelectedIcon(int slot, QString *error)
{
    return writeOne([&] { FIni.writeInt(Icons, QStringLiteral("Selected"), slot); }, error);
}

bool SettingsStore::writeLastWavePath(const QString &dir, QString *error)
{
    settings.lastWavePath = dir;
    return writeOne([&] { FIni.writeString(General, QStringLiteral("LastWavePath"), dir); }, error);
}

bool SettingsStore::readSortDebug()
{
    FIni.refresh();
    sortDebug = FIni.readBool(QStringLiteral("Debug"), QStringLiteral("SortDebug"), false);
    return sortDebug;
}

int SettingsStore::readMainPosLeft()
{
    FIni.refresh();
    mainPos.left = FIni.readInt(MainPos, QStringLiteral("Left"), mainPos.left);
    return mainPos.left;
}
