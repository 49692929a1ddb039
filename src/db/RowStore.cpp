#include "RowStore.h"

#include <cstring>
#include <new>

namespace {

// Small results stay small; large ones get few, large allocations.
constexpr size_t FirstChunkBytes = 64 << 10;
constexpr size_t ChunkBytes = 4 << 20;

size_t varintSize(quint64 v)
{
    size_t n = 1;
    while (v >= 0x80) {
        v >>= 7;
        ++n;
    }
    return n;
}

char *putVarint(char *out, quint64 v)
{
    while (v >= 0x80) {
        *out++ = char(quint8(v) | 0x80);
        v >>= 7;
    }
    *out++ = char(v);
    return out;
}

const char *getVarint(const char *in, quint64 &v)
{
    v = 0;
    int shift = 0;
    quint8 byte;
    do {
        byte = quint8(*in++);
        v |= quint64(byte & 0x7f) << shift;
        shift += 7;
    } while (byte & 0x80);
    return in;
}

const char *skipCell(const char *at)
{
    quint64 header;
    at = getVarint(at, header);
    return at + (header ? header - 1 : 0);
}

size_t checkpointCount(int columns)
{
    return columns > 0 ? size_t(columns - 1) / RowStore::CheckpointStride : 0;
}

// How wide UTF-8 text shows, roughly: a lead byte of a three- or four-byte
// sequence is almost always a CJK character or an emoji, which take two
// columns of a proportional font's average width. Never more than the byte
// count, which lets most values skip the count entirely.
quint32 displayUnits(const char *data, size_t size)
{
    quint32 units = 0;
    for (size_t i = 0; i < size; ++i) {
        const quint8 b = quint8(data[i]);
        units += b < 0x80 ? 1 : b < 0xC0 ? 0 : b < 0xE0 ? 1 : 2;
    }
    return units;
}

} // namespace

RowStore::RowStore() = default;
RowStore::~RowStore() = default;
RowStore::RowStore(RowStore &&other) noexcept = default;
RowStore &RowStore::operator=(RowStore &&other) noexcept = default;

char *RowStore::reserve(size_t bytes, RowRef &ref)
{
    if (m_chunks.empty() || m_chunkSizes.back() - m_used < bytes) {
        const size_t next = m_chunks.empty() ? FirstChunkBytes
                                             : qMin(ChunkBytes, m_chunkSizes.back() * 2);
        const size_t size = qMax(bytes, next);
        char *chunk = static_cast<char *>(std::malloc(size));
        if (!chunk)
            throw std::bad_alloc();
        m_chunks.emplace_back(chunk);
        m_chunkSizes.push_back(size);
        m_used = 0;
    }
    ref.chunk = quint32(m_chunks.size() - 1);
    ref.offset = quint32(m_used);
    char *at = m_chunks.back().get() + m_used;
    m_used += bytes;
    return at;
}

void RowStore::noteWidth(int column, const char *data, size_t size, qsizetype row)
{
    Widest &w = m_widest[size_t(column)];
    if (!data) {
        if (!w.hasNull)
            ++m_widestVersion;
        w.hasNull = true;
        return;
    }
    if (size > w.bytes || w.bytesRow < 0) {
        w.bytes = quint32(qMin<size_t>(size, 0xFFFFFFFFu));
        w.bytesRow = row;
        ++m_widestVersion;
    }
    if (size <= w.units && w.unitsRow >= 0)
        return;
    const quint32 units = displayUnits(data, size);
    if (units > w.units || w.unitsRow < 0) {
        w.units = units;
        w.unitsRow = row;
        ++m_widestVersion;
    }
}

void RowStore::appendRow(const char *const *cells, const unsigned long *sizes, int columns)
{
    if (m_rows.empty() && m_columnCount == 0) {
        m_columnCount = columns;
        m_widest.assign(size_t(columns), Widest());
    }
    Q_ASSERT(columns == m_columnCount);

    const size_t table = checkpointCount(columns) * sizeof(quint32);
    size_t bytes = table;
    for (int c = 0; c < columns; ++c)
        bytes += cells[c] ? varintSize(quint64(sizes[c]) + 1) + sizes[c] : 1;

    RowRef ref;
    char *const start = reserve(qMax<size_t>(bytes, 1), ref);
    char *out = start + table;
    const qsizetype row = rowCount();
    for (int c = 0; c < columns; ++c) {
        if (c > 0 && c % CheckpointStride == 0) {
            const quint32 offset = quint32(out - start);
            std::memcpy(start + (c / CheckpointStride - 1) * sizeof(quint32), &offset,
                        sizeof offset);
        }
        noteWidth(c, cells[c], cells[c] ? sizes[c] : 0, row);
        if (!cells[c]) {
            *out++ = 0;
            continue;
        }
        out = putVarint(out, quint64(sizes[c]) + 1);
        std::memcpy(out, cells[c], sizes[c]);
        out += sizes[c];
    }
    m_rows.push_back(ref);
}

// Gives the unused tail of the last chunk back before another store's chunks
// follow it; the rows keep chunk indexes, so the chunk may move.
void RowStore::trimLastChunk()
{
    if (m_chunks.empty() || m_used == m_chunkSizes.back())
        return;
    const size_t keep = qMax<size_t>(m_used, 1);
    if (char *smaller = static_cast<char *>(std::realloc(m_chunks.back().get(), keep))) {
        m_chunks.back().release();
        m_chunks.back().reset(smaller);
        m_chunkSizes.back() = keep;
    }
}

void RowStore::append(RowStore &&batch)
{
    if (batch.m_rows.empty())
        return;
    if (m_rows.empty()) {
        *this = std::move(batch);
        batch = RowStore();
        return;
    }
    Q_ASSERT(batch.m_columnCount == m_columnCount);

    trimLastChunk();
    const quint32 chunkBase = quint32(m_chunks.size());
    const qsizetype rowBase = rowCount();
    for (size_t i = 0; i < batch.m_chunks.size(); ++i) {
        m_chunks.push_back(std::move(batch.m_chunks[i]));
        m_chunkSizes.push_back(batch.m_chunkSizes[i]);
    }
    m_used = batch.m_used;
    if (m_rows.capacity() < m_rows.size() + batch.m_rows.size())
        m_rows.reserve(qMax(m_rows.size() + batch.m_rows.size(), m_rows.capacity() * 2));
    for (const RowRef &ref : batch.m_rows)
        m_rows.push_back(RowRef{ ref.chunk + chunkBase, ref.offset });

    for (size_t c = 0; c < m_widest.size(); ++c) {
        Widest &mine = m_widest[c];
        const Widest &theirs = batch.m_widest[c];
        if (theirs.bytesRow >= 0 && (theirs.bytes > mine.bytes || mine.bytesRow < 0)) {
            mine.bytes = theirs.bytes;
            mine.bytesRow = theirs.bytesRow + rowBase;
        }
        if (theirs.unitsRow >= 0 && (theirs.units > mine.units || mine.unitsRow < 0)) {
            mine.units = theirs.units;
            mine.unitsRow = theirs.unitsRow + rowBase;
        }
        mine.hasNull = mine.hasNull || theirs.hasNull;
    }
    ++m_widestVersion;
    batch = RowStore();
}

RowStore::Cell RowStore::cell(qsizetype row, int column) const
{
    const RowRef ref = m_rows[size_t(row)];
    const char *const start = m_chunks[ref.chunk].get() + ref.offset;
    const char *at = start + checkpointCount(m_columnCount) * sizeof(quint32);
    if (const int checkpoint = column / CheckpointStride) {
        quint32 offset;
        std::memcpy(&offset, start + (checkpoint - 1) * sizeof(quint32), sizeof offset);
        at = start + offset;
    }
    for (int c = column % CheckpointStride; c > 0; --c)
        at = skipCell(at);
    quint64 header = 0;
    at = getVarint(at, header);
    return header ? Cell{ at, qsizetype(header - 1), false } : Cell{};
}

size_t RowStore::bytesUsed() const
{
    size_t bytes = m_rows.capacity() * sizeof(RowRef);
    for (size_t size : m_chunkSizes)
        bytes += size;
    return bytes;
}
