#include "StatementKeywords.h"

#include "SqlLexer.h"

#include <initializer_list>
#include <optional>

namespace {

// The tokens of a statement that the server reads as code: plain comments
// are skipped, an executable comment is read from the inside.
class CodeReader
{
public:
    explicit CodeReader(QStringView text) : m_text(text), m_outer(text, {}, false) {}

    // The next word ("" at the end): a name or keyword, or a variable with
    // its "@". `punctuation`, when given, receives an operator met first.
    QStringView nextWord(QChar *punctuation = nullptr)
    {
        SqlToken t;
        QStringView from;
        while (nextToken(t, from)) {
            const QStringView s = from.mid(t.start, t.length);
            if (t.kind == SqlToken::Identifier || t.kind == SqlToken::Variable)
                return s;
            if (t.kind == SqlToken::Operator && punctuation) {
                *punctuation = s.at(0);
                return {};
            }
        }
        return {};
    }

    // Where the reader stands in the statement's own text.
    qsizetype position() const { return m_inner ? m_innerEnd : m_outer.position(); }

private:
    bool nextToken(SqlToken &t, QStringView &from)
    {
        if (m_inner) {
            if (m_inner->next(t)) {
                from = m_innerText;
                return true;
            }
            m_inner.reset();
        }
        while (m_outer.next(t)) {
            if (t.kind != SqlToken::Comment) {
                from = m_text;
                return true;
            }
            if (t.executable && enter(t))
                return nextToken(t, from);
        }
        return false;
    }

    // /*!50001 … */ and /*M!100401 … */: the version is no code, the rest is.
    bool enter(const SqlToken &comment)
    {
        qsizetype from = comment.start + 3;
        if (m_text.at(from - 1) == u'M')
            ++from;
        while (from < comment.end() && m_text.at(from).isDigit())
            ++from;
        const qsizetype to = comment.unterminated ? comment.end() : comment.end() - 2;
        if (to <= from)
            return false;
        m_innerText = m_text.mid(from, to - from);
        m_innerEnd = comment.end();
        m_inner.emplace(m_innerText, SqlLexState(), false);
        return true;
    }

    QStringView m_text;
    SqlLexer m_outer;
    QStringView m_innerText;
    qsizetype m_innerEnd = 0;
    std::optional<SqlLexer> m_inner;
};

bool is(QStringView word, std::initializer_list<const char *> keywords)
{
    for (const char *k : keywords) {
        if (word.compare(QLatin1String(k), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool anyWord(CodeReader &words, std::initializer_list<const char *> keywords)
{
    QChar punctuation;
    for (;;) {
        punctuation = QChar();
        const QStringView w = words.nextWord(&punctuation);
        if (w.isEmpty() && punctuation.isNull())
            return false;
        if (is(w, keywords))
            return true;
    }
}

const std::initializer_list<const char *> kChanges = { "insert", "update", "delete", "replace" };

StatementNature natureOfSet(CodeReader &words, QStringView statement);
StatementNature natureOfStart(QStringView first, CodeReader &words, QStringView statement);

StatementNature natureOf(QStringView statement)
{
    using N = StatementNature;
    CodeReader words(statement);
    QChar punctuation;
    QStringView first = words.nextWord(&punctuation);
    // Parentheses around a query: "(select …) union (select …)".
    while (first.isEmpty() && punctuation == u'(') {
        punctuation = QChar();
        first = words.nextWord(&punctuation);
    }
    if (first.isEmpty())
        return N::Other;
    return natureOfStart(first, words, statement);
}

StatementNature natureOfStart(QStringView first, CodeReader &words, QStringView statement)
{
    using N = StatementNature;
    if (is(first, { "select", "show", "describe", "desc", "explain", "values", "table", "help",
                    "checksum" }))
        return N::Query;
    // A procedure, a prepared statement, a function called by DO or a
    // compound statement may change anything: they get the care of a change.
    if (is(first, { "insert", "update", "delete", "replace", "call", "execute", "do", "if",
                    "case", "loop", "while", "repeat", "for" }))
        return N::DataChange;
    if (is(first, { "with" }))
        return anyWord(words, kChanges) ? N::DataChange : N::Query;
    if (is(first, { "analyze" })) {
        // ANALYZE TABLE commits; ANALYZE <statement> runs that statement for real.
        CodeReader rest = words;
        if (is(rest.nextWord(), { "table", "tables" }))
            return N::ImplicitCommit;
        return anyWord(words, kChanges) ? N::DataChange : N::Query;
    }
    if (is(first, { "begin" })) {
        // BEGIN NOT ATOMIC … END is a block; BEGIN [WORK] starts a transaction.
        return is(words.nextWord(), { "not" }) ? N::DataChange : N::ImplicitCommit;
    }
    if (is(first, { "load" }))
        return is(words.nextWord(), { "data", "xml" }) ? N::DataChange : N::ImplicitCommit;
    if (is(first, { "create", "drop" })) {
        QStringView w = words.nextWord();
        while (is(w, { "or", "replace" }))
            w = words.nextWord();
        // Temporary tables belong to the session and commit nothing.
        return is(w, { "temporary" }) ? N::Session : N::ImplicitCommit;
    }
    if (is(first, { "set" }))
        return natureOfSet(words, statement);
    if (is(first, { "alter", "rename", "truncate", "grant", "revoke", "lock", "unlock", "flush",
                    "reset", "install", "uninstall", "optimize", "repair", "check", "cache",
                    "start", "stop", "commit", "rollback", "xa", "change", "shutdown", "purge" }))
        return N::ImplicitCommit;
    if (is(first, { "use", "prepare", "deallocate", "savepoint", "release", "kill", "signal",
                    "resignal", "handler", "binlog" }))
        return N::Session;
    // "label: BEGIN … END", "label: LOOP …": a labelled block.
    QChar punctuation;
    CodeReader rest = words;
    if (rest.nextWord(&punctuation).isEmpty() && punctuation == u':')
        return N::DataChange;
    return N::Other;
}

StatementNature natureOfSet(CodeReader &words, QStringView statement)
{
    using N = StatementNature;
    CodeReader rest = words;
    const QStringView second = rest.nextWord();
    if (is(second, { "password" }))
        return N::ImplicitCommit;
    if (is(second, { "statement" })) {
        // SET STATEMENT … FOR <statement>: the statement decides.
        for (QStringView w = rest.nextWord(); !w.isEmpty(); w = rest.nextWord()) {
            if (is(w, { "for" }))
                return natureOf(statement.mid(rest.position()));
        }
        return N::Other;
    }
    // Switching autocommit on commits what is open.
    return anyWord(words, { "autocommit", "@@autocommit" }) ? N::ImplicitCommit : N::Session;
}

} // namespace

QString firstKeyword(const QString &statement)
{
    CodeReader words(statement);
    QChar punctuation;
    QStringView first = words.nextWord(&punctuation);
    while (first.isEmpty() && !punctuation.isNull()) {
        punctuation = QChar();
        first = words.nextWord(&punctuation);
    }
    return first.toString().toLower();
}

QStringList leadingWords(const QString &statement, int count)
{
    CodeReader words(statement);
    QStringList out;
    while (out.size() < count) {
        const QStringView word = words.nextWord();
        if (word.isEmpty())
            break;
        out << word.toString();
    }
    return out;
}

StatementNature natureOf(const QString &statement)
{
    return natureOf(QStringView(statement));
}
