// Date and time formats written as in the ini files of the Windows version, on any text, for a
// few moments in two locales. A field gives at most three characters for each letter it takes
// from the format (one letter up to three digits of milliseconds, four letters a name of at
// most ten), everything else is copied or dropped: the text is at most three times as long as
// the format. The same format gives the same text twice.

#include "settings/DateTimeFormat.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QLocale locales[] = {QLocale(QStringLiteral("de_DE")),
                                      QLocale(QStringLiteral("en_US"))};
    // A day with long names (Wednesday, September), a time with every digit, the empty date.
    static const QDateTime moments[] = {
        QDateTime(QDate(2000, 9, 27), QTime(23, 59, 59, 999)),
        QDateTime(QDate(2025, 3, 7), QTime(14, 5, 9, 45)),
        QDateTime(QDate(1899, 12, 30), QTime(0, 0)),
    };
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const DateTimeFormat format = DateTimeFormat::fromIni(text);
    const DateTimeFormat again = DateTimeFormat::fromIni(text);
    for (const QLocale &locale : locales) {
        for (const QDateTime &moment : moments) {
            const QString formatted = format.format(moment, locale);
            if (formatted.size() > 3 * text.size()) __builtin_trap();
            if (again.format(moment, locale) != formatted) __builtin_trap();
        }
    }
    return 0;
}
