#include "lists/nick.h"

#include "lists/ListPrompts.h"
#include "lists/lists.h"
#include "platform/Sound.h"
#include "settings/SettingsStore.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

template <class W> W *named(W *widget, const char *name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

} // namespace

TNickForm::TNickForm(TLists &lists, QWidget *parent)
    : QDialog(parent), FLists(lists), FLanguage(lists.language()),
      FSound(std::make_unique<platform::Sound>())
{
    setObjectName(QStringLiteral("NickForm"));
    setModal(true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    lbNick = named(new QLabel(this), "lbNick");
    lbNumber = named(new QLabel(this), "lbNumber");
    lbSound = named(new QLabel(this), "lbSound");
    for (QLabel *label : {lbNick, lbNumber, lbSound})
        label->setTextFormat(Qt::PlainText);
    edNick = named(new QLineEdit(this), "edNick");
    edNick->setMaxLength(MaxNicknameLength);
    // The room a longer prefilled name takes is given back as the user shortens it.
    connect(edNick, &QLineEdit::textEdited, this, [this](const QString &text) {
        edNick->setMaxLength(std::max(MaxNicknameLength, int(text.size())));
    });
    edNumber = named(new QLineEdit(this), "edNumber");
    edSound = named(new QLineEdit(this), "edSound");
    lbNick->setBuddy(edNick);
    lbNumber->setBuddy(edNumber);
    lbSound->setBuddy(edSound);
    // The path is often longer than the field.
    connect(edSound, &QLineEdit::textChanged, edSound, &QLineEdit::setToolTip);

    OBtn = named(new QToolButton(this), "OBtn");
    OBtn->setText(QStringLiteral("\u2026"));
    btnPlay = named(new QToolButton(this), "btnPlay");
    btnPlay->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
    connect(OBtn, &QToolButton::clicked, this, &TNickForm::OBtnClick);
    connect(btnPlay, &QToolButton::clicked, this, &TNickForm::btnPlayClick);

    gbActions = named(new QGroupBox(this), "gbActions");
    cbPopup = named(new QCheckBox(gbActions), "cbPopup");
    cbLog = named(new QCheckBox(gbActions), "cbLog");
    cbReject = named(new QCheckBox(gbActions), "cbReject");
    cbRejectNotSub = named(new QCheckBox(gbActions), "cbRejectNotSub");
    connect(cbReject, &QCheckBox::clicked, this, &TNickForm::cbRejectClick);
    connect(cbRejectNotSub, &QCheckBox::clicked, this, &TNickForm::cbRejectNotSubClick);
    auto *boxes = new QGridLayout(gbActions);
    boxes->addWidget(cbPopup, 0, 0);
    boxes->addWidget(cbLog, 0, 1);
    boxes->addWidget(cbReject, 1, 0);
    boxes->addWidget(cbRejectNotSub, 1, 1);

    auto *buttons = new QDialogButtonBox(this);
    OKBtn = named(buttons->addButton(QString(), QDialogButtonBox::AcceptRole), "OKBtn");
    CancelBtn = named(buttons->addButton(QString(), QDialogButtonBox::RejectRole), "CancelBtn");
    OKBtn->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &TNickForm::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &TNickForm::reject);

    auto *fields = new QGridLayout;
    fields->addWidget(lbNick, 0, 0);
    fields->addWidget(edNick, 0, 1, 1, 3);
    fields->addWidget(lbNumber, 1, 0);
    fields->addWidget(edNumber, 1, 1, 1, 3);
    fields->addWidget(lbSound, 2, 0);
    fields->addWidget(edSound, 2, 1);
    fields->addWidget(OBtn, 2, 2);
    fields->addWidget(btnPlay, 2, 3);
    fields->setColumnStretch(1, 1);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addWidget(gbActions);
    layout->addWidget(buttons);
    setMinimumWidth(465);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    Reset();
    ApplyLanguage(FLanguage);
}

TNickForm::~TNickForm() = default;

bool TNickForm::Open(Mode mode)
{
    FMode = mode;
    ApplyModeTexts();
    return exec() == QDialog::Accepted;
}

void TNickForm::Reset()
{
    EditingIndex = -1;
    SetNickname(QString());
    edNumber->clear();
    edSound->clear();
    cbLog->setChecked(true);
    cbPopup->setChecked(true);
    cbReject->setChecked(false);
    cbRejectNotSub->setChecked(false);
    cbReject->setEnabled(true);
    cbRejectNotSub->setEnabled(true);
}

void TNickForm::SetEntry(const QString &nickname, const QString &number, const QString &sound,
                         const QString &action)
{
    SetNickname(nickname);
    edNumber->setText(number);
    edSound->setText(sound);
    cbLog->setChecked(HasStoreFlag(action));
    cbPopup->setChecked(HasPopupFlag(action));
    cbReject->setChecked(HasRejectAllFlag(action));
    cbRejectNotSub->setChecked(HasRejectNotSubmittedFlag(action));
    cbReject->setEnabled(true);
    cbRejectNotSub->setEnabled(true);
}

void TNickForm::SetNickname(const QString &nickname)
{
    // Typing stops at the limit, but a longer name given here is shown whole, so that OK
    // can say it is too long instead of the field cutting it silently.
    edNick->setMaxLength(std::max(MaxNicknameLength, int(nickname.size())));
    edNick->setText(nickname);
}

void TNickForm::Prefill(const QString &nickname, const QString &number)
{
    Reset();
    SetNickname(nickname);
    SetNumber(number);
    Prefilled = true;
}

void TNickForm::SetNumber(const QString &number)
{
    edNumber->setText(number);
}

void TNickForm::SetSound(const QString &sound)
{
    edSound->setText(sound);
}

QString TNickForm::Nickname() const
{
    return edNick->text();
}

QString TNickForm::Number() const
{
    return edNumber->text();
}

QString TNickForm::Sound() const
{
    return edSound->text();
}

QString TNickForm::ActionText() const
{
    return FLists.BuildActionText(cbLog->isChecked(), cbPopup->isChecked(), cbReject->isChecked(),
                                  cbRejectNotSub->isChecked());
}

void TNickForm::SetRejectNotSubVisible(bool visible)
{
    cbRejectNotSub->setVisible(visible);
}

bool TNickForm::CheckInput()
{
    const QString nickname = edNick->text();
    const QString number = edNumber->text();
    QString message;
    if (nickname.isEmpty() || number.isEmpty()) {
        message = UiText(UiForm::Messages, u"EditorEmpty", FLanguage);
    } else if (nickname.contains(u';') || number.contains(u';')) {
        message = UiText(UiForm::Messages, u"EditorSemicolon", FLanguage);
    } else if (nickname.size() > MaxNicknameLength) {
        message = NicknameTooLongText(MaxNicknameLength, FLanguage);
    } else if (FMode == Mode::Nickname) {
        const TNickList &nicks = FLists.nicks();
        for (int i = 0; i < nicks.count() && message.isEmpty(); ++i) {
            if (i != EditingIndex && nicks.row(i).number == number)
                message = DuplicateNumberText(number, nicks.row(i).nickname, FLanguage);
        }
    } else {
        const TMsnList &msns = FLists.msns();
        for (int i = 0; i < msns.count() && message.isEmpty(); ++i) {
            if (i != EditingIndex && msns.row(i).msn == number)
                message = DuplicateNumberText(number, msns.row(i).nickname, FLanguage);
        }
    }
    if (message.isEmpty()) return true;
    FLists.prompts().inform(message);
    return false;
}

void TNickForm::accept()
{
    if (CheckInput()) QDialog::accept();
}

void TNickForm::done(int result)
{
    FSound->Stop();
    QDialog::done(result);
}

void TNickForm::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    edNick->setFocus();
}

void TNickForm::OBtnClick()
{
    SettingsStore &settings = FLists.settings();
    const QString file = FLists.prompts().chooseOpenFile(
        settings.settings.lastWavePath,
        QtFileFilter(UiText(UiForm::Nick, u"SoundFilter", FLanguage)));
    if (file.isEmpty()) return;
    const QFileInfo info(file);
    edSound->setText(info.absoluteFilePath());
    settings.writeLastWavePath(info.absolutePath() + u'/');
}

void TNickForm::btnPlayClick()
{
    if (!edSound->text().isEmpty()) FSound->Play(edSound->text());
}

void TNickForm::cbRejectClick(bool checked)
{
    if (checked) cbRejectNotSub->setChecked(false);
    cbRejectNotSub->setEnabled(!checked);
}

void TNickForm::cbRejectNotSubClick(bool checked)
{
    if (checked) cbReject->setChecked(false);
    cbReject->setEnabled(!checked);
}

void TNickForm::ApplyModeTexts()
{
    if (FMode == Mode::Nickname) {
        const QStringList captions = nickColumnCaptions(FLanguage);
        setWindowTitle(captions.at(NickRow::Nickname));
        lbNumber->setText(captions.at(NickRow::Number));
    } else {
        const QString msn = msnColumnCaptions(FLanguage).at(MsnRow::Msn);
        setWindowTitle(msn);
        lbNumber->setText(msn);
    }
}

void TNickForm::ApplyLanguage(Language language)
{
    FLanguage = language;
    setWindowTitle(UiText(UiForm::Nick, u"Caption", language));
    lbNick->setText(UiText(UiForm::Nick, u"lbNick", language));
    lbNumber->setText(UiText(UiForm::Nick, u"lbNumber", language));
    lbSound->setText(UiText(UiForm::Nick, u"lbSound", language));
    OKBtn->setText(UiText(UiForm::Nick, u"OKBtn", language));
    CancelBtn->setText(UiText(UiForm::Nick, u"CancelBtn", language));
    cbLog->setText(UiText(UiForm::Nick, u"cbLog", language));
    cbPopup->setText(UiText(UiForm::Nick, u"cbPopup", language));
    cbReject->setText(UiText(UiForm::Nick, u"cbReject", language));
    cbRejectNotSub->setText(UiText(UiForm::Nick, u"cbRejectNotSub", language));
    if (isVisible()) ApplyModeTexts();
}
