#pragma once

#include "phone/isdntool.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>

class TLists;

// Every text the user sees, in German and English, as data. A text is found by the window
// it belongs to and the control's name ("Beenden1", "cbPopup", "Caption" for the window
// title). Message texts live under UiForm::Messages, the program-wide words under
// UiForm::Words; both are keyed by a short name. The words stored in the lists (action and
// status words, the not-transmitted text) belong to the data layer (phone/isdntool.h).
//
// The forms are listed in the order a language switch applies them.
enum class UiForm
{
    Options,
    Main,
    Lists,
    Nick,
    Search,
    Tapi,
    About,
    Messages,
    Words
};

// The text of a control in a language; empty (and a warning) for a name without entry.
QString UiText(UiForm form, QStringView name, Language language);
bool HasUiText(UiForm form, QStringView name);
// Every name of a form, in table order (for tests and for windows that set texts by loop).
QStringList UiTextNames(UiForm form);

// Messages that carry a parameter, built in the given language.
QString DuplicateNumberText(const QString &number, const QString &nickname, Language language);
QString NicknameTooLongText(int max, Language language);
// The tray menu's monitoring item: "&Activate" while monitoring is off, else "&Deactivate".
QString ActivationText(bool inactive, Language language);

// A file-chooser filter written as "name|patterns|name|patterns" (patterns separated by ";")
// in the form QFileDialog takes: "name (p1 p2);;...". A name that already ends in a bracket
// with the patterns keeps its words and gets the patterns in Qt's form.
QString QtFileFilter(const QString &filter);

// A window whose texts follow the interface language. The window keeps the language it was
// given for the messages it shows.
class ILanguageSwitchable
{
public:
    virtual ~ILanguageSwitchable() = default;
    virtual void ApplyLanguage(Language language) = 0;
};

// The interface language of the running program: the index (0 German, 1 English, -1 before
// the first switch), the windows whose texts follow it, and the words stored in the lists.
// SetLanguage sets the activation texts of the tray menu, converts the stored words of the
// lists (and their column captions), then sets every registered window's texts in the order
// of UiForm. It does not save the
// lists; the options dialog does that when it is closed with OK after a change.
//
// Created by the main window at start-up and owned by it; main thread only. Registered
// windows that are QObjects drop out of the registry by themselves when destroyed.
class TLanguageSwitch : public QObject
{
    Q_OBJECT
public:
    explicit TLanguageSwitch(TLists *lists = nullptr, QObject *parent = nullptr);

    void SetLists(TLists *lists) { FLists = lists; }

    // A window registers once, after it is constructed (a QObject window is then watched for
    // its destruction); registering again changes nothing.
    void Register(ILanguageSwitchable *window, UiForm form);
    void Unregister(ILanguageSwitchable *window);
    bool IsRegistered(ILanguageSwitchable *window) const;

    // -1 until the first SetLanguage.
    int Index() const { return FIndex; }
    // German until the first SetLanguage (the windows are designed in German).
    Language language() const { return languageFromIndex(FIndex); }

    // Any index other than 1 counts as German. Always applies, also when the index is the
    // current one (the start-up call must set every text).
    void SetLanguage(int index);

    // The tray menu's monitoring item and the tray image: calls OnActivationTexts with the
    // caption of the current language. Nothing happens while the hook is not set (before the
    // main window and the options dialog exist).
    void SetActivationTexts(bool inactive);
    std::function<void(const QString &caption, bool inactive)> OnActivationTexts;
    // Asked by SetLanguage for the monitoring state; without it the activation texts are
    // left alone.
    std::function<bool()> MonitoringInactive;

signals:
    void languageChanged(Language language);

private:
    struct Entry
    {
        ILanguageSwitchable *window;
        UiForm form;
    };

    TLists *FLists;
    int FIndex = -1;
    QList<Entry> FWindows;
};
