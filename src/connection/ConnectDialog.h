#pragma once

#include <QDialog>

class QComboBox;
class QGridLayout;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpacerItem;
class QSpinBox;
class QVBoxLayout;

// The modal form where the user picks a driver and types the connection
// parameters. It validates nothing and opens nothing: Connect reads the
// public widgets after OK. The four text fields round-trip through
// database.ini in the working directory.
class ConnectDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ConnectDialog(QWidget *parent = nullptr, const char *name = nullptr,
                           bool modal = false, Qt::WindowFlags fl = {});
    ~ConnectDialog() override;

    // Fills the four line edits from a settings file; see SettingsRecord.
    void ReadSettings(QString fileName);
    // Saves the four line edits to database.ini, owner-readable only, and
    // replaces the old file only once the new one is complete.
    void WriteSettings();

    QGroupBox *GroupBox3;
    QLineEdit *editDatabase;
    QLabel *TextLabel3;
    QLineEdit *editPassword;
    QLabel *TextLabel4;
    QLabel *TextLabel4_2;
    QComboBox *comboDriver;
    QLineEdit *editUsername;
    QLineEdit *editHostname;
    QLabel *TextLabel5;
    QLabel *TextLabel5_2;
    QSpinBox *portSpinBox;
    QLabel *TextLabel2;
    QPushButton *PushButton1;
    QPushButton *PushButton2;

public slots:
    virtual void init();
    virtual void destroy();

protected:
    QVBoxLayout *ConnectDialogLayout;
    QGridLayout *GroupBox3Layout;
    QHBoxLayout *Layout25;
    QSpacerItem *Spacer1;

protected slots:
    virtual void languageChange();
};
