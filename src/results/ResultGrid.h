#pragma once

#include <QTableView>

#include <vector>

class QAction;
class ResultModel;

// The grid over the current result (object name "m_pDataTable"): the rows,
// their sort through the header, and what the user does with them: copy,
// export, columns as wide as their values.
class ResultGrid : public QTableView
{
    Q_OBJECT

public:
    explicit ResultGrid(QWidget *parent = nullptr);

    // The model shown when it is a query result, else null.
    ResultModel *resultModel() const;
    // Shows a model; a new result starts unsorted, its columns fitted.
    void showModel(QAbstractItemModel *model);

    void copySelection(int format, bool withHeaders);
    // Posts why the result shown cannot be edited.
    void sayReadOnly(const QString &reason);
    // Asks for a file and writes every row of the result to it.
    void exportResult();

signals:
    void message(const QString &text);

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void createCopyActions();
    // Sizes the columns to their widest values; afterwards only grows
    // columns the user has not resized himself.
    void fitColumnsToWidest(bool fresh);
    void fitGrownColumns();
    bool waitForLastRow(ResultModel *model);

    QAction *m_pCopyCellsAct = nullptr;
    QAction *m_pCopyWithHeadersAct = nullptr;
    QAction *m_pCopyAsInsertAct = nullptr;
    std::vector<int> m_columnWidths;
    quint64 m_widthVersion = 0;
};
