#include "RowStore.h"

#include <cstring>

namespace {

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

} // namespace

RowStore::RowStore() = default;
RowStore::~RowStore() = default;

char *RowStore::reserve(size_t bytes, RowRef &ref)
{
    if (m_chunks.empty() || m_chunkSizes.back() - m_used < bytes) {
        // Chunks grow from small to large: a store that holds a handful of
        // rows (a batch of a slow stream) does not cost megabytes.
        const size_t grown = (size_t(16) << 10) << qMin<size_t>(m_chunks.size(), 8);
        const size_t size = qMax(bytes, qMin(grown, ChunkBytes));
        m_chunks.emplace_back(new char[size]);
        m_chunkSizes.push_back(size);
        m_bytes += size;
        m_used = 0;
    }
    ref.chunk = quint32(m_chunks.size() - 1);
    ref.offset = quint32(m_used);
    char *at = m_chunks.back().get() + m_used;
    m_used += bytes;
    return at;
}

void RowStore::appendRow(const char *const *cells, const unsigned long *sizes, int columns)
{
    size_t bytes = 0;
    for (int c = 0; c < columns; ++c)
        bytes += cells[c] ? varintSize(quint64(sizes[c]) + 1) + sizes[c] : 1;

    RowRef ref;
    char *out = reserve(qMax<size_t>(bytes, 1), ref);
    for (int c = 0; c < columns; ++c) {
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

RowStore::Cell RowStore::cell(qsizetype row, int column) const
{
    const RowRef ref = m_rows[size_t(row)];
    const char *at = m_chunks[ref.chunk].get() + ref.offset;
    quint64 header = 0;
    for (int c = 0;; ++c) {
        at = getVarint(at, header);
        const size_t size = header ? size_t(header - 1) : 0;
        if (c == column)
            return header ? Cell{ at, qsizetype(size), false } : Cell{};
        at += size;
    }
}

void RowStore::append(RowStore &&batch)
{
    const auto base = quint32(m_chunks.size());
    m_rows.reserve(m_rows.size() + batch.m_rows.size());
    for (RowRef ref : batch.m_rows) {
        ref.chunk += base;
        m_rows.push_back(ref);
    }
    for (auto &chunk : batch.m_chunks)
        m_chunks.push_back(std::move(chunk));
    m_chunkSizes.insert(m_chunkSizes.end(), batch.m_chunkSizes.begin(), batch.m_chunkSizes.end());
    // The batch's last chunk may have room left; ours is full enough not to
    // matter, so further rows go after the batch's.
    m_used = batch.m_used;
    m_bytes += batch.m_bytes;
    batch.m_bytes = 0;
    batch.m_chunks.clear();
    batch.m_chunkSizes.clear();
    batch.m_rows.clear();
    batch.m_used = 0;
}
