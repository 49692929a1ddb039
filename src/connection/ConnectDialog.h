#pragma once

#include "ConnectionParams.h"

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
class QToolButton;
class QVBoxLayout;

// The modal form where the user picks a driver and types the connection
// parameters. It validates nothing and opens nothing: Connect takes params()
// after OK. The four text fields round-trip through database.ini in the
// working directory; a port rides in the host field as "host:port", and a
// host starting with "/" is a Unix socket. The TLS mode and files are kept
// beside it (see TlsRecord).
class ConnectDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ConnectDialog(QWidget *parent = nullptr, const char *name = nullptr,
                           bool modal = false, Qt::WindowFlags fl = {});
    ~ConnectDialog() override;

    // What the fields say, ready to open: the host without surrounding
    // blanks or line ends, and, while the port box shows "Default", split
    // into host and port when it is written "host:port" or "[v6]:port".
    ConnectionParams params() const;
    void setParams(const ConnectionParams &params);

    // Fills the four line edits from a settings file (see SettingsRecord),
    // and the TLS fields from the file that goes with it. Anything but a
    // regular file counts as no file.
    void ReadSettings(QString fileName);
    // Saves the four line edits and the TLS fields, owner-readable only,
    // and replaces an old file only once the new one is complete. A record
    // that would not read back as typed is not written, so the old files
    // keep their settings. Returns whether the files now hold the fields.
    bool WriteSettings(const QString &fileName);
    bool WriteSettings();

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
    // In the order of TlsMode: 無効, 優先, 必須, CA を検証, CA とホスト名を検証.
    QComboBox *comboTlsMode;
    QLineEdit *editTlsCa;
    QLineEdit *editTlsCert;
    QLineEdit *editTlsKey;

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

private:
    void createFields();
    void createButtons();
    void addTlsRows();
    void chainTlsTabOrder();
    void addFileRow(int row, QLabel *&label, QLineEdit *&edit, const char *name);
    void readTlsSettings(const QString &fileName);
    bool writeTlsSettings(const QString &fileName);

    QLabel *m_pTlsModeLabel = nullptr;
    QLabel *m_pTlsCaLabel = nullptr;
    QLabel *m_pTlsCertLabel = nullptr;
    QLabel *m_pTlsKeyLabel = nullptr;
};
