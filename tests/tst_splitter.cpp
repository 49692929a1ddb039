#include "SqlLexer.h"
#include "StatementKeywords.h"
#include "StatementSplitter.h"

#include <QTest>

class tst_Splitter : public QObject
{
    Q_OBJECT

private slots:
    void split_data();
    void split();
    void statementAt_data();
    void statementAt();
    void nature_data();
    void nature();
    void lex_data();
    void lex();
    void lineByLine();
    void pieces();
};

using Starts = QList<qsizetype>;

void tst_Splitter::split_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<Starts>("starts"); // checked only when given
    QTest::addColumn<int>("error");     // SplitError::Kind
    QTest::addColumn<qsizetype>("errorAt");

    auto row = [&](const char *name, const QString &sql, const QStringList &texts,
                   const Starts &starts = {}, int error = SplitError::None, qsizetype at = -1) {
        QTest::newRow(name) << sql << texts << starts << error << at;
    };
    row("two statements, blanks and comments trimmed", " select 1 ;\n-- c\nselect 2 -- tail\n;",
        { "select 1", "select 2" }, { 1, 17 });
    row("empty statements skipped", ";; select 1;;", { "select 1" });
    row("only blanks and comments", " -- a\n# b\n/* c; */ ;\n", {});
    row("delimiter in quotes", "select ';', \";\", `a;b`; select 2",
        { "select ';', \";\", `a;b`", "select 2" });
    row("doubled quotes", "select 'it''s;', `a``;`; x", { "select 'it''s;', `a``;`", "x" });
    row("backslash escapes", R"(select 'a\';', "b\";"; x)", { R"(select 'a\';', "b\";")", "x" });
    row("backslash is literal in backticks", "select `a\\`; x", { "select `a\\`", "x" });
    row("--x is no comment", "select 1--x;\nselect 2", { "select 1--x", "select 2" });
    row("--tab is a comment", "select 1 --\t;\n;", { "select 1" });
    row("# comment hides the delimiter", "select 1 # ;\n, 2; x", { "select 1 # ;\n, 2", "x" });
    row("executable comment is kept", "/*!40101 SET NAMES utf8 */;/*M!100401 x;y */ ;",
        { "/*!40101 SET NAMES utf8 */", "/*M!100401 x;y */" });
    row("delimiter with a procedure body",
        "DELIMITER //\ncreate procedure p() begin select 1; select 2; end//\n"
        "delimiter ;\ncall p();",
        { "create procedure p() begin select 1; select 2; end", "call p()" });
    row("delimiter $$ and its line", "  Delimiter $$  \nselect 1$$ select 2 $$",
        { "select 1", "select 2" });
    row("DELIMITER inside a statement is text", "select 1,\ndelimiter ;",
        { "select 1,\ndelimiter" });
    row("DELIMITER without statements", "delimiter //\n", {});
    row("Japanese offsets", "select '日本語';\n-- 注\nselect 2",
        { "select '日本語'", "select 2" }, { 0, 19 });
    row("4-byte offsets", "select '😀😀'; select 3", { "select '😀😀'", "select 3" }, { 0, 15 });
    row("unterminated quote", "select 1; select 'abc; select 2", { "select 1" }, {},
        SplitError::UnterminatedQuote, 17);
    row("escaped closing quote", R"(select 'a\')", {}, {}, SplitError::UnterminatedQuote, 7);
    row("unterminated comment", "select 1 /* ;", {}, {}, SplitError::UnterminatedComment, 9);
    row("unterminated executable comment", "/*!50001 x", {}, {}, SplitError::UnterminatedComment, 0);
    row("DELIMITER without a delimiter", "select 1;\ndelimiter\nselect 2", { "select 1" }, {},
        SplitError::BadDelimiterCommand, 10);
    row("DELIMITER with two words", "delimiter // x\n", {}, {}, SplitError::BadDelimiterCommand, 0);
}

void tst_Splitter::split()
{
    QFETCH(QString, sql);
    QFETCH(QStringList, texts);
    QFETCH(Starts, starts);
    QFETCH(int, error);
    QFETCH(qsizetype, errorAt);

    const SplitResult r = splitStatements(sql);
    QStringList got;
    for (const SqlStatement &s : r.statements) {
        got << s.text;
        QCOMPARE(sql.mid(s.start, s.end - s.start), s.text);
        QCOMPARE(s.terminated, s.delimiterEnd > s.end);
    }
    QCOMPARE(got, texts);
    for (qsizetype i = 0; i < starts.size(); ++i)
        QCOMPARE(r.statements.at(i).start, starts.at(i));
    QCOMPARE(int(r.error.kind), error);
    QCOMPARE(r.error.offset, errorAt);
}

void tst_Splitter::statementAt_data()
{
    // "|" marks the cursor; "!" as the expected text means "cannot delimit".
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("expected");
    QTest::newRow("inside") << "select 1; sel|ect 2;" << "select 2";
    QTest::newRow("just after the delimiter") << "select 1;| select 2;" << "select 1";
    QTest::newRow("trailing blanks on its line") << "select 1;   |\nselect 2;" << "select 1";
    QTest::newRow("indentation before it") << "select 1;\n  |  select 2;" << "select 2";
    QTest::newRow("blank line between") << "select 1;\n|\nselect 2;" << "";
    QTest::newRow("comment line between") << "select 1;\n-- n|ote\nselect 2;" << "";
    QTest::newRow("at the very end") << "select 1;\nselect 2|" << "select 2";
    QTest::newRow("empty text") << "|" << "";
    QTest::newRow("before an unterminated quote") << "sel|ect 1;\nselect 'x" << "select 1";
    QTest::newRow("in an unterminated quote") << "select 1;\nselect 'x|" << "!";
}

void tst_Splitter::statementAt()
{
    QFETCH(QString, sql);
    QFETCH(QString, expected);
    const qsizetype cursor = sql.indexOf(u'|');
    sql.remove(cursor, 1);
    SplitError error;
    const std::optional<SqlStatement> s = ::statementAt(sql, cursor, &error);
    QCOMPARE(s ? s->text : QString(), expected == "!" ? QString() : expected);
    QCOMPARE(error.kind != SplitError::None, expected == "!");
}

void tst_Splitter::nature_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<StatementNature>("nature");
    using N = StatementNature;
    QTest::newRow("select") << "SeLeCt 1" << "select" << N::Query;
    QTest::newRow("comments and parentheses first") << "/* delete */ -- update\n((select 1))"
                                                    << "select" << N::Query;
    QTest::newRow("executable comment is code") << "/*!40000 ALTER TABLE t DISABLE KEYS */"
                                                << "alter" << N::ImplicitCommit;
    QTest::newRow("with ... select") << "with d as (select 'delete') select * from d" << "with"
                                     << N::Query;
    QTest::newRow("with ... delete") << "WITH d AS (select 1) DELETE FROM t" << "with"
                                     << N::DataChange;
    QTest::newRow("load data") << "load data infile 'f' into table t" << "load" << N::DataChange;
    QTest::newRow("load index") << "load index into cache t" << "load" << N::ImplicitCommit;
    QTest::newRow("analyze table") << "analyze table t" << "analyze" << N::ImplicitCommit;
    QTest::newRow("analyze runs its update") << "analyze update t set a = 1" << "analyze"
                                             << N::DataChange;
    QTest::newRow("create table") << "create table t (a int)" << "create" << N::ImplicitCommit;
    QTest::newRow("create temporary") << "create or replace temporary table t (a int)" << "create"
                                      << N::Session;
    QTest::newRow("drop temporary") << "drop temporary table t" << "drop" << N::Session;
    QTest::newRow("set") << "set @min = 1" << "set" << N::Session;
    QTest::newRow("set autocommit") << "set @@session.autocommit = 1" << "set"
                                    << N::ImplicitCommit;
    QTest::newRow("user variable named autocommit") << "set @autocommit = 1" << "set"
                                                    << N::Session;
    QTest::newRow("set password") << "set password = password('x')" << "set"
                                  << N::ImplicitCommit;
    QTest::newRow("set statement ... for") << "set statement max_statement_time=1 for update t set a=1"
                                           << "set" << N::DataChange;
    QTest::newRow("use") << "use `delete`" << "use" << N::Session;
    QTest::newRow("capitals") << "DELETE FROM t" << "delete" << N::DataChange;
    QTest::newRow("subquery with select is still a change")
        << "delete from t where id in (select id from t where id > 1) and v <> 'deleted'"
        << "delete" << N::DataChange;
    QTest::newRow("comment naming a query") << "/* select */ update t set v = 'X'" << "update"
                                            << N::DataChange;
    QTest::newRow("if block") << "if 1 then delete from t; end if" << "if" << N::DataChange;
    QTest::newRow("for block") << "FOR i IN 1..3 DO insert into t values (i); END FOR" << "for"
                               << N::DataChange;
    QTest::newRow("begin not atomic") << "BEGIN NOT ATOMIC select 1; END" << "begin"
                                      << N::DataChange;
    QTest::newRow("begin work") << "begin work" << "begin" << N::ImplicitCommit;
    QTest::newRow("labelled loop") << "lbl: LOOP leave lbl; END LOOP" << "lbl" << N::DataChange;
    QTest::newRow("call") << "CALL p()" << "call" << N::DataChange;
    QTest::newRow("show") << "SHOW TABLES" << "show" << N::Query;
    QTest::newRow("nothing") << "-- only 'a comment'" << "" << N::Other;
}

void tst_Splitter::nature()
{
    QFETCH(QString, sql);
    QFETCH(QString, keyword);
    QFETCH(StatementNature, nature);
    QCOMPARE(firstKeyword(sql), keyword);
    QCOMPARE(natureOf(sql), nature);
}

// "kind:text" for each token; kinds by their first letter.
static QString tokensOf(const QString &sql, SqlLexState state = {})
{
    static const char kinds[] = "kiqsncvodE";
    SqlLexer lexer(sql, state);
    SqlToken t;
    QStringList out;
    while (lexer.next(t))
        out << QString(QChar(kinds[t.kind])) + u':' + sql.mid(t.start, t.length)
                + (t.unterminated ? QStringLiteral("…") : QString());
    return out.join(u' ');
}

void tst_Splitter::lex_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("tokens");
    QTest::newRow("keywords in any case, names")
        << "SeLeCt from_date, selected, t1 FROM 顧客ID"
        << "k:SeLeCt i:from_date o:, i:selected o:, i:t1 k:FROM i:顧客ID";
    QTest::newRow("non-ASCII letters join a name") << "数量from" << "i:数量from";
    QTest::newRow("strings and escapes")
        << R"('it''s' "a\"b" 'x\\' 'y')" << R"(s:'it''s' s:"a\"b" s:'x\\' s:'y')";
    QTest::newRow("quoted names, hex and bit strings") << "`se``lect` x'4A' b'01' 0x1f 1.5e-3 .5"
                                                       << "q:`se``lect` s:x'4A' s:b'01' n:0x1f "
                                                          "n:1.5e-3 n:.5";
    QTest::newRow("comments") << "-- a\n#b\n/* c */--\n--x"
                              << "c:-- a c:#b c:/* c */ c:-- o:- o:- i:x";
    QTest::newRow("variables") << "@a @@session.autocommit"
                               << "v:@a v:@@session o:. i:autocommit";
    QTest::newRow("delimiter line and ends") << "delimiter $$\nselect 1$$"
                                             << "d:delimiter $$ k:select n:1 E:$$";
    QTest::newRow("unterminated string runs to the end") << "select 'ab" << "k:select s:'ab…";
}

void tst_Splitter::lex()
{
    QFETCH(QString, sql);
    QFETCH(QString, tokens);
    QCOMPARE(tokensOf(sql), tokens);
}

void tst_Splitter::lineByLine()
{
    // Each line lexed from the state the line before left, as the editor does.
    const QStringList lines = { "select '1", "2' /* a", "b */ x;", "delimiter //", "y// -- z" };
    SqlLexState state;
    QStringList got;
    for (const QString &line : lines) {
        got << tokensOf(line, state);
        SqlLexer lexer(line, state);
        SqlToken t;
        while (lexer.next(t)) {}
        state = SqlLexState::unpack(lexer.state().pack());
    }
    QCOMPARE(got, QStringList({ "k:select s:'1…", "s:2' c:/* a…", "c:b */ i:x E:;",
                                "d:delimiter //", "i:y E:// c:-- z" }));
}

void tst_Splitter::pieces()
{
    // A script fed a few characters at a time splits as the whole text does
    // and knows each statement's line.
    const QString sql = "set @a = 1;\n-- x\nDELIMITER ;;\ncreate procedure p() begin\n"
                        "select ';'; end;;\ndelimiter ;\ncall p();";
    QList<SqlStatement> got;
    StatementSplitter splitter([&](SqlStatement &&s) {
        got.append(std::move(s));
        return true;
    });
    for (qsizetype at = 0; at < sql.size(); at += 3)
        QVERIFY(splitter.append(QStringView(sql).mid(at, 3), false));
    splitter.append({}, true);
    QVERIFY(splitter.error().kind == SplitError::None);
    QCOMPARE(got.size(), 3);
    QCOMPARE(got.at(1).text, "create procedure p() begin\nselect ';'; end");
    QCOMPARE(got.at(1).line, 4);
    QCOMPARE(got.at(2).line, 7);

    StatementSplitter bounded([](SqlStatement &&) { return true; });
    bounded.setMaxStatementLength(100);
    bool going = true;
    for (int i = 0; i < 50 && going; ++i)
        going = bounded.append(u"select 'yyyyyyyy',\n", false);
    QCOMPARE(int(bounded.error().kind), int(SplitError::TooLong));
}

QTEST_MAIN(tst_Splitter)
#include "tst_splitter.moc"
