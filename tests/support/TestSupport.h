#pragma once

#include "ConnectionParams.h"

#include <QSqlDatabase>
#include <QString>
#include <QTemporaryDir>
#include <QVariant>

#include <functional>
#include <memory>

class DatabaseConnection;
class QProcess;
class QSignalSpy;
class ResultModel;
class QTableView;
class QWidget;
class QZQuorvinWindow;

// The private server that scripts/test starts, as its environment describes it.
struct TestServer
{
    QString host;
    int port = -1;
    QString user;
    QString password;

    static TestServer fromEnvironment();
    bool isValid() const { return port > 0 && !user.isEmpty(); }
    QString describe() const;
    ConnectionParams params(const QString &database) const;

    // A connection of the test's own, for setting up and for checking what
    // the server really holds.
    QSqlDatabase check(const QString &name, const QString &database) const;
    // Creates (or empties) a database; the test user may create "vq_*".
    bool recreateDatabase(const QString &database) const;
};

// A server of the test's own, for faults the shared one must never see (a
// SIGSTOP). Started from the binaries scripts/test names; stopped, by its
// pid, when the object goes.
class PrivateServer
{
public:
    PrivateServer();
    ~PrivateServer();
    // Starts it with a user and the database `database`; false and *error on failure.
    bool start(const QString &database, QString *error);
    qint64 pid() const;
    const TestServer &server() const { return m_server; }

private:
    bool client(const QString &sql) const;
    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_process;
    TestServer m_server;
};

// Runs statements on a check connection; fails the test on an error.
bool exec(const QSqlDatabase &db, const QString &sql);
QVariant scalar(const QSqlDatabase &db, const QString &sql);

// Opens the connection and waits; true on success.
bool openAndWait(DatabaseConnection &connection, const ConnectionParams &params);
// Runs a query and waits until its last row has arrived; null on failure.
std::unique_ptr<ResultModel> queryAll(DatabaseConnection &connection, const QString &sql);

// Connects a window through its dialog and waits for the outcome.
bool connectWindow(QZQuorvinWindow &window, const ConnectionParams &params);
// Processes events until the condition holds; false after the time limit.
bool waitUntil(const std::function<bool()> &condition, int timeoutMs = 30000);
// Handles events for `ms`, sleeping while none come.
void handleEventsFor(int ms);

// Resident memory of this process, in KiB.
qint64 residentKiB();

// Answers the next modal widget with the given object name from a timer, as
// a user would. Gives up (closing what is open) rather than hang.
class ModalAnswerer
{
public:
    using Action = std::function<void(QWidget *)>;
    ModalAnswerer(const QString &objectName, Action action, int timeoutMs = 15000);
    ~ModalAnswerer();
    bool answered() const;

private:
    struct State;
    std::unique_ptr<State> d;
};

// The working directory of one test: the program writes its files there.
class ScratchDirectory
{
public:
    ScratchDirectory();
    ~ScratchDirectory();
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    QString m_previous;
};

// The program's window as each test gets it: fresh, in a fresh working
// directory. start() from init(), stop() from cleanup().
class WindowSession
{
public:
    WindowSession();
    ~WindowSession();
    void start();
    void stop();

    QZQuorvinWindow &window() { return *m_window; }
    QTableView *grid() const;
    void trigger(const char *action);
    // Connects through the dialog and waits for the outcome.
    bool connect(const ConnectionParams &params);
    // Puts the text in the current tab.
    void type(const QString &sql);
    // Puts the text in the current tab, presses F5 and waits until the
    // window says the work is done (wait cursor gone, F5 enabled again).
    void run(const QString &sql);
    bool idle() const;
    QStringList statuses() const;

private:
    std::unique_ptr<ScratchDirectory> m_scratch;
    std::unique_ptr<QZQuorvinWindow> m_window;
    std::unique_ptr<QSignalSpy> m_messages;
};
