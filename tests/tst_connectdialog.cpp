#include "ConnectDialog.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMetaMethod>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QSqlDatabase>
#include <QTest>
#include <QTimer>

class tst_ConnectDialog : public QObject
{
    Q_OBJECT

private slots:
    void namesAndSlots();
    void form_data();
    void form();
    void driversAndDefaults();
    void portBox();
    void enterAcceptsEscapeRejects_data();
    void enterAcceptsEscapeRejects();
};

void tst_ConnectDialog::namesAndSlots()
{
    QCOMPARE(ConnectDialog().objectName(), QStringLiteral("ConnectDialog"));
    ConnectDialog named(nullptr, "Connection Dialog", true);
    QCOMPARE(named.objectName(), QStringLiteral("Connection Dialog"));
    QVERIFY(named.isModal());
    QCOMPARE(named.windowTitle(), QStringLiteral("接続設定"));

    const QMetaObject &mo = ConnectDialog::staticMetaObject;
    QCOMPARE(mo.superClass(), &QDialog::staticMetaObject);
    QStringList names;
    for (int i = mo.methodOffset(); i < mo.methodCount(); ++i)
        names << QString::fromLatin1(mo.method(i).methodSignature());
    QCOMPARE(names, (QStringList{ "init()", "destroy()", "languageChange()" }));
}

void tst_ConnectDialog::form_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("labelText");
    QTest::addColumn<QString>("input");
    QTest::addColumn<bool>("buddy");

    QTest::newRow("driver") << 0 << "TextLabel2" << "接続ドライバ" << "comboDriver" << true;
    QTest::newRow("database") << 1 << "TextLabel3" << "データベース名:" << "editDatabase" << false;
    QTest::newRow("user") << 2 << "TextLabel4" << "ユーザ名:" << "editUsername" << true;
    QTest::newRow("password") << 3 << "TextLabel4_2" << "パスワード:" << "editPassword" << true;
    QTest::newRow("host") << 4 << "TextLabel5" << "ホストネーム:" << "editHostname" << true;
    QTest::newRow("port") << 5 << "TextLabel5_2" << "ポート番号:" << "portSpinBox" << true;
}

void tst_ConnectDialog::form()
{
    QFETCH(int, row);
    QFETCH(QString, label);
    QFETCH(QString, labelText);
    QFETCH(QString, input);
    QFETCH(bool, buddy);

    ConnectDialog dialog;
    QCOMPARE(dialog.GroupBox3->title(), QStringLiteral("データベース接続"));
    auto *grid = dialog.GroupBox3->findChild<QGridLayout *>();
    QVERIFY(grid);
    QCOMPARE(grid->alignment(), Qt::AlignTop);

    auto *labelWidget = qobject_cast<QLabel *>(grid->itemAtPosition(row, 0)->widget());
    QWidget *inputWidget = grid->itemAtPosition(row, 1)->widget();
    QCOMPARE(labelWidget->objectName(), label);
    QCOMPARE(labelWidget->text(), labelText);
    QCOMPARE(inputWidget->objectName(), input);
    QCOMPARE(inputWidget->parentWidget(), dialog.GroupBox3);
    QCOMPARE(labelWidget->buddy(), buddy ? inputWidget : nullptr);

    // Only the password hides what is typed.
    if (auto *edit = qobject_cast<QLineEdit *>(inputWidget))
        QCOMPARE(edit->echoMode(), input == "editPassword" ? QLineEdit::Password : QLineEdit::Normal);
}

void tst_ConnectDialog::driversAndDefaults()
{
    ConnectDialog dialog;
    QStringList items;
    for (int i = 0; i < dialog.comboDriver->count(); ++i)
        items << dialog.comboDriver->itemText(i);
    QCOMPARE(items, QSqlDatabase::drivers());
    QVERIFY(items.contains(QStringLiteral("QMYSQL")));
    QCOMPARE(dialog.comboDriver->currentIndex(), 0);
    QVERIFY(!dialog.comboDriver->isEditable());

    QVERIFY(dialog.PushButton1->isDefault());
    QCOMPARE(dialog.PushButton1->text(), QStringLiteral("&OK"));
    QCOMPARE(dialog.PushButton1->shortcut(), QKeySequence(QStringLiteral("Alt+O")));
    QCOMPARE(dialog.PushButton2->text(), QStringLiteral("&Cancel"));
    QVERIFY(!dialog.PushButton2->isDefault());
    for (QLineEdit *e : { dialog.editDatabase, dialog.editUsername, dialog.editPassword, dialog.editHostname })
        QCOMPARE(e->text(), QString());
}

void tst_ConnectDialog::portBox()
{
    ConnectDialog dialog;
    QSpinBox *port = dialog.portSpinBox;
    QCOMPARE(port->minimum(), -1);
    QCOMPARE(port->maximum(), 65535);
    QCOMPARE(port->value(), -1);
    QCOMPARE(port->text(), QStringLiteral("Default"));
    port->setValue(0);
    QCOMPARE(port->text(), QStringLiteral("0"));
    port->stepDown();
    QCOMPARE(port->text(), QStringLiteral("Default"));
    port->stepDown();
    QCOMPARE(port->value(), -1);
    port->setValue(70000);
    QCOMPARE(port->value(), 65535);
}

void tst_ConnectDialog::enterAcceptsEscapeRejects_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("result");
    QTest::newRow("Enter") << int(Qt::Key_Return) << int(QDialog::Accepted);
    QTest::newRow("Escape") << int(Qt::Key_Escape) << int(QDialog::Rejected);
}

void tst_ConnectDialog::enterAcceptsEscapeRejects()
{
    QFETCH(int, key);
    QFETCH(int, result);
    ConnectDialog dialog(nullptr, nullptr, true);
    QTimer::singleShot(50, &dialog, [&dialog, key] {
        dialog.editHostname->setFocus();
        QTest::keyClick(dialog.editHostname, Qt::Key(key));
    });
    QCOMPARE(dialog.exec(), result);
}

QTEST_MAIN(tst_ConnectDialog)
#include "tst_connectdialog.moc"
