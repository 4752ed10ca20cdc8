#pragma once

#include "settings/DateTimeFormat.h"
#include "settings/IniFile.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <optional>

// Section "Settings". Keys marked hidden are read by readAll() and never written back; the
// user sets them by editing the file.
struct GeneralSettings
{
    // Hidden keys.
    bool ods = false;
    bool showInfo = true;
    bool homeFritz = false;
    bool hideFirstLine = false;
    int rejectTime = 10; // seconds; see rejectTimeOut()
    bool debug = false;
    int debugInt = 0;
    bool secondTrayIcon = false;
    int callRotationTimeout = 30; // seconds; see callRotationTimeoutMs()
    DateTimeFormat dateFormat;    // default the system's short date format
    DateTimeFormat timeFormat = QStringLiteral("hh:mm:ss");
    DateTimeFormat displayTimeFormat = QStringLiteral("hh:mm:ss");
    bool tapiDebug = false;

    // Written once, by readAll(), after the autostart entry moved.
    bool oldRegCleared = false;

    // Saved keys.
    bool popup = true;
    int duration = 5; // seconds, 0..32000; stored as "Intervall" in milliseconds
    bool showMultipleCalls = true;
    bool balloon = true;
    bool closeDisCon = false;
    bool closeConnect = false;
    bool closeReject = false;
    bool closeBusy = false;
    bool keepUnknown = false;
    bool showReject = false;
    bool stayOnTop = true;
    bool keepFocus = false;
    bool screensaver = false;
    int cutZeroes = 0; // 0..100
    int language = 1;  // 0 German, 1 English (any other value counts as German)
    bool showNag = true;
    bool allowGroup = true;
    bool scrollLed = true;
    bool showClose = true;
    bool storeNotSubmitted = true;
    bool clearCalls = false;
    int clearCallDays = 10; // 0..32000
    QString countryCode = QStringLiteral("++49");
    bool searchOutlook = false;
    int bgColor = 0;       // 0x00BBGGRR
    int transparency = 0;  // percent, 0..100
    int fColor = 0x00FFFF; // 0x00BBGGRR
    QString font = QStringLiteral("Arial");
    bool useTapi = false;
    QString tapiDevice; // the device's name; written only while useTapi is on
    bool doPrependNum = false;
    QString prependNum;
    QString externalNumberManipulationDll;
    QString externalNumberLookupDll;
    bool internalReverseSearch = false;

    // Where the lookup sources and the line are on this system. Written only when not empty;
    // an emptied field removes its key.
    QString reverseLookupUrl; // "ReverseLookupURL": base address of the reverse-lookup server
    QString modemPorts;       // "ModemPorts": serial ports of modems, ";"-separated
    QString contactsSource;   // "OLEObject": one address book (UID or name); empty: all of them
    QString contactsVCard;    // "ContactsVCard": a vCard file or folder used instead
    // "RouterMonitorHost": the router whose call monitor is the line (see ParseRouterAddress);
    // empty: the ISDN line through CAPI.
    QString routerMonitorHost;

    // Written by writeLastWavePath() only. Default: the data directory.
    QString lastWavePath;

    // RejectTime for the call monitor: 10 when the key holds 0 or less.
    int rejectTimeOut() const { return rejectTime > 0 ? rejectTime : 10; }
    qint64 callRotationTimeoutMs() const { return qint64(callRotationTimeout) * 1000; }
};

struct WindowPlace
{
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

struct PictureSettings // section "Picture"
{
    bool usePic = false;
    bool stretch = false;
    QString file;
};

// Column widths of the three list views of the lists dialog and the two sort keys.
struct ListViewSettings
{
    std::array<int, 8> callsCol = {0, 65, 65, 120, 100, 95, 50, 50}; // "Calls": Col1..Col7
    int callsSort = -1;                                              // "Calls"/"Sort"
    std::array<int, 4> nicksCol = {110, 160, 150, 70};               // "Nicks": Col0..Col3
    int nicksSort = 100;                                             // "Nicks"/"Sort"
    std::array<int, 5> msnCol = {25, 70, 70, 70, 50};                // "MSNCol": Col0..Col4
    // The file held widths for the list (else the widths above are the design's).
    bool callsColStored = false;
    bool nicksColStored = false;
    bool msnColStored = false;
};

// One row of the old "MSN" ini section, parsed for the move into the MSN list.
struct MsnSectionEntry
{
    QString msn;
    QString nickname;
    bool checked = true;
    QString sound;
};

// Every setting of corvane.ini with its live value. readAll() fills the fields from the file,
// writeAll() writes the saved ones back; the windows read and change the fields in between.
// A few keys are read and written one at a time (status codes, icons, LastWavePath, SortDebug).
//
// Owned by the main window for the whole run; main thread only.
class SettingsStore
{
public:
    explicit SettingsStore(const QString &iniPath);

    QString iniPath() const { return FIni.path(); }

    // Reads every key (missing or bad values give the defaults). False when the file exists
    // but cannot be read: every value is then its default, and nothing writes the file until
    // a later readAll() succeeds (see readError()).
    bool readAll();
    // Writes every saved key, in the order the Windows version wrote them, and removes the old
    // "MSN" section. False with "Unable to write to <path>" in error when the file cannot be
    // written, or (followed by the reason) while the last readAll() could not read it; the
    // caller decides whether to tell the user.
    bool writeAll(QString *error = nullptr);
    // Why the last readAll() could not read the file; empty when it could.
    QString readError() const { return FReadError; }

    GeneralSettings settings;
    WindowPlace mainPos = {0, 0, 400, 100}; // the popup; height is its base height
    PictureSettings picture;
    ListViewSettings listViews;
    WindowPlace listWindow = {100, 100, 566, 382};   // "List": the lists dialog
    bool listWindowStored = false;                   // the file held "List"/"Width"
    WindowPlace searchWindow = {100, 100, 600, 300}; // "Search": the search dialog
    // In the order of outlookNumberKeys(); a key the file lacks holds its default.
    std::array<bool, 13> outlookNumbers = outlookNumberDefaults();
    bool sortDebug = false; // "Debug"/"SortDebug", see readSortDebug()

    static const QStringList &outlookNumberKeys();
    // The contact's business, home, mobile and primary numbers and a number without a type
    // (which the address book files as "Other") are searched unless the file says otherwise.
    static constexpr std::array<bool, 13> outlookNumberDefaults()
    {
        return {false, true, false, false, false, false, true,
                false, true, true,  true,  false, false};
    }

    // Called by readAll() while "OldRegCleared" is 0, before it is set to 1: moves the
    // machine-wide autostart entry to the user's (platform layer).
    std::function<void()> onMoveAutostart;

    // The old "MSN" section: present means the MSN list comes from here (and is then saved
    // to its own file), not from the MSN list file.
    bool hasMsnSection();
    QList<MsnSectionEntry> msnSectionEntries();

    // "TAPIDevice" against the devices found: a decimal index, else a device name; -1 when it
    // names no device of the list.
    int tapiDeviceIndex(const QStringList &devices) const;

    // Single keys, read from and written to the file at once.
    // "StatusCodes"/"$XXXX": nothing when the key is absent, else its boolean value.
    std::optional<bool> statusCode(quint16 cause);
    // "StatusCodeStrings"/"$XXXX", or defaultText when absent.
    QString statusCodeString(quint16 cause, const QString &defaultText);
    static QString statusCodeKey(quint16 cause); // "$3490"

    QString iconFile(int slot);         // "Icons"/"0".."3"; empty when absent
    QString disabledIconFile(int slot); // "DIcons"/"0".."3"
    QString iconInitialDir();           // "Icons"/"InitialDir"
    std::optional<int> selectedIcon();  // "Icons"/"Selected"
    bool writeIconFile(int slot, const QString &file, QString *error = nullptr);
    bool writeDisabledIconFile(int slot, const QString &file, QString *error = nullptr);
    bool removeIconFile(int slot, QString *error = nullptr);
    bool writeIconInitialDir(const QString &dir, QString *error = nullptr);
    bool writeSelectedIcon(int slot, QString *error = nullptr);

    bool writeLastWavePath(const QString &dir, QString *error = nullptr);
    // Re-reads "Debug"/"SortDebug" (the user may switch it while the program runs).
    bool readSortDebug();
    // Re-reads "MainPos"/"Left" (the popup's first timer tick).
    int readMainPosLeft();

    // Generic single-key access for anything not named above.
    IniFile &ini() { return FIni; }

    // Fuzzing and tests: reads every key from bytes instead of the file and returns the old
    // "MSN" section's entries; nothing is written.
    QList<MsnSectionEntry> readFromData(const QByteArray &bytes);

private:
    void readValues();
    QList<MsnSectionEntry> parseMsnSection() const;
    bool writeOne(const std::function<void()> &change, QString *error);

    IniFile FIni;
    QString FReadError;
};
