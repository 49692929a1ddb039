#pragma once

class QTextDocument;

// The position of the bracket that pairs with the one at `position` — (),
// [] or {} outside strings and comments, as the lexer reads them — or -1
// when there is no bracket there or its partner lies too far away to look
// for while a key is handled.
int matchingBracket(const QTextDocument *document, int position);
