#include "TestSupport.h"

#include "DatabaseConnection.h"
#include "QZEditTabWidget.h"
#include "QZQuorvinWindow.h"
#include "QZTextEdit.h"
#include "ResultModel.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTcpServer>
#include <QThread>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSpinBox>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <csignal>

TestServer TestServer::fromEnvironment()
{
    TestServer server;
    server.host = qEnvironmentVariable("VELQUIN_TEST_HOST");
    server.port = qEnvironmentVariableIntValue("VELQUIN_TEST_PORT");
    server.user = qEnvironmentVariable("VELQUIN_TEST_USER");
    server.password = qEnvironmentVariable("VELQUIN_TEST_PASSWORD");
    if (server.port == 0)
        server.port = -1;
    return server;
}

QString TestServer::describe() const
{
    return isValid() ? QStringLiteral("%1@%2:%3").arg(user, host).arg(port)
                     : QStringLiteral("no test server: run the suite through scripts/test");
}

ConnectionParams TestServer::params(const QString &database) const
{
    ConnectionParams p;
    p.driver = QStringLiteral("QMYSQL");
    p.database = database;
    p.user = user;
    p.password = password;
    p.host = host;
    p.port = port;
    return p;
}

QSqlDatabase TestServer::check(const QString &name, const QString &database) const
{
    QSqlDatabase db = QSqlDatabase::contains(name)
        ? QSqlDatabase::database(name, false)
        : QSqlDatabase::addDatabase(QStringLiteral("QMARIADB"), name);
    db.setHostName(host);
    db.setPort(port);
    db.setUserName(user);
    db.setPassword(password);
    db.setDatabaseName(database);
    if (!db.isOpen() && !db.open())
        qWarning().noquote() << "check connection:" << db.lastError().text();
    return db;
}

bool TestServer::recreateDatabase(const QString &database) const
{
    bool ok;
    {
        QSqlDatabase db = check(QStringLiteral("vq_admin"), QString());
        ok = exec(db, QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(database))
            && exec(db, QStringLiteral("CREATE DATABASE `%1` CHARACTER SET utf8mb4").arg(database));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("vq_admin"));
    return ok;
}

PrivateServer::PrivateServer() = default;

PrivateServer::~PrivateServer()
{
    if (!m_process || m_process->state() == QProcess::NotRunning)
        return;
    ::kill(pid_t(m_process->processId()), SIGCONT); // a stopped server cannot stop
    m_process->terminate();
    if (!m_process->waitForFinished(20000))
        m_process->kill();
    m_process->waitForFinished(5000);
}

qint64 PrivateServer::pid() const
{
    return m_process ? m_process->processId() : 0;
}

namespace {
bool runQuietly(const QString &program, const QStringList &args)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, args);
    return process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
}
} // namespace

bool PrivateServer::client(const QString &sql) const
{
    return runQuietly(QStringLiteral("mariadb"), { "--no-defaults", "-S", m_dir.filePath("sock"), "-uroot", "-e", sql });
}

bool PrivateServer::start(const QString &database, QString *error)
{
    const QString installDb = qEnvironmentVariable("VELQUIN_INSTALL_DB");
    const QString mariadbd = qEnvironmentVariable("VELQUIN_MARIADBD");
    const QString data = QStringLiteral("--datadir=") + m_dir.filePath("data");
    if (installDb.isEmpty() || mariadbd.isEmpty()
        || !runQuietly(installDb, { "--no-defaults", data, "--user=root", "--auth-root-authentication-method=normal",
                                    "--skip-test-db", "--skip-name-resolve" })) {
        *error = QStringLiteral("no private server: VELQUIN_INSTALL_DB and VELQUIN_MARIADBD come from scripts/test");
        return false;
    }
    QTcpServer probe; // a free port, given back at once
    probe.listen(QHostAddress::LocalHost);
    const int port = probe.serverPort();
    probe.close();
    m_process = std::make_unique<QProcess>();
    m_process->start(mariadbd, { "--no-defaults", data, "--user=root", "--socket=" + m_dir.filePath("sock"),
                                 QStringLiteral("--port=%1").arg(port), "--bind-address=127.0.0.1",
                                 "--log-error=" + m_dir.filePath("err.log") });
    const auto answers = [this] {
        const bool up = client(QStringLiteral("select 1"));
        if (!up)
            QThread::msleep(100);
        return up;
    };
    m_server = { QStringLiteral("127.0.0.1"), port, QStringLiteral("velquin"), QStringLiteral("vq-own") };
    if (!waitUntil(answers, 60000)
        || !client(QStringLiteral("CREATE USER 'velquin'@'127.0.0.1' IDENTIFIED BY 'vq-own'; "
                                  "GRANT ALL ON *.* TO 'velquin'@'127.0.0.1'; CREATE DATABASE `%1`").arg(database))) {
        *error = QStringLiteral("the private server did not start: see ") + m_dir.filePath("err.log");
        return false;
    }
    return true;
}

bool exec(const QSqlDatabase &db, const QString &sql)
{
    QSqlQuery q(db);
    if (q.exec(sql))
        return true;
    qWarning().noquote() << sql.left(200) << q.lastError().text();
    return false;
}

QVariant scalar(const QSqlDatabase &db, const QString &sql)
{
    QSqlQuery q(db);
    if (!q.exec(sql) || !q.next()) {
        qWarning().noquote() << sql.left(200) << q.lastError().text();
        return {};
    }
    return q.value(0);
}

qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

void handleEventsFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    // processEvents() with a time limit never sleeps: it would spin a core
    // that the server and the program's own threads need. The tick wakes the
    // wait for conditions that no event announces.
    QTimer tick;
    tick.start(5);
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

bool connectWindow(QZQuorvinWindow &window, const ConnectionParams &p)
{
    ModalAnswerer answer(QStringLiteral("Connection Dialog"), [p](QWidget *dialog) {
        auto *driver = dialog->findChild<QComboBox *>(QStringLiteral("comboDriver"));
        if (driver->findText(p.driver) < 0)
            driver->addItem(p.driver);
        driver->setCurrentIndex(driver->findText(p.driver));
        dialog->findChild<QLineEdit *>(QStringLiteral("editDatabase"))->setText(p.database);
        dialog->findChild<QLineEdit *>(QStringLiteral("editUsername"))->setText(p.user);
        dialog->findChild<QLineEdit *>(QStringLiteral("editPassword"))->setText(p.password);
        dialog->findChild<QLineEdit *>(QStringLiteral("editHostname"))->setText(p.host);
        dialog->findChild<QSpinBox *>(QStringLiteral("portSpinBox"))->setValue(p.port);
        dialog->findChild<QComboBox *>(QStringLiteral("comboTlsMode"))->setCurrentIndex(int(p.tlsMode));
        dialog->findChild<QLineEdit *>(QStringLiteral("editTlsCa"))->setText(p.tlsCa);
        dialog->findChild<QLineEdit *>(QStringLiteral("editTlsCert"))->setText(p.tlsCert);
        dialog->findChild<QLineEdit *>(QStringLiteral("editTlsKey"))->setText(p.tlsKey);
        dialog->findChild<QPushButton *>(QStringLiteral("PushButton1"))->click();
    });
    QString last;
    QObject listener;
    QObject::connect(&window, &QZQuorvinWindow::message, &listener,
                     [&last](const QString &text) { last = text; });
    window.findChild<QAction *>(QStringLiteral("m_pConnectAct"))->trigger();
    if (!answer.answered())
        return false;
    waitUntil([&] { return !last.isEmpty(); }, 20000);
    return last == QStringLiteral("接続完了。");
}

bool openAndWait(DatabaseConnection &connection, const ConnectionParams &params)
{
    bool done = false;
    DbError error;
    connection.open(params, [&](const DbError &e) {
        error = e;
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, 20000) || error.isSet()) {
        qWarning().noquote() << "open:" << error.text();
        return false;
    }
    return true;
}

std::unique_ptr<ResultModel> queryAll(DatabaseConnection &connection, const QString &sql)
{
    std::unique_ptr<ResultModel> model;
    bool done = false;
    connection.run(sql, false, [&](const StatementResult &result) {
        done = true;
        if (result.kind != StatementResult::Rows) {
            qWarning().noquote() << sql.left(200) << result.error.text();
            return;
        }
        model = std::make_unique<ResultModel>(result.columns, result.firstRows);
        model->follow(&connection, result.streamId);
    });
    if (!QTest::qWaitFor([&] { return done && (!model || !model->isLoading()); }, 60000))
        return nullptr;
    return model;
}

struct ModalAnswerer::State
{
    QTimer timer;
    QElapsedTimer started;
    bool answered = false;
};

ModalAnswerer::ModalAnswerer(const QString &objectName, Action action, int timeoutMs)
    : d(new State)
{
    State *state = d.get();
    state->started.start();
    state->timer.setInterval(10);
    QObject::connect(&state->timer, &QTimer::timeout, [state, objectName, action, timeoutMs] {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && modal->objectName() == objectName && modal->isVisible()) {
            state->timer.stop();
            state->answered = true;
            action(modal);
        } else if (state->started.elapsed() > timeoutMs) {
            state->timer.stop();
            if (modal)
                modal->close();
        }
    });
    state->timer.start();
}

ModalAnswerer::~ModalAnswerer() = default;

bool ModalAnswerer::answered() const
{
    return d->answered;
}

ScratchDirectory::ScratchDirectory()
    : m_previous(QDir::currentPath())
{
    QDir::setCurrent(m_dir.path());
}

ScratchDirectory::~ScratchDirectory()
{
    QDir::setCurrent(m_previous);
}

WindowSession::WindowSession() = default;
WindowSession::~WindowSession() = default;

void WindowSession::start()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral("still in use")));
    m_scratch = std::make_unique<ScratchDirectory>();
    m_window = std::make_unique<QZQuorvinWindow>();
    m_window->InitWindow();
    m_messages = std::make_unique<QSignalSpy>(m_window.get(), &QZQuorvinWindow::message);
}

void WindowSession::stop()
{
    m_messages.reset();
    m_window.reset();
    m_scratch.reset();
}

QTableView *WindowSession::grid() const
{
    return m_window->findChild<QTableView *>(QStringLiteral("m_pDataTable"));
}

void WindowSession::trigger(const char *name)
{
    QAction *action = m_window->findChild<QAction *>(QString::fromLatin1(name));
    QVERIFY2(action, name);
    action->trigger();
}

bool WindowSession::connect(const ConnectionParams &p)
{
    return connectWindow(*m_window, p);
}

bool WindowSession::idle() const
{
    auto *exec = m_window->findChild<QAction *>(QStringLiteral("m_pExecAct"));
    return !QApplication::overrideCursor() && exec->isEnabled();
}

void WindowSession::type(const QString &sql)
{
    m_window->findChild<QZEditTabWidget *>(QStringLiteral("m_pTabWidget"))
        ->currentPage()
        ->setPlainText(sql);
}

void WindowSession::run(const QString &sql)
{
    type(sql);
    trigger("m_pExecAct");
    QTRY_VERIFY_WITH_TIMEOUT(idle(), 30000);
}

QStringList WindowSession::statuses() const
{
    QStringList out;
    for (const QList<QVariant> &args : *m_messages)
        out << args.at(0).toString();
    return out;
}
