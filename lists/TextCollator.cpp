#include "lists/TextCollator.h"

#include <QHash>

#include <algorithm>
#include <cstring>

namespace {

// The characters tried for the fast path, in code order.
constexpr char PlainCandidates[] = " .0123456789";

// The first sixteen characters of a plain text packed big-endian into two words, so that
// almost every comparison is an integer comparison. A shorter text packs zeros and sorts first,
// as it should.
struct Packed
{
    quint64 high = 0;
    quint64 low = 0;
    bool operator==(const Packed &) const = default;
    bool operator<(const Packed &o) const { return high != o.high ? high < o.high : low < o.low; }
};

// False when the text has a character that is not plain.
bool pack(QStringView text, const bool (&allowed)[128], Packed *packed)
{
    const qsizetype n = text.size();
    const char16_t *p = text.utf16();
    quint64 words[2] = {0, 0};
    for (qsizetype i = 0; i < 16; ++i) {
        quint64 c = 0;
        if (i < n) {
            c = p[i];
            if (c >= 128 || !allowed[c]) return false;
        }
        words[i >> 3] = (words[i >> 3] << 8) | c;
    }
    for (qsizetype i = 16; i < n; ++i) {
        if (p[i] >= 128 || !allowed[p[i]]) return false;
    }
    *packed = {words[0], words[1]};
    return true;
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
        const QString a{QChar(PlainCandidates[i])};
        ok = FCollator.compare(QString(), a) < 0;
        for (qsizetype j = i + 1; ok && j < n; ++j) {
            const QString b{QChar(PlainCandidates[j])};
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
        if (u >= 128 || !FPlainAllowed[u]) return false;
    }
    return true;
}

int TextCollator::compare(QStringView a, QStringView b) const
{
    if (isPlain(a) && isPlain(b)) return a.compare(b);
    return FCollator.compare(a, b);
}

namespace {

// Sorts indexes by a strict weak order `less` of the rows, keeping equal rows in their order.
// Lists arrive mostly sorted one way or the other (files are written in key order), so both
// cases are found in one pass: the reverse order is the reversed list with each run of equal
// rows turned back.
template <class Less> void stableOrder(std::vector<int> &order, const Less &less)
{
    if (std::is_sorted(order.begin(), order.end(), less)) return;
    const auto greater = [&less](int a, int b) { return less(b, a); };
    if (std::is_sorted(order.begin(), order.end(), greater)) {
        std::reverse(order.begin(), order.end());
        auto run = order.begin();
        while (run != order.end()) {
            auto next = run + 1;
            while (next != order.end() && !less(*run, *next))
                ++next;
            std::reverse(run, next);
            run = next;
        }
        return;
    }
    std::stable_sort(order.begin(), order.end(), less);
}

} // namespace

std::vector<int> TextCollator::order(const std::vector<QStringView> &texts, bool descending) const
{
    const int count = int(texts.size());
    std::vector<int> result(texts.size());
    for (int i = 0; i < count; ++i)
        result[size_t(i)] = i;
    if (count < 2) return result;

    // Packing the plain texts and finding out whether all are plain is one pass.
    std::vector<Packed> prefix(texts.size());
    bool plain = true;
    for (size_t i = 0; plain && i < texts.size(); ++i) {
        plain = pack(texts[i], FPlainAllowed, &prefix[i]);
    }

    if (plain) {
        const auto less = [&](int a, int b) {
            const size_t x = size_t(a), y = size_t(b);
            if (!(prefix[x] == prefix[y])) return (prefix[x] < prefix[y]) != descending;
            if (texts[x].size() <= 16 && texts[y].size() <= 16) return false;
            const int c = texts[x].compare(texts[y]);
            return descending ? c > 0 : c < 0;
        };
        stableOrder(result, less);
        return result;
    }

    // One collator key per distinct text (names, towns and states repeat a lot), then one
    // rank per key, so that rows compare small integers.
    QHash<QStringView, int> keyIndex;
    std::vector<QCollatorSortKey> keys;
    std::vector<int> keyOf(texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        auto it = keyIndex.constFind(texts[i]);
        if (it == keyIndex.constEnd()) {
            it = keyIndex.insert(texts[i], int(keys.size()));
            keys.push_back(FCollator.sortKey(texts[i].toString()));
        }
        keyOf[i] = *it;
    }
    std::vector<int> byKey(keys.size());
    for (size_t k = 0; k < keys.size(); ++k)
        byKey[k] = int(k);
    std::sort(byKey.begin(), byKey.end(),
              [&keys](int x, int y) { return keys[size_t(x)].compare(keys[size_t(y)]) < 0; });
    std::vector<int> rank(keys.size());
    for (size_t r = 0; r < byKey.size(); ++r) {
        const bool same = r > 0 && keys[size_t(byKey[r])].compare(keys[size_t(byKey[r - 1])]) == 0;
        rank[size_t(byKey[r])] = same ? rank[size_t(byKey[r - 1])] : int(r);
    }
    std::vector<int> rowRank(texts.size());
    for (size_t i = 0; i < texts.size(); ++i)
        rowRank[i] = rank[size_t(keyOf[i])];
    const auto less = [&](int a, int b) {
        return descending ? rowRank[size_t(a)] > rowRank[size_t(b)]
                          : rowRank[size_t(a)] < rowRank[size_t(b)];
    };
    stableOrder(result, less);
    return result;
}
