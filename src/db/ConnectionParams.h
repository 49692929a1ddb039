#pragma once

#include <QString>

// What it takes to open the one connection. The dialog hands these over;
// nothing else needs to know the dialog's widgets.
struct ConnectionParams
{
    QString driver;
    QString database;
    QString user;
    QString password;
    QString host;
    int port = -1; // -1: the driver's default

    bool operator==(const ConnectionParams &o) const
    {
        return driver == o.driver && database == o.database && user == o.user
            && password == o.password && host == o.host && port == o.port;
    }
};
