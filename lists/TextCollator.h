#pragma once

#include <QCollator>
#include <QLocale>
#include <QString>

#include <vector>

// The text order of the lists: the locale's collation, case-sensitive. Sorting many rows uses
// one sort key per distinct text instead of a collator call per pair, and texts made only of
// characters whose collation order equals their code order (digits, ".", blank: the date-time
// keys and most numbers) are compared directly. That fast path is verified against the
// collator when the object is made and dropped if the locale orders those characters otherwise.
//
// Owned by the lists; main thread only.
class TextCollator
{
public:
    explicit TextCollator(const QLocale &locale = QLocale::system());

    QLocale locale() const { return FCollator.locale(); }

    // < 0, 0, > 0.
    int compare(QStringView a, QStringView b) const;

    // True when every character of the text is one of the directly comparable ones.
    bool isPlain(QStringView text) const;

    // Indexes 0..n-1 in the order of the texts, ascending or descending. Equal texts keep
    // their relative order. The views must stay valid during the call.
    std::vector<int> order(const std::vector<QStringView> &texts, bool descending) const;

private:
    QCollator FCollator;
    bool FPlainAllowed[128] = {};
};
