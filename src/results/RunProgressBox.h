#pragma once

#include <QProgressDialog>

// How far an SQL file's run is (object name "m_pRunProgress"): statements
// sent, megabytes read of all, time so far and about how much is left. Its
// Cancel button stops the run.
class RunProgressBox : public QProgressDialog
{
    Q_OBJECT

public:
    explicit RunProgressBox(QWidget *parent = nullptr);

    // Shows only while a run is on its way.
    void setRunning(bool running);
    void showProgress(int statements, qint64 bytesDone, qint64 bytesTotal, qint64 elapsedMs);

private:
    bool m_running = false;
};
