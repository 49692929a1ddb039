#include "PrivateServer.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTcpServer>
#include <QThread>

#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>
#include <pwd.h>
#include <unistd.h>

extern char **environ;

namespace {

const QString Password = QStringLiteral("fault-pw");

int freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return -1;
    return probe.serverPort();
}

QString currentUser()
{
    const struct passwd *pw = getpwuid(geteuid());
    return pw ? QString::fromLocal8Bit(pw->pw_name) : QStringLiteral("root");
}

QString binary(const char *variable, const QString &fallback)
{
    const QString fromEnv = qEnvironmentVariable(variable);
    return fromEnv.isEmpty() ? fallback : fromEnv;
}

} // namespace

PrivateServer::PrivateServer() = default;

PrivateServer::~PrivateServer()
{
    if (!isRunning())
        return;
    ::kill(pid_t(m_pid), SIGTERM);
    for (int i = 0; i < 150 && isRunning(); ++i)
        QThread::msleep(100);
    kill();
}

bool PrivateServer::install()
{
    QProcess installer;
    installer.setProcessChannelMode(QProcess::MergedChannels);
    installer.start(binary("VELQUIN_INSTALL_DB", QStringLiteral("/usr/bin/mariadb-install-db")),
                    { "--no-defaults", "--datadir=" + m_dir.path() + "/data",
                      "--user=" + currentUser(),
                      "--auth-root-authentication-method=normal", "--skip-test-db",
                      "--skip-name-resolve" });
    if (!installer.waitForFinished(120000) || installer.exitCode() != 0) {
        m_error = QStringLiteral("mariadb-install-db: ") + QString::fromLocal8Bit(installer.readAll());
        return false;
    }
    return true;
}

bool PrivateServer::start()
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary directory");
        return false;
    }
    if (!m_installed) {
        if (!install())
            return false;
        m_port = freePort();
    }
    const QString dir = m_dir.path();
    const QStringList args{ "--no-defaults", "--datadir=" + dir + "/data", "--user=" + currentUser(),
                            "--socket=" + dir + "/sock", "--port=" + QString::number(m_port),
                            "--bind-address=127.0.0.1", "--skip-name-resolve",
                            "--pid-file=" + dir + "/pid", "--log-error=" + dir + "/err.log",
                            "--innodb-buffer-pool-size=64M" };
    // Spawned directly rather than through QProcess: the test kills it with
    // SIGKILL at awkward moments and reaps it itself.
    std::vector<QByteArray> bytes{ binary("VELQUIN_MARIADBD", QStringLiteral("/usr/sbin/mariadbd")).toLocal8Bit() };
    for (const QString &a : args)
        bytes.push_back(a.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        m_error = QStringLiteral("cannot run mariadbd");
        return false;
    }
    m_pid = pid;
    if (!waitUntilReady()) {
        QFile log(dir + "/err.log");
        log.open(QIODevice::ReadOnly);
        m_error = QStringLiteral("server did not start: ") + QString::fromLocal8Bit(log.readAll().right(2000));
        return false;
    }
    if (!m_installed) {
        m_installed = runAsRoot(QStringLiteral(
            "CREATE USER 'velquin'@'127.0.0.1' IDENTIFIED BY '%1';"
            "CREATE DATABASE vq_fault CHARACTER SET utf8mb4;"
            "GRANT ALL ON vq_fault.* TO 'velquin'@'127.0.0.1';").arg(Password));
        if (!m_installed)
            return false;
    }
    return true;
}

bool PrivateServer::runAsRoot(const QString &sql)
{
    QProcess client;
    client.setProcessChannelMode(QProcess::MergedChannels);
    client.start(QStringLiteral("mariadb"),
                 { "--no-defaults", "-S", m_dir.path() + "/sock", "-uroot", "-e", sql });
    if (!client.waitForFinished(30000) || client.exitCode() != 0) {
        m_error = QStringLiteral("mariadb: ") + QString::fromLocal8Bit(client.readAll());
        return false;
    }
    return true;
}

bool PrivateServer::waitUntilReady()
{
    QDeadlineTimer deadline(60000);
    while (!deadline.hasExpired()) {
        if (!isRunning())
            return false;
        QProcess ping;
        ping.start(QStringLiteral("mariadb"), { "--no-defaults", "-S", m_dir.path() + "/sock",
                                                "-uroot", "-e", "select 1" });
        if (ping.waitForFinished(5000) && ping.exitCode() == 0)
            return true;
        QThread::msleep(100);
    }
    return false;
}

void PrivateServer::kill()
{
    if (m_pid <= 0)
        return;
    ::kill(pid_t(m_pid), SIGKILL);
    ::waitpid(pid_t(m_pid), nullptr, 0);
    m_pid = -1;
}

bool PrivateServer::isRunning() const
{
    if (m_pid <= 0)
        return false;
    if (::waitpid(pid_t(m_pid), nullptr, WNOHANG) == 0)
        return true;
    m_pid = -1;
    return false;
}

TestServer PrivateServer::address() const
{
    TestServer server;
    server.host = QStringLiteral("127.0.0.1");
    server.port = m_port;
    server.user = QStringLiteral("velquin");
    server.password = Password;
    server.socket = m_dir.path() + "/sock";
    return server;
}
