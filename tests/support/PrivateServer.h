#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include "TestSupport.h"

// A MariaDB server owned by one test, so that the test may kill it (-9, by
// its pid) and start it again on the same data directory.
class PrivateServer
{
public:
    PrivateServer();
    ~PrivateServer();

    // Creates the data directory (first call only), starts the server and
    // waits until it answers. The test user and database exist afterwards.
    bool start();
    // SIGKILL, then waits for it to be gone. Safe from any thread.
    void kill();
    bool isRunning() const;

    // How the test user reaches it.
    TestServer address() const;
    QString database() const { return QStringLiteral("vq_fault"); }
    QString lastError() const { return m_error; }

private:
    bool install();
    bool waitUntilReady();
    bool runAsRoot(const QString &sql);

    QTemporaryDir m_dir;
    mutable qint64 m_pid = -1;
    int m_port = -1;
    bool m_installed = false;
    QString m_error;
};
