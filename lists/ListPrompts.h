#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The questions the lists ask the user: the list files, the lists dialog and the nickname
// editor. The windows answer them with message boxes and file choosers (TPromptBoxes); tests
// answer them in advance. Used from the main thread.
class ListPrompts
{
public:
    enum class Answer
    {
        Abort,
        Retry,
        Ignore
    };

    virtual ~ListPrompts() = default;

    // A box titled "Error" with the error icon and the buttons Abort, Retry and Ignore.
    virtual Answer askFileError(const QString &text) = 0;
    // A Yes/No question titled with the application title: restore the backup?
    virtual bool askRestoreBackup(const QString &text) = 0;
    // An information box titled with the application title.
    virtual void inform(const QString &text) = 0;
    // A Yes/No question with the question icon, titled with the application title.
    virtual bool askYesNo(const QString &text) = 0;
    // A file chooser for an existing file, starting in the directory; filter in Qt's form
    // ("Wave (*.wav)"). Empty when the user cancels.
    virtual QString chooseOpenFile(const QString &directory, const QString &filter) = 0;

    // While set (the program is closing), no window is opened: a file error is ignored,
    // questions get No, messages go to the debug output.
    bool Quiet = false;
};

// Answers prepared in advance, for tests and for running without a screen. Every question
// and message is recorded; a question without a prepared answer gets Abort or No, a file
// chooser without a prepared file is cancelled.
class ScriptedPrompts : public ListPrompts
{
public:
    QList<Answer> fileErrorAnswers;
    QList<bool> restoreAnswers;
    QList<bool> yesNoAnswers;
    QStringList chosenFiles;

    QStringList fileErrors;
    QStringList restoreQuestions;
    QStringList messages;
    QStringList questions;
    QStringList fileChooserDirectories;

    Answer askFileError(const QString &text) override
    {
        fileErrors.append(text);
        return fileErrorAnswers.isEmpty() ? Answer::Abort : fileErrorAnswers.takeFirst();
    }
    bool askRestoreBackup(const QString &text) override
    {
        restoreQuestions.append(text);
        return restoreAnswers.isEmpty() ? false : restoreAnswers.takeFirst();
    }
    void inform(const QString &text) override { messages.append(text); }
    bool askYesNo(const QString &text) override
    {
        questions.append(text);
        return yesNoAnswers.isEmpty() ? false : yesNoAnswers.takeFirst();
    }
    QString chooseOpenFile(const QString &directory, const QString &) override
    {
        fileChooserDirectories.append(directory);
        return chosenFiles.isEmpty() ? QString() : chosenFiles.takeFirst();
    }
};
