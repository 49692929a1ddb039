#include "TextLoad.h"

#include "SqlHighlighter.h"

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTextDocument>

TextLoad::TextLoad(QPlainTextEdit *page, SqlHighlighter *highlighter, QString text)
    : m_pPage(page),
      m_pHighlighter(highlighter),
      m_text(std::move(text)),
      m_end(page->document())
{
    m_end.setKeepPositionOnInsert(true);
    m_lines = int(qMin<qsizetype>(m_text.count(u'\n') + 1, INT_MAX));
    connect(page->document(), &QTextDocument::contentsChange, this, [this] {
        m_edited = m_edited || !m_appending;
    });
    connect(page, &QPlainTextEdit::cursorPositionChanged, this, [this] {
        m_moved = m_moved || !m_appending;
    });
}

void TextLoad::start()
{
    // The first lines are coloured as they go in, as typed text is: they are
    // what the page shows. The rest waits for its colours until all is in.
    append(FirstChars);
    m_pHighlighter->setHeld(true);
}

TextLoad::~TextLoad()
{
    if (m_pHighlighter)
        m_pHighlighter->setHeld(false);
}

bool TextLoad::step(qint64 ms)
{
    QElapsedTimer clock;
    clock.start();
    while (m_loaded < m_text.size() && (ms < 0 || clock.elapsed() < ms))
        append(PieceChars);
    return m_loaded >= m_text.size();
}

void TextLoad::append(qsizetype chars)
{
    // Cut after a line end, so that no slice splits a line or a surrogate pair.
    qsizetype end = m_loaded + chars;
    if (end >= m_text.size()) {
        end = m_text.size();
    } else {
        const qsizetype lineEnd = m_text.indexOf(u'\n', end);
        end = lineEnd < 0 ? m_text.size() : lineEnd + 1;
    }
    m_appending = true;
    // A cursor of its own: m_end keeps its place when text goes in there.
    QTextCursor at(m_pPage->document());
    at.setPosition(m_end.position());
    const QString piece = m_text.mid(m_loaded, end - m_loaded);
    if (m_loaded == 0) {
        at.insertText(piece);
        m_pPage->setTextCursor(QTextCursor(m_pPage->document()));
    } else {
        m_pHighlighter->insertQuietly(at, piece);
    }
    m_end.setPosition(at.position());
    m_loaded = end;
    m_appending = false;
}

QString TextLoad::wholeText() const
{
    if (!m_edited)
        return m_text;
    const QString shown = m_pPage->toPlainText();
    const qsizetype at = m_end.position();
    QString whole;
    whole.reserve(shown.size() + m_text.size() - m_loaded);
    whole.append(QStringView(shown).left(at));
    whole.append(QStringView(m_text).mid(m_loaded));
    whole.append(QStringView(shown).mid(at));
    return whole;
}
