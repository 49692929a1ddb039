#include "BracketMatch.h"
#include "QZTextEdit.h"
#include "SqlHighlighter.h"

#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

Q_DECLARE_METATYPE(SqlHighlighter::Kind)

class tst_Highlighter : public QObject
{
    Q_OBJECT

private slots:
    void kinds_data();
    void kinds();
    void commentAcrossLines_data();
    void commentAcrossLines();
    void lineCommands_data();
    void lineCommands();
    void brackets_data();
    void brackets();
    void errorMarkUntilEdit();
};

// What a reader sees at `position`, told apart by the highlighter's own formats.
static SqlHighlighter::Kind kindAt(const QTextDocument *doc, int position)
{
    const QTextBlock block = doc->findBlock(position);
    const int column = position - block.position();
    for (const QTextLayout::FormatRange &r : block.layout()->formats()) {
        if (column < r.start || column >= r.start + r.length)
            continue;
        for (int k = SqlHighlighter::Keyword; k <= SqlHighlighter::Name; ++k) {
            const QTextCharFormat &f = SqlHighlighter::format(SqlHighlighter::Kind(k));
            if (r.format.foreground() == f.foreground() && r.format.fontWeight() == f.fontWeight()
                && r.format.fontItalic() == f.fontItalic())
                return SqlHighlighter::Kind(k);
        }
    }
    return SqlHighlighter::Plain;
}

void tst_Highlighter::kinds_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("part");
    QTest::addColumn<SqlHighlighter::Kind>("kind");
    using H = SqlHighlighter;
    QTest::newRow("keyword") << "select a from t" << "from" << H::Keyword;
    QTest::newRow("keyword in any case") << "SeLeCt 1" << "SeLeCt" << H::Keyword;
    QTest::newRow("doubled quote stays in") << "select 'it''s from' x" << "'it''s from'" << H::String;
    QTest::newRow("escaped quote stays in") << "select 'a\\'b from' x" << "'a\\'b from'" << H::String;
    QTest::newRow("backslash pair ends before quote") << "select 'a\\\\' from t" << "from" << H::Keyword;
    QTest::newRow("double quotes") << "select \"dq from\" x" << "\"dq from\"" << H::String;
    QTest::newRow("number") << "select 42" << "42" << H::Number;
    QTest::newRow("float") << "select 1.5e3" << "1.5e3" << H::Number;
    QTest::newRow("dash comment") << "select 1 -- from" << "-- from" << H::Comment;
    QTest::newRow("dashes at line end") << "select 1 --\nx" << "--" << H::Comment;
    QTest::newRow("--x is no comment") << "select 1 --x" << "x" << H::Name;
    QTest::newRow("hash comment") << "select 1 # from" << "# from" << H::Comment;
    QTest::newRow("block comment") << "select /* from */ 1" << "/* from */" << H::Comment;
    QTest::newRow("backquotes") << "select `from` x" << "`from`" << H::QuotedName;
    QTest::newRow("from_date") << "select from_date from t" << "from_date" << H::Name;
    QTest::newRow("selected") << "select selected from t" << "selected" << H::Name;
    QTest::newRow("t1") << "select a from t1" << "t1" << H::Name;
    QTest::newRow("数量from is one name") << "select 数量from" << "数量from" << H::Name;
    QTest::newRow("顧客ID") << "select 顧客ID from 注文" << "顧客ID" << H::Name;
    QTest::newRow("注文") << "select 顧客ID from 注文" << "注文" << H::Name;
    QTest::newRow("unterminated string") << "select 'abc" << "'abc" << H::String;
    QTest::newRow("NUL inside a name") << QString("select a") + QChar(0) + "b" << "select" << H::Keyword;
    QTest::newRow("lone surrogate") << QString("select ") + QChar(0xd800) + " from" << "from" << H::Keyword;
}

void tst_Highlighter::kinds()
{
    QFETCH(QString, text);
    QFETCH(QString, part);
    QFETCH(SqlHighlighter::Kind, kind);
    QZTextEdit edit;
    edit.setPlainText(text);
    const int at = int(text.indexOf(part));
    QVERIFY(at >= 0);
    for (int i = at; i < at + part.size(); ++i)
        QCOMPARE(kindAt(edit.document(), i), kind);
}

// A comment opened on the first line reaches every line after it, also in
// a text long enough that the colours arrive in several slices.
void tst_Highlighter::commentAcrossLines_data()
{
    QTest::addColumn<int>("lines");
    QTest::newRow("short") << 40;
    QTest::newRow("many slices") << 60000;
}

void tst_Highlighter::commentAcrossLines()
{
    QFETCH(int, lines);
    QZTextEdit edit;
    edit.resize(600, 400);
    edit.show();
    edit.setPlainText(QStringLiteral("select 1;\n").repeated(lines));
    QTRY_VERIFY_WITH_TIMEOUT(!edit.highlighter()->isBehind(), 20000);
    QTextDocument *doc = edit.document();
    const auto lineKind = [doc](int line) { return kindAt(doc, doc->findBlockByNumber(line).position() + 1); };

    QTextCursor(doc).insertText(QStringLiteral("/*"));
    // The lines in view go first: scrolled to the end, they are comment soon too.
    edit.moveCursor(QTextCursor::End);
    QTRY_COMPARE_WITH_TIMEOUT(lineKind(lines - 1), SqlHighlighter::Comment, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!edit.highlighter()->isBehind(), 20000);
    for (int line : { 1, lines / 2, lines - 1 })
        QCOMPARE(lineKind(line), SqlHighlighter::Comment);

    QTextCursor end(doc->findBlockByNumber(lines / 2));
    end.insertText(QStringLiteral("*/"));
    QTRY_VERIFY_WITH_TIMEOUT(!edit.highlighter()->isBehind(), 20000);
    QCOMPARE(lineKind(lines / 2 - 1), SqlHighlighter::Comment);
    QCOMPARE(lineKind(lines / 2 + 1), SqlHighlighter::Keyword);
    QCOMPARE(lineKind(lines - 1), SqlHighlighter::Keyword);

    QTextCursor start(doc);
    start.setPosition(2, QTextCursor::KeepAnchor);
    start.removeSelectedText();
    QTRY_VERIFY_WITH_TIMEOUT(!edit.highlighter()->isBehind(), 20000);
    QCOMPARE(lineKind(0), SqlHighlighter::Keyword);
    QCOMPARE(lineKind(lines / 2 - 1), SqlHighlighter::Keyword);
}

// Text with the selection given as [ and ] (or | for the cursor alone).
void tst_Highlighter::lineCommands_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("after");
    QTest::newRow("comment a line") << "sel|ect 1" << "comment" << "-- select 1";
    QTest::newRow("comment at the least indent") << "[  a\n    b]" << "comment" << "  -- a\n  --   b";
    QTest::newRow("blank lines stay") << "[a\n\nb]" << "comment" << "-- a\n\n-- b";
    QTest::newRow("uncomment") << "[-- a\n  --b]" << "comment" << "a\n  b";
    QTest::newRow("mixed lines get comments") << "[-- a\nb]" << "comment" << "-- -- a\n-- b";
    QTest::newRow("line the selection only reaches") << "[a\n]b" << "comment" << "-- a\nb";
    QTest::newRow("tab indents lines") << "[a\nb]" << "tab" << "    a\n    b";
    QTest::newRow("tab in a line") << "a|b" << "tab" << "a   b";
    QTest::newRow("shift+tab") << "[      a\n\tb\nc]" << "backtab" << "  a\nb\nc";
    QTest::newRow("shift+tab, cursor's line") << "  a|b" << "backtab" << "ab";
    QTest::newRow("new line keeps indent") << "    select|" << "enter" << "    select\n    ";
    QTest::newRow("new line within the indent") << "  |  x" << "enter" << "  \n    x";
}

void tst_Highlighter::lineCommands()
{
    QFETCH(QString, before);
    QFETCH(QString, command);
    QFETCH(QString, after);
    QString text = before;
    const int anchor = int(text.indexOf(QRegularExpression("[\\[|]")));
    text.remove(anchor, 1);
    int position = anchor;
    if (before.contains(u'[')) {
        position = int(text.indexOf(u']'));
        text.remove(position, 1);
    }
    QZTextEdit edit;
    edit.show();
    edit.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&edit));
    edit.setPlainText(text);
    QTextCursor cursor(edit.document());
    cursor.setPosition(anchor);
    cursor.setPosition(position, QTextCursor::KeepAnchor);
    edit.setTextCursor(cursor);
    if (command == "comment")
        QTest::keyClick(&edit, Qt::Key_Slash, Qt::ControlModifier);
    else if (command == "tab")
        QTest::keyClick(&edit, Qt::Key_Tab);
    else if (command == "backtab")
        QTest::keyClick(&edit, Qt::Key_Backtab, Qt::ShiftModifier);
    else
        QTest::keyClick(&edit, Qt::Key_Return);
    QCOMPARE(edit.toPlainText(), after);
    edit.undo();
    QCOMPARE(edit.toPlainText(), text);
}

void tst_Highlighter::brackets_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("partner");
    QTest::newRow("outer, forward") << "f((1), 2)" << 1 << 8;
    QTest::newRow("inner, backward") << "f((1), 2)" << 4 << 2;
    QTest::newRow("across lines") << "(\n[x]\n)" << 6 << 0;
    QTest::newRow("one in a string does not count") << "(')')" << 0 << 4;
    QTest::newRow("in a string, none") << "(')')" << 2 << -1;
    QTest::newRow("unmatched") << "((" << 0 << -1;
    const QString deep = QString(100000, u'(') + QString(100000, u')');
    QTest::newRow("100,000 deep") << deep << 0 << int(deep.size() - 1);
}

void tst_Highlighter::brackets()
{
    QFETCH(QString, text);
    QFETCH(int, position);
    QFETCH(int, partner);
    QTextDocument doc(text);
    QCOMPARE(matchingBracket(&doc, position), partner);
}

void tst_Highlighter::errorMarkUntilEdit()
{
    QZTextEdit edit;
    edit.setPlainText(QStringLiteral("select 1;\nselect * form t;\n"));
    edit.markError(19);
    const auto waves = [&edit] {
        QList<QTextEdit::ExtraSelection> out;
        for (const QTextEdit::ExtraSelection &s : edit.extraSelections())
            if (s.format.underlineStyle() == QTextCharFormat::WaveUnderline)
                out << s;
        return out;
    };
    QCOMPARE(waves().size(), 1);
    QCOMPARE(waves().first().cursor.selectedText(), QStringLiteral("form t;"));
    edit.moveCursor(QTextCursor::End);
    edit.insertPlainText(QStringLiteral("x"));
    QVERIFY(waves().isEmpty());
    QVERIFY(!edit.hasErrorMark());
}

QTEST_MAIN(tst_Highlighter)
#include "tst_highlighter.moc"
