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

    // Rank the texts once; rows then sort by rank. Plain texts rank by their codes; only the
    // others need collator keys, one per distinct text (names, towns and states repeat a
    // lot), and each finds its place among the plain ones by a binary search with the
    // collator. So a column of numbers with a few "-not transmitted-" rows stays fast.
    std::vector<int> plainRows;
    std::vector<int> otherRows;
    for (int i = 0; i < count; ++i)
        (isPlain(texts[size_t(i)]) ? plainRows : otherRows).push_back(i);
    stableOrder(plainRows,
                [&texts](int a, int b) { return texts[size_t(a)].compare(texts[size_t(b)]) < 0; });

    QHash<QStringView, int> distinctIndex;
    std::vector<int> distinctOf(result.size(), -1);
    std::vector<int> distinctRow; // a row holding each distinct text
    for (int i : otherRows) {
        const QStringView t = texts[size_t(i)];
        auto it = distinctIndex.constFind(t);
        if (it == distinctIndex.constEnd()) {
            it = distinctIndex.insert(t, int(distinctRow.size()));
            distinctRow.push_back(i);
        }
        distinctOf[size_t(i)] = *it;
    }
    std::vector<QCollatorSortKey> keys;
    keys.reserve(distinctRow.size());
    for (int i : distinctRow)
        keys.push_back(FCollator.sortKey(texts[size_t(i)].toString()));
    std::vector<int> others(distinctRow.size());
    for (size_t k = 0; k < others.size(); ++k)
        others[k] = int(k);
    std::sort(others.begin(), others.end(),
              [&keys](int x, int y) { return keys[size_t(x)].compare(keys[size_t(y)]) < 0; });

    // Merge; texts the collator finds equal share a rank.
    std::vector<int> rowRank(result.size());
    std::vector<int> otherRank(distinctRow.size());
    int ranks = 0;
    QStringView previous;
    bool havePrevious = false;
    bool previousPlain = true;
    auto nextRank = [&](QStringView t, bool plainText) {
        bool same = false;
        if (havePrevious)
            same = previousPlain && plainText ? previous == t : FCollator.compare(previous, t) == 0;
        previous = t;
        havePrevious = true;
        previousPlain = plainText;
        return same ? ranks - 1 : ranks++;
    };
    size_t p = 0;
    for (int k : others) {
        const QStringView t = texts[size_t(distinctRow[size_t(k)])];
        size_t low = p;
        size_t high = plainRows.size();
        while (low < high) {
            const size_t mid = low + (high - low) / 2;
            if (FCollator.compare(texts[size_t(plainRows[mid])], t) < 0)
                low = mid + 1;
            else
                high = mid;
        }
        for (; p < low; ++p)
            rowRank[size_t(plainRows[p])] = nextRank(texts[size_t(plainRows[p])], true);
        otherRank[size_t(k)] = nextRank(t, false);
    }
    for (; p < plainRows.size(); ++p)
        rowRank[size_t(plainRows[p])] = nextRank(texts[size_t(plainRows[p])], true);
    for (int i : otherRows)
        rowRank[size_t(i)] = otherRank[size_t(distinctOf[size_t(i)])];

    // A stable counting sort by rank; equal texts keep their relative order both ways.
    std::vector<int> start(size_t(ranks) + 1, 0);
    for (int i = 0; i < count; ++i) {
        const int r = descending ? ranks - 1 - rowRank[size_t(i)] : rowRank[size_t(i)];
        ++start[size_t(r) + 1];
    }
    for (size_t r = 1; r < start.size(); ++r)
        start[r] += start[r - 1];
    for (int i = 0; i < count; ++i) {
        const int r = descending ? ranks - 1 - rowRank[size_t(i)] : rowRank[size_t(i)];
        result[size_t(start[size_t(r)]++)] = i;
    }
    return result;
}
