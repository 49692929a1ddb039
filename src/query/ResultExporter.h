#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <vector>

class QIODevice;
class QItemSelection;
class ResultModel;

// Writes rows of a result as text others read: the clipboard's
// tab-separated cells, CSV, TSV, JSON or SQL INSERT statements. Values go
// out exactly as the server sent them; NULL and the empty string stay
// apart wherever the format can tell them apart.
class ResultExporter
{
public:
    enum class Format { Tsv, Csv, Json, SqlInsert };
    enum class Outcome { Written, Cancelled, Failed };

    struct Options
    {
        Format format = Format::Tsv;
        // A first line of column names (TSV and CSV).
        bool header = false;
        // UTF-8 byte-order mark, so spreadsheets read Japanese (CSV).
        bool byteOrderMark = false;
        // TSV: the empty string written as "" so that only NULL is an
        // empty field. Text meant for pasting leaves both empty.
        bool quoteEmpty = true;
        // The INSERT statements' table: a result need not come from one.
        QString table = QStringLiteral("result");
    };

    // Called now and then while writing; returning false cancels.
    using Progress = std::function<bool(qint64 rowsDone, qint64 rowsTotal)>;

    ResultExporter(const ResultModel &model, const Options &options);

    // Rows (as shown) and columns to write; every one unless chosen.
    void select(std::vector<int> rows, QList<int> columns);
    // The rows and columns a selection touches, whole: a spreadsheet pastes
    // a rectangle.
    void select(const QItemSelection &selection);
    qint64 rowsChosen() const;

    // The whole text; with a progress callback that cancels, nothing.
    QByteArray text(const Progress &progress = {}, bool *complete = nullptr) const;
    Outcome write(QIODevice &out, const Progress &progress = {}) const;
    // Replaces the file only once every row is written; a failure or a
    // cancel leaves any old file as it was. error says why it failed.
    Outcome writeFile(const QString &path, const Progress &progress = {},
                      QString *error = nullptr) const;

    static Format formatForSuffix(const QString &suffix, bool *known = nullptr);

private:
    class Writer;

    const ResultModel &m_model;
    Options m_options;
    std::vector<int> m_rows;
    QList<int> m_columns;
    bool m_allRows = true;
};
