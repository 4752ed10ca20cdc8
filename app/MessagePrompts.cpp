#include "app/MessagePrompts.h"

#include <QApplication>
#include <QMessageBox>

namespace {

QMessageBox *box(QMessageBox::Icon icon, const QString &title, const QString &text)
{
    auto *message = new QMessageBox(icon, title, text);
    message->setTextFormat(Qt::PlainText);
    message->setAttribute(Qt::WA_DeleteOnClose, false);
    return message;
}

} // namespace

ListPrompts::Answer MessagePrompts::askFileError(const QString &text)
{
    std::unique_ptr<QMessageBox> message(box(QMessageBox::Critical, QStringLiteral("Error"), text));
    message->setStandardButtons(QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore);
    switch (message->exec()) {
    case QMessageBox::Retry:
        return Answer::Retry;
    case QMessageBox::Ignore:
        return Answer::Ignore;
    default:
        return Answer::Abort;
    }
}

bool MessagePrompts::askRestoreBackup(const QString &text)
{
    std::unique_ptr<QMessageBox> message(
        box(QMessageBox::Question, QApplication::applicationDisplayName(), text));
    message->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    return message->exec() == QMessageBox::Yes;
}

void MessagePrompts::inform(const QString &text)
{
    std::unique_ptr<QMessageBox> message(
        box(QMessageBox::Information, QApplication::applicationDisplayName(), text));
    message->exec();
}
