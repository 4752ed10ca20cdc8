#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The questions the list files ask the user. The windows answer them with message boxes;
// tests answer them in advance. Used from the main thread.
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
};

// Answers prepared in advance, for tests and for running without a screen. Every question
// and message is recorded; a question without a prepared answer gets Abort or No.
class ScriptedPrompts : public ListPrompts
{
public:
    QList<Answer> fileErrorAnswers;
    QList<bool> restoreAnswers;

    QStringList fileErrors;
    QStringList restoreQuestions;
    QStringList messages;

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
};
