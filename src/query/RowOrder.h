#pragma once

#include "RowStore.h"

#include <QtGlobal>

#include <vector>

// Orders the numbers a server writes as text without converting them to
// floating point, so all digits of a DECIMAL and BIGINT UNSIGNED beyond 2^63
// take part: negative, 0 or positive as a < b, a == b, a > b. Text that is
// not a number sorts after every number, by its bytes.
int compareNumbers(const char *a, qsizetype aSize, const char *b, qsizetype bSize);

// The first `rows` rows of the store ordered by one column: NULL first,
// then by value (numbers by compareNumbers, anything else by the server's
// bytes), ties kept in arrival order. Descending reverses the values and
// puts NULL last, still keeping ties in arrival order.
std::vector<int> sortedRows(const RowStore &store, int rows, int column, bool numeric,
                            bool descending);
// The same for the given stored rows, in the order given for ties.
std::vector<int> sortedRows(const RowStore &store, const std::vector<int> &rows, int column,
                            bool numeric, bool descending);
