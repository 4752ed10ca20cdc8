// The main window: the caller popup, the display timer and the tray icons with their menu.
//
// TMainForm is the program's root object: it owns the call handling (which owns the call
// monitor and the pending calls), the lookup sources (created before the other windows and
// destroyed after them) and the tray icons, shows what the call handling decides,
// and uses the settings store, the lists and the area-code table, which the program's entry
// creates before it and destroys after it. Everything runs in the main thread. The other
// windows are reached through the hooks below, so that the popup can be tested alone.
#pragma once

#include "app/CallHandler.h"
#include "app/TrayWatch.h"
#include "lists/ListDlg.h"
#include "lists/lang.h"
#include "lookup/LookupSources.h"
#include "phone/isdntool.h"
#include "platform/InstanceCommand.h"
#include "platform/ScreenSaver.h"

#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class AreaCodeTable;
class ListPrompts;
class QAction;
class QFrame;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QSizeGrip;
class QToolButton;
class SettingsStore;
class TAboutBox;
class TLists;

namespace router {
class TRouterMonitorSource;
}

namespace platform {
class DesktopNotifications;
class KeyboardLed;
class Sound;
} // namespace platform

class TMainForm : public QWidget, public ILanguageSwitchable
{
    Q_OBJECT

public:
    TMainForm(SettingsStore &settings, TLists &lists, AreaCodeTable &towns, ListPrompts &prompts,
              platform::KeyboardLed &led, platform::Sound &sound);
    ~TMainForm() override;

    // The call handling: its events drive the popup and the tray.
    TCallHandler &CallHandler() { return FCallHandler; }
    // The reverse lookup and the user's plug-ins; the call handling asks them for unknown
    // callers and their answers fill the popup.
    LookupSources &Lookup() { return FLookupSources; }
    SettingsStore &Settings() { return FSettings; }

    // ---- Other windows (unset: the action does nothing) --------------------------------
    TAboutBox *AboutBox = nullptr;
    std::function<void(ListPage)> OnShowLists;
    std::function<void()> OnShowSearch;
    std::function<void()> OnShowOptions;
    // The popup's click on a caller not in the phone book: the nickname editor opens
    // with the name (may be empty) and the number filled in.
    std::function<void(const QString &nickname, const QString &number)> OnOfferNewNickname;
    std::function<void(const QString &number)> OnDial;
    // The language setting as read from the file; switches the interface when it differs.
    std::function<void(int index)> OnLanguageSetting;
    // The desktop's notifications: new calls (in place of Qt's balloon), the line lost and
    // back, a missing tray. Unset or without a service: Qt's balloon, and nothing else.
    platform::DesktopNotifications *Notifications = nullptr;

    // ---- Start-up and shut-down ------------------------------------------------------
    // Reads every setting and applies it to the popup, the tray and the language.
    void ReadIni();
    // Takes the popup's place into the settings and writes them all.
    bool WriteIni(QString *error = nullptr);
    void SetListsLoaded(bool loaded) { FCallHandler.SetListsLoaded(loaded); }
    // The other windows exist: commands, calls and timer ticks act from now on.
    void SetDialogsReady(bool ready)
    {
        FDialogsReady = ready;
        FCallHandler.SetDialogsReady(ready);
    }
    // Starts the call monitor on controller 1 with the "RejectTime" setting.
    bool StartMonitor();
    void StartDisplayTimer();
    // A command of a second start (or of this start's own command line); testNumber is the
    // caller of a TestCall.
    void AppMessage(platform::InstanceCommand command, const QString &testNumber);
    // The window a second start brings forward: a dialog that waits for an answer, else an
    // open window of the program (the popup included); nullptr when none is open.
    QWidget *OpenWindow() const;
    // Restores OpenWindow() when minimised and raises and activates it; false when none.
    bool RaiseOpenWindow();
    // Hides the popup, writes the settings and the missing list files; idempotent.
    void FormCloseQuery();
    // The session manager asks to save before the session ends: the settings and the missing
    // list files are written, and the program stays open (the logout may be cancelled).
    void CommitSessionData();
    // The menu's Exit, the end of the session, SIGTERM: close query, then quit.
    void CloseProgram();
    // The program is closing (the close query has run).
    bool Closed() const { return FClosed; }

    // ---- What the call handling reports -----------------------------------------------
    // The reject button shows whether the call on show can be rejected.
    void CapiMonitor1StateChange(bool bUserCanReject);
    void ShowCall(int index);
    // The pending call on show (its index; -1 when it is no longer pending).
    int ShownCallIndex() const;
    // "Delete all" of the call list: the popup no longer names a caller.
    void ClearNumber();
    void AnnounceNewCall();
    void AcknowledgeCalls();
    bool SetScrollLed(bool on);
    void Timer1Timer();
    void sbRejectClick();

    // ---- Popup -----------------------------------------------------------------------
    void SetSize();
    void SetFonts(const QString &name, const QColor &color, int size);
    void FitLabelFont(QLabel *label);
    bool LoadPic(const QString &file);
    void ShowAdditionalInfo(const QString &text);
    void HideAdditionalInfo();
    // Opacity of a transparency of 0 to 100 percent: 255 × (100 − t) / 100, rounded half
    // to even.
    static int TransparencyAlpha(int percent);
    void ApplyTransparency();
    void ApplyAppearance();
    // Stay-on-top or a normal window, as the setting says.
    void ApplyStayOnTop();
    void ShowPopup();
    void HidePopup();
    void ResetPosition();
    int BaseHeight() const { return FBaseHeight; }

    // ---- Tray ------------------------------------------------------------------------
    // The main icon's click and double click.
    void TrayActivated(QSystemTrayIcon::ActivationReason reason);
    void TrayClick();
    void ToggleActive();
    void SetActivationTexts();
    // The icon files of the settings may have changed: read them again.
    void ReloadTrayIcons();
    // Menu items whose window is not there (not wired) are disabled.
    void UpdateMenuAvailability();
    void ApplyLanguage(Language language) override;
    Language CurrentLanguage() const { return FLanguage; }
    // "Tremlow Corvane", followed by the line's error while it cannot be used and by the
    // settings file's while it cannot be read.
    QString TrayHint() const;
    // Whether a tray is there; Start() it to look every few seconds and to say how to reach
    // the program without one.
    TTrayWatch &TrayWatch() { return FTrayWatch; }
    // The line cannot be used (not installed, a register error, lost); false before the
    // monitor started.
    bool LineDown() const { return FLineUsable == false; }
    // The newest pending call in one line: name or number, town, target.
    QString NewestCallerLine() const;
    QMenu *PopupMenu() const { return PopupMenu1; }
    QSystemTrayIcon *TrayIcon() const { return FTrayIcon; }
    QSystemTrayIcon *SecondTrayIcon() const { return FSecondTrayIcon; }

    // ---- State -----------------------------------------------------------------------
    int FRotationIndex = 0;
    int FShownTime = 0;
    int FTickCount = 0;
    bool FFirstShow = true;
    int BlinkCounter = 0;
    bool FScrollLatch = false;
    // The Scroll Lock LED is on because this program switched it on.
    bool FLedLit = false;
    // The call whose record the popup shows (its CallId): the reject button acts on it.
    quint64 FShownCallId = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void CreateControls();
    void CreateTray();
    void PanelClick(QMouseEvent *event);
    void StartMove(QMouseEvent *event);
    void SaveForExit();
    void UpdateMinimumSize();
    void UpdateLineState();
    // Makes the own line the one the settings name (the router's call monitor or the ISDN line).
    void ApplyLineSetting();
    const router::TRouterMonitorSource *RouterLine() const;
    QString SettingsUnreadableText() const;
    void SetTrayImage(bool callIcon);
    QIcon ActiveIcon(int defaultSlot) const;
    QString Text(const char *name) const;
    QString Word(const char *name) const;
    QString CallLabelText() const;
    QString TargetPrefix() const;
    QString TownPrefix() const;
    // "3 new calls": the count of the pending calls.
    QString NewCallsText() const;
    void StopSound();
    void OpenLists(ListPage page);
    void LayoutInfo();
    void HideBalloon();
    // The new-call notification names the newest caller as the popup does now (a name the
    // lookup found); a notification that was closed stays closed.
    void UpdateCallNotification();
    void AskForStatusNotifierHost();
    void TrayMissing();
    // A background lookup got no answer from the server: the log says so each time, the tray
    // once per run.
    void LookupFailed(const LookupResult &result);
    int InfoLineHeight() const;

    SettingsStore &FSettings;
    TLists &FLists;
    AreaCodeTable &FTowns;
    ListPrompts &FPrompts;
    platform::KeyboardLed &FLed;
    platform::Sound &FSound;

    TCallHandler FCallHandler;
    LookupSources FLookupSources; // after the call handling: ends before it
    bool FLookupFailureTold = false;
    bool FDialogsReady = false;
    bool FClosed = false;
    Language FLanguage = Language::German;
    bool FLanguageSet = false;
    QTimer FTimer;
    int FBaseHeight = 100;
    int FInfoHeight = 0; // 0 while the info area is hidden
    QString FLineState;
    QString FLineSetting; // the router monitor's address the own line follows (empty: CAPI)
    std::optional<bool> FLineUsable;
    bool FBalloonShown = false;
    bool FBalloonIsNotification = false;
    QString FBalloonCount; // "2 new calls", as the notification says it
    QString FBalloonBody;  // the notification's text
    // A StatusNotifier host shows the tray (its balloons close by themselves).
    bool FStatusNotifierHost = false;
    TTrayWatch FTrayWatch;
    platform::DisplayWaker FDisplayWaker;
    QPoint FDragOffset;
    bool FDragging = false;
    qint64 FLastTrayClick = std::numeric_limits<qint64>::min() / 2;

    // Controls, named as the established design names them.
    QWidget *pnlMain;
    QLabel *Image1;
    QToolButton *sbtnClose;
    QLabel *lbTremlow;
    QLabel *lbCorvane;
    QLabel *TimeLabel;
    QToolButton *sbReject;
    QLabel *CallLabel;
    QLabel *NumberLabel;
    QLabel *UnrecLabel;
    QLabel *OrtLabel;
    QLabel *TargetLabel;
    QFrame *bvlAdd;
    QPlainTextEdit *memInfo;
    QSizeGrip *FSizeGrip;
    QMenu *PopupMenu1;
    QAction *Nicknames1, *Calllist1, *MSN1, *Suchen1, *Optionen1, *ResetPos1, *Hilfe1, *Info,
        *Deaktivieren1, *Beenden1;
    QSystemTrayIcon *FTrayIcon;
    QSystemTrayIcon *FSecondTrayIcon;
    QPixmap FPicture;
    // The tray icon files read so far, by path (a null icon: unreadable).
    mutable QHash<QString, QIcon> FLoadedIcons;
};
