#pragma once

#include <QList>

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <utility>
#include <vector>

// The rows of a list in chunks of a few thousand, each an implicitly shared QList. A copy of
// the whole (a snapshot for the list writer) shares every chunk and costs one reference per
// chunk; a later change copies only the chunk it touches. So neither a snapshot nor the change
// that follows it costs time in proportion to the length of the list, and an insertion moves
// at most one chunk's rows.
//
// A snapshot may be read from another thread while the owner goes on changing its copy
// (implicit sharing counts references atomically); each copy itself is used by one thread.
template <class Row> class TRowChunks
{
public:
    static constexpr int ChunkSize = 512; // a chunk is split when it grows past twice this

    TRowChunks() = default;
    explicit TRowChunks(QList<Row> rows) { assign(std::move(rows)); }

    int size() const { return FSize; }
    bool isEmpty() const { return FSize == 0; }

    const Row &at(int index) const
    {
        const int c = chunkOf(index);
        return FChunks[size_t(c)].at(index - FStarts[size_t(c)]);
    }
    // Copies the chunk first when a snapshot shares it.
    Row &operator[](int index)
    {
        const int c = chunkOf(index);
        return FChunks[size_t(c)][index - FStarts[size_t(c)]];
    }

    void assign(QList<Row> rows)
    {
        FChunks.clear();
        if (rows.size() <= ChunkSize) {
            if (!rows.isEmpty()) FChunks.push_back(std::move(rows));
        } else {
            // Moved, not copied: a long list is read once at start-up.
            for (qsizetype start = 0; start < rows.size(); start += ChunkSize) {
                QList<Row> chunk;
                chunk.reserve(std::min<qsizetype>(ChunkSize, rows.size() - start));
                for (qsizetype i = start; i < start + ChunkSize && i < rows.size(); ++i)
                    chunk.append(std::move(rows[i]));
                FChunks.push_back(std::move(chunk));
            }
        }
        reindex();
    }
    QList<Row> toList() const
    {
        QList<Row> rows;
        rows.reserve(FSize);
        for (const QList<Row> &chunk : FChunks)
            rows += chunk;
        return rows;
    }

    void insert(int index, const Row &row)
    {
        if (FChunks.empty()) {
            FChunks.emplace_back();
            reindex();
        }
        const int c = index >= FSize ? int(FChunks.size()) - 1 : chunkOf(index);
        QList<Row> &chunk = FChunks[size_t(c)];
        chunk.insert(index - FStarts[size_t(c)], row);
        if (chunk.size() > 2 * ChunkSize) {
            QList<Row> upper = chunk.mid(ChunkSize);
            chunk.resize(ChunkSize);
            FChunks.insert(FChunks.begin() + c + 1, std::move(upper));
        }
        reindex();
    }
    void append(const Row &row) { insert(FSize, row); }

    void remove(int index, int count)
    {
        while (count > 0) {
            const int c = chunkOf(index);
            QList<Row> &chunk = FChunks[size_t(c)];
            const int offset = index - FStarts[size_t(c)];
            const int n = std::min(count, int(chunk.size()) - offset);
            chunk.remove(offset, n);
            if (chunk.isEmpty()) FChunks.erase(FChunks.begin() + c);
            count -= n;
            reindex();
        }
    }

    // The rows in the order given: order[i] is the old index of the row that goes to place i.
    void reorder(const std::vector<int> &order)
    {
        // Rows are moved, not copied; a chunk a snapshot shares is copied first.
        std::vector<Row *> rows;
        rows.reserve(size_t(FSize));
        for (QList<Row> &chunk : FChunks)
            for (Row &row : chunk)
                rows.push_back(&row);
        std::vector<QList<Row>> chunks;
        QList<Row> chunk;
        chunk.reserve(ChunkSize);
        for (const int from : order) {
            chunk.append(std::move(*rows[size_t(from)]));
            if (chunk.size() == ChunkSize) {
                chunks.push_back(std::move(chunk));
                chunk = QList<Row>();
                chunk.reserve(ChunkSize);
            }
        }
        if (!chunk.isEmpty()) chunks.push_back(std::move(chunk));
        FChunks = std::move(chunks);
        reindex();
    }

    // Visits every row in order.
    template <class F> void forEach(F &&visit) const
    {
        for (const QList<Row> &chunk : FChunks)
            for (const Row &row : chunk)
                visit(row);
    }

    int chunkCount() const { return int(FChunks.size()); }

    class const_iterator
    {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = Row;
        using difference_type = std::ptrdiff_t;
        using pointer = const Row *;
        using reference = const Row &;

        const_iterator() = default;
        const_iterator(const std::vector<QList<Row>> *chunks, size_t chunk)
            : FChunks(chunks), FChunk(chunk)
        {
        }
        reference operator*() const { return (*FChunks)[FChunk].at(FIndex); }
        pointer operator->() const { return &**this; }
        const_iterator &operator++()
        {
            if (++FIndex >= (*FChunks)[FChunk].size()) {
                ++FChunk;
                FIndex = 0;
            }
            return *this;
        }
        const_iterator operator++(int)
        {
            const_iterator before = *this;
            ++*this;
            return before;
        }
        bool operator==(const const_iterator &other) const
        {
            return FChunk == other.FChunk && FIndex == other.FIndex;
        }

    private:
        const std::vector<QList<Row>> *FChunks = nullptr;
        size_t FChunk = 0;
        qsizetype FIndex = 0;
    };
    // Chunks are never empty, so the end is the position after the last chunk.
    const_iterator begin() const { return const_iterator(&FChunks, 0); }
    const_iterator end() const { return const_iterator(&FChunks, FChunks.size()); }

private:
    int chunkOf(int index) const
    {
        // The last chunk whose first row is at or before the index.
        const auto it = std::upper_bound(FStarts.begin(), FStarts.end(), index);
        return int(it - FStarts.begin()) - 1;
    }

    void reindex()
    {
        FStarts.resize(FChunks.size());
        int start = 0;
        for (size_t c = 0; c < FChunks.size(); ++c) {
            FStarts[c] = start;
            start += int(FChunks[c].size());
        }
        FSize = start;
    }

    std::vector<QList<Row>> FChunks;
    std::vector<int> FStarts; // index of each chunk's first row
    int FSize = 0;
};
