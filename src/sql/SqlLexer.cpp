#include "SqlLexer.h"

#include "SqlWords.h"

#include <QMutex>
#include <QStringList>

namespace {

bool isBlank(char16_t c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// The server takes every character from U+0080 up as part of a name.
bool isWordChar(char16_t c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'
        || c == '$' || c >= 0x80;
}

bool isDigit(char16_t c)
{
    return c >= '0' && c <= '9';
}

// Delimiters other than ";" are few in any one run (";;", "$$", "//"), so
// each is given a small number once and keeps it for the process's life.
struct DelimiterTable
{
    QMutex lock;
    QStringList known { QStringLiteral(";") };
};

DelimiterTable &delimiters()
{
    static DelimiterTable table;
    return table;
}

constexpr int kInsideBits = 3;
constexpr int kFlagBits = 2;
constexpr int kMaxDelimiters = 1 << 20;

} // namespace

int SqlLexState::pack() const
{
    int number = 0;
    if (delimiter != u";") {
        DelimiterTable &table = delimiters();
        QMutexLocker guard(&table.lock);
        qsizetype i = table.known.indexOf(delimiter);
        if (i < 0 && table.known.size() < kMaxDelimiters) {
            table.known.append(delimiter);
            i = table.known.size() - 1;
        }
        number = i < 0 ? 0 : int(i);
    }
    const int flags = (executableComment ? 1 : 0) | (inStatement ? 2 : 0);
    return int(inside) | (flags << kInsideBits) | (number << (kInsideBits + kFlagBits));
}

SqlLexState SqlLexState::unpack(int packed)
{
    SqlLexState s;
    if (packed < 0)
        return s;
    s.inside = Inside(packed & ((1 << kInsideBits) - 1));
    const int flags = (packed >> kInsideBits) & ((1 << kFlagBits) - 1);
    s.executableComment = flags & 1;
    s.inStatement = flags & 2;
    const int number = packed >> (kInsideBits + kFlagBits);
    if (number > 0) {
        DelimiterTable &table = delimiters();
        QMutexLocker guard(&table.lock);
        if (number < table.known.size())
            s.delimiter = table.known.at(number);
    }
    return s;
}

SqlLexer::SqlLexer(QStringView text, const SqlLexState &state, bool keywords)
    : m_d(reinterpret_cast<const char16_t *>(text.data())),
      m_n(text.size()),
      m_state(state),
      m_keywords(keywords)
{
}

bool SqlLexer::next(SqlToken &t)
{
    t = SqlToken();
    if (m_state.inside != SqlLexState::Code && m_pos < m_n) {
        resume(t);
        return true;
    }
    while (m_pos < m_n) {
        const char16_t c = m_d[m_pos];
        if (m_lineBlank && !m_state.inStatement && (c == 'd' || c == 'D') && atDelimiterCommand()) {
            readDelimiterCommand(t);
            return true;
        }
        if (c == m_state.delimiter.at(0).unicode() && atDelimiter()) {
            t.kind = SqlToken::StatementEnd;
            t.start = m_pos;
            t.length = m_state.delimiter.size();
            m_pos += t.length;
            m_state.inStatement = false;
            m_lineBlank = false;
            return true;
        }
        if (isBlank(c)) {
            if (c == '\n')
                m_lineBlank = true;
            ++m_pos;
            continue;
        }
        m_lineBlank = false;
        t.start = m_pos;
        if (readToken(t, c) && (t.kind != SqlToken::Comment || t.executable))
            m_state.inStatement = true;
        t.length = m_pos - t.start;
        return true;
    }
    return false;
}

// Reads the token that starts with c at m_pos; false for none that counts
// as code (a plain comment).
bool SqlLexer::readToken(SqlToken &t, char16_t c)
{
    const auto at = [&](qsizetype i, char16_t ch) { return i < m_n && m_d[i] == ch; };
    switch (c) {
    case '\'':
    case '"':
    case '`':
        ++m_pos;
        readQuoted(t, c);
        return true;
    case '#':
        readLineComment(t);
        return false;
    case '-':
        if (at(m_pos + 1, '-') && (m_pos + 2 == m_n || m_d[m_pos + 2] <= ' ')) {
            readLineComment(t);
            return false;
        }
        break;
    case '/':
        if (at(m_pos + 1, '*')) {
            t.executable = at(m_pos + 2, '!') || (at(m_pos + 2, 'M') && at(m_pos + 3, '!'));
            m_state.executableComment = t.executable;
            m_pos += 2;
            readBlockComment(t);
            return true;
        }
        break;
    case '@':
        readVariable(t);
        return true;
    default:
        break;
    }
    if ((c == 'x' || c == 'X' || c == 'b' || c == 'B') && at(m_pos + 1, '\'')) {
        m_pos += 2;
        readQuoted(t, '\'');
        return true;
    }
    if (isDigit(c) || (c == '.' && m_pos + 1 < m_n && isDigit(m_d[m_pos + 1]))) {
        readNumber(t);
        return true;
    }
    if (isWordChar(c)) {
        readWord(t);
        return true;
    }
    t.kind = SqlToken::Operator;
    ++m_pos;
    return true;
}

// The first token of a line that starts inside a string, name or comment.
void SqlLexer::resume(SqlToken &t)
{
    t.start = m_pos;
    m_lineBlank = false;
    switch (m_state.inside) {
    case SqlLexState::Comment:
        t.executable = m_state.executableComment;
        readBlockComment(t);
        break;
    case SqlLexState::SingleQuote:
        readQuoted(t, '\'');
        break;
    case SqlLexState::DoubleQuote:
        readQuoted(t, '"');
        break;
    default:
        readQuoted(t, '`');
        break;
    }
    t.length = m_pos - t.start;
}

// m_pos is just past the opening quote, or at a line's start inside it.
void SqlLexer::readQuoted(SqlToken &t, char16_t quote)
{
    t.kind = quote == '`' ? SqlToken::QuotedIdentifier : SqlToken::String;
    const bool escapes = quote != '`';
    for (; m_pos < m_n; ++m_pos) {
        const char16_t c = m_d[m_pos];
        if (c == '\\' && escapes) {
            ++m_pos;
        } else if (c == quote) {
            if (m_pos + 1 < m_n && m_d[m_pos + 1] == quote) {
                ++m_pos;
            } else {
                ++m_pos;
                m_state.inside = SqlLexState::Code;
                return;
            }
        }
    }
    m_pos = m_n;
    t.unterminated = true;
    m_state.inside = quote == '`'  ? SqlLexState::Backquote
        : quote == '"'             ? SqlLexState::DoubleQuote
                                   : SqlLexState::SingleQuote;
}

// m_pos is just past "/*", or at a line's start inside the comment.
void SqlLexer::readBlockComment(SqlToken &t)
{
    t.kind = SqlToken::Comment;
    for (; m_pos + 1 < m_n; ++m_pos) {
        if (m_d[m_pos] == '*' && m_d[m_pos + 1] == '/') {
            m_pos += 2;
            m_state.inside = SqlLexState::Code;
            m_state.executableComment = false;
            return;
        }
    }
    m_pos = m_n;
    t.unterminated = true;
    m_state.inside = SqlLexState::Comment;
}

void SqlLexer::readLineComment(SqlToken &t)
{
    t.kind = SqlToken::Comment;
    while (m_pos < m_n && m_d[m_pos] != '\n')
        ++m_pos;
}

// The client ends a statement at its delimiter wherever it stands outside
// quotes and comments, also inside a word ("select 1$$" with "$$").
bool SqlLexer::wordGoesOn() const
{
    if (m_pos >= m_n || !isWordChar(m_d[m_pos]))
        return false;
    return m_d[m_pos] != m_state.delimiter.at(0).unicode() || !atDelimiter();
}

void SqlLexer::readWord(SqlToken &t)
{
    const qsizetype from = m_pos;
    while (wordGoesOn())
        ++m_pos;
    const bool keyword = m_keywords && isSqlKeyword(QStringView(m_d + from, m_pos - from));
    t.kind = keyword ? SqlToken::Keyword : SqlToken::Identifier;
}

// 12, 1.5, .5, 1e-3, 0x1F. Digits run on into letters make a name (t1 is a
// name, and so is 1abc, as the server reads it).
void SqlLexer::readNumber(SqlToken &t)
{
    const qsizetype from = m_pos;
    t.kind = SqlToken::Number;
    if (m_d[m_pos] == '0' && m_pos + 2 < m_n && (m_d[m_pos + 1] == 'x' || m_d[m_pos + 1] == 'X')) {
        qsizetype p = m_pos + 2;
        while (p < m_n && (isDigit(m_d[p]) || ((m_d[p] | 0x20) >= 'a' && (m_d[p] | 0x20) <= 'f')))
            ++p;
        if (p > m_pos + 2 && (p == m_n || !isWordChar(m_d[p]))) {
            m_pos = p;
            return;
        }
    }
    while (m_pos < m_n && isDigit(m_d[m_pos]))
        ++m_pos;
    if (m_pos < m_n && m_d[m_pos] == '.') {
        ++m_pos;
        while (m_pos < m_n && isDigit(m_d[m_pos]))
            ++m_pos;
    }
    if (m_pos < m_n && (m_d[m_pos] == 'e' || m_d[m_pos] == 'E')) {
        qsizetype p = m_pos + 1;
        if (p < m_n && (m_d[p] == '+' || m_d[p] == '-'))
            ++p;
        if (p < m_n && isDigit(m_d[p])) {
            while (p < m_n && isDigit(m_d[p]))
                ++p;
            m_pos = p;
        }
    }
    if (wordGoesOn() && m_d[from] != '.') {
        m_pos = from;
        readWord(t);
    }
}

// @name and @@name keep their "@": @autocommit is a user's variable, not
// the setting.
void SqlLexer::readVariable(SqlToken &t)
{
    t.kind = SqlToken::Variable;
    ++m_pos;
    if (m_pos < m_n && m_d[m_pos] == '@')
        ++m_pos;
    while (wordGoesOn())
        ++m_pos;
}

bool SqlLexer::atDelimiter() const
{
    const qsizetype len = m_state.delimiter.size();
    if (len == 1)
        return true;
    return m_pos + len <= m_n && QStringView(m_d + m_pos, len) == m_state.delimiter;
}

bool SqlLexer::atDelimiterCommand() const
{
    static const QLatin1String word("delimiter");
    if (m_pos + word.size() > m_n
        || QStringView(m_d + m_pos, word.size()).compare(word, Qt::CaseInsensitive) != 0)
        return false;
    return m_pos + word.size() == m_n || isBlank(m_d[m_pos + word.size()]);
}

// DELIMITER, blanks, one word, blanks, the line's end. A backslash would
// start a client command of its own, and more words are more likely a typo
// than something to ignore: both make the line bad and leave the delimiter.
void SqlLexer::readDelimiterCommand(SqlToken &t)
{
    t.kind = SqlToken::DelimiterCommand;
    t.start = m_pos;
    m_pos += 9;
    const auto skipSpaces = [&] {
        while (m_pos < m_n && (m_d[m_pos] == ' ' || m_d[m_pos] == '\t' || m_d[m_pos] == '\r'))
            ++m_pos;
    };
    skipSpaces();
    const qsizetype from = m_pos;
    while (m_pos < m_n && !isBlank(m_d[m_pos]))
        ++m_pos;
    const QStringView delimiter(m_d + from, m_pos - from);
    skipSpaces();
    t.bad = delimiter.isEmpty() || delimiter.contains(u'\\') || (m_pos < m_n && m_d[m_pos] != '\n');
    if (t.bad) {
        while (m_pos < m_n && m_d[m_pos] != '\n')
            ++m_pos;
    } else {
        m_state.delimiter = delimiter.toString();
    }
    t.length = m_pos - t.start;
    m_lineBlank = false;
}
