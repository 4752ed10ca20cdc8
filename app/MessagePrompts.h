// The questions and messages of the list files and the main window, as message boxes
// titled with the application's title. Owned by the program's entry; main thread.
#pragma once

#include "lists/ListPrompts.h"

class MessagePrompts : public ListPrompts
{
public:
    Answer askFileError(const QString &text) override;
    bool askRestoreBackup(const QString &text) override;
    void inform(const QString &text) override;
};
