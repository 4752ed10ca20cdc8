#include "settings/OptionPrompts.h"

#include "lists/ListPrompts.h"

#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>

namespace {

QWidget *owner()
{
    if (QWidget *modal = QApplication::activeModalWidget()) return modal;
    return QApplication::activeWindow();
}

} // namespace

void TOptionPromptBoxes::inform(const QString &text)
{
    FBoxes.inform(text);
}

QString TOptionPromptBoxes::chooseOpenFile(const QString &title, const QString &directory,
                                           const QString &filter)
{
    if (FBoxes.Quiet) return QString();
    return QFileDialog::getOpenFileName(owner(), title, directory, filter);
}

std::optional<QColor> TOptionPromptBoxes::chooseColor(const QColor &initial)
{
    if (FBoxes.Quiet) return std::nullopt;
    const QColor color = QColorDialog::getColor(initial, owner());
    if (!color.isValid()) return std::nullopt;
    return color;
}
