#pragma once

#include "QueryExecutor.h"

class QWidget;

// The questions asked before changes are made permanent or dropped, as the
// modal boxes the user answers (and tests find by their object names).
class CommitBoxes
{
public:
    // "コミットしてよろしいですか？" with the rows and statements of the change.
    static QueryExecutor::Answer askCommit(QWidget *parent, const QueryExecutor::Change &change);
    // Whether to run statements that the server commits by itself.
    static bool askImplicitCommit(QWidget *parent, const QStringList &statements);
    // Whether to drop grid edits not yet applied.
    static bool askDiscardEdits(QWidget *parent);
};
