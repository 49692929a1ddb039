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

    // The largest file that is read. UTF-8 takes three bytes for a Japanese
    // character, so a long host or database name must still fit; anything
    // larger is not a record of ours.
    static constexpr qsizetype MaxBytes = 4096;

    // The four fields the content gives, or nothing when it is to be ignored
    // (too large). A field the split does not reach comes back empty.
    static std::optional<QStringList> parse(const QByteArray &content);

    // The bytes that parse() reads back; fields must be given in Field order.
    static QByteArray format(const QStringList &fields);

    // Whether parse(format(fields)) gives the same fields back. A record that
    // fails this would lose the user's settings on the next read.
    static bool roundTrips(const QStringList &fields);
};
