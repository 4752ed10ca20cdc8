// How the options dialog reaches the rest of the program: the popup's look, the tray icons,
// the language of every window, and the writing and reading of all settings.
#pragma once

#include <functional>

class TLanguageSwitch;
class TMainForm;
class TOptDlg;

// Sets the dialog's hooks to the main window and the language switch, registers the dialog
// for language changes and lets the tray menu and "/o" open it. readSettings reads every
// setting and applies it to every window (as at start-up); a cancelled dialog runs it, but
// the popup keeps the place the user gave it.
void LinkOptionsDialog(TOptDlg &options, TMainForm &mainForm, TLanguageSwitch &language,
                       std::function<void()> readSettings);
