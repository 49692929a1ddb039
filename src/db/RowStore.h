#pragma once

#include <QtGlobal>

#include <memory>
#include <vector>

// Rows of a result, kept as the server's own bytes in large chunks: one
// allocation per few megabytes instead of one per value, and no decoding
// until a cell is painted. Each cell is a length (plus one, zero meaning
// NULL) as a little varint, followed by its bytes.
class RowStore
{
public:
    struct Cell
    {
        const char *data = nullptr;
        qsizetype size = 0;
        bool isNull = true;
    };

    RowStore();
    ~RowStore();
    RowStore(const RowStore &) = delete;
    RowStore &operator=(const RowStore &) = delete;

    // cells[i] null means SQL NULL.
    void appendRow(const char *const *cells, const unsigned long *sizes, int columns);

    // Takes over every row of another store, without copying cells.
    void append(RowStore &&batch);

    qsizetype rowCount() const { return qsizetype(m_rows.size()); }
    // Memory the rows take, index included.
    size_t bytesUsed() const { return m_bytes + m_rows.capacity() * sizeof(RowRef); }
    Cell cell(qsizetype row, int column) const;

private:
    struct RowRef
    {
        quint32 chunk;
        quint32 offset;
    };
    char *reserve(size_t bytes, RowRef &ref);

    std::vector<std::unique_ptr<char[]>> m_chunks;
    std::vector<size_t> m_chunkSizes;
    size_t m_used = 0;
    size_t m_bytes = 0;
    std::vector<RowRef> m_rows;
};
