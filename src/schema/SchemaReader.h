#pragma once

#include "MetadataConnection.h"
#include "SchemaSnapshot.h"

// Reads a snapshot in bulk from information_schema, a few queries for the
// whole database however many tables it holds (SHOW TABLE STATUS and
// per-table queries take seconds on ten thousand tables). Runs on the
// metadata connection's thread.
class SchemaReader
{
public:
    explicit SchemaReader(MetadataConnection::Session &session);

    static bool isSystemSchema(const QString &name);

    // Keywords and functions as the server lists them, the built-in lists
    // where it does not. Never fails.
    void readWords(SchemaSnapshot &snapshot);
    // The databases and the current database's tables and views.
    DbError readNames(SchemaSnapshot &snapshot);
    // The current database's columns, for the tables readNames() found.
    DbError readColumns(SchemaSnapshot &snapshot);

private:
    QStringList readWordList(const QByteArray &sql);

    MetadataConnection::Session &m_session;
};
