#include "BenchSupport.h"

#include <algorithm>
#include <cstdio>

std::optional<TestServer> benchServer(const QString &database)
{
    const TestServer server = TestServer::fromEnvironment();
    if (!server.isValid()) {
        std::printf("no server: %s\n", qPrintable(server.describe()));
        return std::nullopt;
    }
    bool made;
    {
        QSqlDatabase setup = server.check(QStringLiteral("setup"), QString());
        made = exec(setup, QStringLiteral("CREATE DATABASE IF NOT EXISTS %1 CHARACTER SET utf8mb4")
                               .arg(database));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("setup"));
    if (!made)
        return std::nullopt;
    return server;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}
