#pragma once

#include "lists/lang.h"
#include "platform/Autostart.h"

#include <QDialog>
#include <QIcon>

#include <array>
#include <functional>

class AreaCodeTable;
class OptionPrompts;
class QAbstractButton;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSlider;
class QSpinBox;
class QTabWidget;
class QToolButton;
class SettingsStore;
class TLists;

// A colour of the ini file (0x00BBGGRR, blue in the high byte) as a QColor and back.
QColor ColorFromSetting(int value);
int SettingFromColor(const QColor &color);

// The country codes of the area-code table ("++43" of "++43 Österreich"), each once, sorted.
QStringList CountryCodeChoices(const AreaCodeTable &table);

// The options dialog: six pages of controls over the settings store. Opening fills the
// controls from the store; OK takes them back and writes the ini file; any other close reads
// the file again, which restores the store, the controls and the popup. The appearance of the
// popup (colours, font, picture, transparency, close button) and the lookup sources follow
// the controls at once, so these controls write into the store as they change.
//
// The dialog reaches the popup, the tray, the lookup sources, the line devices and the
// contacts only through the hooks below, which the program's entry sets; an unset hook leaves
// the controls working on the settings alone.
//
// Created once at start-up and owned by the program's entry; main thread only. The store, the
// lists and the prompts must outlive it.
class TOptDlg : public QDialog, public ILanguageSwitchable
{
    Q_OBJECT
public:
    TOptDlg(SettingsStore &settings, TLists &lists, OptionPrompts &prompts,
            QWidget *parent = nullptr);
    ~TOptDlg() override;

    // ---- Hooks ----------------------------------------------------------------------
    // The popup shows the store's colours, font, picture and close button again.
    std::function<void()> OnPopupAppearance;
    // The popup takes the store's transparency.
    std::function<void()> OnPopupTransparency;
    // The popup loads this picture (true when it could).
    std::function<bool(const QString &file)> OnLoadPicture;
    // OK: the popup stays on top or not, as the store says.
    std::function<void()> OnStayOnTop;
    // The tray shows the icons of the ini file again.
    std::function<void()> OnTrayIcons;
    // A click on a language: every window switches at once.
    std::function<void(int index)> OnLanguage;
    // OK: writes every setting (the popup's place included); false with the error text.
    std::function<bool(QString *error)> OnWriteSettings;
    // Any other close: every setting is read again and applied.
    std::function<void()> OnReadSettings;
    // After OK with contacts search on: the contacts are imported.
    std::function<void()> OnImportContacts;
    // The line devices (telephony); false when they cannot be listed.
    std::function<bool(QStringList &devices)> OnListDevices;
    // Modems are asked whether they answer: the device the user chooses, or with an empty
    // name every modem found (the probe button). In the background; DevicesChanged follows.
    std::function<void(const QString &device)> OnProbeDevices;
    // Why modems that were asked are not listed, shown below the list after an answer.
    std::function<QString()> ProbeNotes;
    // The lookup sources. A load shows its own message and returns false when it fails.
    std::function<bool(const QString &file)> OnLoadLookupPlugin;
    std::function<void()> OnUnloadLookupPlugin;
    std::function<bool(const QString &file)> OnLoadNumberPlugin;
    std::function<void()> OnUnloadNumberPlugin;
    // The number plug-in that is loaded: only its path is shown, so a plug-in that could not be
    // loaded at start is not written back.
    std::function<QString()> LoadedNumberPlugin;
    // The built-in lookup switched on (the lookup plug-in goes, the HTTP worker starts anew)
    // or off (the worker stops, the plug-in named in the store is loaded).
    std::function<void(bool builtIn)> OnSelectLookupSource;
    // Whether the popup's transparency can be seen; asked at each opening.
    std::function<bool()> TransparencyAvailable;

    // The per-user autostart entry that "Load at startup" stands for.
    void SetAutostart(const platform::Autostart &autostart) { FAutostart = autostart; }
    void SetCountryCodeChoices(const QStringList &codes);

    // ---- Opening and closing --------------------------------------------------------
    // Shows the dialog modally, unless it is visible already. True when closed with OK.
    bool Open();
    // Fills every control from the store (opening, and after the file was read again).
    void FillControls();
    // OK: takes the controls into the store and writes the file; on success the dialog
    // closes. A file that cannot be written is named in a message and the dialog stays; so does
    // a server or router address that cannot be used, and then nothing is taken.
    void OKBtnClick();

    // ---- Pages ----------------------------------------------------------------------
    // Enabling of the Calls page's popup options by the popup box and the duration.
    void UpdatePopupOptions();
    void UpdatePictureOptions();
    void UpdateTransparencyOptions();
    void UpdateLookupOptions();
    void UpdateTelephonyOptions();
    void UpdateContactsOptions();

    void btnSelectClick();
    void btnLoadClick();
    // Reads an icon file into a slot of one of the two icon sets; "Icon read error" when the
    // file holds no icon (the slot keeps its image).
    bool LoadIconToImageList(bool active, const QString &file, int slot);
    const std::array<QIcon, 4> &ActiveIcons() const { return FActiveIcons; }
    const std::array<QIcon, 4> &InactiveIcons() const { return FInactiveIcons; }
    // "Icon read error" with the files, once, when stored icon files could not be read as the
    // dialog was made (their slots show the built-in icons; the settings stay, for a file that
    // comes back).
    // The program calls it once the line listens, from the event loop, so that calls are
    // handled while the message is up.
    void ReportStartIconError();

    void shBgClick();
    void shFontColorClick();
    void cbFontChange();
    void cbPicClick();
    void cbStretchClick();
    void sbPicClick();
    void sbClearClick();
    void cbTransClick();
    void tbTransChange();
    void cbUseTapiClick();
    void lbTAPIChange(const QString &device);
    void btnProbeClick();
    // The line devices may have changed: while telephony is on in the open dialog, the list
    // shows them anew (none, too) and keeps the device chosen, if it is still there; below
    // it, why modems that were asked did not answer.
    void DevicesChanged();
    void sbDLLClick();
    void btnDLLClearClick();
    void btnLookupLoadClick();
    void btnLookupDLLClearClick();
    void cbBuiltInClick();
    void sbVCardClick();
    void LangGroupClick(int index);

    // The file chooser filters in Qt's form.
    QString PictureFilter() const;
    static QString IconFilter();
    static QString PluginFilter();

    void ApplyLanguage(Language language) override;
    Language language() const { return FLanguage; }

private:
    void CreatePages();
    QWidget *CreateGeneralPage();
    QWidget *CreateCallsPage();
    QWidget *CreateIconPage();
    QWidget *CreateColorPage();
    QWidget *CreateTapiPage();
    QWidget *CreateOutlookPage();
    void TakeControls();
    void FillDevices(bool tellFailure);
    // The stored icon files that could not be read.
    QStringList LoadIconSets();
    void ShowIcons();
    void ShowPictureFile();
    void SetColorSquare(QAbstractButton *square, int value);
    QString Text(const char *name) const;
    QString Message(const char *name) const;
    void PopupAppearance();
    void NumberOutOfRange(QSpinBox *box, qint64 typed);
    // OK's check of the router's address: false, with the reason said and the field in focus,
    // when the field holds one that cannot be used.
    bool RouterHostAccepted();
    // An empty address, or http:// or https:// with a host.
    static bool LookupUrlUsable(const QString &address);
    // The same check for the reverse-lookup server's address.
    bool LookupUrlAccepted();

    SettingsStore &FSettings;
    TLists &FLists;
    OptionPrompts &FPrompts;
    platform::Autostart FAutostart;
    Language FLanguage = Language::German;
    int FLanguageOnShow = 0;
    bool FTransparencyAvailable = false;
    bool FFilling = false;
    std::array<QIcon, 4> FActiveIcons;
    std::array<QIcon, 4> FInactiveIcons;
    QStringList FStartIconErrors;

    // Controls by their design names; spin boxes carry the names of their spin buttons.
    QTabWidget *PageControl1;
    QWidget *tsGeneral, *tsOnCall, *tsIcon, *tsColor, *tsTAPI, *tsOutlook;
    QPushButton *OKBtn;

    QGroupBox *LangGroup;
    std::array<QRadioButton *, 2> LangButtons;
    QGroupBox *gbDiv;
    QCheckBox *StayOnTopBox, *NumberGroupBox, *cbCloseBtn, *cbGetFocus, *cbScreensaver;
    QGroupBox *gbStart;
    QCheckBox *LoadBox, *NagBox, *cbClearCall;
    QSpinBox *udDays;
    QGroupBox *gbLookup;
    QCheckBox *cbBuiltIn;
    QLabel *lbLookupURL;
    QLineEdit *edLookupURL;
    QLabel *lbLookupPlainHttp;
    QLineEdit *edLookupDll;
    QToolButton *btnLookupLoad, *btnLookupDLLClear;
    QGroupBox *gbLine;
    QLabel *lbRouterHost, *lbLineHint;
    QLineEdit *edRouterHost;

    QGroupBox *gbOnCall;
    QCheckBox *cbPopup;
    QLabel *DauerLabel;
    QSpinBox *udDuration;
    QCheckBox *cbCloseOnDisconnect, *cbCloseOnConnect, *cbCloseOnReject, *cbCloseOnBusy,
        *cbKeepUnknownOpen, *cbMultipleCalls, *cbBalloon, *cbShowReject, *ScrollLEDBox,
        *cbStoreNoNum;
    QLabel *lbCutNumber;
    QSpinBox *udCutNumber;

    QLabel *IconLabel;
    QListWidget *EnabledIconsListView;
    QPushButton *btnSelect, *btnLoad;

    QGroupBox *gbColor;
    QLabel *lbBGColor, *lbFontColor;
    QAbstractButton *shBg, *shFontColor;
    QGroupBox *gbPic;
    QCheckBox *cbPic, *cbStretch;
    QLabel *lbFile;
    QToolButton *sbPic, *sbClear;
    QGroupBox *gbFont;
    QComboBox *cbFont;
    QGroupBox *gbTrans;
    QCheckBox *cbTrans;
    QSlider *tbTrans;

    QCheckBox *cbUseTapi;
    QPushButton *btnProbe;
    QLabel *lbProbeNotes;
    QListWidget *lbTAPI;
    QCheckBox *cbPreNumber;
    QLineEdit *edPreNumber;
    QLabel *lbModemPorts;
    QLineEdit *edModemPorts;
    QGroupBox *gbModifyNumber;
    QLineEdit *edDLL;
    QToolButton *sbDLL, *btnDLLClear;

    QCheckBox *cbSearchOutlook;
    QLabel *lbCC;
    QComboBox *cbCountryCode;
    QListWidget *lvOutlookSearch;
    QGroupBox *gbAddressBook;
    QLabel *lbAddressBook, *lbVCard;
    QLineEdit *edAddressBook, *edVCard;
    QToolButton *sbVCard;
};
