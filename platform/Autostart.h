// "Load at startup": an XDG autostart entry, corvane.desktop, per user
// ($XDG_CONFIG_HOME/autostart) or for every user of the machine (/etc/xdg/autostart).
//
// The operations keep the shape the options dialog and the settings reader expect: ask
// whether the entry is set, set or clear it, and move a machine-wide entry to the user
// once. Messages are the caller's; these only give success and a reason.
//
// A value object; any thread, though the program uses it from the main thread.
#pragma once

#include <QString>
#include <QStringList>

namespace platform {

class Autostart
{
public:
    enum class Scope
    {
        User,
        Machine,
    };

    // programPath goes into Exec=, started through env with `environment` (NAME=VALUE each)
    // when that is not empty; the directories are where the entries live (tests pass
    // temporary ones so they never touch the user's or the machine's).
    Autostart(QString programPath, QString userDirectory = DefaultUserDirectory(),
              QString machineDirectory = DefaultMachineDirectory(), QStringList environment = {});
    // For the program as it runs now: QCoreApplication::applicationFilePath() with
    // RunningEnvironment().
    Autostart();

    // The variables that choose this program's data directory and line, those that are set,
    // as NAME=VALUE: CORVANE_HOME as the absolute data directory it gives, and
    // CORVANE_CAPI_LIBRARY (a relative path made absolute). Without them the entry would
    // start a Corvane on other files and another line.
    static QStringList RunningEnvironment();

    // $XDG_CONFIG_HOME/autostart, ~/.config/autostart when unset.
    static QString DefaultUserDirectory();
    // The first directory of $XDG_CONFIG_DIRS plus /autostart, /etc/xdg/autostart when
    // unset.
    static QString DefaultMachineDirectory();

    QString EntryPath(Scope scope) const;

    // True when the entry exists, is readable and is not switched off (Hidden=true or
    // X-GNOME-Autostart-enabled=false). Any error gives false.
    bool RunKeyIsSet(Scope scope) const;
    // Writes or removes the entry. Already in the wanted state: succeeds without
    // writing. False with a reason in *error when the file cannot be written or removed
    // (the machine-wide place needs root).
    bool SetRunKey(Scope scope, bool on, QString *error = nullptr) const;
    // One-time move: remembers whether the machine-wide entry is set, removes it
    // (silently; without root that fails and the user's entry overrides it anyway), and
    // if it was set, sets the user's. False only when the user's could not be written.
    bool MoveMachineWideToUser(QString *error = nullptr) const;

    // The entry's text for a program started with `environment`.
    static QByteArray DesktopEntry(const QString &programPath, const QStringList &environment = {});
    // The arguments as the value of Exec=: each one quoted, then escaped for the desktop file.
    static QString ExecValue(const QStringList &arguments);

private:
    QString m_programPath;
    QStringList m_environment;
    QString m_userDirectory;
    QString m_machineDirectory;
};

} // namespace platform
