#include "tapi/Reason.h"

#include "lists/lang.h"

namespace tapi {

QString Reason::text(Language language) const
{
    if (isEmpty()) return QString();
    const QString text = UiText(UiForm::Tapi, key, language);
    // In one go: a path holding "%2" must stay as it is.
    switch (args.size()) {
    case 0:
        return text;
    case 1:
        return text.arg(args.at(0));
    default:
        return text.arg(args.at(0), args.at(1));
    }
}

} // namespace tapi
