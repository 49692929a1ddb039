// F5, Ctrl+Return and an SQL file each become a run for the executor, off
// this thread; queries fill the result panel, changes end with the question.

#include "QZQuorvinWindow.h"

#include "DatabaseConnection.h"
#include "GridEditApply.h"
#include "GridEditCommands.h"
#include "MessageLog.h"
#include "QZEditTabWidget.h"
#include "QZTextEdit.h"
#include "QueryExecutor.h"
#include "ResultPanel.h"
#include "StatementSplitter.h"
#include "TextFileCodec.h"

#include <QFileDialog>

bool QZQuorvinWindow::readyToRun()
{
    if (m_pConnection->state() == DatabaseConnection::Opening || m_pExecutor->running()
        || m_pGridEdits->applier()->running())
        return false;
    if (m_pConnection->state() == DatabaseConnection::Closed) {
        emit message(QStringLiteral("データベースへ接続して下さい。"));
        Connect();
        return false;
    }
    // The run replaces this tab's results, and their pending edits with them.
    return confirmDiscardEdits(m_pResults->models(m_pTabWidget->currentPage()));
}

void QZQuorvinWindow::startRun(QZTextEdit *page)
{
    m_runPage = page;
    m_pResults->setRunPage(page);
}

void QZQuorvinWindow::refuseRun(QZTextEdit *page, qsizetype openAt)
{
    if (openAt < 0) {
        emit message(QStringLiteral("命令文を記述して下さい。"));
        return;
    }
    // Nothing runs that cannot be delimited; point at what is left open.
    page->selectRange(int(openAt), int(openAt) + 1);
    emit message(QStringLiteral("命令文の終わりが分かりません。"));
}

void QZQuorvinWindow::Exec()
{
    QZTextEdit *page = m_pTabWidget->currentPage();
    if (!readyToRun() || !page)
        return;
    // The selection when there is one, else the whole text.
    const QTextCursor cursor = page->textCursor();
    const bool selected = cursor.hasSelection();
    const int from = selected ? cursor.selectionStart() : 0;
    const SplitResult split =
        splitStatements(page->toPlainText().mid(from, selected ? cursor.selectionEnd() - from : -1));
    if (!split.ok() || split.statements.isEmpty())
        return refuseRun(page, split.ok() ? -1 : from + split.error.offset);
    startRun(page);
    m_pExecutor->execute(QueryRun::fromText(page, from, split.statements));
}

void QZQuorvinWindow::ExecCurrent()
{
    QZTextEdit *page = m_pTabWidget->currentPage();
    if (!readyToRun() || !page)
        return;
    SplitError error;
    const std::optional<SqlStatement> statement =
        statementAt(page->toPlainText(), page->textCursor().position(), &error);
    if (error.kind != SplitError::None || !statement)
        return refuseRun(page, error.kind != SplitError::None ? error.offset : -1);
    startRun(page);
    m_pExecutor->execute(QueryRun::fromText(page, 0, { *statement }));
}

void QZQuorvinWindow::RunFile()
{
    if (!readyToRun())
        return;
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("SQL ファイルを実行"), QString(),
        QStringLiteral("SQL (*.sql);;すべてのファイル (*)"));
    if (path.isEmpty() || !readyToRun())
        return;
    const QByteArray encoding = TextFileCodec::scriptEncoding(path);
    if (encoding.isEmpty()) {
        m_pLog->add(path, QStringLiteral("実行しませんでした: テキストファイルではないか、"
                                         "文字コードが分かりません"));
        emit message(QStringLiteral("ファイルを実行できませんでした。"));
        return;
    }
    startRun(nullptr);
    m_pExecutor->execute(QueryRun::fromFile(path, encoding));
}

void QZQuorvinWindow::Cancel()
{
    if (m_pConnection->state() == DatabaseConnection::Opening)
        m_pConnection->cancel();
    else
        m_pExecutor->cancel();
}

void QZQuorvinWindow::statementError(qsizetype position)
{
    m_pResults->runFailed();
    if (!m_runPage || position < 0)
        return;
    const int at = int(position);
    m_runPage->selectRange(at, at);
    m_runPage->markError(at);
}
