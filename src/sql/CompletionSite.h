#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

// Where the cursor stands in a statement, as completion needs to know it:
// the part of a name typed so far, and what kind of name fits there.
struct CompletionSite
{
    enum Place {
        None,     // no name is being typed
        Anywhere, // keywords, functions, tables, the statement's columns
        Table,    // after FROM, JOIN, INTO, UPDATE or a comma between tables
        Column,   // after `qualifier.`: only that table's columns
    };
    Place place = None;
    qsizetype start = 0;  // where the typed part begins (its backquote included)
    qsizetype end = 0;    // the cursor
    QString prefix;       // the typed part of the name, unquoted
    QString qualifier;    // Column: the word before the dot, unquoted
    QString table;        // Column: the table the qualifier stands for
    QStringList tables;   // the tables the statement names, in order

    // Reads the statement that holds `cursor` (positions as QTextCursor
    // counts them) with SqlLexer.
    static CompletionSite at(const QString &text, qsizetype cursor);
};
