#pragma once

#include <QColor>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class ListPrompts;

// The questions the options dialog asks: its messages, its file choosers (titled) and the
// colour chooser. The program answers them with message boxes and Qt's choosers
// (TOptionPromptBoxes); tests answer them in advance. Main thread only.
class OptionPrompts
{
public:
    virtual ~OptionPrompts() = default;

    // An information box titled with the application title.
    virtual void inform(const QString &text) = 0;
    // A chooser for an existing file, starting in the directory; filter in Qt's form. Empty
    // when the user cancels.
    virtual QString chooseOpenFile(const QString &title, const QString &directory,
                                   const QString &filter) = 0;
    // Nothing when the user cancels.
    virtual std::optional<QColor> chooseColor(const QColor &initial) = 0;
};

// Answers prepared in advance, for tests. Every message and chooser is recorded; a chooser
// without a prepared answer is cancelled.
class ScriptedOptionPrompts : public OptionPrompts
{
public:
    QStringList chosenFiles;
    QList<QColor> chosenColors;

    QStringList messages;
    QStringList fileChooserTitles;
    QStringList fileChooserDirectories;
    QStringList fileChooserFilters;

    void inform(const QString &text) override { messages.append(text); }
    QString chooseOpenFile(const QString &title, const QString &directory,
                           const QString &filter) override
    {
        fileChooserTitles.append(title);
        fileChooserDirectories.append(directory);
        fileChooserFilters.append(filter);
        return chosenFiles.isEmpty() ? QString() : chosenFiles.takeFirst();
    }
    std::optional<QColor> chooseColor(const QColor &) override
    {
        if (chosenColors.isEmpty()) return std::nullopt;
        return chosenColors.takeFirst();
    }
};

// The questions as the program's windows: messages go through the lists' message boxes (so
// that the program's closing silences both), choosers are Qt's file and colour dialogs above
// the window in front.
class TOptionPromptBoxes : public OptionPrompts
{
public:
    explicit TOptionPromptBoxes(ListPrompts &boxes) : FBoxes(boxes) {}

    void inform(const QString &text) override;
    QString chooseOpenFile(const QString &title, const QString &directory,
                           const QString &filter) override;
    std::optional<QColor> chooseColor(const QColor &initial) override;

private:
    ListPrompts &FBoxes;
};
