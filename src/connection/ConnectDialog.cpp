#include "ConnectDialog.h"

#include "HostPort.h"
#include "SafeFile.h"
#include "SettingsRecord.h"
#include "TlsRecord.h"

#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpacerItem>
#include <QSpinBox>
#include <QSqlDatabase>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

template <typename W>
W *named(W *widget, const char *name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// Replaces the file only by a complete new one, readable by its owner
// alone from the moment it exists: what it holds is a password, or says
// where a private key lies.
bool saveOwnerOnly(const QString &fileName, const QByteArray &content)
{
    // The files hold a password and key paths: nobody but their owner may
    // read them, not even for the moment between creating and filling them.
    return SafeFile::write(fileName, content, QFileDevice::ReadOwner | QFileDevice::WriteOwner,
                           nullptr);
}

// A settings file's bytes, up to one past the limit; none for anything but
// a regular file (a FIFO would wait for a writer for ever).
std::optional<QByteArray> readRegular(const QString &fileName, qsizetype limit)
{
    if (!SafeFile::isRegular(fileName))
        return std::nullopt;
    // An unreadable file reads as empty.
    QFile file(fileName);
    QByteArray content;
    if (file.open(QIODevice::ReadOnly))
        content = file.read(limit + 1);
    return content;
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
    addTlsRows();

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
    chainTlsTabOrder();
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

void ConnectDialog::addTlsRows()
{
    m_pTlsModeLabel = named(new QLabel(GroupBox3), "TextLabelTlsMode");
    GroupBox3Layout->addWidget(m_pTlsModeLabel, 6, 0);
    comboTlsMode = named(new QComboBox(GroupBox3), "comboTlsMode");
    comboTlsMode->addItems({ QStringLiteral("無効"), QStringLiteral("優先"), QStringLiteral("必須"),
                             QStringLiteral("CA を検証"), QStringLiteral("CA とホスト名を検証") });
    comboTlsMode->setCurrentIndex(int(TlsMode::Preferred));
    GroupBox3Layout->addWidget(comboTlsMode, 6, 1);
    m_pTlsModeLabel->setBuddy(comboTlsMode);
    addFileRow(7, m_pTlsCaLabel, editTlsCa, "editTlsCa");
    addFileRow(8, m_pTlsCertLabel, editTlsCert, "editTlsCert");
    addFileRow(9, m_pTlsKeyLabel, editTlsKey, "editTlsKey");
}

// From the port through the TLS rows, each path followed by its browse
// button, to OK.
void ConnectDialog::chainTlsTabOrder()
{
    QWidget *previous = comboTlsMode;
    setTabOrder(portSpinBox, comboTlsMode);
    for (QLineEdit *edit : { editTlsCa, editTlsCert, editTlsKey }) {
        auto *browse = findChild<QToolButton *>(edit->objectName() + QStringLiteral("Browse"));
        setTabOrder(previous, edit);
        setTabOrder(edit, browse);
        previous = browse;
    }
    setTabOrder(previous, PushButton1);
}

void ConnectDialog::addFileRow(int row, QLabel *&label, QLineEdit *&edit, const char *name)
{
    label = named(new QLabel(GroupBox3), name);
    label->setObjectName(label->objectName() + QStringLiteral("Label"));
    edit = named(new QLineEdit(GroupBox3), name);
    label->setBuddy(edit);
    auto *browse = named(new QToolButton(GroupBox3), name);
    browse->setObjectName(browse->objectName() + QStringLiteral("Browse"));
    browse->setText(QStringLiteral("…"));
    QLineEdit *target = edit;
    connect(browse, &QToolButton::clicked, this, [this, target, label] {
        const QString path = QFileDialog::getOpenFileName(this, label->text(), target->text());
        if (!path.isEmpty())
            target->setText(path);
    });
    auto *line = new QHBoxLayout();
    line->addWidget(edit);
    line->addWidget(browse);
    GroupBox3Layout->addWidget(label, row, 0);
    GroupBox3Layout->addLayout(line, row, 1);
}

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
    m_pTlsModeLabel->setText(QStringLiteral("TLS:"));
    m_pTlsCaLabel->setText(QStringLiteral("CA 証明書:"));
    m_pTlsCertLabel->setText(QStringLiteral("クライアント証明書:"));
    m_pTlsKeyLabel->setText(QStringLiteral("クライアント鍵:"));
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
    p.tlsMode = TlsMode(qMax(0, comboTlsMode->currentIndex()));
    p.tlsCa = editTlsCa->text();
    p.tlsCert = editTlsCert->text();
    p.tlsKey = editTlsKey->text();
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
    comboTlsMode->setCurrentIndex(int(p.tlsMode));
    editTlsCa->setText(p.tlsCa);
    editTlsCert->setText(p.tlsCert);
    editTlsKey->setText(p.tlsKey);
}

void ConnectDialog::ReadSettings(QString fileName)
{
    readTlsSettings(TlsRecord::fileFor(fileName));
    const std::optional<QByteArray> content = readRegular(fileName, SettingsRecord::MaxBytes);
    if (!content)
        return;
    // An unreadable file clears the fields, as a file without any comma
    // would. One byte past the limit tells a file that is too large.
    const std::optional<QStringList> fields = SettingsRecord::parse(*content);
    if (!fields)
        return;
    editDatabase->setText(fields->at(SettingsRecord::Database));
    editPassword->setText(fields->at(SettingsRecord::Password));
    editUsername->setText(fields->at(SettingsRecord::User));
    editHostname->setText(fields->at(SettingsRecord::Host));
}

void ConnectDialog::readTlsSettings(const QString &fileName)
{
    const std::optional<QByteArray> content = readRegular(fileName, TlsRecord::MaxBytes);
    const std::optional<ConnectionParams> tls = content ? TlsRecord::parse(*content) : std::nullopt;
    if (!tls)
        return;
    comboTlsMode->setCurrentIndex(int(tls->tlsMode));
    editTlsCa->setText(tls->tlsCa);
    editTlsCert->setText(tls->tlsCert);
    editTlsKey->setText(tls->tlsKey);
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
    // The TLS file first: when it cannot be written, both files keep the
    // last connection's settings.
    return writeTlsSettings(TlsRecord::fileFor(fileName))
        && saveOwnerOnly(fileName, SettingsRecord::format(fields));
}

bool ConnectDialog::writeTlsSettings(const QString &fileName)
{
    const ConnectionParams p = params();
    // The defaults need no file; one left from earlier would bring back
    // what the user has since cleared.
    if (TlsRecord::isDefault(p))
        return !QFileInfo::exists(fileName) || QFile::remove(fileName);
    return saveOwnerOnly(fileName, TlsRecord::format(p));
}
