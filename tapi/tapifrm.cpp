#include "tapi/tapifrm.h"

#include "lists/ListPrompts.h"
#include "settings/SettingsStore.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

using namespace tapi;

namespace {

constexpr int WindowWidth = 200;
constexpr int DesignHeight = 89;
constexpr int ShownHeight = 116;
constexpr int ShownHeightWithLog = 490;
constexpr int BusyCleanupMs = 5000;
// The dialer asks for this API version to open a line, and for the older one to read a
// device's name.
constexpr uint32_t OpenVersion = 0x00020000;
constexpr uint32_t CapsVersion = 0x00010004;
// A refused number is quoted in the message; a whole clipboard would not fit on the screen.
constexpr int MaxQuoted = 100;

template <class W> W *named(W *widget, const char *name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

// Blanks and control characters at both ends go, as a number typed or copied brings them.
QString trimmedNumber(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= u' ')
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= u' ')
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

TTapiForm::TTapiForm(LineApi &lines, SettingsStore &settings, ListPrompts &prompts, QWidget *parent)
    : QDialog(parent), FLines(lines), FSettings(settings), FPrompts(prompts)
{
    setObjectName(QStringLiteral("TapiForm"));
    setModal(false);
    setWindowTitle(QStringLiteral("Anruf"));

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(4, 0, 4, 4);
    GroupBox1 = named(new QGroupBox(this), "GroupBox1");
    outer->addWidget(GroupBox1);
    auto *layout = new QVBoxLayout(GroupBox1);
    layout->setContentsMargins(6, 4, 6, 6);
    layout->setSpacing(2);

    lblDial = named(new QLabel(GroupBox1), "lblDial");
    lblDial->setTextFormat(Qt::PlainText);
    lblNumber = named(new QLabel(GroupBox1), "lblNumber");
    lblNumber->setTextFormat(Qt::PlainText);
    lblNumber->setAlignment(Qt::AlignCenter);
    QFont bold = lblNumber->font();
    bold.setBold(true);
    lblNumber->setFont(bold);
    btnHangUp = named(new QPushButton(QStringLiteral("Auflegen"), GroupBox1), "btnHangUp");
    btnHangUp->setAutoDefault(false);
    Memo1 = named(new QPlainTextEdit(GroupBox1), "Memo1");
    Memo1->setReadOnly(true);
    Memo1->setVisible(false);

    layout->addWidget(lblDial);
    layout->addWidget(lblNumber, 1);
    layout->addWidget(btnHangUp, 0, Qt::AlignHCenter);
    layout->addWidget(Memo1, 0);

    Timer1 = named(new QTimer(this), "Timer1");
    Timer1->setInterval(BusyCleanupMs);
    // A coarse timer may fire up to 5 % early: the busy signal stays its full five seconds.
    Timer1->setTimerType(Qt::PreciseTimer);
    connect(Timer1, &QTimer::timeout, this, [this] {
        Timer1->stop();
        Cleanup();
    });
    connect(btnHangUp, &QPushButton::clicked, this, &TTapiForm::Cleanup);
    connect(&FLines, &LineApi::devicesProbed, this, [this] {
        for (const Reason &note : FLines.probeNotes())
            Log(QStringLiteral("Modem probe: ") + note.text(Language::English));
        emit DevicesProbed();
    });

    resize(WindowWidth, DesignHeight);
}

TTapiForm::~TTapiForm()
{
    // The end of the program is no step of a dial.
    OnLog = nullptr;
    Cleanup();
}

void TTapiForm::ReadSettings()
{
    FLogVisible = FSettings.settings.tapiDebug;
    Memo1->setVisible(FLogVisible);
    // The room below the state goes to the number, or to the log while it is shown.
    auto *layout = static_cast<QBoxLayout *>(GroupBox1->layout());
    layout->setStretchFactor(lblNumber, FLogVisible ? 0 : 1);
    layout->setStretchFactor(Memo1, FLogVisible ? 1 : 0);
}

void TTapiForm::ApplyLanguage(Language language)
{
    FLanguage = language;
    setWindowTitle(UiText(UiForm::Tapi, u"Caption", language));
    btnHangUp->setText(UiText(UiForm::Tapi, u"btnHangUp", language));
}

QString TTapiForm::StateText(uint32_t state) const
{
    const QString name = CallStateName(state);
    return UiText(UiForm::Tapi, name.isEmpty() ? CallStateName(LINECALLSTATE_UNKNOWN) : name,
                  FLanguage);
}

void TTapiForm::Log(const QString &text)
{
    if (FLogVisible)
        Memo1->appendPlainText(text);
    else if (OnLog)
        OnLog(QStringLiteral("Dial: ") + text);
}

void TTapiForm::showEvent(QShowEvent *event)
{
    lblDial->clear();
    if (FLogVisible) Memo1->clear();
    setFixedSize(WindowWidth, FLogVisible ? ShownHeightWithLog : ShownHeight);
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    QDialog::showEvent(event);
}

void TTapiForm::ShowWindow()
{
    // While a modal window (the lists dialog) is open, only its own windows take clicks: the
    // dial window becomes one of them, so that "Hang up" can be reached.
    QWidget *modal = QApplication::activeModalWidget();
    if (modal == this) modal = nullptr;
    if (!isVisible()) {
        winId();
        windowHandle()->setTransientParent(modal ? modal->windowHandle() : nullptr);
    }
    show();
    raise();
    activateWindow();
}

bool TTapiForm::ListDevices(QStringList &list)
{
    list.clear();
    HLineApp app = 0;
    uint32_t count = 0;
    if (FLines.lineInitialize(app, nullptr, count) != 0) return false;
    for (uint32_t id = 0; id < count; ++id) {
        uint32_t version = 0;
        LineDevCaps caps;
        if (FLines.lineNegotiateAPIVersion(app, id, OpenVersion, OpenVersion, version) != 0 ||
            FLines.lineNegotiateAPIVersion(app, id, CapsVersion, CapsVersion, version) != 0 ||
            FLines.lineGetDevCaps(app, id, version, caps) != 0) {
            list.append(UnknownDevice());
            continue;
        }
        list.append(caps.lineName);
    }
    FLines.lineShutdown(app);
    return true;
}

void TTapiForm::ProbeDevices(const QString &device)
{
    FLines.probe(device);
}

QString TTapiForm::ProbeNotes() const
{
    QStringList lines;
    for (const Reason &note : FLines.probeNotes())
        lines << note.text(FLanguage);
    return lines.join(u'\n');
}

QString TTapiForm::SelectedDevice()
{
    QStringList devices;
    ListDevices(devices);
    const int index = FSettings.tapiDeviceIndex(devices);
    return index >= 0 ? devices.at(index) : FSettings.settings.tapiDevice;
}

bool TTapiForm::PrepareNumber(QString &number)
{
    const QString given = number;
    number = trimmedNumber(number);
    if (number.isEmpty()) return true;
    const bool international = number.startsWith(u'+');
    if (international) {
        number.remove(0, 1);
        if (number.isEmpty()) return true;
        if (number.startsWith(u'+')) number.remove(0, 1);
        if (number.isEmpty()) return true;
        number.prepend(QStringLiteral("00"));
    }
    for (const QChar c : std::as_const(number)) {
        if (c < u'0' || c > u'9') {
            const QString quoted =
                given.size() > MaxQuoted ? given.left(MaxQuoted) + QChar(0x2026) : given;
            FPrompts.inform(UiText(UiForm::Messages, u"NotPhoneNumber", FLanguage) + quoted);
            return false;
        }
    }
    if (ModifyNumber) {
        const std::optional<QString> modified = ModifyNumber(number);
        if (!modified) return false;
        number = *modified;
    }
    if (FSettings.settings.doPrependNum) number.prepend(FSettings.settings.prependNum);
    return true;
}

bool TTapiForm::Dial(const QString &deviceName, const QString &number, QString *error)
{
    if (error) error->clear();
    // A dial that arrives while the number message of another is open waits for none.
    if (FDialing) return false;
    FDialing = true;
    const auto done = qScopeGuard([this] { FDialing = false; });

    Memo1->clear();
    Cleanup();
    QString prepared = number;
    if (!PrepareNumber(prepared)) return false;
    lblNumber->setText(prepared);
    ShowWindow();

    QStringList devices;
    const auto find = [&] {
        ListDevices(devices);
        for (int i = 0; i < devices.size(); ++i) {
            if (devices.at(i).compare(deviceName, Qt::CaseInsensitive) == 0) return i;
        }
        return -1;
    };
    const int id = find();
    Log(QStringLiteral("searching device"));
    const QString failure =
        id < 0 ? QStringLiteral("device ") + deviceName + QStringLiteral(" unknown")
               : PlaceCall(deviceName, id, prepared);
    if (failure.isEmpty()) return true;
    Log(QStringLiteral("Exception in MakeCall: ") + failure);
    Cleanup();
    if (error) *error = failure;
    return false;
}

QString TTapiForm::StepError(const char *step, int32_t result) const
{
    QString text = QLatin1String(step) + QStringLiteral(" error ") + QString::number(result);
    const Reason &detail = FLines.lastErrorDetail();
    if (!detail.isEmpty()) text += QStringLiteral(": ") + detail.text(FLanguage);
    return text;
}

QString TTapiForm::PlaceCall(const QString &deviceName, int deviceId, const QString &number)
{
    Log(QStringLiteral("searching device DONE: ") + deviceName + u' ' + QString::number(deviceId));

    Log(QStringLiteral("initialize line"));
    uint32_t count = 0;
    const auto callback = [this](uint32_t, uint32_t message, uintptr_t, uintptr_t param1,
                                 uintptr_t param2,
                                 uintptr_t) { LineCallback(message, param1, param2); };
    int32_t result = FLines.lineInitialize(FLineApp, callback, count);
    if (result != 0) return StepError("lineInitialize", result);
    Log(QStringLiteral("initialize line DONE"));

    Log(QStringLiteral("lineNegotiateAPIVersion line"));
    uint32_t version = 0;
    result = FLines.lineNegotiateAPIVersion(FLineApp, deviceId, OpenVersion, OpenVersion, version);
    if (result != 0) return StepError("lineNegotiateAPIVersion", result);
    Log(QStringLiteral("lineNegotiateAPIVersion line DONE"));

    Log(QStringLiteral("open line"));
    result = FLines.lineOpen(FLineApp, deviceId, FLine, version, 0);
    if (result != 0) return StepError("lineOpen", result);
    Log(QStringLiteral("open line DONE"));

    Log(QStringLiteral("make call"));
    result = FLines.lineMakeCall(FLine, FCall, number);
    if (result <= 0) return StepError("lineMakeCall", result);
    Log(QStringLiteral("make call done"));
    return QString();
}

void TTapiForm::LineCallback(uint32_t message, uintptr_t param1, uintptr_t param2)
{
    switch (message) {
    case LINE_CALLSTATE: {
        const auto state = uint32_t(param1);
        if (state != LINECALLSTATE_PROCEEDING) lblDial->setText(StateText(state));
        Log(QStringLiteral("CallState: ") + CallStateLogName(state, uint32_t(param2)));
        if (state == LINECALLSTATE_ACCEPTED || state == LINECALLSTATE_CONNECTED) {
            if (!FLogVisible) hide();
        } else if (state == LINECALLSTATE_BUSY) {
            Timer1->start();
        }
        break;
    }
    case LINE_REPLY: {
        const auto result = int32_t(uint32_t(param2));
        // The window hides with the clean-up: the reason is told as Dial's failures are.
        const QString failure = result != 0 ? StepError("lineMakeCall", result) : QString();
        if (result != 0) {
            Cleanup();
            lblDial->setText(QStringLiteral("error"));
        }
        Log(QStringLiteral("LineReply: ") + QString::number(result));
        if (result != 0) FPrompts.inform(failure);
        break;
    }
    default:
        Log(QStringLiteral("lineCallback: ") + QString::number(message) + QStringLiteral(", ") +
            QString::number(param1));
    }
}

void TTapiForm::Cleanup()
{
    Log(QStringLiteral("Cleanup"));
    if (!FLogVisible) hide();
    // A busy signal's clean-up still pending would end the next call.
    Timer1->stop();
    if (FCall) {
        FLines.lineDrop(FCall);
        FLines.lineDeallocateCall(FCall);
        FCall = 0;
    }
    if (FLine) {
        FLines.lineClose(FLine);
        FLine = 0;
    }
    if (FLineApp) {
        FLines.lineShutdown(FLineApp);
        FLineApp = 0;
    }
}
