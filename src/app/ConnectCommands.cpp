// Connect and Disconnect: the connection opens and closes off this thread;
// the window shows the dialog, the caption and the status texts.

#include "QZQuorvinWindow.h"

#include "ConnectDialog.h"
#include "ConnectionTexts.h"
#include "DatabaseConnection.h"
#include "MessageLog.h"
#include "SchemaPanel.h"
#include "ResultPanel.h"

#include <QDebug>
#include <QLabel>
#include <QPointer>
#include <QSqlDatabase>

void QZQuorvinWindow::Connect()
{
    if (!confirmDiscardEdits(m_pResults->allModels()))
        return;
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
    m_pConnection->open(params, [this, dialog, params](const DbError &error) {
        updateActions();
        m_pLog->add(QStringLiteral("接続 ") + connectionTarget(params),
                    error.isSet() ? connectFailureText(error, params.host)
                                  : QStringLiteral("接続しました"));
        updateTlsLabel();
        if (error.isSet()) {
            if (error.cancelled)
                emit message(QStringLiteral("キャンセルしました。"));
            connectionFailed();
            return;
        }
        connectionOpened(params.database, params.user);
        m_pSchemaPanel->open(params);
        if (dialog)
            dialog->WriteSettings();
    });
    updateActions();
}

void QZQuorvinWindow::connectionOpened(const QString &database, const QString &user)
{
    setWindowTitle(QStringLiteral("Velquin") + QLatin1Char('(') + database + QLatin1Char('@') + user
                   + QStringLiteral("...に接続)"));
    qDebug().noquote() << QStringLiteral("Velquin");
    emit message(QStringLiteral("接続完了。"));
}

void QZQuorvinWindow::connectionFailed()
{
    emit message(QStringLiteral("接続できませんでした。"));
    setWindowTitle(QStringLiteral("Velquin"));
}

// The connection's own thread finishes the close; the window stops
// listening to what was on its way.
void QZQuorvinWindow::Disconnect()
{
    if (m_pConnection->state() == DatabaseConnection::Closed && !m_pConnection->isBusy()
        && !QSqlDatabase::contains(DatabaseConnection::connectionName()))
        return;
    if (!confirmDiscardEdits(m_pResults->allModels()))
        return;
    const ConnectionParams params = m_pConnection->params();
    m_pConnection->close();
    m_pSchemaPanel->close();
    m_pLog->add(QStringLiteral("切断 ") + connectionTarget(params), QStringLiteral("切断しました"));
    setWindowTitle(QStringLiteral("Velquin"));
    updateActions();
}

void QZQuorvinWindow::updateTlsLabel()
{
    const bool open = m_pConnection->state() == DatabaseConnection::Open;
    m_pTlsLabel->setText(sessionText(open, m_pConnection->session()));
    m_pTlsLabel->setVisible(open);
}
