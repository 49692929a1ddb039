#include "CommitBoxes.h"

#include <QApplication>
#include <QMessageBox>

QueryExecutor::Answer CommitBoxes::askCommit(QWidget *parent, const QueryExecutor::Change &change)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Database情報"),
                    QStringLiteral("コミットしてよろしいですか？"),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, parent);
    box.setObjectName(QStringLiteral("ConfirmCommitMessageBox"));
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::Cancel);
    box.setInformativeText(QStringLiteral("%L1 行が変更されます。").arg(change.affectedRows));
    if (!change.statements.isEmpty())
        box.setDetailedText(change.statements.join(QLatin1Char('\n')));
    box.setModal(true);
    // The question waits for the user, not for the server.
    QApplication::restoreOverrideCursor();
    const int answer = box.exec();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    switch (answer) {
    case QMessageBox::Yes:
        return QueryExecutor::Yes;
    case QMessageBox::No:
        return QueryExecutor::No;
    case QMessageBox::Cancel:
        return QueryExecutor::Cancel;
    default:
        return QueryExecutor::Other;
    }
}

bool CommitBoxes::askImplicitCommit(QWidget *parent, const QStringList &statements)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Database情報"),
                    QStringLiteral("次の文はサーバーが自動的にコミットします。"
                                   "取り消しはできません。実行しますか？"),
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setObjectName(QStringLiteral("ConfirmImplicitCommitMessageBox"));
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    box.setInformativeText(statements.join(QLatin1Char('\n')));
    return box.exec() == QMessageBox::Yes;
}

bool CommitBoxes::askDiscardEdits(QWidget *parent)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Database情報"),
                    QStringLiteral("グリッドに適用していない変更があります。破棄してよろしいですか？"),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, parent);
    box.setObjectName(QStringLiteral("ConfirmDiscardEditsMessageBox"));
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::Cancel);
    box.setModal(true);
    return box.exec() == QMessageBox::Yes;
}
