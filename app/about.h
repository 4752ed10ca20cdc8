// The about window: maker, product, version and the state of the ISDN line. It closes
// itself four seconds after it is shown. Created at start-up, owned by the program's
// entry; main thread.
#pragma once

#include <QDialog>
#include <QTimer>

class QLabel;

class TAboutBox : public QDialog
{
    Q_OBJECT

public:
    explicit TAboutBox(QWidget *parent = nullptr);

    // "Tremlow Corvane", or that and the reason the line cannot be used.
    void SetProductLine(const QString &text);
    // Appends " DEBUG" to the version line (setting "Debug").
    void SetDebug(bool debug);
    // Shows the window modally until it closes itself or the user closes it.
    void ShowModal(const QString &productLine);

    int CloseAfterMs = 4000;

protected:
    void showEvent(QShowEvent *event) override;

private:
    QLabel *FProduct;
    QLabel *FVersion;
    QTimer FTimer;
};
