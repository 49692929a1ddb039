#pragma once

#include <QtGlobal>

#include <cstdlib>
#include <memory>
#include <vector>

// Rows of a result, kept as the server's own bytes in large chunks: one
// allocation per few megabytes instead of one per value, and no decoding
// until a cell is painted. Each cell is a length (plus one, zero meaning
// NULL) as a little varint, followed by its bytes. A row wider than
// CheckpointStride columns starts with the offsets of every
// CheckpointStride-th cell, so finding a cell never walks more than that
// many cells; narrow rows carry no such table.
class RowStore
{
public:
    struct Cell
    {
        const char *data = nullptr;
        qsizetype size = 0;
        bool isNull = true;
    };

    // Where a column's widest values are, measured while rows are stored so
    // that sizing a column never has to look at every cell again. Rows are
    // -1 while the column holds no value.
    struct Widest
    {
        quint32 units = 0;      // display units: 1 per narrow character, 2 per wide one
        qsizetype unitsRow = -1;
        quint32 bytes = 0;
        qsizetype bytesRow = -1;
        bool hasNull = false;
    };

    static constexpr int CheckpointStride = 16;

    RowStore();
    ~RowStore();
    RowStore(RowStore &&other) noexcept;
    RowStore &operator=(RowStore &&other) noexcept;
    RowStore(const RowStore &) = delete;
    RowStore &operator=(const RowStore &) = delete;

    // cells[i] null means SQL NULL. Every row of a store has the same
    // number of columns.
    void appendRow(const char *const *cells, const unsigned long *sizes, int columns);
    // Moves every row of batch to the end of this store by taking over its
    // chunks; batch is left empty. Both must have the same column count.
    void append(RowStore &&batch);

    qsizetype rowCount() const { return qsizetype(m_rows.size()); }
    int columnCount() const { return m_columnCount; }
    // Memory the rows take, index included.
    size_t bytesUsed() const;
    Cell cell(qsizetype row, int column) const;

    const Widest &widest(int column) const { return m_widest[size_t(column)]; }
    // Changes whenever some column's widest value does.
    quint64 widestVersion() const { return m_widestVersion; }

private:
    struct RowRef
    {
        quint32 chunk;
        quint32 offset;
    };
    struct FreeChunk
    {
        void operator()(char *p) const { std::free(p); }
    };
    using Chunk = std::unique_ptr<char[], FreeChunk>;

    char *reserve(size_t bytes, RowRef &ref);
    void noteWidth(int column, const char *data, size_t size, qsizetype row);
    void trimLastChunk();

    std::vector<Chunk> m_chunks;
    std::vector<size_t> m_chunkSizes;
    size_t m_used = 0;
    std::vector<RowRef> m_rows;
    int m_columnCount = 0;
    std::vector<Widest> m_widest;
    quint64 m_widestVersion = 0;
};
