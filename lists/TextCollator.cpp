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

// Indexes into texts in the code order of their texts, which for plain texts is the
// collation order; equal texts keep their relative order.
std::vector<int> codeOrder(const std::vector<QString> &texts, std::vector<int> indexes,
                           bool descending)
{
    struct Entry
    {
        quint64 prefix;
        int index;
    };
    std::vector<Entry> entries(indexes.size());
    for (size_t i = 0; i < indexes.size(); ++i)
        entries[i] = {packPrefix(texts[size_t(indexes[i])]), indexes[i]};
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
    for (size_t i = 0; i < indexes.size(); ++i)
        indexes[i] = entries[i].index;
    return indexes;
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

    if (plain)
        return codeOrder(texts, std::move(result), descending);

    // Rank the texts once; rows then sort by rank. Plain texts rank by their codes; only the
    // others need collator keys, one per distinct text (names, towns and states repeat a
    // lot), and each finds its place among the plain ones by a binary search with the
    // collator. So a column of numbers with a few "-not transmitted-" rows stays fast.
    std::vector<int> plainRows;
    std::vector<int> otherRows;
    for (int i = 0; i < count; ++i)
        (isPlain(texts[size_t(i)]) ? plainRows : otherRows).push_back(i);
    plainRows = codeOrder(texts, std::move(plainRows), false);

    QHash<QString, int> distinctIndex;
    std::vector<int> distinctOf(result.size(), -1);
    std::vector<int> distinctRow; // a row holding each distinct text
    for (int i : otherRows) {
        const QString &t = texts[size_t(i)];
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
        keys.push_back(FCollator.sortKey(texts[size_t(i)]));
    std::vector<int> others(distinctRow.size());
    for (size_t k = 0; k < others.size(); ++k)
        others[k] = int(k);
    std::sort(others.begin(), others.end(),
              [&keys](int x, int y) { return keys[size_t(x)].compare(keys[size_t(y)]) < 0; });

    // Merge; texts the collator finds equal share a rank.
    std::vector<int> rowRank(result.size());
    std::vector<int> otherRank(distinctRow.size());
    int ranks = 0;
    const QString *previous = nullptr;
    bool previousPlain = true;
    auto nextRank = [&](const QString &t, bool plainText) {
        bool same = false;
        if (previous)
            same = previousPlain && plainText ? *previous == t
                                              : FCollator.compare(*previous, t) == 0;
        previous = &t;
        previousPlain = plainText;
        return same ? ranks - 1 : ranks++;
    };
    size_t p = 0;
    for (int k : others) {
        const QString &t = texts[size_t(distinctRow[size_t(k)])];
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
