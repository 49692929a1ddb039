#pragma once

#include <QString>

// What Exec does with a text: show rows, run it in a confirmed transaction,
// or leave it alone.
enum StatementKind {
    SqlSelect = 0,
    SqlInsert = 1,
    SqlUpdate = 2,
    SqlDelete = 3,
    SqlOther = 99,
};

// Deliberately not a parser: the lower-case keyword whose last occurrence
// starts earliest decides, wherever it stands (inside words, strings and
// comments too). Capitals do not count. Linear in the length of the text.
int classifyStatement(const QString &sql);
