// Connect and Disconnect: the window's side of the one connection. The
// connection object opens and closes it off this thread; the window shows
// the dialog, the caption and the status texts.

#include "QZQuorvinWindow.h"

#include "ConnectDialog.h"
#include "DatabaseConnection.h"
#include "MessageLog.h"
#include "SchemaPanel.h"

#include <QDebug>
#include <QLabel>
#include <QStatusBar>
#include <QPointer>
#include <QSqlDatabase>

namespace {

const QString ProductName = QStringLiteral("Velquin");

// Why a failed connect failed, and, where the usual mistake is plain, what
// to try instead.
QString connectFailure(const DbError &error, const QString &host)
{
    QString text = QStringLiteral("接続できませんでした: ") + error.text();
    // 2002: the client library took "localhost" to mean the local socket.
    if (error.code == 2002 && (host.isEmpty() || host == QLatin1String("localhost")))
        text += QStringLiteral(" · localhost はソケットで接続します。TCP で接続するには "
                               "127.0.0.1 を指定して下さい");
    return text;
}

} // namespace

QString QZQuorvinWindow::connectionTarget(const QString &host, int port, const QString &user,
                                          const QString &database)
{
    const QString shownHost = host.isEmpty() ? QStringLiteral("localhost") : host;
    const QString shownPort = port < 0 ? QStringLiteral("既定のポート") : QString::number(port);
    // A socket has no port.
    return user + QLatin1Char('@') + shownHost
        + (host.startsWith(QLatin1Char('/')) ? QString() : QLatin1Char(':') + shownPort)
        + QLatin1Char('/') + database;
}

void QZQuorvinWindow::Connect()
{
    if (m_pConnection->state() != DatabaseConnection::Closed
        || QSqlDatabase::contains(DatabaseConnection::connectionName()))
        Disconnect();

    // Each Connect starts from a fresh dialog. The previous one is of no
    // further use; keeping it would grow the process by every dialog shown.
    delete m_pConnectDialog;
    m_pConnectDialog = new ConnectDialog(this, "Connection Dialog", true);
    m_pConnectDialog->ReadSettings(QStringLiteral("database.ini"));
    if (m_pConnectDialog->exec() != QDialog::Accepted)
        return;

    const ConnectionParams params = m_pConnectDialog->params();

    QPointer<ConnectDialog> dialog = m_pConnectDialog;
    const QString target = QStringLiteral("接続 ")
        + connectionTarget(params.host, params.port, params.user, params.database);
    m_pConnection->open(params, [this, dialog, params, target](const DbError &error) {
        updateRunActions();
        updateTlsLabel();
        m_pLog->add(target, error.isSet() ? connectFailure(error, params.host)
                                          : QStringLiteral("接続しました"));
        if (error.isSet()) {
            if (error.message == QLatin1String("cancelled"))
                emit message(QStringLiteral("キャンセルしました。"));
            connectionFailed();
            return;
        }
        connectionOpened(params.database, params.user);
        m_pSchemaPanel->open(params);
        if (dialog)
            dialog->WriteSettings();
    });
    updateRunActions();
}

void QZQuorvinWindow::connectionOpened(const QString &database, const QString &user)
{
    setWindowTitle(ProductName + QLatin1Char('(') + database + QLatin1Char('@') + user
                   + QStringLiteral("...に接続)"));
    qDebug().noquote() << ProductName;
    emit message(QStringLiteral("接続完了。"));
}

void QZQuorvinWindow::connectionFailed()
{
    emit message(QStringLiteral("接続できませんでした。"));
    setWindowTitle(ProductName);
}

void QZQuorvinWindow::Disconnect()
{
    if (m_pConnection->state() == DatabaseConnection::Closed && !m_pConnection->isBusy()
        && !QSqlDatabase::contains(DatabaseConnection::connectionName()))
        return;
    const ConnectionParams params = m_pConnection->params();
    m_pConnection->close();
    m_pSchemaPanel->close();
    m_pLog->add(QStringLiteral("切断 ")
                    + connectionTarget(params.host, params.port, params.user, params.database),
                QStringLiteral("切断しました"));
    setWindowTitle(ProductName);
    updateRunActions();
}

void QZQuorvinWindow::updateTlsLabel()
{
    if (!m_pTlsLabel) {
        m_pTlsLabel = new QLabel(statusBar());
        m_pTlsLabel->setObjectName(QStringLiteral("m_pTlsLabel"));
        statusBar()->addPermanentWidget(m_pTlsLabel);
    }
    const bool open = m_pConnection->state() == DatabaseConnection::Open;
    const TlsSession session = m_pConnection->session();
    QString text;
    if (open && session.encrypted()) {
        QString version = session.version;
        version.replace(QLatin1String("TLSv"), QString());
        text = QStringLiteral("TLS %1 %2").arg(version, session.cipher);
    } else if (open) {
        text = QStringLiteral("暗号化なし");
    }
    m_pTlsLabel->setText(text);
    m_pTlsLabel->setVisible(open);
}
