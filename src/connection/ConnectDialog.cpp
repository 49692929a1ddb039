#include "ConnectDialog.h"

#include "SafeFile.h"

#include "HostPort.h"
#include "SettingsRecord.h"

#include <QComboBox>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpacerItem>
#include <QSpinBox>
#include <QSqlDatabase>
#include <QVBoxLayout>

namespace {

template <typename W>
W *named(W *widget, const char *name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

} // namespace

ConnectDialog::ConnectDialog(QWidget *parent, const char *name, bool modal, Qt::WindowFlags fl)
    : QDialog(parent, fl)
{
    setObjectName(name ? QString::fromUtf8(name) : QStringLiteral("ConnectDialog"));
    setModal(modal);

    ConnectDialogLayout = named(new QVBoxLayout(this), "ConnectDialogLayout");
    ConnectDialogLayout->setContentsMargins(11, 11, 11, 11);
    ConnectDialogLayout->setSpacing(6);

    createFields();
    ConnectDialogLayout->addWidget(GroupBox3);
    createButtons();

    languageChange();

    const QSize hint = minimumSizeHint();
    resize(qMax(hint.width(), 303), qMax(hint.height(), 247));

    connect(PushButton1, &QPushButton::clicked, this, &QDialog::accept);
    connect(PushButton2, &QPushButton::clicked, this, &QDialog::reject);

    init();
}

void ConnectDialog::createFields()
{
    GroupBox3 = named(new QGroupBox(this), "GroupBox3");
    auto *groupInner = new QVBoxLayout(GroupBox3);
    groupInner->setSpacing(6);
    groupInner->setContentsMargins(11, 11, 11, 11);
    GroupBox3Layout = new QGridLayout();
    GroupBox3Layout->setAlignment(Qt::AlignTop);
    groupInner->addLayout(GroupBox3Layout);

    editDatabase = named(new QLineEdit(GroupBox3), "editDatabase");
    GroupBox3Layout->addWidget(editDatabase, 1, 1);
    TextLabel3 = named(new QLabel(GroupBox3), "TextLabel3");
    GroupBox3Layout->addWidget(TextLabel3, 1, 0);
    editPassword = named(new QLineEdit(GroupBox3), "editPassword");
    editPassword->setEchoMode(QLineEdit::Password);
    GroupBox3Layout->addWidget(editPassword, 3, 1);
    TextLabel4 = named(new QLabel(GroupBox3), "TextLabel4");
    GroupBox3Layout->addWidget(TextLabel4, 2, 0);
    TextLabel4_2 = named(new QLabel(GroupBox3), "TextLabel4_2");
    GroupBox3Layout->addWidget(TextLabel4_2, 3, 0);
    comboDriver = named(new QComboBox(GroupBox3), "comboDriver");
    comboDriver->setEditable(false);
    GroupBox3Layout->addWidget(comboDriver, 0, 1);
    editUsername = named(new QLineEdit(GroupBox3), "editUsername");
    GroupBox3Layout->addWidget(editUsername, 2, 1);
    editHostname = named(new QLineEdit(GroupBox3), "editHostname");
    GroupBox3Layout->addWidget(editHostname, 4, 1);
    TextLabel5 = named(new QLabel(GroupBox3), "TextLabel5");
    GroupBox3Layout->addWidget(TextLabel5, 4, 0);
    TextLabel5_2 = named(new QLabel(GroupBox3), "TextLabel5_2");
    GroupBox3Layout->addWidget(TextLabel5_2, 5, 0);
    portSpinBox = named(new QSpinBox(GroupBox3), "portSpinBox");
    portSpinBox->setMaximum(65535);
    portSpinBox->setMinimum(-1);
    portSpinBox->setValue(-1);
    GroupBox3Layout->addWidget(portSpinBox, 5, 1);
    TextLabel2 = named(new QLabel(GroupBox3), "TextLabel2");
    GroupBox3Layout->addWidget(TextLabel2, 0, 0);

    TextLabel4->setBuddy(editUsername);
    TextLabel4_2->setBuddy(editPassword);
    TextLabel5->setBuddy(editHostname);
    TextLabel5_2->setBuddy(portSpinBox);
    TextLabel2->setBuddy(comboDriver);
}

void ConnectDialog::createButtons()
{
    Layout25 = named(new QHBoxLayout(), "Layout25");
    Layout25->setContentsMargins(0, 0, 0, 0);
    Layout25->setSpacing(6);
    Spacer1 = new QSpacerItem(20, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    Layout25->addItem(Spacer1);
    PushButton1 = named(new QPushButton(this), "PushButton1");
    PushButton1->setDefault(true);
    Layout25->addWidget(PushButton1);
    PushButton2 = named(new QPushButton(this), "PushButton2");
    Layout25->addWidget(PushButton2);
    ConnectDialogLayout->addLayout(Layout25);

    setTabOrder(comboDriver, editDatabase);
    setTabOrder(editDatabase, editUsername);
    setTabOrder(editUsername, editPassword);
    setTabOrder(editPassword, editHostname);
    setTabOrder(editHostname, portSpinBox);
    setTabOrder(portSpinBox, PushButton1);
    setTabOrder(PushButton1, PushButton2);
}

ConnectDialog::~ConnectDialog()
{
    ConnectDialog::destroy();
}

void ConnectDialog::init()
{
    comboDriver->clear();
    comboDriver->addItems(QSqlDatabase::drivers());
}

void ConnectDialog::destroy() {}

void ConnectDialog::languageChange()
{
    setWindowTitle(QStringLiteral("接続設定"));
    GroupBox3->setTitle(QStringLiteral("データベース接続"));
    TextLabel3->setText(QStringLiteral("データベース名:"));
    TextLabel4->setText(QStringLiteral("ユーザ名:"));
    TextLabel4_2->setText(QStringLiteral("パスワード:"));
    TextLabel5->setText(QStringLiteral("ホストネーム:"));
    TextLabel5_2->setText(QStringLiteral("ポート番号:"));
    portSpinBox->setSpecialValueText(tr("Default"));
    TextLabel2->setText(QStringLiteral("接続ドライバ"));
    PushButton1->setText(tr("&OK"));
    PushButton1->setShortcut(QKeySequence(tr("Alt+O")));
    PushButton2->setText(tr("&Cancel"));
}

ConnectionParams ConnectDialog::params() const
{
    ConnectionParams p;
    p.driver = comboDriver->currentText();
    p.database = editDatabase->text();
    p.user = editUsername->text();
    p.password = editPassword->text();
    p.port = portSpinBox->value();
    if (p.port == portSpinBox->minimum()) {
        const HostPort hostPort = HostPort::parse(editHostname->text());
        p.host = hostPort.host;
        p.port = hostPort.port;
    } else {
        p.host = editHostname->text().trimmed();
    }
    return p;
}

void ConnectDialog::setParams(const ConnectionParams &p)
{
    const int driver = comboDriver->findText(p.driver);
    if (driver >= 0)
        comboDriver->setCurrentIndex(driver);
    editDatabase->setText(p.database);
    editUsername->setText(p.user);
    editPassword->setText(p.password);
    editHostname->setText(p.host);
    portSpinBox->setValue(p.port < 0 ? portSpinBox->minimum() : p.port);
}

void ConnectDialog::ReadSettings(QString fileName)
{
    // Opening a FIFO would wait for a writer, and a device may never end:
    // only a regular file is a settings file. Looked at before opening.
    if (!SafeFile::isRegular(fileName))
        return;

    // An unreadable file reads as empty and so clears the fields, as a file
    // without any comma would. One byte past the limit tells a file that is
    // too large without reading all of it.
    QFile file(fileName);
    QByteArray content;
    if (file.open(QIODevice::ReadOnly))
        content = file.read(SettingsRecord::MaxBytes + 1);

    const std::optional<QStringList> fields = SettingsRecord::parse(content);
    if (!fields)
        return;
    editDatabase->setText(fields->at(SettingsRecord::Database));
    editPassword->setText(fields->at(SettingsRecord::Password));
    editUsername->setText(fields->at(SettingsRecord::User));
    editHostname->setText(fields->at(SettingsRecord::Host));
}

bool ConnectDialog::WriteSettings()
{
    return WriteSettings(QStringLiteral("database.ini"));
}

bool ConnectDialog::WriteSettings(const QString &fileName)
{
    const QStringList fields{ editDatabase->text(), editPassword->text(), editUsername->text(),
                              editHostname->text() };
    // Replacing a good record by one that reads back differently (too long,
    // a comma in a name, an empty field ending the split) would lose both.
    if (!SettingsRecord::roundTrips(fields))
        return false;
    const QByteArray content = SettingsRecord::format(fields);

    // The file holds a password: nobody but its owner may read it, not even
    // for the moment between creating and filling it.
    return SafeFile::write(fileName, content, QFileDevice::ReadOwner | QFileDevice::WriteOwner,
                           nullptr);
}
