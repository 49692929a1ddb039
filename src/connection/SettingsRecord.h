#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// The one-record format of database.ini: database, password, user and host,
// separated by commas, nothing else. Kept free of widgets and files so the
// rules can be checked (and fuzzed) on their own.
class SettingsRecord
{
public:
    enum Field { Database, Password, User, Host, FieldCount };

    // Files of this many bytes or more are not ours to read.
    static constexpr qsizetype MaxBytes = 100;

    // The four fields the content gives, or nothing when it is to be ignored
    // (too large). A field the split does not reach comes back empty.
    static std::optional<QStringList> parse(const QByteArray &content);

    // The bytes that parse() reads back; fields must be given in Field order.
    static QByteArray format(const QStringList &fields);
};
