#include "StatementSplitter.h"

StatementSplitter::StatementSplitter(Sink sink) : m_sink(std::move(sink)) {}

bool StatementSplitter::append(QStringView piece, bool last)
{
    if (m_done)
        return false;
    // A whole text in one piece is read where it lies, without a copy.
    const bool direct = last && m_buffer.isEmpty();
    if (!direct)
        m_buffer.append(piece);
    const QStringView text = direct ? piece : QStringView(m_buffer);
    // Only whole lines are lexed until the last piece: a line's end ends
    // every token that cannot run on, so nothing is cut in two.
    const qsizetype limit = last ? text.size() : text.lastIndexOf(u'\n') + 1;
    if (limit > m_scan && !lex(text, m_scan, limit))
        return false;
    if (last) {
        m_done = true;
        if (m_state.inside == SqlLexState::Comment)
            return fail(SplitError::UnterminatedComment, m_openAt - m_base, m_openLine);
        if (m_state.inside != SqlLexState::Code)
            return fail(SplitError::UnterminatedQuote, m_openAt - m_base, m_openLine);
        if (m_start >= 0)
            finish(text, m_end, false);
        return false;
    }
    if (m_maxLength >= 0 && text.size() - (m_start >= 0 ? m_start : m_scan) > m_maxLength)
        return fail(SplitError::TooLong, m_start >= 0 ? m_start : m_scan,
                    m_start >= 0 ? m_startLine : m_line);
    compact();
    return true;
}

bool StatementSplitter::lex(QStringView text, qsizetype from, qsizetype to)
{
    SqlLexer lexer(text.mid(from, to - from), m_state, false);
    SqlToken t;
    while (lexer.next(t)) {
        t.start += from;
        m_state = lexer.state();
        if (m_state.inside == SqlLexState::Code) {
            m_openAt = -1;
        } else if (m_openAt < 0) {
            countLines(text, t.start);
            m_openAt = m_base + t.start;
            m_openLine = m_line;
        }
        if (!token(text, t))
            return false;
    }
    m_state = lexer.state();
    m_scan = to;
    return true;
}

bool StatementSplitter::token(QStringView text, const SqlToken &t)
{
    switch (t.kind) {
    case SqlToken::Comment:
        if (t.executable)
            significant(text, t.start, t.end(), true);
        return true;
    case SqlToken::DelimiterCommand:
        if (t.bad)
            countLines(text, t.start);
        return !t.bad || fail(SplitError::BadDelimiterCommand, t.start, m_line);
    case SqlToken::StatementEnd:
        return m_start < 0 || finish(text, t.end(), true);
    default:
        significant(text, t.start, t.end(), false);
        return true;
    }
}

void StatementSplitter::significant(QStringView text, qsizetype from, qsizetype to, bool executable)
{
    if (m_start < 0) {
        m_start = from;
        countLines(text, from);
        m_startLine = m_line;
    }
    m_end = to;
    m_executable = m_executable || executable;
}

void StatementSplitter::countLines(QStringView text, qsizetype upTo)
{
    const char16_t *d = reinterpret_cast<const char16_t *>(text.data());
    for (qsizetype i = m_lineAt; i < upTo; ++i)
        m_line += d[i] == '\n';
    m_lineAt = upTo;
}

bool StatementSplitter::finish(QStringView text, qsizetype delimiterEnd, bool terminated)
{
    SqlStatement s { m_base + m_start, m_base + m_end, m_base + delimiterEnd,
                     m_keepText ? text.mid(m_start, m_end - m_start).toString() : QString(),
                     terminated, m_executable, m_startLine };
    m_start = -1;
    m_executable = false;
    if (m_sink(std::move(s)))
        return true;
    m_done = true;
    return false;
}

bool StatementSplitter::fail(SplitError::Kind kind, qsizetype at, qsizetype line)
{
    m_error = { kind, m_base + at, line };
    m_done = true;
    return false;
}

// Drops the text before the open statement once it outweighs what is kept,
// so a long script costs a linear number of copies.
void StatementSplitter::compact()
{
    const qsizetype keepFrom = m_start >= 0 ? m_start : m_scan;
    if (keepFrom == 0 || keepFrom < m_buffer.size() - keepFrom)
        return;
    countLines(m_buffer, keepFrom);
    m_buffer.remove(0, keepFrom);
    m_base += keepFrom;
    m_scan -= keepFrom;
    m_lineAt -= keepFrom;
    if (m_start >= 0) {
        m_start -= keepFrom;
        m_end -= keepFrom;
    }
}

SplitResult splitStatements(const QString &text)
{
    SplitResult result;
    StatementSplitter splitter([&](SqlStatement &&s) {
        result.statements.append(std::move(s));
        return true;
    });
    splitter.append(text, true);
    result.error = splitter.error();
    return result;
}

std::optional<SqlStatement> statementAt(const QString &text, qsizetype cursor, SplitError *error)
{
    cursor = qBound(qsizetype(0), cursor, text.size());
    std::optional<SqlStatement> previous, next;
    // Stops at the first statement that ends at or after the cursor: nothing
    // later can change the answer, and the text after it need not be read.
    StatementSplitter splitter([&](SqlStatement &&s) {
        if (s.delimiterEnd < cursor) {
            previous = std::move(s);
            return true;
        }
        next = std::move(s);
        return false;
    });
    splitter.setKeepText(false);
    splitter.append(text, true);
    if (error)
        *error = {};
    const auto withText = [&](SqlStatement s) {
        s.text = text.mid(s.start, s.end - s.start);
        return s;
    };

    auto lineBreakBetween = [&](qsizetype from, qsizetype to) {
        return QStringView(text).mid(from, to - from).contains(u'\n');
    };
    if (next && next->start <= cursor)
        return withText(*next);
    if (previous && !lineBreakBetween(previous->delimiterEnd, cursor))
        return withText(*previous);
    if (next && !lineBreakBetween(cursor, next->start))
        return withText(*next);
    if (!next && splitter.error().kind != SplitError::None && error)
        *error = splitter.error();
    return std::nullopt;
}
