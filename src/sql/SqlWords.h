#pragma once

#include <QStringList>
#include <QStringView>

// The words of MariaDB's grammar, in any case. Reserved words cannot stand
// as a name without backquotes; keywords are those plus the words a reader
// expects coloured (SHOW, TABLES, BEGIN, COMMIT, ENGINE, …), which may.
bool isSqlKeyword(QStringView word);
bool isReservedWord(QStringView word);

// In capitals, sorted: what completion offers when the server lists none.
QStringList sqlKeywords();
