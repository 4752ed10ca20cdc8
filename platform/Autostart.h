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

namespace platform {

class Autostart
{
public:
    enum class Scope
    {
        User,
        Machine,
    };

    // programPath goes into Exec=; the directories are where the entries live (tests
    // pass temporary ones so they never touch the user's or the machine's).
    Autostart(QString programPath, QString userDirectory = DefaultUserDirectory(),
              QString machineDirectory = DefaultMachineDirectory());
    // For the running program (QCoreApplication::applicationFilePath()).
    Autostart();

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

    // The entry's text for a program.
    static QByteArray DesktopEntry(const QString &programPath);
    // programPath as one quoted argument of Exec=, escaped for the desktop file.
    static QString ExecValue(const QString &programPath);

private:
    QString m_programPath;
    QString m_userDirectory;
    QString m_machineDirectory;
};

} // namespace platform
