#include "TestSupport.h"

#include "QZEditTabWidget.h"
#include "QZQuorvinWindow.h"
#include "QZTextEdit.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QAbstractButton>
#include <QPushButton>
#include <QTableView>
#include <QRegularExpression>
#include <QSpinBox>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QTimer>

TestServer TestServer::fromEnvironment()
{
    TestServer server;
    server.host = qEnvironmentVariable("VELQUIN_TEST_HOST");
    server.port = qEnvironmentVariableIntValue("VELQUIN_TEST_PORT");
    server.user = qEnvironmentVariable("VELQUIN_TEST_USER");
    server.password = qEnvironmentVariable("VELQUIN_TEST_PASSWORD");
    server.socket = qEnvironmentVariable("VELQUIN_TEST_SOCKET");
    if (server.port == 0)
        server.port = -1;
    return server;
}

QString TestServer::describe() const
{
    return isValid() ? QStringLiteral("%1@%2:%3").arg(user, host).arg(port)
                     : QStringLiteral("no test server: run the suite through scripts/test");
}

QSqlDatabase TestServer::openCheckConnection(const QString &name, const QString &database) const
{
    QSqlDatabase db = QSqlDatabase::contains(name) ? QSqlDatabase::database(name, false)
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
    bool ok = false;
    {
        QSqlDatabase db = openCheckConnection(QStringLiteral("vq_admin"), QString());
        QSqlQuery q(db);
        ok = q.exec(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(database))
            && q.exec(QStringLiteral("CREATE DATABASE `%1` CHARACTER SET utf8mb4").arg(database));
        if (!ok)
            qWarning().noquote() << q.lastError().text();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("vq_admin"));
    return ok;
}

struct ModalAnswerer::State
{
    QTimer timer;
    bool answered = false;
};

ModalAnswerer::ModalAnswerer(const QString &objectName, Action action, int timeoutMs, int pollMs)
    : d(new State)
{
    auto *state = d;
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    d->timer.setInterval(pollMs);
    QObject::connect(&d->timer, &QTimer::timeout, [state, objectName, action, started, timeoutMs] {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && modal->objectName() == objectName && modal->isVisible()) {
            state->timer.stop();
            state->answered = true;
            action(modal);
        } else if (started->elapsed() > timeoutMs) {
            state->timer.stop();
            // Close whatever is open so the test fails instead of hanging.
            if (modal)
                modal->close();
        }
    });
    d->timer.start();
}

ModalAnswerer::~ModalAnswerer()
{
    delete d;
}

bool ModalAnswerer::answered() const
{
    return d->answered;
}

ConnectionInput inputFor(const TestServer &server, const QString &database)
{
    ConnectionInput input;
    input.database = database;
    input.user = server.user;
    input.password = server.password;
    input.host = server.host;
    input.port = server.port;
    return input;
}

void fillConnectDialog(QWidget *dialog, const ConnectionInput &input)
{
    auto *driver = dialog->findChild<QComboBox *>(QStringLiteral("comboDriver"));
    int at = driver->findText(input.driver);
    if (at < 0) {
        // A name Qt lists but cannot load behaves like this one.
        driver->addItem(input.driver);
        at = driver->count() - 1;
    }
    driver->setCurrentIndex(at);
    dialog->findChild<QLineEdit *>(QStringLiteral("editDatabase"))->setText(input.database);
    dialog->findChild<QLineEdit *>(QStringLiteral("editUsername"))->setText(input.user);
    dialog->findChild<QLineEdit *>(QStringLiteral("editPassword"))->setText(input.password);
    dialog->findChild<QLineEdit *>(QStringLiteral("editHostname"))->setText(input.host);
    dialog->findChild<QSpinBox *>(QStringLiteral("portSpinBox"))->setValue(input.port);
    dialog->findChild<QPushButton *>(QStringLiteral("PushButton1"))->click();
}

bool connectThroughDialog(QZQuorvinWindow &window, const ConnectionInput &input)
{
    ModalAnswerer answer(QStringLiteral("Connection Dialog"),
                         [input](QWidget *dialog) { fillConnectDialog(dialog, input); });
    triggerAction(window, "m_pConnectAct");
    return answer.answered();
}

void triggerAction(QZQuorvinWindow &window, const char *objectName)
{
    QAction *action = window.findChild<QAction *>(QString::fromLatin1(objectName));
    QVERIFY2(action, objectName);
    action->trigger();
}

void setEditorText(QZQuorvinWindow &window, const QString &text)
{
    auto *tabs = window.findChild<QZEditTabWidget *>(QStringLiteral("m_pTabWidget"));
    tabs->currentPage()->setPlainText(text);
}

QStringList statusTexts(const QList<QList<QVariant>> &spy)
{
    QStringList out;
    for (const QList<QVariant> &args : spy)
        out << args.at(0).toString();
    return out;
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

void failOnConnectionInUse()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral("still in use")));
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

std::unique_ptr<ModalAnswerer> answerCommitQuestion(QMessageBox::StandardButton button)
{
    return std::make_unique<ModalAnswerer>(QStringLiteral("ConfirmCommitMessageBox"), [button](QWidget *w) {
        static_cast<QMessageBox *>(w)->button(button)->click();
    });
}

void WindowSession::start(bool show)
{
    failOnConnectionInUse();
    m_scratch = std::make_unique<ScratchDirectory>();
    m_window = std::make_unique<QZQuorvinWindow>();
    m_window->InitWindow();
    if (show)
        m_window->show();
}

void WindowSession::stop()
{
    if (m_window)
        trigger("m_pDisconnectAct");
    m_window.reset();
    m_scratch.reset();
}

QTableView *WindowSession::grid() const
{
    return m_window->findChild<QTableView *>(QStringLiteral("m_pDataTable"));
}

void WindowSession::run(const QString &sql)
{
    setEditorText(*m_window, sql);
    trigger("m_pExecAct");
}
