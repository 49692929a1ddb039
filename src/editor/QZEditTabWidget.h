#pragma once

#include <QString>
#include <QTabWidget>

class QZTextEdit;

// The tab set above the result grid: every page is a QZTextEdit. Editing
// commands act on the current page only.
class QZEditTabWidget : public QTabWidget
{
    Q_OBJECT

public:
    explicit QZEditTabWidget(QWidget *parent = nullptr, const char *name = nullptr,
                             Qt::WindowFlags f = {});
    ~QZEditTabWidget() override;

    // The editor of the current tab, or null when the set holds no tab.
    QZTextEdit *currentPage() const;

public slots:
    void NewTab(const QString &);
    void NewTab();
    void CloseTab();
    void Undo();
    void Redo();
    void Copy();
    void Cut();
    void Paste();
    void Clear();
    void RecSQL();
    void PastSQL();

private:
    QString m_strSQL;
};
