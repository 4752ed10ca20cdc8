#include "lists/TextCollator.h"

#include <QHash>

#include <algorithm>
#include <cstring>

namespace {

// The characters tried for the fast path, in code order.
constexpr char PlainCandidates[] = " .0123456789";

// The first eight characters packed big-endian, so that most comparisons of plain texts are
// one integer comparison. A shorter text packs zeros and sorts first, as it should.
quint64 packPrefix(QStringView text)
{
    quint64 packed = 0;
    for (qsizetype i = 0; i < 8; ++i)
        packed = (packed << 8) | (i < text.size() ? quint64(text[i].unicode()) : 0);
    return packed;
}

} // namespace

TextCollator::TextCollator(const QLocale &locale) : FCollator(locale)
{
    FCollator.setCaseSensitivity(Qt::CaseSensitive);
    FCollator.setNumericMode(false);
    FCollator.setIgnorePunctuation(false);

    // Every candidate must sort after the one before it, alone and inside a text (which
    // would show an ignorable character), and after the empty text.
    bool ok = true;
    const qsizetype n = qsizetype(std::strlen(PlainCandidates));
    for (qsizetype i = 0; ok && i < n; ++i) {
        const QString a(QChar(PlainCandidates[i]));
        ok = FCollator.compare(QString(), a) < 0;
        for (qsizetype j = i + 1; ok && j < n; ++j) {
            const QString b(QChar(PlainCandidates[j]));
            ok = FCollator.compare(a, b) < 0 &&
                 FCollator.compare(u'1' + a + u'9', u'1' + b + u'0') < 0 &&
                 FCollator.compare(a + a, a + b) < 0;
        }
    }
    if (ok) {
        for (qsizetype i = 0; i < n; ++i)
            FPlainAllowed[int(PlainCandidates[i])] = true;
    }
}

bool TextCollator::isPlain(QStringView text) const
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= 128 || !FPlainAllowed[u])
            return false;
    }
    return true;
}

int TextCollator::compare(QStringView a, QStringView b) const
{
    if (isPlain(a) && isPlain(b))
        return a.compare(b);
    return FCollator.compare(a, b);
}

std::vector<int> TextCollator::order(int count, const std::function<QString(int)> &text,
                                     bool descending) const
{
    std::vector<int> result(size_t(std::max(count, 0)));
    for (int i = 0; i < count; ++i)
        result[size_t(i)] = i;
    if (count < 2)
        return result;

    std::vector<QString> texts(result.size());
    bool plain = true;
    for (int i = 0; i < count; ++i) {
        texts[size_t(i)] = text(i);
        plain = plain && isPlain(texts[size_t(i)]);
    }

    if (plain) {
        struct Entry
        {
            quint64 prefix;
            int index;
        };
        std::vector<Entry> entries(result.size());
        for (int i = 0; i < count; ++i)
            entries[size_t(i)] = {packPrefix(texts[size_t(i)]), i};
        auto less = [&texts](const Entry &x, const Entry &y) {
            if (x.prefix != y.prefix)
                return x.prefix < y.prefix;
            return texts[size_t(x.index)] < texts[size_t(y.index)];
        };
        auto ordered = [&](const Entry &x, const Entry &y) {
            return descending ? less(y, x) : less(x, y);
        };
        // Lists are mostly sorted already (the files are written in key order).
        if (!std::is_sorted(entries.begin(), entries.end(), ordered))
            std::stable_sort(entries.begin(), entries.end(), ordered);
        for (int i = 0; i < count; ++i)
            result[size_t(i)] = entries[size_t(i)].index;
        return result;
    }

    // One collator key per distinct text; names, towns and states repeat a lot.
    QHash<QString, int> keyIndex;
    std::vector<QCollatorSortKey> keys;
    std::vector<int> keyOf(result.size());
    for (int i = 0; i < count; ++i) {
        const QString &t = texts[size_t(i)];
        auto it = keyIndex.constFind(t);
        if (it == keyIndex.constEnd()) {
            it = keyIndex.insert(t, int(keys.size()));
            keys.push_back(FCollator.sortKey(t));
        }
        keyOf[size_t(i)] = *it;
    }
    // Rank the distinct keys once; rows then compare small integers.
    std::vector<int> byKey(keys.size());
    for (size_t k = 0; k < keys.size(); ++k)
        byKey[k] = int(k);
    std::sort(byKey.begin(), byKey.end(),
              [&keys](int x, int y) { return keys[size_t(x)].compare(keys[size_t(y)]) < 0; });
    std::vector<int> rank(keys.size());
    for (size_t r = 0; r < byKey.size(); ++r) {
        const bool same =
            r > 0 && keys[size_t(byKey[r])].compare(keys[size_t(byKey[r - 1])]) == 0;
        rank[size_t(byKey[r])] = same ? rank[size_t(byKey[r - 1])] : int(r);
    }
    auto ordered = [&](int x, int y) {
        const int rx = rank[size_t(keyOf[size_t(x)])];
        const int ry = rank[size_t(keyOf[size_t(y)])];
        return descending ? ry < rx : rx < ry;
    };
    if (!std::is_sorted(result.begin(), result.end(), ordered))
        std::stable_sort(result.begin(), result.end(), ordered);
    return result;
}
