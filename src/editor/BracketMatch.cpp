#include "BracketMatch.h"

#include "SqlLexer.h"

#include <QList>
#include <QTextBlock>
#include <QTextDocument>

namespace {

// Bounds the work per cursor move: a pasted megabyte line of brackets is
// read once at most, never bracket by bracket.
constexpr int MaxLineChars = 1 << 20;
constexpr qsizetype MaxScannedChars = 4 << 20;

struct Bracket
{
    int position;
    bool open;
};

// The brackets of one pair in a line, in order, and the state it ends in.
QList<Bracket> bracketsIn(const QTextBlock &block, SqlLexState *state, QChar open, QChar close)
{
    QList<Bracket> out;
    const QString text = block.text();
    SqlLexer lexer(text, *state, false);
    SqlToken token;
    while (lexer.next(token)) {
        if (token.kind != SqlToken::Operator)
            continue;
        const QChar c = text.at(token.start);
        if (c == open || c == close)
            out.append({ block.position() + int(token.start), c == open });
    }
    *state = lexer.state();
    return out;
}

SqlLexState startState(const QTextBlock &block)
{
    return SqlLexState::unpack(block.previous().isValid() ? block.previous().userState() : -1);
}

int scanForward(QTextBlock block, int from, QChar open, QChar close)
{
    SqlLexState state = startState(block);
    int depth = 0;
    for (qsizetype scanned = 0; block.isValid() && scanned < MaxScannedChars; block = block.next()) {
        if (block.length() > MaxLineChars)
            return -1;
        scanned += block.length();
        for (const Bracket &b : bracketsIn(block, &state, open, close)) {
            if (b.position <= from)
                continue;
            depth += b.open ? 1 : -1;
            if (depth < 0)
                return b.position;
        }
    }
    return -1;
}

int scanBackward(QTextBlock block, int from, QChar open, QChar close)
{
    int depth = 0;
    for (qsizetype scanned = 0; block.isValid() && scanned < MaxScannedChars; block = block.previous()) {
        if (block.length() > MaxLineChars)
            return -1;
        scanned += block.length();
        SqlLexState state = startState(block);
        const QList<Bracket> brackets = bracketsIn(block, &state, open, close);
        for (auto it = brackets.crbegin(); it != brackets.crend(); ++it) {
            if (it->position >= from)
                continue;
            depth += it->open ? -1 : 1;
            if (depth < 0)
                return it->position;
        }
    }
    return -1;
}

} // namespace

int matchingBracket(const QTextDocument *document, int position)
{
    static const QString pairs = QStringLiteral("()[]{}");
    const QTextBlock block = document->findBlock(position);
    if (!block.isValid() || block.length() > MaxLineChars)
        return -1;
    const int column = position - block.position();
    const QString text = block.text();
    if (column < 0 || column >= text.size())
        return -1;
    const int pair = int(pairs.indexOf(text.at(column)));
    if (pair < 0)
        return -1;
    const QChar open = pairs.at(pair & ~1);
    const QChar close = pairs.at(pair | 1);
    // Only a bracket the lexer reads as code pairs: one in a string does not.
    SqlLexState state = startState(block);
    bool isCode = false;
    for (const Bracket &b : bracketsIn(block, &state, open, close))
        isCode = isCode || b.position == position;
    if (!isCode)
        return -1;
    return (pair & 1) ? scanBackward(block, position, open, close)
                      : scanForward(block, position, open, close);
}
