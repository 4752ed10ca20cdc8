#include "app/main.h"

#include "app/DialogPlacement.h"
#include "app/about.h"
#include "router/RouterMonitorSource.h"
#include "settings/RouterAddress.h"
#include "capi/CpInfo.h"
#include "lists/ListPrompts.h"
#include "lists/lists.h"
#include "platform/DataDir.h"
#include "platform/DesktopNotifications.h"
#include "platform/Help.h"
#include "platform/KeyboardLed.h"
#include "platform/ScreenSaver.h"
#include "platform/Sound.h"
#include "platform/TrayIcons.h"
#include "settings/SettingsStore.h"
#include "settings/option.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDialog>
#include <QDebug>
#include <QFileInfo>
#include <QFontMetrics>
#include <QFrame>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSizeGrip>
#include <QSystemTrayIcon>
#include <QToolButton>
#include <QWindow>
#include <cmath>
#include <cstdio>
#include <utility>

namespace {

constexpr int kTimerIntervalMs = 300;
constexpr int kInfoMargin = 14;
constexpr int kBalloonMs = 10000;
const char *const kProductHint = "Tremlow Corvane";
// Notification topics: each replaces its own earlier notification.
const QString kCallsTopic = QStringLiteral("calls");
const QString kLineTopic = QStringLiteral("line");
const QString kTrayTopic = QStringLiteral("tray");
const QString kLookupTopic = QStringLiteral("lookup");

void setTextColor(QWidget *widget, const QColor &color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::ButtonText, color);
    palette.setColor(QPalette::Text, color);
    widget->setPalette(palette);
}

QLabel *makeLabel(QWidget *parent, const char *name, const QString &text = QString())
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    // Numbers and names come from callers and lookups: never markup.
    label->setTextFormat(Qt::PlainText);
    label->setAttribute(Qt::WA_TranslucentBackground);
    label->setFocusPolicy(Qt::NoFocus);
    return label;
}

QToolButton *makeFlatButton(QWidget *parent, const char *name, const QString &text)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setText(text);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setContextMenuPolicy(Qt::CustomContextMenu);
    return button;
}

} // namespace

TMainForm::TMainForm(SettingsStore &settings, TLists &lists, AreaCodeTable &towns,
                     ListPrompts &prompts, platform::KeyboardLed &led, platform::Sound &sound)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      FSettings(settings), FLists(lists), FTowns(towns), FPrompts(prompts), FLed(led),
      FSound(sound), FCallHandler(settings, lists, towns), FLookupSources(prompts)
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Corvane"));
    setFocusPolicy(Qt::StrongFocus);

    CreateControls();
    CreateTray();
    AskForStatusNotifierHost();
    resize(400, 100);
    new TDialogPlacement(this);

    // After the call's answer has gone out and the popup shows.
    FCallHandler.OnWakeDisplay = [this] {
        QTimer::singleShot(0, this, [this] { FDisplayWaker.Wake(); });
    };
    FDisplayWaker.OnWoken = [this](bool woken, const QString &error) {
        if (!woken) FCallHandler.WriteLog(error, false);
    };
    FCallHandler.OnLineState = [this] { UpdateLineState(); };
    FCallHandler.PopupVisible = [this] { return isVisible(); };
    FCallHandler.OnShowPopup = [this] { ShowPopup(); };
    FCallHandler.OnHidePopup = [this] { HidePopup(); };
    FCallHandler.OnNewCall = [this] {
        BlinkCounter = 0;
        AnnounceNewCall();
        ShowCall(-1);
        SetSize();
    };
    // The reject button acts on the call on show, so it follows that call's state.
    FCallHandler.OnRejectPossible = [this] {
        CapiMonitor1StateChange(FCallHandler.CanReject(FShownCallId));
    };
    FCallHandler.OnPendingCallChanged = [this] { ShowCall(ShownCallIndex()); };
    FCallHandler.OnPlaySound = [this](const QString &file) { return FSound.Play(file); };
    FCallHandler.Lookup = &FLookupSources;
    FLookupSources.OnLookupResult = [this](const LookupResult &result) {
        if (!result.failure.isEmpty()) return LookupFailed(result);
        FCallHandler.LookupResult(result.number, result.name,
                                  result.hasInfo ? std::optional(result.info) : std::nullopt);
    };

    FTimer.setInterval(kTimerIntervalMs);
    connect(&FTimer, &QTimer::timeout, this, &TMainForm::Timer1Timer);

    FTrayWatch.OnTrayMissing = [this] { TrayMissing(); };
    FTrayWatch.OnTrayBack = [this] {
        if (Notifications) Notifications->Close(kTrayTopic);
    };
    FTrayWatch.OnTrayFound = [this] {
        if (!FTrayIcon->isVisible()) FTrayIcon->show();
    };
}

TMainForm::~TMainForm()
{
    FTimer.stop();
    // The LED this program lit goes off; no message at the end.
    if (FLedLit && !FScrollLatch) {
        bool on = false;
        if (FLed.ReadScrollLock(on) && on) FLed.PressScrollLock();
    }
    FCallHandler.StopLines(); // releases the CAPI application before the windows go
}

void TMainForm::CreateControls()
{
    pnlMain = new QWidget(this);
    pnlMain->setObjectName(QStringLiteral("pnlMain"));
    pnlMain->setAutoFillBackground(true);

    Image1 = new QLabel(pnlMain);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setAttribute(Qt::WA_TransparentForMouseEvents);
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1->hide();

    sbtnClose = makeFlatButton(pnlMain, "sbtnClose", QStringLiteral("x"));
    lbTremlow = makeLabel(pnlMain, "lbTremlow", QStringLiteral(" Tremlow"));
    lbCorvane = makeLabel(pnlMain, "lbCorvane",
                          QStringLiteral(" Corvane %1 ").arg(QLatin1String(CORVANE_VERSION)));
    lbTremlow->setContextMenuPolicy(Qt::CustomContextMenu);
    lbCorvane->setContextMenuPolicy(Qt::CustomContextMenu);
    TimeLabel = makeLabel(pnlMain, "TimeLabel");
    TimeLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    sbReject = makeFlatButton(pnlMain, "sbReject", QStringLiteral("Reject"));
    sbReject->hide();
    CallLabel = makeLabel(pnlMain, "CallLabel", QStringLiteral(" Call from:"));
    NumberLabel = makeLabel(pnlMain, "NumberLabel");
    UnrecLabel = makeLabel(pnlMain, "UnrecLabel");
    UnrecLabel->hide();
    OrtLabel = makeLabel(pnlMain, "OrtLabel", QStringLiteral(" Town: "));
    TargetLabel = makeLabel(pnlMain, "TargetLabel", QStringLiteral(" Target: "));
    TargetLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    bvlAdd = new QFrame(this);
    bvlAdd->setObjectName(QStringLiteral("bvlAdd"));
    bvlAdd->setFrameShape(QFrame::HLine);
    bvlAdd->setFrameShadow(QFrame::Sunken);
    bvlAdd->hide();
    memInfo = new QPlainTextEdit(this);
    memInfo->setObjectName(QStringLiteral("memInfo"));
    memInfo->setReadOnly(true);
    memInfo->setFrameShape(QFrame::NoFrame);
    memInfo->setFocusPolicy(Qt::NoFocus);
    memInfo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memInfo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memInfo->hide();
    FSizeGrip = new QSizeGrip(this);

    for (QWidget *w : {static_cast<QWidget *>(pnlMain), static_cast<QWidget *>(CallLabel),
                       static_cast<QWidget *>(NumberLabel), static_cast<QWidget *>(UnrecLabel),
                       static_cast<QWidget *>(OrtLabel), static_cast<QWidget *>(lbTremlow),
                       static_cast<QWidget *>(TimeLabel), static_cast<QWidget *>(TargetLabel),
                       static_cast<QWidget *>(lbCorvane), static_cast<QWidget *>(sbtnClose),
                       static_cast<QWidget *>(sbReject), memInfo->viewport()})
        w->installEventFilter(this);

    connect(sbtnClose, &QToolButton::clicked, this, [this] {
        AcknowledgeCalls();
        HidePopup();
    });
    connect(sbReject, &QToolButton::clicked, this, &TMainForm::sbRejectClick);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    auto add = [this](QAction *&action, const char *name) {
        action = PopupMenu1->addAction(QString());
        action->setObjectName(QLatin1String(name));
    };
    add(Nicknames1, "Nicknames1");
    add(Calllist1, "Calllist1");
    add(MSN1, "MSN1");
    add(Suchen1, "Suchen1");
    PopupMenu1->addSeparator();
    add(Optionen1, "Optionen1");
    add(ResetPos1, "ResetPos1");
    PopupMenu1->addSeparator();
    add(Hilfe1, "Hilfe1");
    add(Info, "Info");
    PopupMenu1->addSeparator();
    add(Deaktivieren1, "Deaktivieren1");
    add(Beenden1, "Beenden1");

    connect(Nicknames1, &QAction::triggered, this, [this] { OpenLists(ListPage::Nicks); });
    connect(Calllist1, &QAction::triggered, this, [this] { OpenLists(ListPage::Calls); });
    connect(MSN1, &QAction::triggered, this, [this] { OpenLists(ListPage::Msn); });
    connect(Suchen1, &QAction::triggered, this, [this] {
        if (OnShowSearch) OnShowSearch();
    });
    connect(Optionen1, &QAction::triggered, this, [this] {
        if (OnShowOptions) OnShowOptions();
    });
    connect(ResetPos1, &QAction::triggered, this, &TMainForm::ResetPosition);
    connect(Hilfe1, &QAction::triggered, this,
            [this] { platform::OpenHelp(FLanguage == Language::English, DataDir::path()); });
    connect(Info, &QAction::triggered, this, [this] {
        if (AboutBox) AboutBox->ShowModal(TrayHint());
    });
    connect(Deaktivieren1, &QAction::triggered, this, &TMainForm::ToggleActive);
    connect(Beenden1, &QAction::triggered, this, &TMainForm::CloseProgram);

    auto showMenu = [this](QWidget *source) {
        return [this, source](const QPoint &pos) { PopupMenu1->popup(source->mapToGlobal(pos)); };
    };
    for (QWidget *w : {static_cast<QWidget *>(lbTremlow), static_cast<QWidget *>(lbCorvane),
                       static_cast<QWidget *>(sbtnClose), static_cast<QWidget *>(sbReject)})
        connect(w, &QWidget::customContextMenuRequested, this, showMenu(w));
}

void TMainForm::CreateTray()
{
    FTrayIcon = new QSystemTrayIcon(this);
    FTrayIcon->setObjectName(QStringLiteral("TrayIcon1"));
    FTrayIcon->setContextMenu(PopupMenu1);
    FTrayIcon->setToolTip(QLatin1String(kProductHint));
    FTrayIcon->setIcon(ActiveIcon(1));
    connect(FTrayIcon, &QSystemTrayIcon::activated, this, &TMainForm::TrayActivated);
    // Off X11, Qt's fallback for a desktop without a tray service is X11's own tray, which
    // fails there with a warning; the icon waits until the tray watch finds a tray.
    if (QGuiApplication::platformName() == QLatin1String("xcb") ||
        QGuiApplication::platformName() == QLatin1String("offscreen") ||
        QSystemTrayIcon::isSystemTrayAvailable())
        FTrayIcon->show();
    FSecondTrayIcon = new QSystemTrayIcon(this);
    FSecondTrayIcon->setObjectName(QStringLiteral("TrayIcon2"));
    FSecondTrayIcon->setToolTip(QLatin1String(kProductHint));
    FSecondTrayIcon->setIcon(platform::CallIcon());
}

// ---- Texts ----------------------------------------------------------------------------

QString TMainForm::Text(const char *name) const
{
    return UiText(UiForm::Main, QString::fromLatin1(name), FLanguage);
}

QString TMainForm::Word(const char *name) const
{
    return UiText(UiForm::Words, QString::fromLatin1(name), FLanguage);
}

QString TMainForm::CallLabelText() const
{
    return FSettings.settings.showInfo ? Text("CallLabel") : QString();
}

QString TMainForm::TargetPrefix() const
{
    return FSettings.settings.showInfo ? Text("TargetLabel") : QString();
}

QString TMainForm::TownPrefix() const
{
    return FSettings.settings.showInfo ? Text("OrtLabel") : QString();
}

void TMainForm::ApplyLanguage(Language language)
{
    FLanguage = language;
    FLanguageSet = true;
    FLookupSources.ApplyLanguage(language);
    for (QAction *action :
         {Nicknames1, Calllist1, MSN1, Suchen1, Optionen1, ResetPos1, Hilfe1, Info, Beenden1})
        action->setText(Text(action->objectName().toLatin1().constData()));
    sbReject->setText(Text("sbReject"));
    SetActivationTexts();
    // What the popup shows stays on show, with the captions of the new language.
    if (!UnrecLabel->isHidden()) { // the count of new calls, between two callers
        CallLabel->setText(QLatin1Char(' ') + Word("BalloonTitle") + QLatin1Char(':'));
        UnrecLabel->setText(NewCallsText());
    } else {
        CallLabel->setText(CallLabelText());
        if (FCallHandler.PendingCalls().Count() > 0 && !NumberLabel->text().isEmpty()) {
            ShowCall(ShownCallIndex());
        } else {
            TargetLabel->setText(TargetPrefix());
            OrtLabel->setText(TownPrefix());
        }
    }
    SetSize();
}

void TMainForm::UpdateMenuAvailability()
{
    for (QAction *item : {Nicknames1, Calllist1, MSN1})
        item->setEnabled(bool(OnShowLists));
    Suchen1->setEnabled(bool(OnShowSearch));
    Optionen1->setEnabled(bool(OnShowOptions));
    Info->setEnabled(AboutBox != nullptr);
}

void TMainForm::SetActivationTexts()
{
    Deaktivieren1->setText(Text(FCallHandler.Active() ? "Deaktivieren1" : "Aktivieren1"));
    SetTrayImage(false);
}

QIcon TMainForm::ActiveIcon(int defaultSlot) const
{
    const int slot = FSettings.selectedIcon().value_or(defaultSlot);
    const QString file =
        FCallHandler.Active() ? FSettings.iconFile(slot) : FSettings.disabledIconFile(slot);
    if (!file.isEmpty()) {
        // Read once: the icon is set again at every blink.
        auto cached = FLoadedIcons.find(file);
        if (cached == FLoadedIcons.end()) {
            const QPixmap picture(file);
            cached = FLoadedIcons.insert(file, picture.isNull() ? QIcon() : QIcon(picture));
        }
        if (!cached->isNull()) return *cached;
    }
    return platform::TrayIcon(FCallHandler.Active() ? platform::TrayIconState::Active
                                                   : platform::TrayIconState::Deactivated,
                              slot + 1);
}

void TMainForm::ReloadTrayIcons()
{
    FLoadedIcons.clear();
    SetActivationTexts();
}

void TMainForm::SetTrayImage(bool callIcon)
{
    // While the second icon is up, it blinks instead of the main one.
    QSystemTrayIcon *icon = FSecondTrayIcon->isVisible() ? FSecondTrayIcon : FTrayIcon;
    // The idle icon and the one restored between flashes are the same slot; while the line
    // cannot be used, it carries the sign of that.
    QIcon idle = ActiveIcon(1);
    if (LineDown() && FCallHandler.Active()) idle = platform::LineDownIcon(idle);
    icon->setIcon(callIcon ? platform::CallIcon() : idle);
}

QString TMainForm::TrayHint() const
{
    const QString hint = QLatin1String(kProductHint);
    return FLineState.isEmpty() ? hint : hint + QStringLiteral(": ") + FLineState;
}

const router::TRouterMonitorSource *TMainForm::RouterLine() const
{
    return dynamic_cast<const router::TRouterMonitorSource *>(FCallHandler.OwnLine());
}

void TMainForm::ApplyLineSetting()
{
    const QString setting = FSettings.settings.routerMonitorHost.trimmed();
    if (setting == FLineSetting) return;
    FLineSetting = setting;
    if (setting.isEmpty()) {
        FCallHandler.SetOwnLine(FCallHandler.NewCapiLine());
        return;
    }
    std::unique_ptr<router::TRouterMonitorSource> source;
    if (const RouterAddress address = ParseRouterAddress(setting); address.isValid())
        source = std::make_unique<router::TRouterMonitorSource>(address.host, address.port);
    else
        source = std::make_unique<router::TRouterMonitorSource>(
            QStringLiteral("The router monitor's address \"%1\" (setting RouterMonitorHost) "
                           "cannot be used").arg(setting));
    source->OnLog = [this](const QString &text) { FCallHandler.WriteLog(text, false); };
    FCallHandler.SetOwnLine(std::move(source));
}

void TMainForm::UpdateLineState()
{
    const QString line = FCallHandler.LineError();
    QStringList problems;
    if (!line.isEmpty()) problems << line;
    // The router's call monitor is named also while it works: it is not the usual line.
    const router::TRouterMonitorSource *router = RouterLine();
    if (router && line.isEmpty())
        problems << UiText(UiForm::Messages,
                           router->Connected() ? u"RouterConnected" : u"RouterConnecting", FLanguage)
                        .arg(router->Address());
    if (!FSettings.readError().isEmpty()) problems << SettingsUnreadableText();
    const QString state = problems.join(QStringLiteral("; "));
    if (state != FLineState) {
        FLineState = state;
        FTrayIcon->setToolTip(TrayHint());
        FSecondTrayIcon->setToolTip(TrayHint());
    }
    // Said when the line goes and when it comes back; the reasons of the attempts between
    // change the hint only.
    const bool usable = line.isEmpty();
    if (FLineUsable == usable) return;
    const bool wasDown = FLineUsable == false;
    FLineUsable = usable;
    SetTrayImage(false);
    if (!Notifications) return;
    const bool onRouter = router != nullptr;
    if (!usable)
        Notifications->Show(kLineTopic,
                            UiText(UiForm::Messages, onRouter ? u"RouterDown" : u"LineDown", FLanguage),
                            line);
    else if (wasDown)
        Notifications->Show(kLineTopic,
                            UiText(UiForm::Messages, onRouter ? u"RouterBack" : u"LineBack", FLanguage),
                            QString());
}

void TMainForm::TrayMissing()
{
    const QString summary = UiText(UiForm::Messages, u"NoTray", FLanguage);
    const QString help = UiText(UiForm::Messages, u"NoTrayHelp", FLanguage);
    std::fprintf(stderr, "Corvane: %s. %s\n", qPrintable(summary), qPrintable(help));
    std::fflush(stderr);
    if (Notifications) Notifications->Show(kTrayTopic, summary, help);
}

void TMainForm::LookupFailed(const LookupResult &result)
{
    FCallHandler.WriteLog(
        QStringLiteral("Reverse lookup of %1 failed: %2").arg(result.number, result.failure),
        false);
    // Once: a server that is down would otherwise speak up at every call.
    if (std::exchange(FLookupFailureTold, true)) return;
    const QString summary = UiText(UiForm::Messages, u"LookupServerDown", FLanguage);
    const QString text = FLookupSources.FailureText(result.failure);
    if (!Notifications || !Notifications->Show(kLookupTopic, summary, text))
        FTrayIcon->showMessage(summary, text, QSystemTrayIcon::Warning, kBalloonMs);
}

// ---- Settings -------------------------------------------------------------------------

QString TMainForm::SettingsUnreadableText() const
{
    return QStringLiteral("%1 cannot be read (%2), the default settings are used")
        .arg(FSettings.iniPath(), FSettings.readError());
}

void TMainForm::ReadIni()
{
    if (!FSettings.readAll()) FCallHandler.WriteLog(SettingsUnreadableText(), true);
    const GeneralSettings &s = FSettings.settings;
    FCallHandler.SetTestCallNumber(s.debugInt);
    lbTremlow->setVisible(!s.hideFirstLine);
    lbCorvane->setVisible(!s.hideFirstLine);
    TimeLabel->setVisible(!s.hideFirstLine && !sbReject->isVisible());

    const WindowPlace &place = FSettings.mainPos;
    FBaseHeight = place.height;
    setGeometry(place.left, place.top, std::max(200, place.width),
                std::max(place.height, place.width / 4));
    ApplyStayOnTop();
    ApplyAppearance();
    FLookupSources.ApplySettings(s);
    ApplyLineSetting();

    if (OnLanguageSetting)
        OnLanguageSetting(s.language);
    else if (!FLanguageSet || languageFromIndex(s.language) != FLanguage)
        ApplyLanguage(languageFromIndex(s.language));
    SetActivationTexts();
    UpdateLineState();
}

void TMainForm::ApplyAppearance()
{
    const GeneralSettings &s = FSettings.settings;
    QPalette palette = pnlMain->palette();
    palette.setColor(QPalette::Window, ColorFromSetting(s.bgColor));
    pnlMain->setPalette(palette);
    QPalette own = this->palette();
    own.setColor(QPalette::Window, ColorFromSetting(s.bgColor));
    own.setColor(QPalette::Base, ColorFromSetting(s.bgColor));
    setPalette(own);
    setAutoFillBackground(true);
    setTextColor(lbTremlow, QColor(0, 255, 0));
    setTextColor(lbCorvane, QColor(255, 0, 0));

    const PictureSettings &picture = FSettings.picture;
    if (picture.usePic && !picture.file.isEmpty())
        LoadPic(picture.file);
    else
        Image1->hide();
    ApplyTransparency();
    SetSize();
}

void TMainForm::ApplyStayOnTop()
{
    const bool onTop = FSettings.settings.stayOnTop;
    if (bool(windowFlags() & Qt::WindowStaysOnTopHint) == onTop) return;
    // A new window flag hides the window; a popup on show stays on show.
    const bool visible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    if (visible) {
        setAttribute(Qt::WA_ShowWithoutActivating, true);
        show();
    }
}

bool TMainForm::WriteIni(QString *error)
{
    WindowPlace &place = FSettings.mainPos;
    place.left = x() >= 10000 ? place.left : x();
    place.top = y();
    place.width = width();
    place.height = FBaseHeight;
    return FSettings.writeAll(error);
}

// ---- Start-up and shut-down ------------------------------------------------------------

bool TMainForm::StartMonitor()
{
    const bool started = FCallHandler.StartLines();
    UpdateLineState();
    return started;
}

void TMainForm::StartDisplayTimer()
{
    FTimer.start();
}

void TMainForm::AppMessage(platform::InstanceCommand command, const QString &testNumber)
{
    using platform::InstanceCommand;
    // Ending is always possible, also while the start screen shows.
    if (command == InstanceCommand::Quit) {
        CloseProgram();
        return;
    }
    if (!FDialogsReady) return;
    switch (command) {
    case InstanceCommand::ShowPopup:
        ShowPopup();
        break;
    case InstanceCommand::Calls:
        AcknowledgeCalls();
        OpenLists(ListPage::Calls);
        break;
    case InstanceCommand::Msn:
        AcknowledgeCalls();
        OpenLists(ListPage::Msn);
        break;
    case InstanceCommand::Nicknames:
        AcknowledgeCalls();
        OpenLists(ListPage::Nicks);
        break;
    case InstanceCommand::Options:
        AcknowledgeCalls();
        if (OnShowOptions) OnShowOptions();
        break;
    case InstanceCommand::Dial:
        if (FSettings.settings.useTapi && OnDial) OnDial(QGuiApplication::clipboard()->text());
        break;
    case InstanceCommand::TestCall:
        FCallHandler.TestCall(testNumber);
        break;
    case InstanceCommand::None:
        // Started again without a switch: an open window has come forward already; with none,
        // the popup does. Without a tray there is no other way in than the call list.
        if (!FTrayWatch.TrayAvailable()) {
            AcknowledgeCalls();
            OpenLists(ListPage::Calls);
        } else if (!OpenWindow()) {
            ShowPopup();
        }
        break;
    case InstanceCommand::Quit:
        break;
    }
}

QWidget *TMainForm::OpenWindow() const
{
    if (QWidget *modal = QApplication::activeModalWidget()) return modal;
    if (isVisible()) return const_cast<TMainForm *>(this);
    // Besides the popup, the program's windows are dialogs; the tray icon's own window, menus
    // and tooltips are none to bring forward.
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && qobject_cast<QDialog *>(window)) return window;
    }
    return nullptr;
}

bool TMainForm::RaiseOpenWindow()
{
    QWidget *window = OpenWindow();
    if (!window) return false;
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->raise();
    window->activateWindow();
    return true;
}

void TMainForm::OpenLists(ListPage page)
{
    if (OnShowLists) OnShowLists(page);
}

void TMainForm::FormCloseQuery()
{
    if (FClosed) return;
    FClosed = true;
    HidePopup();
    // Errors are ignored on the way out: the session may be ending, nobody would answer.
    FPrompts.Quiet = true;
    SaveForExit();
    setWindowOpacity(1.0);
}

void TMainForm::SaveForExit()
{
    WriteIni();
    if (FDialogsReady) FLists.SaveMissingLists();
    FLists.WaitForSaves(); // every change reaches its file before the program ends
}

void TMainForm::CommitSessionData()
{
    // The user may still cancel the logout: the program goes on as it was, and its real end
    // saves again.
    const bool quiet = std::exchange(FPrompts.Quiet, true);
    SaveForExit();
    FPrompts.Quiet = quiet;
}

void TMainForm::CloseProgram()
{
    FormCloseQuery();
    QApplication::quit();
}

void TMainForm::closeEvent(QCloseEvent *event)
{
    // The popup's own close (Alt+F4 through the window manager) only hides it.
    event->ignore();
    HidePopup();
    StopSound();
}

// ---- What the call handling reports -----------------------------------------------------

void TMainForm::StopSound()
{
    FSound.Stop();
}

int TMainForm::ShownCallIndex() const
{
    const TCalls &calls = FCallHandler.PendingCalls();
    for (int i = calls.Count() - 1; i >= 0; --i)
        if (calls.Get(i).CallId == FShownCallId) return i;
    return -1;
}

void TMainForm::ShowCall(int index)
{
    if (FCallHandler.PendingCalls().Count() == 0) return;
    const TCallRecord &r = FCallHandler.PendingCalls().Get(index);
    FShownCallId = r.CallId;
    CapiMonitor1StateChange(FCallHandler.CanReject(FShownCallId));
    const QString nickname = r.value(QStringLiteral("NickName"));
    const QString caller = r.value(QStringLiteral("Caller"));
    NumberLabel->setText(nickname.isEmpty() ? caller : nickname);
    FitLabelFont(NumberLabel);
    // The title names the caller for window lists and assistive tools.
    setWindowTitle(QStringLiteral("Corvane - ") + NumberLabel->text());
    TargetLabel->setText(TargetPrefix() + r.value(QStringLiteral("Target")));
    TargetLabel->adjustSize();
    if (IsNotTransmitted(caller) || nickname.isEmpty())
        OrtLabel->setText(TownPrefix() + r.value(QStringLiteral("Town")));
    else
        OrtLabel->setText(
            (FSettings.settings.showInfo ? QStringLiteral(" Nr.: ") : QStringLiteral(" ")) +
            caller);
    OrtLabel->adjustSize();
    TimeLabel->setText(r.value(QStringLiteral("Time")));
    TimeLabel->adjustSize();
    const QString info = r.value(QStringLiteral("AdditionalInfo"));
    if (!info.isEmpty())
        ShowAdditionalInfo(info);
    else
        HideAdditionalInfo();
    UpdateCallNotification();
}

void TMainForm::ClearNumber()
{
    NumberLabel->clear();
    setWindowTitle(QStringLiteral("Corvane"));
}

void TMainForm::AskForStatusNotifierHost()
{
    // Asked once, without waiting: the answer of a bus that hangs must not hold up a call.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    auto *watcher = new QDBusPendingCallWatcher(
        bus.asyncCall(call << QStringLiteral("org.kde.StatusNotifierWatcher")), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusPendingReply<bool> reply = *w;
        FStatusNotifierHost = reply.isValid() && reply.value();
    });
}

void TMainForm::HideBalloon()
{
    if (!FBalloonShown) return;
    FBalloonShown = false;
    if (FBalloonIsNotification) {
        Notifications->Close(kCallsTopic);
        return;
    }
    // Qt's own balloon closes on an empty message; a desktop notification service would
    // show an empty notification instead, and closes its own by time-out.
    if (!FStatusNotifierHost)
        FTrayIcon->showMessage(QString(), QString(), QSystemTrayIcon::NoIcon, 1);
}

void TMainForm::AnnounceNewCall()
{
    FTimer.stop();
    FRotationIndex = 0;
    if (FSettings.settings.secondTrayIcon) FSecondTrayIcon->show();
    const int count = FCallHandler.PendingCalls().Count();
    UnrecLabel->setText(NewCallsText());
    FitLabelFont(UnrecLabel);
    if (FSettings.settings.balloon) {
        const QString text = count == 1 ? QStringLiteral("1 ") + Word("NewCall") : NewCallsText();
        // A notification service shows the newest caller too, with or without a tray.
        FBalloonCount = text;
        FBalloonBody = text + u'\n' + NewestCallerLine();
        FBalloonIsNotification =
            Notifications &&
            Notifications->Show(kCallsTopic, Word("BalloonTitle"), FBalloonBody, kBalloonMs);
        if (!FBalloonIsNotification)
            FTrayIcon->showMessage(Word("BalloonTitle"), text, QSystemTrayIcon::Information,
                                   kBalloonMs);
        FBalloonShown = true;
    }
    FTimer.start();
}

void TMainForm::UpdateCallNotification()
{
    if (!FBalloonShown || !FBalloonIsNotification) return;
    // The notification names the newest caller: a name found for an earlier call changes
    // nothing here.
    const QString body = FBalloonCount + u'\n' + NewestCallerLine();
    if (body == FBalloonBody) return;
    FBalloonBody = body;
    Notifications->Update(kCallsTopic, Word("BalloonTitle"), body, kBalloonMs);
}

QString TMainForm::NewCallsText() const
{
    return QStringLiteral("%1 %2").arg(FCallHandler.PendingCalls().Count()).arg(Word("NewCalls"));
}

QString TMainForm::NewestCallerLine() const
{
    if (FCallHandler.PendingCalls().Count() == 0) return QString();
    const TCallRecord &record = FCallHandler.PendingCalls().Get(-1);
    const QString nickname = record.value(QStringLiteral("NickName")).trimmed();
    QStringList parts{nickname.isEmpty() ? record.value(QStringLiteral("Caller")) : nickname};
    const QString town = record.value(QStringLiteral("Town")).trimmed();
    if (!town.isEmpty()) parts << town;
    QString line = parts.join(QStringLiteral(", "));
    const QString target = record.value(QStringLiteral("Target")).trimmed();
    if (!target.isEmpty()) line += QStringLiteral(" \u2192 ") + target;
    return line;
}

void TMainForm::CapiMonitor1StateChange(bool bUserCanReject)
{
    if (!FSettings.settings.showReject) return;
    sbReject->setVisible(bUserCanReject);
    TimeLabel->setVisible(!bUserCanReject && !FSettings.settings.hideFirstLine);
}

void TMainForm::sbRejectClick()
{
    FCallHandler.RejectCall(FShownCallId);
}

// ---- Display timer ---------------------------------------------------------------------

void TMainForm::Timer1Timer()
{
    FTimer.stop();
    if (FFirstShow) {
        FFirstShow = false;
        HidePopup();
        move(FSettings.readMainPosLeft(), y());
    }
    ++FTickCount;
    if (!FDialogsReady) return;
    UpdateLineState();

    const GeneralSettings &s = FSettings.settings;
    const int count = FCallHandler.PendingCalls().Count();
    if (s.showMultipleCalls && isVisible()) {
        if (count < 2) {
            if (UnrecLabel->isVisible()) {
                UnrecLabel->hide();
                NumberLabel->show();
                CallLabel->setText(CallLabelText());
                SetSize();
            }
        } else if (FTickCount % 5 == 0) {
            const qint64 now = FCallHandler.TickCount();
            const bool recent = now < FCallHandler.LastEventTick() + s.callRotationTimeoutMs();
            if (FRotationIndex < count || recent) {
                if (recent) FRotationIndex = count - 1;
                UnrecLabel->hide();
                NumberLabel->show();
                CallLabel->setText(CallLabelText());
                if (FRotationIndex < count) ShowCall(FRotationIndex);
                ++FRotationIndex;
            } else {
                HideAdditionalInfo();
                FRotationIndex = 0;
                UnrecLabel->show();
                NumberLabel->hide();
                CallLabel->setText(QLatin1Char(' ') + Word("BalloonTitle") + QLatin1Char(':'));
                TargetLabel->clear();
                OrtLabel->clear();
                TimeLabel->clear();
            }
            SetSize();
        }
    }

    if (isVisible() && !(s.keepUnknown && !FCallHandler.PendingCalls().HasNickName(-1))) {
        if (s.duration < 1)
            FShownTime += kTimerIntervalMs;
        else if (s.duration * 1000 < FShownTime) {
            FShownTime = 0;
            HidePopup();
        } else
            FShownTime += kTimerIntervalMs;
    }

    if (isVisible() && sbReject->isVisible()) {
        const QColor normal = CallLabel->palette().color(QPalette::WindowText);
        const QColor current = sbReject->palette().color(QPalette::ButtonText);
        setTextColor(sbReject, current == normal ? QColor(255, 0, 0) : normal);
    }

    if (!FCallHandler.PendingCalls().IsAcknowledged()) {
        const int n = count;
        if (BlinkCounter >= 2 * n) {
            if (BlinkCounter > 2 * n + 3) BlinkCounter = -1;
        } else if (BlinkCounter % 2 != 0) {
            SetTrayImage(false);
            if (s.scrollLed || FLedLit) SetScrollLed(false);
        } else {
            SetTrayImage(true);
            if (s.scrollLed)
                SetScrollLed(true);
            else if (FLedLit) // the option went off while the LED was lit
                SetScrollLed(false);
        }
        ++BlinkCounter;
    }
    FTimer.start();
}

void TMainForm::AcknowledgeCalls()
{
    FTimer.stop();
    FRotationIndex = 0;
    ShowCall(-1);
    FCallHandler.PendingCalls().Acknowledge();
    HideBalloon();
    FSecondTrayIcon->hide();
    // Only what the blinking lit: the user's own Scroll Lock stays as it is.
    if (FLedLit) SetScrollLed(false);
    SetActivationTexts();
    UnrecLabel->clear();
    if (FDialogsReady) FTimer.start();
}

bool TMainForm::SetScrollLed(bool on)
{
    if (FScrollLatch) return false;
    FScrollLatch = true;
    bool state = false;
    QString error;
    if (!FLed.ReadScrollLock(state, &error)) {
        // The LED is not touched again until the program restarts.
        FSettings.settings.scrollLed = false;
        FPrompts.inform(error);
        return false;
    }
    if (state != on) {
        FLed.PressScrollLock();
        FLedLit = on;
    } else if (!on) {
        FLedLit = false;
    }
    FScrollLatch = false;
    return true;
}

void TMainForm::ToggleActive()
{
    const bool wasActive = FCallHandler.Active();
    FCallHandler.SetActive(!FCallHandler.Active());
    if (wasActive) AcknowledgeCalls();
    SetActivationTexts();
}

void TMainForm::TrayActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::Trigger && reason != QSystemTrayIcon::DoubleClick) return;
    // A double click reaches us as a click and a double click (or as two clicks, by host):
    // one user action, one toggle.
    const qint64 now = FCallHandler.TickCount();
    if (now - FLastTrayClick < QApplication::doubleClickInterval()) return;
    FLastTrayClick = now;
    TrayClick();
}

void TMainForm::TrayClick()
{
    if (isVisible()) {
        AcknowledgeCalls();
        HidePopup();
        if (!FSound.Stop()) FPrompts.inform(QStringLiteral("Fatal Stopsound error"));
    } else {
        ShowPopup();
        raise();
        activateWindow();
    }
}

// ---- Popup -----------------------------------------------------------------------------

void TMainForm::SetFonts(const QString &name, const QColor &color, int size)
{
    const int base = std::max(1, size);
    auto apply = [&name](QWidget *w, int pointSize, bool bold) {
        QFont font(name);
        font.setPointSize(std::max(1, pointSize));
        font.setBold(bold);
        w->setFont(font);
    };
    for (QWidget *w : {static_cast<QWidget *>(CallLabel), static_cast<QWidget *>(OrtLabel),
                       static_cast<QWidget *>(TimeLabel), static_cast<QWidget *>(TargetLabel),
                       static_cast<QWidget *>(memInfo)})
        apply(w, base, false);
    apply(sbReject, base, true);
    apply(NumberLabel, base * 2, true);
    apply(UnrecLabel, base * 2, true);
    for (QLabel *l : {lbTremlow, lbCorvane}) {
        QFont font = l->font();
        font.setPointSize(base);
        l->setFont(font);
    }
    for (QWidget *w : {static_cast<QWidget *>(CallLabel), static_cast<QWidget *>(NumberLabel),
                       static_cast<QWidget *>(UnrecLabel), static_cast<QWidget *>(OrtLabel),
                       static_cast<QWidget *>(TimeLabel), static_cast<QWidget *>(TargetLabel),
                       static_cast<QWidget *>(sbtnClose), static_cast<QWidget *>(sbReject),
                       static_cast<QWidget *>(memInfo)})
        setTextColor(w, color);
    QFont closeFont(name);
    closeFont.setBold(true);
    closeFont.setPointSize(base + 2);
    sbtnClose->setFont(closeFont);
}

void TMainForm::FitLabelFont(QLabel *label)
{
    QFont font = label->font();
    int size = CallLabel->font().pointSize() * 2;
    const int room = width() - label->x() - 4;
    font.setPointSize(std::max(1, size));
    while (QFontMetrics(font).horizontalAdvance(label->text()) > room && size > 3) {
        --size;
        font.setPointSize(size);
    }
    label->setFont(font);
    const int height = QFontMetrics(font).height();
    label->resize(label->width(), height);
    label->move(label->x(), (pnlMain->height() - height) / 2);
    label->update();
}

int TMainForm::InfoLineHeight() const
{
    return QFontMetrics(lbCorvane->font()).boundingRect(QStringLiteral("lg")).height();
}

void TMainForm::LayoutInfo()
{
    const int w = width();
    const int infoTotal = FInfoHeight > 0 ? FInfoHeight + 2 * kInfoMargin : 0;
    pnlMain->setGeometry(0, 0, w, std::max(0, height() - infoTotal));
    Image1->setGeometry(0, 0, w, pnlMain->height());
    if (FInfoHeight > 0) {
        bvlAdd->setGeometry(0, pnlMain->height() - 2, w, 2);
        memInfo->setGeometry(4, pnlMain->height() + kInfoMargin, w - 8, FInfoHeight);
        bvlAdd->raise();
    }
    FSizeGrip->move(w - FSizeGrip->sizeHint().width(), height() - FSizeGrip->sizeHint().height());
    FSizeGrip->raise();
}

void TMainForm::SetSize()
{
    const int w = width();
    LayoutInfo();
    const int base = w * 3 / 100;
    SetFonts(FSettings.settings.font, ColorFromSetting(FSettings.settings.fColor), base);
    for (QLabel *l : {lbTremlow, lbCorvane, CallLabel, OrtLabel, TimeLabel, TargetLabel})
        l->adjustSize();

    int closeHeight = 0;
    if (FSettings.settings.showClose) closeHeight = lbTremlow->height();
    sbtnClose->setGeometry(0, 0, closeHeight, closeHeight);
    sbtnClose->setVisible(closeHeight > 0);

    const int rejectWidth = lbTremlow->width() * 4 / 3;
    sbReject->setGeometry(w - rejectWidth - 4, 0, rejectWidth, lbTremlow->height());

    lbTremlow->move(sbtnClose->x() + closeHeight, 0);
    lbCorvane->move(lbTremlow->x() + lbTremlow->width() + 4, 0);

    const int panelHeight = pnlMain->height();
    OrtLabel->move(0, panelHeight - OrtLabel->height() - 4);
    TargetLabel->move(w - TargetLabel->width() - 20, panelHeight - TargetLabel->height() - 4);

    CallLabel->move(0, (panelHeight - CallLabel->height()) / 2);
    for (QLabel *big : {NumberLabel, UnrecLabel}) {
        big->move(CallLabel->x() + CallLabel->width() + 8, big->y());
        big->resize(std::max(0, w - big->x() - 4), big->height());
        FitLabelFont(big);
    }
    TimeLabel->move(w - TimeLabel->width() - 20, lbTremlow->y());
    FBaseHeight = panelHeight;
    UpdateMinimumSize();
}

void TMainForm::UpdateMinimumSize()
{
    const int infoTotal = FInfoHeight > 0 ? FInfoHeight + 2 * kInfoMargin : 0;
    setMinimumSize(200, width() / 4 + infoTotal);
}

bool TMainForm::LoadPic(const QString &file)
{
    if (file.isEmpty()) return false;
    QImageReader reader(file);
    reader.setAutoTransform(true);
    const QImage image = reader.read();
    if (image.isNull()) {
        // A picture that cannot be loaded switches the picture off.
        FSettings.picture.file.clear();
        FSettings.picture.usePic = false;
        FPicture = QPixmap();
        Image1->hide();
        return false;
    }
    FPicture = QPixmap::fromImage(image);
    FSettings.picture.file = file;
    Image1->setScaledContents(FSettings.picture.stretch);
    Image1->setPixmap(FPicture);
    Image1->setVisible(FSettings.picture.usePic);
    Image1->lower();
    return true;
}

void TMainForm::ShowAdditionalInfo(const QString &text)
{
    QString plain = text;
    plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
        .replace(QLatin1Char('\r'), QLatin1Char('\n'));
    // The lookup ends every line with a break; the last one opens no line of its own.
    if (plain.endsWith(QLatin1Char('\n'))) plain.chop(1);
    const int lines = int(plain.split(QLatin1Char('\n')).size());
    memInfo->setPlainText(plain);
    const int base = FBaseHeight;
    // However many lines a server sends, the popup ends at the bottom of its screen (one line
    // at least), and the lines that do not fit are scrolled to.
    const QRect screen = this->screen()->availableGeometry();
    const int needed = lines * 4 * InfoLineHeight() / 3;
    const int room = screen.bottom() + 1 - std::max(y(), screen.top()) - base - 2 * kInfoMargin;
    FInfoHeight = std::min(needed, std::max(room, 4 * InfoLineHeight() / 3));
    memInfo->setVerticalScrollBarPolicy(FInfoHeight < needed ? Qt::ScrollBarAsNeeded
                                                             : Qt::ScrollBarAlwaysOff);
    memInfo->show();
    bvlAdd->show();
    setMinimumHeight(0);
    resize(width(), FInfoHeight + 2 * kInfoMargin + base);
    SetSize();
}

void TMainForm::HideAdditionalInfo()
{
    if (FInfoHeight == 0 && memInfo->isHidden()) return;
    memInfo->clear();
    memInfo->hide();
    bvlAdd->hide();
    const int base = FBaseHeight;
    FInfoHeight = 0;
    setMinimumHeight(0);
    resize(width(), base);
    SetSize();
}

int TMainForm::TransparencyAlpha(int percent)
{
    const int t = std::clamp(percent, 0, 100);
    return int(std::nearbyint(255.0 * (100 - t) / 100.0)); // the default rounding: half to even
}

void TMainForm::ApplyTransparency()
{
    const int t = FSettings.settings.transparency;
    setWindowOpacity(t > 0 ? TransparencyAlpha(t) / 255.0 : 1.0);
}

void TMainForm::ShowPopup()
{
    // Shown for a call before the first timer tick: that tick must not hide it again.
    FFirstShow = false;
    const bool keepFocus = FSettings.settings.keepFocus;
    setAttribute(Qt::WA_ShowWithoutActivating, keepFocus);
    FShownTime = 0;
    show();
    raise();
    if (!keepFocus) activateWindow();
    SetSize();
}

void TMainForm::HidePopup()
{
    hide();
}

void TMainForm::ResetPosition()
{
    FInfoHeight = 0;
    memInfo->hide();
    bvlAdd->hide();
    setGeometry(0, 0, 400, 100);
    ShowPopup();
}

void TMainForm::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    SetSize();
}

void TMainForm::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    FShownTime = 0;
    SetSize();
}

// ---- Mouse and keyboard ----------------------------------------------------------------

bool TMainForm::eventFilter(QObject *watched, QEvent *event)
{
    // Each control answers its own presses: none falls through to the panel behind it. The
    // right button's menu (header labels and buttons) comes as an event of its own.
    const QEvent::Type type = event->type();
    if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (watched == lbTremlow) {
            if (mouse->button() == Qt::LeftButton) StartMove(mouse);
            return true;
        }
        if (watched == lbCorvane || watched == TimeLabel || watched == TargetLabel) return true;
        if (watched == sbtnClose || watched == sbReject) return mouse->button() != Qt::LeftButton;
        if (watched == memInfo->viewport()) {
            AcknowledgeCalls();
            return false; // the text stays selectable
        }
        PanelClick(mouse);
        return true;
    }
    if (watched == lbTremlow && FDragging) {
        if (type == QEvent::MouseMove) {
            move(static_cast<QMouseEvent *>(event)->globalPosition().toPoint() - FDragOffset);
            return true;
        }
        if (type == QEvent::MouseButtonRelease) FDragging = false;
    }
    return QWidget::eventFilter(watched, event);
}

void TMainForm::StartMove(QMouseEvent *event)
{
    // The window system moves the window where it can (Wayland allows nothing else);
    // otherwise it follows the mouse by hand.
    QWindow *window = windowHandle();
    if (window && window->startSystemMove()) return;
    FDragging = true;
    FDragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void TMainForm::PanelClick(QMouseEvent *event)
{
    AcknowledgeCalls();
    StopSound();
    if (!FDialogsReady) return;
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    if (event->button() == Qt::RightButton) {
        if (!shift) HidePopup();
        return;
    }
    if (event->button() != Qt::LeftButton) return;
    if (shift) {
        if (FCallHandler.PendingCalls().Count() > 0 && FSettings.settings.useTapi && OnDial) {
            const QString caller = FCallHandler.PendingCalls().Get(-1).value(QStringLiteral("Caller"));
            if (!caller.isEmpty() && !IsNotTransmitted(caller)) OnDial(caller);
        }
        return;
    }
    const QString shown = NumberLabel->text();
    if (!shown.isEmpty() && !FLists.NickExists(shown) && FCallHandler.PendingCalls().Count() > 0 &&
        OnOfferNewNickname) {
        const QString number = FCallHandler.PendingCalls().Get(-1).value(QStringLiteral("Caller"));
        // A name found by a lookup is offered as the nickname.
        OnOfferNewNickname(number != shown ? shown : QString(), number);
        return;
    }
    OpenLists(ListPage::Calls);
}

void TMainForm::mousePressEvent(QMouseEvent *event)
{
    // The margin around the info area.
    AcknowledgeCalls();
    QWidget::mousePressEvent(event);
}

void TMainForm::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_ScrollLock) return;
    AcknowledgeCalls();
    const bool altF4 = event->key() == Qt::Key_F4 && event->modifiers() == Qt::AltModifier;
    if (event->key() == Qt::Key_Escape || altF4) {
        HidePopup();
        StopSound();
    } else if (event->key() == Qt::Key_F3 && OnShowSearch) {
        OnShowSearch();
    }
}
