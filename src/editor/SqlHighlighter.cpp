#include "SqlHighlighter.h"

#include <QSignalBlocker>
#include <QTextDocument>
#include <QTextLayout>
#include <QTimer>

namespace {

QTextCharFormat makeFormat(const char *colour, int weight = QFont::Normal, bool italic = false)
{
    QTextCharFormat f;
    f.setForeground(QColor(QLatin1String(colour)));
    if (weight != QFont::Normal)
        f.setFontWeight(weight);
    if (italic)
        f.setFontItalic(true);
    return f;
}

SqlHighlighter::Kind kindOf(SqlToken::Kind token)
{
    switch (token) {
    case SqlToken::Keyword:
        return SqlHighlighter::Keyword;
    case SqlToken::String:
        return SqlHighlighter::String;
    case SqlToken::Number:
        return SqlHighlighter::Number;
    case SqlToken::Comment:
        return SqlHighlighter::Comment;
    case SqlToken::QuotedIdentifier:
        return SqlHighlighter::QuotedName;
    case SqlToken::Identifier:
        return SqlHighlighter::Name;
    default:
        return SqlHighlighter::Plain;
    }
}

} // namespace

SqlHighlighter::SqlHighlighter(QTextDocument *document)
    : QSyntaxHighlighter(document),
      m_pCatchUp(new QTimer(this)),
      m_from(document),
      m_to(document),
      m_firstVisible(document),
      m_scan(document)
{
    m_pCatchUp->setSingleShot(true);
    m_pCatchUp->setInterval(0);
    connect(m_pCatchUp, &QTimer::timeout, this, &SqlHighlighter::catchUp);
    // Text edited before the scan point changes the state found there.
    connect(document, &QTextDocument::contentsChange, this, [this](int from, int, int) {
        if (m_scanValid && from <= m_scan.position())
            m_scanValid = false;
    });
}

SqlHighlighter::~SqlHighlighter() = default;

const QTextCharFormat &SqlHighlighter::format(Kind kind)
{
    static const QTextCharFormat formats[] = {
        QTextCharFormat(),
        makeFormat("#1d3fbf", QFont::Bold),
        makeFormat("#a3153a"),
        makeFormat("#0b7a5a"),
        makeFormat("#6f7780", QFont::Normal, true),
        makeFormat("#8a2fb0"),
        makeFormat("#1f5560"),
    };
    return formats[kind];
}

void SqlHighlighter::setFirstVisible(const QTextBlock &block)
{
    if (!block.isValid())
        return;
    m_firstVisible.setPosition(block.position());
    if (m_behind && !m_catchingUp)
        m_pCatchUp->start();
}

void SqlHighlighter::highlightBlock(const QString &text)
{
    // Each edit gets its own time; a catch-up slice keeps one across its lines.
    if (!m_catchingUp && document()->revision() != m_revision) {
        m_revision = document()->revision();
        m_slice.start();
    } else if (currentBlock() != m_forced && outOfTime()) {
        keepAsItWas();
        markBehind(currentBlock());
        return;
    }
    colour(text);
    m_last = currentBlock();
}

void SqlHighlighter::colour(const QString &text)
{
    const bool coloured = text.size() <= MaxColouredLine;
    SqlLexer lexer(text, SqlLexState::unpack(previousBlockState()), coloured);
    SqlToken token;
    while (lexer.next(token)) {
        const Kind kind = kindOf(token.kind);
        if (coloured && kind != Plain)
            setFormat(int(token.start), int(token.length), format(kind));
    }
    setCurrentBlockState(lexer.state().pack());
}

// Leaving the state as it was stops Qt's cascade at this line.
void SqlHighlighter::keepAsItWas()
{
    const QList<QTextLayout::FormatRange> kept = currentBlock().layout()->formats();
    for (const QTextLayout::FormatRange &range : kept)
        setFormat(range.start, range.length, range.format);
}

void SqlHighlighter::markBehind(const QTextBlock &block)
{
    const int at = block.position();
    if (!m_behind) {
        m_behind = true;
        m_from.setPosition(at);
        m_to.setPosition(at);
    } else if (at < m_from.position()) {
        m_from.setPosition(at);
    } else if (at > m_to.position()) {
        m_to.setPosition(at);
    }
    if (!m_catchingUp)
        m_pCatchUp->start();
}

void SqlHighlighter::insertQuietly(QTextCursor &cursor, const QString &text)
{
    QTextDocument *doc = document();
    const int from = cursor.position();
    // Qt would colour every inserted line before returning; a file of 100,000
    // lines is coloured in slices afterwards instead.
    disconnect(doc, SIGNAL(contentsChange(int,int,int)), this, SLOT(_q_reformatBlocks(int,int,int)));
    cursor.insertText(text);
    connect(doc, SIGNAL(contentsChange(int,int,int)), this, SLOT(_q_reformatBlocks(int,int,int)));
    markBehind(doc->findBlock(from));
    m_to.setPosition(qMax(m_to.position(), cursor.block().position()));
}

void SqlHighlighter::setHeld(bool held)
{
    m_held = held;
    if (!held && m_behind)
        m_pCatchUp->start();
}

void SqlHighlighter::catchUp()
{
    if (!m_behind || m_held || !document())
        return;
    // Colours alone change no text: nobody listening for edits is told.
    const QSignalBlocker quiet(document());
    m_catchingUp = true;
    m_slice.start();
    bool done = colourVisible();
    if (done) {
        const QTextBlock from = document()->findBlock(m_from.position());
        const int to = m_to.position();
        m_behind = false;
        done = colourFrom(from, to);
    }
    m_catchingUp = false;
    if (m_behind)
        m_pCatchUp->start();
    else
        emit caughtUp();
}

// Re-lexes from `block` through position `to` whatever the states say, and
// on while they change; true when it got there in time.
bool SqlHighlighter::colourFrom(QTextBlock block, int to)
{
    while (block.isValid()) {
        m_forced = block;
        rehighlightBlock(block);
        m_forced = QTextBlock();
        if (m_behind) {
            // Out of time inside Qt's cascade: the rest of the range still waits.
            if (m_to.position() < to)
                m_to.setPosition(qMin(to, document()->characterCount() - 1));
            return false;
        }
        block = m_last.next();
        if (!block.isValid() || block.position() > to)
            return true;
        if (outOfTime()) {
            markBehind(block);
            m_to.setPosition(qMin(to, document()->characterCount() - 1));
            return false;
        }
    }
    return true;
}

// The lines on screen, when they lie behind: their start state comes from
// lexing without colours, which is several times faster than colouring.
bool SqlHighlighter::colourVisible()
{
    const QTextBlock visible = document()->findBlock(m_firstVisible.position());
    if (!visible.isValid() || visible.position() <= m_from.position())
        return true;
    const QTextBlock before = visible.previous();
    if (!scanTo(before))
        return false;
    // The line keeps its colours until the catch-up reaches it; only its end
    // state is known now.
    QTextBlock(before).setUserState(m_scanState.pack());
    constexpr int ScreenLines = 200;
    QTextBlock last = visible;
    for (int i = 0; i < ScreenLines && last.next().isValid(); ++i)
        last = last.next();
    const int from = m_from.position();
    const int to = m_to.position();
    m_behind = false;
    colourFrom(visible, last.position());
    // What lies between the old start and the view still waits, as before.
    const int newTo = m_behind ? qMax(to, m_to.position()) : to;
    m_behind = true;
    m_from.setPosition(from);
    m_to.setPosition(newTo);
    m_firstVisible.setPosition(0);
    m_scanValid = false;
    return !outOfTime();
}

// Lexes forward from the first line behind to the end of `target`; false
// when the slice's time ran out first (the scan goes on next time).
bool SqlHighlighter::scanTo(const QTextBlock &target)
{
    QTextBlock block;
    if (m_scanValid && m_scan.position() >= m_from.position()
        && m_scan.position() <= target.position()) {
        block = document()->findBlock(m_scan.position());
    } else {
        block = document()->findBlock(m_from.position());
        m_scanState = SqlLexState::unpack(block.previous().userState());
    }
    for (int n = 0; block.isValid(); block = block.next(), ++n) {
        if (block.position() > target.position())
            break;
        if ((n & 255) == 255 && outOfTime()) {
            m_scan.setPosition(block.position());
            m_scanValid = true;
            return false;
        }
        const QString text = block.text();
        SqlLexer lexer(text, m_scanState, false);
        SqlToken token;
        while (lexer.next(token)) {
        }
        m_scanState = lexer.state();
    }
    return true;
}
