#include "StatementSplitter.h"

namespace {

bool isBlank(char16_t c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// One left-to-right pass over the text. Every statement found is handed to
// the sink as it ends; the sink may stop the scan early by returning false.
class Scanner
{
public:
    explicit Scanner(const QString &text)
        : m_d(reinterpret_cast<const char16_t *>(text.constData())), m_n(text.size())
    {
    }

    template<typename Sink>
    SplitError run(Sink &&sink)
    {
        qsizetype pos = 0;
        bool lineBlank = true; // nothing but blanks so far on this line
        while (pos < m_n) {
            const char16_t c = m_d[pos];
            if (m_start < 0 && lineBlank && (c == 'd' || c == 'D') && isDelimiterCommand(pos)) {
                const qsizetype lineEnd = takeDelimiterCommand(pos);
                if (lineEnd < 0)
                    return { SplitError::BadDelimiterCommand, pos };
                pos = lineEnd;
                continue;
            }
            if (c == m_delim0 && atDelimiter(pos)) {
                pos += m_delim.size();
                if (m_start >= 0 && !finish(sink, pos, true))
                    return {};
                lineBlank = false;
                continue;
            }
            if (isBlank(c)) {
                if (c == '\n')
                    lineBlank = true;
                ++pos;
                continue;
            }
            lineBlank = false;
            const qsizetype from = pos;
            switch (c) {
            case '\'':
            case '"':
            case '`':
                pos = skipQuoted(pos);
                if (pos < 0)
                    return { SplitError::UnterminatedQuote, from };
                significant(from, pos);
                break;
            case '#':
                pos = lineEnd(pos);
                break;
            case '-':
                if (pos + 1 < m_n && m_d[pos + 1] == '-' && (pos + 2 == m_n || m_d[pos + 2] <= ' '))
                    pos = lineEnd(pos);
                else
                    significant(from, ++pos);
                break;
            case '/':
                if (pos + 1 < m_n && m_d[pos + 1] == '*') {
                    const bool executable = isExecutableComment(pos);
                    pos = commentEnd(pos + 2);
                    if (pos < 0)
                        return { SplitError::UnterminatedComment, from };
                    if (executable) {
                        significant(from, pos);
                        m_executable = true;
                    }
                } else {
                    significant(from, ++pos);
                }
                break;
            default:
                significant(from, ++pos);
            }
        }
        if (m_start >= 0)
            finish(sink, m_n, false);
        return {};
    }

private:
    void significant(qsizetype from, qsizetype to)
    {
        if (m_start < 0)
            m_start = from;
        m_end = to;
    }

    template<typename Sink>
    bool finish(Sink &sink, qsizetype delimiterEnd, bool terminated)
    {
        const bool more = sink(m_start, m_end, terminated ? delimiterEnd : m_end, terminated,
                               m_executable);
        m_start = -1;
        m_executable = false;
        return more;
    }

    bool atDelimiter(qsizetype pos) const
    {
        const qsizetype len = m_delim.size();
        if (len == 1)
            return true;
        if (pos + len > m_n)
            return false;
        return QStringView(m_d + pos, len) == m_delim;
    }

    // Returns one past the closing quote, or -1.
    qsizetype skipQuoted(qsizetype pos) const
    {
        const char16_t quote = m_d[pos];
        const bool escapes = quote != '`';
        for (++pos; pos < m_n; ++pos) {
            const char16_t c = m_d[pos];
            if (c == '\\' && escapes) {
                ++pos;
            } else if (c == quote) {
                if (pos + 1 < m_n && m_d[pos + 1] == quote)
                    ++pos;
                else
                    return pos + 1;
            }
        }
        return -1;
    }

    qsizetype lineEnd(qsizetype pos) const
    {
        while (pos < m_n && m_d[pos] != '\n')
            ++pos;
        return pos;
    }

    // pos is just after "/*"; returns one past "*/", or -1.
    qsizetype commentEnd(qsizetype pos) const
    {
        for (; pos + 1 < m_n; ++pos) {
            if (m_d[pos] == '*' && m_d[pos + 1] == '/')
                return pos + 2;
        }
        return -1;
    }

    bool isExecutableComment(qsizetype pos) const
    {
        if (pos + 2 < m_n && m_d[pos + 2] == '!')
            return true;
        return pos + 3 < m_n && m_d[pos + 2] == 'M' && m_d[pos + 3] == '!';
    }

    bool isDelimiterCommand(qsizetype pos) const
    {
        static const QLatin1String word("delimiter");
        if (pos + word.size() > m_n
            || QStringView(m_d + pos, word.size()).compare(word, Qt::CaseInsensitive) != 0)
            return false;
        return pos + word.size() == m_n || isBlank(m_d[pos + word.size()]);
    }

    // Returns where the DELIMITER line ends, or -1 when it names no usable delimiter.
    qsizetype takeDelimiterCommand(qsizetype pos)
    {
        pos += 9;
        auto skipSpaces = [&] {
            while (pos < m_n && (m_d[pos] == ' ' || m_d[pos] == '\t' || m_d[pos] == '\r'))
                ++pos;
        };
        skipSpaces();
        const qsizetype from = pos;
        while (pos < m_n && !isBlank(m_d[pos]))
            ++pos;
        const QStringView delimiter(m_d + from, pos - from);
        skipSpaces();
        // A backslash would start a client command of its own; anything after
        // the delimiter is more likely a typo than something to ignore.
        if (delimiter.isEmpty() || delimiter.contains(u'\\') || (pos < m_n && m_d[pos] != '\n'))
            return -1;
        m_delim = delimiter.toString();
        m_delim0 = m_delim.at(0).unicode();
        return pos;
    }

    const char16_t *m_d;
    qsizetype m_n;
    QString m_delim = QStringLiteral(";");
    char16_t m_delim0 = ';';
    qsizetype m_start = -1;
    qsizetype m_end = -1;
    bool m_executable = false;
};

} // namespace

SplitResult splitStatements(const QString &text)
{
    SplitResult result;
    result.error = Scanner(text).run([&](qsizetype start, qsizetype end, qsizetype delimiterEnd,
                                         bool terminated, bool executable) {
        result.statements.append({ start, end, delimiterEnd, text.mid(start, end - start),
                                   terminated, executable });
        return true;
    });
    return result;
}

std::optional<SqlStatement> statementAt(const QString &text, qsizetype cursor, SplitError *error)
{
    cursor = qBound(qsizetype(0), cursor, text.size());
    std::optional<SqlStatement> previous, next;
    // Stops at the first statement that ends at or after the cursor: nothing
    // later can change the answer, and the text after it need not be read.
    const SplitError failed = Scanner(text).run([&](qsizetype start, qsizetype end,
                                                    qsizetype delimiterEnd, bool terminated,
                                                    bool executable) {
        SqlStatement s { start, end, delimiterEnd, QString(), terminated, executable };
        if (delimiterEnd < cursor) {
            previous = s;
            return true;
        }
        next = s;
        return false;
    });
    if (error)
        *error = {};

    auto lineBreakBetween = [&](qsizetype from, qsizetype to) {
        return QStringView(text).mid(from, to - from).contains(u'\n');
    };
    std::optional<SqlStatement> found;
    if (next && next->start <= cursor)
        found = next;
    else if (previous && !lineBreakBetween(previous->delimiterEnd, cursor))
        found = previous;
    else if (next && !lineBreakBetween(cursor, next->start))
        found = next;
    else if (!next && failed.kind != SplitError::None && error)
        *error = failed;
    if (found)
        found->text = text.mid(found->start, found->end - found->start);
    return found;
}
