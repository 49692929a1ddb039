#include "RunProgressBox.h"

#include "MessageLog.h"

RunProgressBox::RunProgressBox(QWidget *parent)
    : QProgressDialog(parent)
{
    setObjectName(QStringLiteral("m_pRunProgress"));
    setWindowTitle(QStringLiteral("SQL ファイルを実行"));
    setCancelButtonText(QStringLiteral("キャンセル"));
    setAutoReset(false);
    setAutoClose(false);
    setRange(0, 1000);
    // Not on its own after the minimum duration: only a file's run shows it.
    reset();
    hide();
}

void RunProgressBox::setRunning(bool running)
{
    m_running = running;
    if (!running) {
        reset();
        hide();
    }
}

void RunProgressBox::showProgress(int statements, qint64 bytesDone, qint64 bytesTotal,
                                  qint64 elapsedMs)
{
    const int permille = bytesTotal > 0 ? int(bytesDone * 1000 / bytesTotal) : 0;
    setValue(qBound(0, permille, 1000));
    const QString left = bytesDone > 0 && bytesDone < bytesTotal
        ? secondsText(elapsedMs * (bytesTotal - bytesDone) / bytesDone)
        : QStringLiteral("—");
    setLabelText(QStringLiteral("%1\n%L2 文 · %3 / %4 MB · 経過 %5 · 残り約 %6")
                     .arg(statements == 0 ? QStringLiteral("ファイルを確認しています…")
                                          : QStringLiteral("実行しています…"))
                     .arg(statements)
                     .arg(QString::number(double(bytesDone) / (1 << 20), 'f', 1),
                          QString::number(double(bytesTotal) / (1 << 20), 'f', 1),
                          secondsText(elapsedMs), left));
    if (m_running && !isVisible())
        show();
}
