// Splitting a large script: the splitter beside two references measured on
// the same text in the same run, a plain scan for ';' (the least any splitter
// must do) and QString::split(';') (which also copies every piece).
#include "StatementSplitter.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <functional>
#include <vector>

namespace {

QString buildScript(qsizetype targetBytes)
{
    const QString pieces[] = {
        QStringLiteral("insert into 商品 (id, name, note) values (%1, '商品%1', 'it''s \\'ok\\'; really');\n"),
        QStringLiteral("-- 在庫の更新; 注意\nupdate stock set n = n - 1 where id = %1 and tag <> \"a;b\";\n"),
        QStringLiteral("/* 集計 */ select `列;%1`, count(*) from t # 件数\ngroup by 1;\n"),
        QStringLiteral("/*!40101 SET @x = %1 */;\n"),
    };
    QString script;
    qsizetype bytes = 0;
    for (int i = 0; bytes < targetBytes; ++i) {
        const QString line = pieces[i % 4].arg(i);
        bytes += line.toUtf8().size();
        script += line;
        if (i % 1000 == 999) {
            const QString block = QStringLiteral(
                "DELIMITER //\ncreate procedure p%1() begin select 1; select 2; end//\nDELIMITER ;\n").arg(i);
            bytes += block.size();
            script += block;
        }
    }
    return script;
}

// Best of a few runs: the machine is shared, the minimum is the honest figure.
// The callers keep what they split until the clock has stopped, splitter and
// reference alike: freeing is not splitting.
double bestMs(int runs, const std::function<qsizetype()> &work, qsizetype *result)
{
    double best = 1e99;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        *result = work();
        best = qMin(best, timer.nsecsElapsed() / 1e6);
    }
    return best;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    QCommandLineOption mb(QStringLiteral("mb"), QStringLiteral("Script size in MB (UTF-8)."),
                          QStringLiteral("n"), QStringLiteral("10"));
    QCommandLineOption runs(QStringLiteral("runs"), QStringLiteral("Runs per figure."),
                            QStringLiteral("n"), QStringLiteral("5"));
    parser.addOptions({ mb, runs });
    parser.addHelpOption();
    parser.process(app);
    const int n = qMax(1, parser.value(runs).toInt());

    const QString script = buildScript(qsizetype(parser.value(mb).toDouble() * 1e6));
    const QString oneLine = QString(script.size(), u'x').prepend(QStringLiteral("select '")) + u'\'';
    std::printf("script: %.1f MB UTF-8, %lld UTF-16 units\n", script.toUtf8().size() / 1e6,
                qlonglong(script.size()));

    qsizetype count = 0;
    const double scan = bestMs(n, [&] { return script.count(u';'); }, &count);
    std::printf("reference  scan for ';'           %8.1f ms  (%lld)\n", scan, qlonglong(count));
    std::vector<QStringList> pieces;
    pieces.reserve(n);
    const double split = bestMs(n, [&] {
        pieces.push_back(script.split(u';'));
        return pieces.back().size();
    }, &count);
    pieces.clear();
    std::printf("reference  QString::split(';')    %8.1f ms  (%lld pieces)\n", split, qlonglong(count));

    std::vector<SplitResult> kept;
    kept.reserve(n);
    const double ours = bestMs(n, [&] {
        kept.push_back(splitStatements(script));
        return kept.back().statements.size();
    }, &count);
    const SplitError error = kept.back().error;
    kept.clear();
    std::printf("splitStatements                   %8.1f ms  (%lld statements%s)  target < 200 ms\n",
                ours, qlonglong(count), error.kind == SplitError::None ? "" : ", ERROR");
    const double at = bestMs(n, [&] { return statementAt(script, script.size() - 2)->start; }, &count);
    std::printf("statementAt, cursor at the end    %8.1f ms\n", at);
    const double line = bestMs(n, [&] { return splitStatements(oneLine).statements.size(); }, &count);
    std::printf("splitStatements, one line, no ';' %8.1f ms  (%lld statement)\n", line, qlonglong(count));
    return error.kind == SplitError::None ? 0 : 1;
}
