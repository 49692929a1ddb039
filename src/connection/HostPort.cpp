#include "HostPort.h"

namespace {

int portNumber(QStringView digits)
{
    if (digits.isEmpty() || digits.size() > 5)
        return -1;
    for (QChar c : digits)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
    const int port = digits.toInt();
    return port >= 1 && port <= 65535 ? port : -1;
}

} // namespace

HostPort HostPort::parse(const QString &text)
{
    const QString host = text.trimmed();

    if (host.startsWith(QLatin1Char('['))) {
        const qsizetype close = host.indexOf(QLatin1Char(']'));
        if (close < 2)
            return { host, -1 };
        const QString address = host.mid(1, close - 1);
        if (close == host.size() - 1)
            return { address, -1 };
        if (host.at(close + 1) != QLatin1Char(':'))
            return { host, -1 };
        const int port = portNumber(QStringView(host).mid(close + 2));
        return port < 0 ? HostPort{ host, -1 } : HostPort{ address, port };
    }

    // More than one colon is an IPv6 address without brackets: its last
    // group may well be all digits, so it is never split.
    const qsizetype colon = host.indexOf(QLatin1Char(':'));
    if (colon < 1 || colon != host.lastIndexOf(QLatin1Char(':')))
        return { host, -1 };
    const int port = portNumber(QStringView(host).mid(colon + 1));
    return port < 0 ? HostPort{ host, -1 } : HostPort{ host.left(colon), port };
}
