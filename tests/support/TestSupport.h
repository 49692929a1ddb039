#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QTemporaryDir>

#include <QMessageBox>

#include <functional>
#include <memory>

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
    QString socket;

    static TestServer fromEnvironment();
    bool isValid() const { return port > 0 && !user.isEmpty(); }
    QString describe() const;

    // A connection of the test's own (not the program's), for setting up
    // and for checking what the server really holds.
    QSqlDatabase openCheckConnection(const QString &name, const QString &database) const;
    // Creates (or empties) a database of the given name; the test user may
    // create any database whose name starts with "vq_".
    bool recreateDatabase(const QString &database) const;
};

// Answers the next modal widget with the given object name from a timer, as
// a user would: modal dialogs run their own event loop.
class ModalAnswerer
{
public:
    using Action = std::function<void(QWidget *)>;
    ModalAnswerer(const QString &objectName, Action action, int timeoutMs = 15000, int pollMs = 10);
    ~ModalAnswerer();
    bool answered() const;

private:
    struct State;
    State *d;
};

// Fills the connection dialog and presses OK.
struct ConnectionInput
{
    QString driver = QStringLiteral("QMYSQL");
    QString database;
    QString user;
    QString password;
    QString host;
    int port = -1;
};
ConnectionInput inputFor(const TestServer &server, const QString &database);
void fillConnectDialog(QWidget *dialog, const ConnectionInput &input);

// Runs the window's Connect through the dialog with the given input.
bool connectThroughDialog(QZQuorvinWindow &window, const ConnectionInput &input);

// Triggers one of the window's actions by object name ("m_pExecAct", ...).
void triggerAction(QZQuorvinWindow &window, const char *objectName);

// The text of the current editor tab.
void setEditorText(QZQuorvinWindow &window, const QString &text);

// The status texts a QSignalSpy on QZQuorvinWindow::message recorded, in order.
QStringList statusTexts(const QList<QList<QVariant>> &spy);

// Resident memory of this process, in KiB.
qint64 residentKiB();

// Makes the test fail on Qt's warning that a connection is still in use
// when it is removed: that warning means queries died under our feet.
void failOnConnectionInUse();

// Answers the commit question with the given button, from a timer.
std::unique_ptr<ModalAnswerer> answerCommitQuestion(QMessageBox::StandardButton button);

// Runs each test in a scratch working directory: the program writes
// database.ini there.
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

// The program's window as each test gets it: fresh, in a fresh scratch
// working directory. start() from init(), stop() from cleanup().
class WindowSession
{
public:
    void start(bool show = false);
    void stop();

    QZQuorvinWindow &window() { return *m_window; }
    QZQuorvinWindow *operator->() { return m_window.get(); }
    QTableView *grid() const;
    void trigger(const char *action) { triggerAction(*m_window, action); }
    bool connect(const ConnectionInput &input) { return connectThroughDialog(*m_window, input); }
    // Puts the text in the current tab and presses F5.
    void run(const QString &sql);

private:
    std::unique_ptr<ScratchDirectory> m_scratch;
    std::unique_ptr<QZQuorvinWindow> m_window;
};
