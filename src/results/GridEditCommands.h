#pragma once

#include <QList>
#include <QObject>

class DatabaseConnection;
class GridEditApply;
class QueryExecutor;
class ResultGrid;
class ResultModel;

// The grid's edit commands, acting on the result it shows; Apply sends the
// pending edits on the user's connection, never while a statement runs there.
class GridEditCommands : public QObject
{
    Q_OBJECT

public:
    GridEditCommands(ResultGrid *grid, DatabaseConnection *connection,
                     const QueryExecutor *executor, QObject *parent = nullptr);

    // Its questions and outcomes are the window's to wire.
    GridEditApply *applier() const { return m_apply; }

    void apply();
    void discard();
    void setNull();
    void insertRow();
    void deleteRows();
    // Those of `models` that hold edits not yet applied.
    static QList<ResultModel *> pending(const QList<ResultModel *> &models);

signals:
    void message(const QString &text);

private:
    ResultGrid *m_grid;
    const QueryExecutor *m_executor;
    GridEditApply *m_apply;
};
