#pragma once

#include "lists/ListPrompts.h"

class QWidget;

// The questions of the lists as message boxes and a file chooser. Each box is owned by the
// window that is active when it opens (the modal dialog in front, if any), so it stays above
// the dialog that asks. Titles are the application's display name, except the file error box,
// which is titled "Error".
//
// Created by the main window at start-up and owned by it; main thread only.
class TPromptBoxes : public ListPrompts
{
public:
    Answer askFileError(const QString &text) override;
    bool askRestoreBackup(const QString &text) override;
    void inform(const QString &text) override;
    bool askYesNo(const QString &text) override;
    QString chooseOpenFile(const QString &directory, const QString &filter) override;

    static QString title();

private:
    static QWidget *owner();
};
