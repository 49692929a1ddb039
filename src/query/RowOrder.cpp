#include "RowOrder.h"

#include <algorithm>
#include <cstring>

namespace {

// A number reduced to what ordering needs: its sign, where its first
// significant digit stands (the power of ten), and the digits from there
// on, a decimal point possibly among them.
struct Number
{
    int sign = 0; // -1, 0, 1; 2 when the text is not a number
    qint64 magnitude = 0;
    const char *digits = nullptr;
    const char *end = nullptr;
};

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

Number parseNumber(const char *text, qsizetype size)
{
    Number n;
    const char *at = text, *const stop = text + size;
    bool negative = false;
    if (at < stop && (*at == '-' || *at == '+'))
        negative = *at++ == '-';
    const char *const mantissa = at;
    qint64 integerDigits = 0, leadingFractionZeros = 0;
    bool point = false, anyDigit = false;
    for (; at < stop && (isDigit(*at) || (*at == '.' && !point)); ++at) {
        if (*at == '.') {
            point = true;
            continue;
        }
        anyDigit = true;
        if (!n.digits && *at != '0')
            n.digits = at;
        if (!point && n.digits)
            ++integerDigits;
        else if (point && !n.digits)
            ++leadingFractionZeros;
    }
    n.end = at;
    qint64 exponent = 0;
    if (at < stop && (*at == 'e' || *at == 'E')) {
        ++at;
        bool negativeExponent = false;
        if (at < stop && (*at == '-' || *at == '+'))
            negativeExponent = *at++ == '-';
        if (at == stop || !isDigit(*at))
            anyDigit = false;
        for (; at < stop && isDigit(*at); ++at)
            exponent = qMin<qint64>(exponent * 10 + (*at - '0'), 1 << 30);
        if (negativeExponent)
            exponent = -exponent;
    }
    if (!anyDigit || at != stop || mantissa == n.end) {
        n.sign = 2;
        return n;
    }
    if (!n.digits)
        return n; // zero, whatever its sign
    n.sign = negative ? -1 : 1;
    n.magnitude = (integerDigits > 0 ? integerDigits : -leadingFractionZeros) + exponent;
    return n;
}

bool onlyZeros(const char *at, const char *end)
{
    for (; at < end; ++at) {
        if (*at != '0' && *at != '.')
            return false;
    }
    return true;
}

// Same sign, same magnitude: the digits decide, the decimal point skipped.
int compareDigits(const char *a, const char *aEnd, const char *b, const char *bEnd)
{
    while (true) {
        while (a < aEnd && *a == '.')
            ++a;
        while (b < bEnd && *b == '.')
            ++b;
        if (a == aEnd)
            return onlyZeros(b, bEnd) ? 0 : -1;
        if (b == bEnd)
            return onlyZeros(a, aEnd) ? 0 : 1;
        if (*a != *b)
            return *a < *b ? -1 : 1;
        ++a;
        ++b;
    }
}

int compareBytes(const char *a, qsizetype aSize, const char *b, qsizetype bSize)
{
    const int c = std::memcmp(a, b, size_t(qMin(aSize, bSize)));
    if (c != 0)
        return c < 0 ? -1 : 1;
    return aSize < bSize ? -1 : aSize > bSize ? 1 : 0;
}

int compareParsed(const Number &a, const Number &b)
{
    if (a.sign != b.sign)
        return a.sign < b.sign ? -1 : 1;
    if (a.sign == 0)
        return 0;
    int c = a.magnitude < b.magnitude ? -1 : a.magnitude > b.magnitude ? 1 : 0;
    if (c == 0)
        c = compareDigits(a.digits, a.end, b.digits, b.end);
    return a.sign < 0 ? -c : c;
}

struct NumberEntry
{
    Number number;
    const char *text;
    qsizetype size;
    int row;
};

struct TextEntry
{
    const char *data;
    qsizetype size;
    int row;
};

template<typename Entry, typename Less>
void appendSorted(std::vector<Entry> &entries, bool descending, Less less,
                  std::vector<int> &order)
{
    if (descending)
        std::stable_sort(entries.begin(), entries.end(),
                         [&](const Entry &a, const Entry &b) { return less(b, a); });
    else
        std::stable_sort(entries.begin(), entries.end(), less);
    for (const Entry &e : entries)
        order.push_back(e.row);
}

} // namespace

int compareNumbers(const char *a, qsizetype aSize, const char *b, qsizetype bSize)
{
    const Number x = parseNumber(a, aSize), y = parseNumber(b, bSize);
    if (x.sign == 2 && y.sign == 2)
        return compareBytes(a, aSize, b, bSize);
    return compareParsed(x, y);
}

namespace {

template<typename RowAt>
std::vector<int> sortRows(const RowStore &store, int rows, RowAt rowAt, int column, bool numeric,
                          bool descending)
{
    std::vector<int> order, nulls;
    order.reserve(size_t(rows));
    std::vector<NumberEntry> numbers;
    std::vector<TextEntry> texts;
    (numeric ? numbers.reserve(size_t(rows)) : texts.reserve(size_t(rows)));
    for (int i = 0; i < rows; ++i) {
        const int r = rowAt(i);
        const RowStore::Cell cell = store.cell(r, column);
        if (cell.isNull)
            nulls.push_back(r);
        else if (numeric)
            numbers.push_back({ parseNumber(cell.data, cell.size), cell.data, cell.size, r });
        else
            texts.push_back({ cell.data, cell.size, r });
    }
    if (!descending)
        order = nulls;
    if (numeric) {
        appendSorted(numbers, descending, [](const NumberEntry &a, const NumberEntry &b) {
            if (a.number.sign == 2 && b.number.sign == 2)
                return compareBytes(a.text, a.size, b.text, b.size) < 0;
            return compareParsed(a.number, b.number) < 0;
        }, order);
    } else {
        appendSorted(texts, descending, [](const TextEntry &a, const TextEntry &b) {
            return compareBytes(a.data, a.size, b.data, b.size) < 0;
        }, order);
    }
    if (descending)
        order.insert(order.end(), nulls.begin(), nulls.end());
    return order;
}

} // namespace

std::vector<int> sortedRows(const RowStore &store, int rows, int column, bool numeric,
                            bool descending)
{
    return sortRows(store, rows, [](int i) { return i; }, column, numeric, descending);
}

std::vector<int> sortedRows(const RowStore &store, const std::vector<int> &rows, int column,
                            bool numeric, bool descending)
{
    return sortRows(store, int(rows.size()), [&rows](int i) { return rows[size_t(i)]; }, column,
                    numeric, descending);
}
