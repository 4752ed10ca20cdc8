// The dial window: dials a number on a line device and shows the call's state, its step log
// and a hang-up button.
#pragma once

#include "lists/lang.h"
#include "tapi/LineApi.h"

#include <QDialog>

#include <functional>
#include <optional>

class ListPrompts;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class SettingsStore;

// Holds at most one line application, line and call (each 0 while not open). Dial closes
// what a previous call left open, prepares the number, shows the window and places the call;
// the line messages then move the state label: the window hides once the call is accepted
// or connected (the conversation runs on the telephone), and a busy signal closes everything
// after 5 seconds. With "TAPIDebug" the window also shows the log of every step, and then
// stays open. Dial's failures come back to the caller as text, for the caller to show; a
// make-call request that fails later (the modem went while the dial waited for its turn) is
// shown by the window itself.
//
// The options dialog lists the devices with ListDevices (at once; no port is opened) and
// has modems asked with ProbeDevices; DevicesProbed tells when the list may have changed.
//
// Created last among the windows at start-up; lives until the program ends. Main thread
// only. The line layer, settings and prompts must outlive it.
class TTapiForm : public QDialog, public ILanguageSwitchable
{
    Q_OBJECT
public:
    TTapiForm(tapi::LineApi &lines, SettingsStore &settings, ListPrompts &prompts,
              QWidget *parent = nullptr);
    ~TTapiForm() override;

    static QString UnknownDevice() { return QStringLiteral("unknown telephony device"); }

    // Dials number (raw: a list row, the popup, the clipboard) on the device with that name
    // (letter case ignored). False when nothing is dialled: error holds the failure's text,
    // or is empty when the number was refused (the user has been told).
    bool Dial(const QString &deviceName, const QString &number, QString *error = nullptr);
    // The device names in device-id order, UnknownDevice() for one that cannot be used.
    // False, with an empty list, when there is no line device at all.
    bool ListDevices(QStringList &list);
    // Ends whatever is open; the "Hang up" button.
    void Cleanup();
    // Trims the number, turns a leading "+" or "++" into "00", refuses anything but digits
    // (with a message), then applies ModifyNumber and the outside-line prefix. An empty
    // number, also "+" alone, is passed on empty, without rewrite and prefix. False when the
    // number was refused or the rewrite gave nothing.
    bool PrepareNumber(QString &number);
    // A line of the step log when it is shown, else of the program's log (OnLog).
    void Log(const QString &text);
    // The program's log, which keeps a line only with "Debug" on; unset: the step is dropped.
    std::function<void(const QString &text)> OnLog;

    // Asks the device named, or with an empty name every modem found, whether it answers;
    // in the background.
    void ProbeDevices(const QString &device = QString());
    // Why modems that were asked are not listed, one line each.
    QString ProbeNotes() const;
    // The device "TAPIDevice" selects: an index into ListDevices, else a device name; a
    // setting that names no device is returned as it stands, for Dial to report.
    QString SelectedDevice();

    // The number-manipulation plug-in's rewrite; unset: the number stays. It may let the
    // event loop turn while the plug-in works; nothing when the number is not to be dialled
    // (the plug-in did not answer, the user has been told, or the program is ending).
    std::function<std::optional<QString>(const QString &number)> ModifyNumber;

    // "TAPIDebug": whether the step log is shown.
    void ReadSettings();
    void ApplyLanguage(Language language) override;
    // The state label's text for a call state in the window's language.
    QString StateText(uint32_t state) const;

signals:
    void DevicesProbed();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void LineCallback(uint32_t message, uintptr_t param1, uintptr_t param2);
    QString PlaceCall(const QString &deviceName, int deviceId, const QString &number);
    QString StepError(const char *step, int32_t result) const;
    void ShowWindow();

    tapi::LineApi &FLines;
    SettingsStore &FSettings;
    ListPrompts &FPrompts;
    Language FLanguage = Language::German;
    tapi::HLineApp FLineApp = 0;
    tapi::HLine FLine = 0;
    tapi::HCall FCall = 0;
    bool FLogVisible = false;
    bool FDialing = false;

    QGroupBox *GroupBox1;
    QLabel *lblDial;
    QLabel *lblNumber;
    QPushButton *btnHangUp;
    QPlainTextEdit *Memo1;
    QTimer *Timer1;
};
