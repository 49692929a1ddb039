#include "StatementKeywords.h"

#include <initializer_list>

namespace {

bool isWordChar(QChar c)
{
    const char16_t u = c.unicode();
    if (u < 0x80)
        return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9')
            || u == '_' || u == '$';
    return c.isLetterOrNumber() || c.isSurrogate();
}

// Reads the words of a statement that the server would see as words.
class WordReader
{
public:
    explicit WordReader(QStringView text) : m_text(text) {}

    // The next word ("" at the end). A variable keeps its "@" or "@@", so
    // that @autocommit, a user's variable, is not the autocommit setting.
    QStringView next()
    {
        const qsizetype n = m_text.size();
        while (m_pos < n) {
            const QChar c = m_text[m_pos];
            if (isWordChar(c) || c == u'@') {
                const qsizetype from = m_pos;
                while (m_pos < n && m_text[m_pos] == u'@')
                    ++m_pos;
                while (m_pos < n && isWordChar(m_text[m_pos]))
                    ++m_pos;
                return m_text.mid(from, m_pos - from);
            }
            skipNonWord(c);
        }
        return {};
    }

    qsizetype position() const { return m_pos; }

private:
    void skipNonWord(QChar c)
    {
        const qsizetype n = m_text.size();
        const auto at = [&](qsizetype i, char16_t ch) { return i < n && m_text[i] == ch; };
        if (c == u'\'' || c == u'"' || c == u'`') {
            const bool escapes = c != u'`';
            for (++m_pos; m_pos < n; ++m_pos) {
                if (escapes && m_text[m_pos] == u'\\')
                    ++m_pos;
                else if (m_text[m_pos] == c && !at(m_pos + 1, c.unicode()))
                    break;
                else if (m_text[m_pos] == c)
                    ++m_pos;
            }
            m_pos = qMin(m_pos + 1, n);
        } else if (c == u'#' || (c == u'-' && at(m_pos + 1, '-')
                                  && (m_pos + 2 == n || m_text[m_pos + 2].unicode() <= ' '))) {
            while (m_pos < n && m_text[m_pos] != u'\n')
                ++m_pos;
        } else if (c == u'/' && at(m_pos + 1, '*')) {
            m_pos += 2;
            if (at(m_pos, '!') || (at(m_pos, 'M') && at(m_pos + 1, '!'))) {
                // Executable: its version number is no word, its text is code.
                m_pos += at(m_pos, 'M') ? 2 : 1;
                while (m_pos < n && m_text[m_pos].isDigit())
                    ++m_pos;
                return;
            }
            const qsizetype close = m_text.indexOf(u"*/", m_pos);
            m_pos = close < 0 ? n : close + 2;
        } else {
            ++m_pos;
        }
    }

    QStringView m_text;
    qsizetype m_pos = 0;
};

bool is(QStringView word, std::initializer_list<const char *> keywords)
{
    for (const char *k : keywords) {
        if (word.compare(QLatin1String(k), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool anyWord(WordReader &words, std::initializer_list<const char *> keywords)
{
    for (QStringView w = words.next(); !w.isEmpty(); w = words.next()) {
        if (is(w, keywords))
            return true;
    }
    return false;
}

StatementNature natureOf(QStringView statement)
{
    using N = StatementNature;
    WordReader words(statement);
    const QStringView first = words.next();

    if (is(first, { "select", "show", "describe", "desc", "explain", "values", "table", "help",
                    "checksum" }))
        return N::Query;
    if (is(first, { "insert", "update", "delete", "replace", "call", "execute", "do" }))
        // A procedure, a prepared statement or a function called by DO may
        // change anything: they get the same care as a plain change.
        return N::DataChange;
    if (is(first, { "with" }))
        return anyWord(words, { "insert", "update", "delete", "replace" }) ? N::DataChange : N::Query;
    if (is(first, { "analyze" })) {
        // ANALYZE TABLE commits; ANALYZE <statement> runs that statement for real.
        WordReader rest = words;
        if (is(rest.next(), { "table", "tables" }))
            return N::ImplicitCommit;
        return anyWord(words, { "insert", "update", "delete", "replace" }) ? N::DataChange : N::Query;
    }
    if (is(first, { "load" }))
        return is(words.next(), { "data", "xml" }) ? N::DataChange : N::ImplicitCommit;
    if (is(first, { "create", "drop" })) {
        QStringView w = words.next();
        while (is(w, { "or", "replace" }))
            w = words.next();
        // Temporary tables belong to the session and commit nothing.
        return is(w, { "temporary" }) ? N::Session : N::ImplicitCommit;
    }
    if (is(first, { "set" })) {
        WordReader rest = words;
        const QStringView second = rest.next();
        if (is(second, { "password" }))
            return N::ImplicitCommit;
        if (is(second, { "statement" })) {
            // SET STATEMENT … FOR <statement>: the statement decides.
            for (QStringView w = rest.next(); !w.isEmpty(); w = rest.next()) {
                if (is(w, { "for" }))
                    return natureOf(statement.mid(rest.position()));
            }
            return N::Other;
        }
        // Switching autocommit on commits what is open.
        return anyWord(words, { "autocommit", "@@autocommit" }) ? N::ImplicitCommit : N::Session;
    }
    if (is(first, { "alter", "rename", "truncate", "grant", "revoke", "lock", "unlock", "flush",
                    "reset", "install", "uninstall", "optimize", "repair", "check", "cache",
                    "begin", "start", "stop", "commit", "rollback", "xa", "change", "shutdown" }))
        return N::ImplicitCommit;
    if (is(first, { "use", "prepare", "deallocate", "savepoint", "release" }))
        return N::Session;
    return N::Other;
}

} // namespace

QString firstKeyword(const QString &statement)
{
    return WordReader(statement).next().toString().toLower();
}

StatementNature natureOf(const QString &statement)
{
    return natureOf(QStringView(statement));
}
