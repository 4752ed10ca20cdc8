// The program's entry: one instance per user, the start-up order, and the shut-down that
// keeps settings and lists when the menu, the session or a signal ends the program.
#include "app/OptionsLink.h"
#include "app/about.h"
#include "app/main.h"
#include "capi/CpDLL.h"
#include "lists/ListDlg.h"
#include "lists/PromptBoxes.h"
#include "lists/lang.h"
#include "lists/lists.h"
#include "lists/nick.h"
#include "lookup/OutlookContacts.h"
#include "lookup/search.h"
#include "phone/isdntool.h"
#include "platform/Autostart.h"
#include "platform/DataDir.h"
#include "platform/DesktopNotifications.h"
#include "platform/DisplayPlatform.h"
#include "platform/InstanceCommand.h"
#include "platform/KeyboardLed.h"
#include "platform/SingleInstance.h"
#include "platform/Sound.h"
#include "platform/TrayIcons.h"
#include "settings/OptionPrompts.h"
#include "settings/SettingsStore.h"
#include "settings/option.h"
#include "tapi/LineApi.h"
#include "tapi/ModemProvider.h"
#include "tapi/TelLinkProvider.h"
#include "tapi/tapifrm.h"

#include <QApplication>
#include <QFileInfo>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int gSignalPipe[2] = {-1, -1};

// Since a signal can come at any moment, Qt cannot be touched here: the handler only
// writes to a socket pair that the event loop watches.
void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(gSignalPipe[1], &byte, 1);
}

void watchTerminationSignals(TMainForm &mainForm)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gSignalPipe) != 0) return;
    auto *notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, &mainForm);
    QObject::connect(notifier, &QSocketNotifier::activated, &mainForm, [&mainForm, notifier] {
        char byte;
        [[maybe_unused]] ssize_t n = ::read(gSignalPipe[0], &byte, 1);
        notifier->setEnabled(false);
        mainForm.CloseProgram();
    });
    struct sigaction action
    {
    };
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
}

// The call handling asks the desktop's contacts through this.
class TContactsForCalls : public IContactIndex
{
public:
    explicit TContactsForCalls(TOutlookContacts &contacts) : FContacts(contacts) {}
    int Match(const QString &number) override { return FContacts.Match(number); }
    bool Name(int contact, QString &name) override { return FContacts.Name(contact, name); }

private:
    TOutlookContacts &FContacts;
};

PhoneField exportField(OutlookField field)
{
    switch (field) {
    case OutlookField::Home:
        return PhoneField::Home;
    case OutlookField::Mobile:
        return PhoneField::Mobile;
    case OutlookField::Business:
        return PhoneField::Business;
    case OutlookField::Primary:
        break;
    }
    return PhoneField::Primary;
}

// Parameters nothing acts on are named, so that a typing error does not pass unnoticed; the
// start goes on as without them.
void noteIgnoredParameters(const QStringList &arguments)
{
    const QString program = QFileInfo(arguments.value(0, QStringLiteral("corvane"))).fileName();
    for (const QString &parameter : platform::ParseCommandLine(arguments).ignored)
        std::fprintf(stderr, "%s: ignoring \"%s\", which is no switch (see %s --help)\n",
                     qPrintable(program), qPrintable(parameter), qPrintable(program));
}

} // namespace

int main(int argc, char *argv[])
{
    if (const int exitCode = platform::AnswerStartOptions(argc, argv, CORVANE_VERSION);
        exitCode >= 0)
        return exitCode;

    // A Wayland desktop's own X server keeps the popup where it was put and on top.
    platform::DisplayPlatformChoice displayPlatform(
        platform::DisplayEnvironment::Current(argc, argv),
        [] { return platform::XServerReachable(1500); });
    QApplication app(argc, argv);
    displayPlatform.Restore();
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    QApplication::setApplicationDisplayName(QStringLiteral("Corvane"));
    QApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(platform::ProgramIcon());

    // Without Qt's own options (-style, -session and the like), which Qt has taken out.
    const QStringList arguments = QApplication::arguments();
    noteIgnoredParameters(arguments);
    // One running Corvane per data directory: the usual one listens on the plain name, any
    // other (CORVANE_HOME, a portable installation) on a name of its own.
    const QString dataDirectory = DataDir::location();
    QString error;
    QString note;
    platform::SingleInstance instance(platform::SingleInstance::DefaultServerName(
        DataDir::isDefault() ? QString() : dataDirectory, &error, &note));
    if (!note.isEmpty()) qWarning("Corvane: %s", qPrintable(note));
    const platform::SingleInstance::Role role = instance.serverName().isEmpty()
                                                    ? platform::SingleInstance::Role::Failed
                                                    : instance.start(&error);
    if (role == platform::SingleInstance::Role::Secondary) {
        const platform::InstanceCommand wanted = platform::ParseCommandLine(arguments).command;
        const platform::InstanceCommand command =
            platform::PrepareCommand(arguments, instance.channelDirectory(), &error);
        // A switch shows its own result; a plain start would otherwise end without a word.
        if (command != wanted)
            qWarning("Corvane: no test call: %s", qPrintable(error));
        else if (!instance.sendToPrimary(command, &error))
            qWarning("Corvane: %s", qPrintable(error));
        else if (command == platform::InstanceCommand::None)
            std::fprintf(stderr, "Corvane is already running (data directory %s)\n",
                         qPrintable(dataDirectory));
        return 0;
    }
    // Nothing runs that could be ended.
    if (platform::ParseCommandLine(arguments).command == platform::InstanceCommand::Quit) return 0;
    // Without the channel this start runs alone: calls are still shown, but a later start
    // cannot reach it.
    if (role == platform::SingleInstance::Role::Failed)
        qWarning("Corvane: no single-instance channel: %s", qPrintable(error));
    // Said by the running Corvane only, not by every second start.
    const bool onWayland = QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
    if (onWayland)
        std::fprintf(stderr, "Corvane: %s\n",
                     qPrintable(UiText(UiForm::About, u"lbPlatformNote", Language::English)));

    DataDir::tightenPermissions();
    SettingsStore settings(DataDir::iniFile());
    settings.onMoveAutostart = [] { platform::Autostart().MoveMachineWideToUser(); };
    TPromptBoxes prompts;
    TLists lists(settings, prompts, DataDir::path());
    AreaCodeTable towns;
    towns.load(DataDir::areaCodeFile());
    std::unique_ptr<platform::KeyboardLed> led = platform::CreateKeyboardLed();
    platform::Sound sound;
    // Line devices for dialling back; the providers outlive the line layer.
    tapi::ModemProvider modems([&settings] { return settings.settings.modemPorts; });
    tapi::TelLinkProvider telLink;
    tapi::LineApi lines;
    lines.addProvider(&modems, QStringLiteral("Modems on serial ports"));
    lines.addProvider(&telLink, QStringLiteral("Desktop tel: handler"));

    platform::DesktopNotifications notifications;

    int exitCode = 0;
    {
        // The windows, in the order the program has always made them.
        TMainForm mainForm(settings, lists, towns, prompts, *led, sound);
        mainForm.Notifications = &notifications;
        TNickForm nickForm(lists);
        TListDlg listDlg(lists, nickForm);
        TSearchDlg searchDlg(lists, listDlg);
        TOptionPromptBoxes optionPrompts(prompts);
        TOptDlg optDlg(settings, lists, optionPrompts);
        optDlg.SetCountryCodeChoices(CountryCodeChoices(towns));
        TOutlookContacts contacts(&settings, prompts);
        contacts.Towns = &towns;
        TContactsForCalls contactsForCalls(contacts);
        optDlg.OnImportContacts = [&contacts] { contacts.Update(); };
        contacts.OnCountryCodes = [&optDlg](const QStringList &codes) {
            optDlg.SetCountryCodeChoices(codes);
        };
        TAboutBox about;
        about.SetPlatformNote(onWayland);
        mainForm.AboutBox = &about;
        TTapiForm tapiForm(lines, settings, prompts);

        TLanguageSwitch language(&lists);
        language.Register(&mainForm, UiForm::Main);
        language.Register(&listDlg, UiForm::Lists);
        language.Register(&nickForm, UiForm::Nick);
        language.Register(&searchDlg, UiForm::Search);
        language.Register(&tapiForm, UiForm::Tapi);
        language.Register(&about, UiForm::About);
        language.MonitoringInactive = [&mainForm] { return !mainForm.CallHandler().Active(); };
        language.OnActivationTexts = [&mainForm](const QString &, bool) {
            mainForm.SetActivationTexts();
        };
        mainForm.OnLanguageSetting = [&language](int index) {
            if (language.Index() != (index == 1 ? 1 : 0)) language.SetLanguage(index);
        };

        listDlg.PendingCalls = &mainForm.CallHandler().PendingCalls();
        listDlg.OnPendingCallChanged = [&mainForm] { mainForm.ShowCall(-1); };
        listDlg.OnClearPopupNumber = [&mainForm] { mainForm.ClearNumber(); };
        listDlg.OnReverseSearch = [&mainForm, &listDlg](const QString &number,
                                                        TListDlg::ReverseSearchDone done) {
            mainForm.Lookup().ReverseSearch(number, &listDlg, std::move(done));
        };
        listDlg.ReverseSearchEnabled = [&mainForm] { return mainForm.Lookup().Enabled(); };
        mainForm.OnShowLists = [&listDlg](ListPage page) { listDlg.ShowPage(page); };
        mainForm.OnShowSearch = [&searchDlg] {
            if (!searchDlg.isVisible()) searchDlg.exec();
        };
        mainForm.OnOfferNewNickname = [&listDlg](const QString &nickname, const QString &number) {
            listDlg.OfferNewNickname(nickname, number);
        };
        // The popup, the lists and "/d" dial on the device of the settings; a failure is
        // shown here.
        const auto dial = [&tapiForm, &prompts](const QString &number) {
            QString error;
            if (!tapiForm.Dial(tapiForm.SelectedDevice(), number, &error) && !error.isEmpty())
                prompts.inform(error);
        };
        mainForm.OnDial = dial;
        listDlg.OnDial = dial;
        tapiForm.ModifyNumber = [&mainForm](const QString &number) {
            return mainForm.Lookup().ModifyNumber(number);
        };
        tapiForm.OnLog = [&mainForm](const QString &text) {
            mainForm.CallHandler().WriteLog(text, false);
        };
        mainForm.CallHandler().Contacts = &contactsForCalls;
        contacts.OnImported = [&mainForm, &contacts](bool imported) {
            if (imported)
                mainForm.CallHandler().WriteLog(
                    QStringLiteral("Contacts imported: %1").arg(contacts.Index().Count()), false);
        };
        contacts.OnLog = [&mainForm](const QString &text) {
            mainForm.CallHandler().WriteLog(text, false);
        };
        listDlg.OnExportToOutlook = [&contacts, &language](const QString &nickname,
                                                           const QString &number,
                                                           OutlookField field) {
            contacts.Export(nickname, number, exportField(field), language.language());
        };

        // Every setting into every window: at start-up and when the options are cancelled.
        auto readSettings = [&] {
            mainForm.ReadIni();
            // In the background: the line listens and calls are matched while it runs.
            if (settings.settings.searchOutlook) contacts.Update();
            listDlg.ReadSettings();
            searchDlg.ReadSettings();
            tapiForm.ReadSettings();
            about.SetDebug(settings.settings.debug);
        };
        LinkOptionsDialog(optDlg, mainForm, language, readSettings);
        // The options list the line devices and have modems asked; answers that come while
        // they are open show in the list.
        optDlg.OnListDevices = [&tapiForm](QStringList &devices) {
            return tapiForm.ListDevices(devices);
        };
        optDlg.OnProbeDevices = [&tapiForm](const QString &device) {
            tapiForm.ProbeDevices(device);
        };
        optDlg.ProbeNotes = [&tapiForm] { return tapiForm.ProbeNotes(); };
        QObject::connect(&tapiForm, &TTapiForm::DevicesProbed, &optDlg, &TOptDlg::DevicesChanged);

        mainForm.UpdateMenuAvailability();
        readSettings();
        if (!lists.LoadAtStartup()) return 1;
        mainForm.SetListsLoaded(true);
        mainForm.StartMonitor();

        QObject::connect(&instance, &platform::SingleInstance::commandReceived, &mainForm,
                         [&mainForm](platform::InstanceCommand command, const QString &number) {
                             mainForm.AppMessage(command, number);
                         });
        QObject::connect(&instance, &platform::SingleInstance::activationRequested, &mainForm,
                         [&mainForm](platform::InstanceCommand command) {
                             mainForm.RaiseOpenWindow();
                             if (command == platform::InstanceCommand::None)
                                 mainForm.AppMessage(command, QString());
                         });
        watchTerminationSignals(mainForm);
        QObject::connect(&app, &QGuiApplication::commitDataRequest, &mainForm,
                         [&mainForm](QSessionManager &) { mainForm.CommitSessionData(); });
        QObject::connect(&app, &QCoreApplication::aboutToQuit, &mainForm,
                         [&mainForm] { mainForm.FormCloseQuery(); });

        // The monitor listens already: a call or a command during the start screen is
        // shown, stored and carried out like any other.
        mainForm.SetDialogsReady(true);
        mainForm.StartDisplayTimer();
        mainForm.TrayWatch().Start();
        if (settings.settings.showNag) about.ShowModal(mainForm.TrayHint());
        // From the event loop, as the line listens: a call while the message is up is handled.
        QTimer::singleShot(0, &optDlg, [&optDlg] { optDlg.ReportStartIconError(); });
        QTimer::singleShot(0, &mainForm, [&lists] { lists.WarnIfDirectoryShared(::getuid()); });

        // This start's own switch acts like one from a second start; its test number needs
        // no file.
        const platform::ParsedCommandLine parsed = platform::ParseCommandLine(arguments);
        if (parsed.command != platform::InstanceCommand::None)
            QTimer::singleShot(0, &mainForm, [&mainForm, parsed] {
                mainForm.AppMessage(parsed.command,
                                    platform::TestCallNumberFromText(parsed.testNumber));
            });

        // A signal during the start screen has already closed the program.
        if (!mainForm.Closed()) exitCode = QApplication::exec();
        mainForm.FormCloseQuery();
    }
    UnloadCapiDll();
    return exitCode;
}
