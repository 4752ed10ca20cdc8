#pragma once

#include "lists/lang.h"

#include <QDialog>

#include <memory>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class TLists;
namespace platform {
class Sound;
}

// The editor of one nickname or MSN entry: name, number, sound file and the four action
// flags. The lists dialog fills it, opens it in one mode and, after OK, reads the fields back
// and writes the row; the editor never changes a list itself. OK is refused, with a message,
// while a field is empty, contains ";", the nickname is too long, or another entry of the
// same list already has the number.
//
// Created at start-up (before the lists dialog) and owned by the main window; main thread
// only. The lists must outlive it.
class TNickForm : public QDialog, public ILanguageSwitchable
{
    Q_OBJECT
public:
    enum class Mode
    {
        Nickname,
        Msn
    };
    static constexpr int MaxNicknameLength = 45;

    explicit TNickForm(TLists &lists, QWidget *parent = nullptr);
    ~TNickForm() override;

    // Opens modally; title and number label follow the mode, which also picks the list the
    // number must be new in. True when closed with OK.
    bool Open(Mode mode);
    Mode mode() const { return FMode; }

    // A new entry: no editing index, empty fields, log and popup checked, no reject flag.
    void Reset();
    // An existing entry: the fields, and the boxes from the flags of the action text.
    void SetEntry(const QString &nickname, const QString &number, const QString &sound,
                  const QString &action);
    // A name longer than the field allows is kept whole (OK then refuses it with the length
    // message).
    void SetNickname(const QString &nickname);
    void SetNumber(const QString &number);
    void SetSound(const QString &sound);
    QString Nickname() const;
    QString Number() const;
    QString Sound() const;
    // The action text of the four boxes, in the language of the lists.
    QString ActionText() const;
    // The reject-without-number box is offered for MSN entries only.
    void SetRejectNotSubVisible(bool visible);

    // The row being edited in the mode's list; -1 for a new entry. Skipped by the duplicate
    // check.
    int EditingIndex = -1;
    // The fields were filled by a caller (the popup, a take-over from the call list); the
    // lists dialog's New keeps them.
    bool Prefilled = false;
    // A new entry with the name (may be empty) and number filled in and the default boxes,
    // whatever entry was edited before; marks the editor prefilled.
    void Prefill(const QString &nickname, const QString &number);

    // The checks of OK in their order; the first that fails shows its message. Empty,
    // semicolon, length, duplicate number.
    bool CheckInput();

    void ApplyLanguage(Language language) override;
    Language language() const { return FLanguage; }

    platform::Sound &sound() { return *FSound; }

public slots:
    void accept() override;

protected:
    void done(int result) override;
    void showEvent(QShowEvent *event) override;

private:
    void OBtnClick();
    void btnPlayClick();
    void cbRejectClick(bool checked);
    void cbRejectNotSubClick(bool checked);
    void ApplyModeTexts();

    TLists &FLists;
    Mode FMode = Mode::Nickname;
    Language FLanguage;
    std::unique_ptr<platform::Sound> FSound;

    QLabel *lbNick;
    QLabel *lbNumber;
    QLabel *lbSound;
    QLineEdit *edNick;
    QLineEdit *edNumber;
    QLineEdit *edSound;
    QToolButton *OBtn;
    QToolButton *btnPlay;
    QGroupBox *gbActions;
    QCheckBox *cbPopup;
    QCheckBox *cbLog;
    QCheckBox *cbReject;
    QCheckBox *cbRejectNotSub;
    QPushButton *OKBtn;
    QPushButton *CancelBtn;
};
