// The window's actions, built from one table: what each is called, its
// shortcut and icon, where it shows, and what it does.

#include "WindowActions.h"

#include "GridEditCommands.h"
#include "MessageLogView.h"
#include "QZEditTabWidget.h"
#include "QZQuorvinWindow.h"
#include "QZTextEdit.h"
#include "ResultGrid.h"
#include "ResultPanel.h"
#include "SchemaPanel.h"

#include <QAction>
#include <QHash>
#include <QIcon>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QStyle>
#include <QToolBar>

namespace {

// Where an action shows, in the table's order (and a separator before it).
enum Place { FileMenu = 1, EditMenu = 2, SqlMenu = 4, ViewMenu = 8, Tools1 = 16, Tools2 = 32, SeparatorBefore = 64 };

} // namespace

struct WindowActions::Entry
{
    QAction *QZQuorvinWindow::*member;
    const char *objectName;
    const char16_t *text;
    QKeyCombination shortcut;
    // One of the six bitmaps in ./image (by name), or else one of the style's icons.
    const char *image;
    int standardIcon;
    int places;
    void (*slot)(QZQuorvinWindow &);
};

const WindowActions::Entry *WindowActions::table(int *count)
{
    using W = QZQuorvinWindow;
    constexpr auto Ctrl = Qt::CTRL, Shift = Qt::SHIFT, Alt = Qt::ALT;
    static const Entry table[] = {
        { &W::m_pOpenAct, "m_pOpenAct", u"開く...", Ctrl | Qt::Key_O, nullptr, -1, FileMenu, [](W &w) { w.Open(); } },
        { &W::m_pSaveAct, "m_pSaveAct", u"保存", Ctrl | Qt::Key_S, nullptr, -1, FileMenu, [](W &w) { w.Save(); } },
        { &W::m_pSaveAsAct, "m_pSaveAsAct", u"名前を付けて保存...", Ctrl | Shift | Qt::Key_S, nullptr, -1,
          FileMenu, [](W &w) { w.SaveAs(); } },
        { &W::m_pRunFileAct, "m_pRunFileAct", u"SQL ファイルを実行…", {}, nullptr, -1, FileMenu, [](W &w) { w.RunFile(); } },
        { &W::m_pExportAct, "m_pExportAct", u"エクスポート…", {}, nullptr, -1, FileMenu,
          [](W &w) { w.m_pResults->grid()->exportResult(); } },
        { &W::m_pExitAct, "m_pExitAct", u"終了", {}, nullptr, -1, FileMenu | SeparatorBefore, [](W &w) { w.Exit(); } },
        { &W::m_pUndoAct, "m_pUndoAct", u"元に戻す", Ctrl | Qt::Key_Z, nullptr, -1, EditMenu, [](W &w) { w.m_pTabWidget->Undo(); } },
        { &W::m_pRedoAct, "m_pRedoAct", u"やり直し", Ctrl | Qt::Key_Y, nullptr, -1, EditMenu, [](W &w) { w.m_pTabWidget->Redo(); } },
        { &W::m_pCopyAct, "m_pCopyAct", u"コピー", Ctrl | Qt::Key_C, nullptr, -1, EditMenu, [](W &w) { w.m_pTabWidget->Copy(); } },
        { &W::m_pCutAct, "m_pCutAct", u"切り取り", Ctrl | Qt::Key_X, nullptr, -1, EditMenu, [](W &w) { w.m_pTabWidget->Cut(); } },
        { &W::m_pPasteAct, "m_pPasteAct", u"貼り付け", Ctrl | Qt::Key_V, nullptr, -1, EditMenu, [](W &w) { w.m_pTabWidget->Paste(); } },
        { &W::m_pFindAct, "m_pFindAct", u"Find", Ctrl | Qt::Key_F, nullptr, -1, EditMenu, [](W &w) { w.Find(); } },
        { &W::m_pReopenTabAct, "m_pReopenTabAct", u"閉じたタブを開き直す", Ctrl | Shift | Qt::Key_T, nullptr, -1,
          EditMenu, [](W &w) { w.m_pTabWidget->ReopenTab(); } },
        { &W::m_pConnectAct, "m_pConnectAct", u"データベースへ接続します", Ctrl | Qt::Key_N, "connect", -1,
          Tools1, [](W &w) { w.Connect(); } },
        { &W::m_pDisconnectAct, "m_pDisconnectAct", u"データベースから切断します", Ctrl | Qt::Key_D,
          "disconnect", -1, Tools1, [](W &w) { w.Disconnect(); } },
        { &W::m_pNewTabAct, "m_pNewTabAct", u"エディタ・タブを追加します", Alt | Qt::Key_PageUp, "newtab", -1,
          Tools1, [](W &w) { w.m_pTabWidget->NewTab(); } },
        { &W::m_pCloseTabAct, "m_pCloseTabAct", u"エディタ・タブを減らします", Alt | Qt::Key_PageDown,
          "closetab", -1, Tools1, [](W &w) {
              if (w.confirmDiscardEdits(w.m_pResults->models(w.m_pTabWidget->currentPage())))
                  w.m_pTabWidget->CloseTab();
          } },
        { &W::m_pClearAct, "m_pClearAct", u"エディタをクリアします", {}, "clear", -1, Tools2, [](W &w) { w.Clear(); } },
        { &W::m_pExecAct, "m_pExecAct", u"SQLの実行", Qt::Key_F5, "exec", -1, Tools2 | SqlMenu,
          [](W &w) { w.Exec(); } },
        { &W::m_pExecCurrentAct, "m_pExecCurrentAct", u"カーソル位置のSQLを実行", Ctrl | Qt::Key_Return,
          nullptr, QStyle::SP_MediaSeekForward, Tools2 | SqlMenu, [](W &w) { w.ExecCurrent(); } },
        { &W::m_pCancelAct, "m_pCancelAct", u"実行中のSQLをキャンセルします", Qt::Key_Escape, nullptr,
          QStyle::SP_BrowserStop, Tools2 | SqlMenu, [](W &w) { w.Cancel(); } },
        { &W::m_pResultLimitAct, "m_pResultLimitAct", u"結果のメモリ上限...", {}, nullptr, -1,
          SqlMenu | SeparatorBefore, [](W &w) { w.askResultMemoryLimit(); } },
        { &W::m_pApplyEditsAct, "m_pApplyEditsAct", u"変更を適用", Ctrl | Shift | Qt::Key_Return, nullptr,
          -1, SqlMenu | SeparatorBefore, [](W &w) { w.m_pGridEdits->apply(); } },
        { &W::m_pDiscardEditsAct, "m_pDiscardEditsAct", u"変更を破棄", {}, nullptr, -1, SqlMenu,
          [](W &w) { w.m_pGridEdits->discard(); } },
        { &W::m_pSetNullAct, "m_pSetNullAct", u"NULL にする", {}, nullptr, -1, SqlMenu,
          [](W &w) { w.m_pGridEdits->setNull(); } },
        { &W::m_pInsertRowAct, "m_pInsertRowAct", u"行を追加", {}, nullptr, -1, SqlMenu,
          [](W &w) { w.m_pGridEdits->insertRow(); } },
        { &W::m_pDeleteRowAct, "m_pDeleteRowAct", u"行を削除", {}, nullptr, -1, SqlMenu,
          [](W &w) { w.m_pGridEdits->deleteRows(); } },
        { &W::m_pShowMessageLogAct, "m_pShowMessageLogAct", u"メッセージログ", {}, nullptr, -1, ViewMenu, nullptr },
        { &W::m_pRefreshSchemaAct, "m_pRefreshSchemaAct", u"スキーマを再読み込み", {}, nullptr, -1, ViewMenu,
          [](W &w) { w.m_pSchemaPanel->refresh(); } },
    };
    *count = int(std::size(table));
    return table;
}


void WindowActions::create(QZQuorvinWindow &w)
{
    w.menuBar()->setObjectName(QStringLiteral("m_pMenuBar"));
    const std::pair<int, const char *> menuNames[] = {
        { FileMenu, "ファイル|File Popup Menu" }, { EditMenu, "編集|Edit Popup Menu" },
        { SqlMenu, "SQL|SQL Popup Menu" }, { ViewMenu, "表示|View Popup Menu" },
    };
    QHash<int, QWidget *> places;
    for (const auto &[place, names] : menuNames) {
        const QStringList name = QString::fromUtf8(names).split(QLatin1Char('|'));
        QMenu *menu = w.menuBar()->addMenu(name[0]);
        menu->setObjectName(name[1]);
        places.insert(place, menu);
    }
    places.insert(Tools1, w.m_pToolBar1 = w.addToolBar(QString()));
    places.insert(Tools2, w.m_pToolBar2 = w.addToolBar(QString()));
    w.m_pToolBar1->setObjectName(QStringLiteral("m_pToolBar1"));
    w.m_pToolBar2->setObjectName(QStringLiteral("m_pToolBar2"));

    int count = 0;
    const Entry *entries = table(&count);
    for (const Entry &entry : QList<Entry>(entries, entries + count)) {
        QAction *action = w.*entry.member = new QAction(QString::fromUtf16(entry.text), &w);
        action->setObjectName(QString::fromLatin1(entry.objectName));
        action->setToolTip(action->text());
        action->setShortcut(QKeySequence(entry.shortcut));
        const QPixmap pixmap(QStringLiteral("./image/%1.bmp").arg(QLatin1String(entry.image)));
        if (entry.image && !pixmap.isNull())
            action->setIcon(QIcon(pixmap));
        else if (entry.standardIcon >= 0)
            action->setIcon(w.style()->standardIcon(QStyle::StandardPixmap(entry.standardIcon)));
        for (auto it = places.cbegin(); it != places.cend(); ++it) {
            if (!(entry.places & it.key()))
                continue;
            if (auto *menu = qobject_cast<QMenu *>(it.value()); menu && entry.places & SeparatorBefore)
                menu->addSeparator();
            it.value()->addAction(action);
        }
        if (const auto slot = entry.slot)
            QObject::connect(action, &QAction::triggered, &w, [&w, slot] { slot(w); });
    }
    w.m_pShowMessageLogAct->setCheckable(true);
    w.m_pShowMessageLogAct->setChecked(true);
    QObject::connect(w.m_pShowMessageLogAct, &QAction::toggled, w.m_pMessageLog, &QWidget::setVisible);
}

