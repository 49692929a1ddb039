#pragma once

#include <QString>
#include <QStringList>

// What a statement does, as far as running it safely goes.
enum class StatementNature {
    Query,          // yields rows and changes nothing: select, show, describe, explain, with … select
    DataChange,     // changes rows and can be rolled back: insert, update, delete, replace,
                    // load data, call, compound statements (if, loop, begin not atomic, …)
    ImplicitCommit, // the server commits by itself: DDL, grant, lock, transaction control, …
    Session,        // changes only this session's state: use, set, prepare, temporary tables
    Other,          // nothing known: let the caller decide
};

// Both read a single statement (no delimiter) with SqlLexer. Keywords are
// case-insensitive; words in comments, strings and quoted names are not
// keywords, while the text of an executable comment (/*! … */, /*M! … */)
// is, since the server runs it.

// The first word of the statement, lower-cased; empty when it has none.
QString firstKeyword(const QString &statement);
// Up to `count` words from the start, as written.
QStringList leadingWords(const QString &statement, int count);

StatementNature natureOf(const QString &statement);
