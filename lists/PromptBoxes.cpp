#include "lists/PromptBoxes.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

QString TPromptBoxes::title()
{
    const QString name = QGuiApplication::applicationDisplayName();
    return name.isEmpty() ? QStringLiteral("Corvane") : name;
}

QWidget *TPromptBoxes::owner()
{
    if (QWidget *modal = QApplication::activeModalWidget()) return modal;
    return QApplication::activeWindow();
}

ListPrompts::Answer TPromptBoxes::askFileError(const QString &text)
{
    if (Quiet) {
        qWarning("%s", qPrintable(text));
        return Answer::Ignore;
    }
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), text,
                    QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore, owner());
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Abort);
    switch (box.exec()) {
    case QMessageBox::Retry:
        return Answer::Retry;
    case QMessageBox::Ignore:
        return Answer::Ignore;
    default:
        return Answer::Abort;
    }
}

bool TPromptBoxes::askRestoreBackup(const QString &text)
{
    return askYesNo(text);
}

void TPromptBoxes::inform(const QString &text)
{
    if (Quiet) {
        qWarning("%s", qPrintable(text));
        return;
    }
    QMessageBox box(QMessageBox::Information, title(), text, QMessageBox::Ok, owner());
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool TPromptBoxes::askYesNo(const QString &text)
{
    if (Quiet) return false;
    QMessageBox box(QMessageBox::Question, title(), text, QMessageBox::Yes | QMessageBox::No,
                    owner());
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

QString TPromptBoxes::chooseOpenFile(const QString &directory, const QString &filter)
{
    if (Quiet) return QString();
    return QFileDialog::getOpenFileName(owner(), QString(), directory, filter);
}
