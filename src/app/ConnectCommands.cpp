// Connect and Disconnect: the life of the one connection, named "MySQL".
// No QSqlDatabase is kept anywhere: each step looks the connection up again,
// and every copy is gone before the name is removed.

#include "QZQuorvinWindow.h"

#include "ConnectDialog.h"

#include <QDebug>
#include <QSqlDatabase>
#include <QSqlQuery>

namespace {

const QString ConnectionName = QStringLiteral("MySQL");
const QString ProductName = QStringLiteral("Velquin");

// Without it, a host that accepts the connection and never answers holds
// the window for ever. The same bound covers the handshake.
const QString ConnectOptions = QStringLiteral("MYSQL_OPT_CONNECT_TIMEOUT=10");

} // namespace

void QZQuorvinWindow::Connect()
{
    // Existence alone decides: opening a half-registered connection here only
    // to close it again would cost a network round (or a timeout) for nothing.
    if (QSqlDatabase::contains(ConnectionName))
        Disconnect();

    // Each Connect starts from a fresh dialog. The previous one is of no
    // further use; keeping it would grow the process by every dialog shown.
    delete m_pConnectDialog;
    m_pConnectDialog = new ConnectDialog(this, "Connection Dialog", true);
    m_pConnectDialog->ReadSettings(QStringLiteral("database.ini"));
    if (m_pConnectDialog->exec() != QDialog::Accepted)
        return;

    const ConnectionParams params = m_pConnectDialog->params();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(params.driver, ConnectionName);
        qDebug().noquote() << params.driver;
        if (!db.isValid()) {
            // Qt registers even a connection it has no driver for; take it back
            // so that the state is plainly "not connected".
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(ConnectionName);
            connectionFailed();
            return;
        }

        db.setHostName(params.host);
        qDebug().noquote() << params.host;
        db.setDatabaseName(params.database);
        qDebug().noquote() << params.database;
        db.setPort(params.port);
        db.setConnectOptions(ConnectOptions);
        if (!db.open(params.user, params.password)) {
            connectionFailed();
            return;
        }
    }

    setWindowTitle(ProductName + QLatin1Char('(') + params.database + QLatin1Char('@')
                   + params.user + QStringLiteral("...に接続)"));
    qDebug().noquote() << ProductName;

    {
        // The driver speaks UTF-8; make sure the server answers in kind, with
        // 4-byte characters included. The outcome is not examined.
        QSqlQuery charset(QSqlDatabase::database(ConnectionName, true));
        charset.exec(QStringLiteral("SET NAMES utf8mb4"));
    }

    emit message(QStringLiteral("接続完了。"));
    m_pConnectDialog->WriteSettings();
}

void QZQuorvinWindow::connectionFailed()
{
    emit message(QStringLiteral("接続できませんでした。"));
    setWindowTitle(ProductName);
}

void QZQuorvinWindow::Disconnect()
{
    if (!QSqlDatabase::contains(ConnectionName))
        return;

    finishPendingResult();
    {
        // Not opened on the way: closing a connection that failed to open must
        // not wait for another attempt.
        QSqlDatabase db = QSqlDatabase::database(ConnectionName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(ConnectionName);
    setWindowTitle(ProductName);
}
