#pragma once

#include <QString>

// A failure as the server or the client library put it: the error number,
// the SQLSTATE and the message, verbatim.
struct DbError
{
    int code = 0;
    QString sqlState;
    QString message;
    // Given up on by the user, not refused by the server.
    bool cancelled = false;

    bool isSet() const { return code != 0 || !message.isEmpty(); }
    // "1064 (42000): You have an error ..."; the message as it came.
    QString text() const
    {
        QString out;
        if (code != 0)
            out = QString::number(code);
        if (!sqlState.isEmpty())
            out += (out.isEmpty() ? QString() : QStringLiteral(" ")) + QLatin1Char('(') + sqlState
                + QLatin1Char(')');
        if (!message.isEmpty())
            out += (out.isEmpty() ? QString() : QStringLiteral(": ")) + message;
        return out;
    }
};
