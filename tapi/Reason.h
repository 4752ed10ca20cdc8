// Why a line device cannot be used or an operation on it failed, told in the user's language.
#pragma once

#include "phone/isdntool.h"

#include <QString>
#include <QStringList>

namespace tapi {

// A text of the dial window's table (UiForm::Tapi in lists/lang.cpp) with its arguments, kept
// apart so that the line layer needs no language and the window tells it in its own.
struct Reason
{
    QString key;      // empty: no reason
    QStringList args; // at most two

    bool isEmpty() const { return key.isEmpty(); }
    // The text with %1, %2, ... filled in.
    QString text(Language language) const;
};

} // namespace tapi
