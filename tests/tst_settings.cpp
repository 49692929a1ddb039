#include "ConnectDialog.h"
#include "SettingsRecord.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

class tst_Settings : public QObject
{
    Q_OBJECT

private slots:
    void read_data();
    void read();
    void missingFileChangesNothing();
    void unreadableFileClears_data();
    void unreadableFileClears();
    void write_data();
    void write();
    void writtenFileIsPrivate();
    void failedWriteKeepsOldFile();

private:
    static void fill(ConnectDialog &d, const QStringList &v);
    static QStringList fields(const ConnectDialog &d);
    static void writeFile(const QByteArray &bytes);
};

void tst_Settings::fill(ConnectDialog &d, const QStringList &v)
{
    d.editDatabase->setText(v[0]);
    d.editPassword->setText(v[1]);
    d.editUsername->setText(v[2]);
    d.editHostname->setText(v[3]);
}

QStringList tst_Settings::fields(const ConnectDialog &d)
{
    return { d.editDatabase->text(), d.editPassword->text(), d.editUsername->text(),
             d.editHostname->text() };
}

void tst_Settings::writeFile(const QByteArray &bytes)
{
    QFile f(QStringLiteral("database.ini"));
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

// Expected fields in file order: database, password, user, host. An empty
// list means "the dialog keeps what it had".
void tst_Settings::read_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("expected");

    const QStringList unchanged;
    QTest::newRow("four fields") << QByteArray("shop,secret,alice,db.local")
                                 << QStringList{ "shop", "secret", "alice", "db.local" };
    QTest::newRow("host takes later commas") << QByteArray("a,b,c,d,e,f")
                                             << QStringList{ "a", "b", "c", "d,e,f" };
    QTest::newRow("empty password ends the split") << QByteArray("shop,,alice,host")
                                                   << QStringList{ "shop", "", "", "" };
    QTest::newRow("leading comma restores nothing") << QByteArray(",p,u,h")
                                                    << QStringList{ "", "", "", "" };
    QTest::newRow("no comma restores nothing") << QByteArray("shop")
                                               << QStringList{ "", "", "", "" };
    QTest::newRow("ends with third comma") << QByteArray("d,p,u,")
                                           << QStringList{ "d", "p", "u", "" };
    QTest::newRow("line end joins the host") << QByteArray("d,p,u,host\r\n")
                                             << QStringList{ "d", "p", "u", "host\r\n" };
    QTest::newRow("three commas only") << QByteArray(",,,") << QStringList{ "", "", "", "" };
    QTest::newRow("empty file clears") << QByteArray() << QStringList{ "", "", "", "" };
    QTest::newRow("NUL ends the content") << QByteArray("d,p,u,ho\0st", 11)
                                          << QStringList{ "d", "p", "u", "ho" };
    QTest::newRow("NUL inside the first field") << QByteArray("d\0,p,u,h", 8)
                                                << QStringList{ "", "", "", "" };
    QTest::newRow("UTF-8 fields") << QByteArray("商品DB,パス🔑,利用者,ホスト")
                                  << QStringList{ "商品DB", "パス🔑", "利用者", "ホスト" };
    QTest::newRow("99 bytes are read") << QByteArray("d,p,u,") + QByteArray(93, 'h')
                                       << QStringList{ "d", "p", "u", QString(93, 'h') };
    QTest::newRow("100 bytes are ignored") << QByteArray("d,p,u,") + QByteArray(94, 'h')
                                           << unchanged;
    QTest::newRow("large file is ignored") << QByteArray(1 << 20, ',') << unchanged;
    QTest::newRow("100 bytes of UTF-8 are ignored") << QByteArray("d,p,u,") + QString(47, QChar(0x3042)).toUtf8().left(94)
                                                    << unchanged;
    QTest::newRow("binary garbage") << QByteArray("\xff\xfe\x80,\x01\x02,\xc0,\xed\xa0\x80")
                                    << QStringList{ QString(3, QChar(0xFFFD)), "\x01\x02",
                                                    QString(QChar(0xFFFD)),
                                                    QString::fromUtf8("\xed\xa0\x80") };
}

void tst_Settings::read()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, expected);

    ScratchDirectory scratch;
    writeFile(content);
    ConnectDialog dialog;
    const QStringList before{ "d0", "p0", "u0", "h0" };
    fill(dialog, before);
    dialog.ReadSettings(QStringLiteral("database.ini"));
    QCOMPARE(fields(dialog), expected.isEmpty() ? before : expected);

    // The pure parser agrees with the dialog.
    const auto parsed = SettingsRecord::parse(content);
    QCOMPARE(parsed.has_value(), !expected.isEmpty());
}

void tst_Settings::missingFileChangesNothing()
{
    ScratchDirectory scratch;
    ConnectDialog dialog;
    fill(dialog, { "d0", "p0", "u0", "h0" });
    dialog.ReadSettings(QStringLiteral("database.ini"));
    QCOMPARE(fields(dialog), (QStringList{ "d0", "p0", "u0", "h0" }));
}

void tst_Settings::unreadableFileClears_data()
{
    QTest::addColumn<bool>("directory");
    QTest::newRow("directory of that name") << true;
    if (geteuid() != 0) // root reads every file whatever its mode
        QTest::newRow("no read permission") << false;
}

void tst_Settings::unreadableFileClears()
{
    QFETCH(bool, directory);
    ScratchDirectory scratch;
    if (directory) {
        QVERIFY(QDir().mkdir(QStringLiteral("database.ini")));
    } else {
        writeFile("d,p,u,h");
        QVERIFY(::chmod("database.ini", 0) == 0);
    }
    ConnectDialog dialog;
    fill(dialog, { "d0", "p0", "u0", "h0" });
    dialog.ReadSettings(QStringLiteral("database.ini"));
    QCOMPARE(fields(dialog), (QStringList{ "", "", "", "" }));
}

void tst_Settings::write_data()
{
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("readBack");

    QTest::newRow("ascii") << QStringList{ "shop", "secret", "alice", "db.local" }
                           << QByteArray("shop,secret,alice,db.local")
                           << QStringList{ "shop", "secret", "alice", "db.local" };
    QTest::newRow("all empty") << QStringList{ "", "", "", "" } << QByteArray(",,,")
                               << QStringList{ "", "", "", "" };
    QTest::newRow("comma in database name shifts fields")
        << QStringList{ "a,b", "pw", "user", "host" } << QByteArray("a,b,pw,user,host")
        << QStringList{ "a", "b", "pw", "user,host" };
    QTest::newRow("Japanese and 4-byte text") << QStringList{ "商品", "鍵🔑", "太郎", "localhost" }
                                              << QString("商品,鍵🔑,太郎,localhost").toUtf8()
                                              << QStringList{ "商品", "鍵🔑", "太郎", "localhost" };
}

void tst_Settings::write()
{
    QFETCH(QStringList, values);
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, readBack);

    ScratchDirectory scratch;
    ConnectDialog writer;
    fill(writer, values);
    writer.WriteSettings();
    QFile f(QStringLiteral("database.ini"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), bytes);

    ConnectDialog reader;
    reader.ReadSettings(QStringLiteral("database.ini"));
    QCOMPARE(fields(reader), readBack);
}

void tst_Settings::writtenFileIsPrivate()
{
    ScratchDirectory scratch;
    writeFile("old,old,old,old");
    QVERIFY(::chmod("database.ini", 0644) == 0);
    ConnectDialog dialog;
    fill(dialog, { "d", "p", "u", "h" });
    dialog.WriteSettings();
    struct stat st;
    QCOMPARE(::stat("database.ini", &st), 0);
    QCOMPARE(st.st_mode & 0777, mode_t(0600));
    // No temporary file is left beside it.
    QCOMPARE(QDir().entryList(QDir::Files | QDir::Hidden), QStringList{ "database.ini" });
}

void tst_Settings::failedWriteKeepsOldFile()
{
    ScratchDirectory scratch;
    writeFile("good,pw,user,host");
    // Writes beyond four bytes fail (as on a full disk), even for root: the
    // old file must survive whole, not be left truncated or half-written.
    struct rlimit old;
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto previousHandler = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit tiny = old;
    tiny.rlim_cur = 4;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &tiny), 0);
    ConnectDialog dialog;
    fill(dialog, { "a-longer-database-name", "new", "new", "new" });
    dialog.WriteSettings();
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, previousHandler);

    QFile f(QStringLiteral("database.ini"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("good,pw,user,host"));
    QCOMPARE(QDir().entryList(QDir::Files | QDir::Hidden), QStringList{ "database.ini" });
}

QTEST_MAIN(tst_Settings)
#include "tst_settings.moc"
