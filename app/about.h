// The about window: maker, product, version and the state of the ISDN line, and on Wayland
// what the popup cannot do there. It closes itself four seconds after it is shown. Created at
// start-up, owned by the program's entry; main thread.
#pragma once

#include "lists/lang.h"

#include <QDialog>
#include <QTimer>

class QLabel;

class TAboutBox : public QDialog, public ILanguageSwitchable
{
    Q_OBJECT

public:
    explicit TAboutBox(QWidget *parent = nullptr);

    void ApplyLanguage(Language language) override;

    // "Tremlow Corvane", or that and the reason the line cannot be used.
    void SetProductLine(const QString &text);
    // Appends " DEBUG" to the version line (setting "Debug").
    void SetDebug(bool debug);
    // Shows the window modally until it closes itself or the user closes it.
    void ShowModal(const QString &productLine);
    // Shows the note on what cannot work on the display platform the program runs on.
    void SetPlatformNote(bool shown);

    int CloseAfterMs = 4000;

protected:
    void showEvent(QShowEvent *event) override;

private:
    QLabel *FProduct;
    QLabel *FVersion;
    QLabel *FPlatformNote;
    QTimer FTimer;
};
