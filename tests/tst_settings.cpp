#include "ConnectDialog.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

// Every row starts from a database.ini of some kind, optionally writes the
// typed fields over it, then reads it into a dialog whose fields were
// "d0,p0,u0,h0" and checks what the file, the fields and params() say.
class tst_Settings : public QObject
{
    Q_OBJECT

private slots:
    void rules_data();
    void rules();
};

enum Kind { Missing, Regular, Fifo, Directory };
using Fields = QStringList;

void tst_Settings::rules_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<Fields>("typed");    // empty: nothing is written
    QTest::addColumn<int>("sizeLimit");   // RLIMIT_FSIZE while writing, 0: none
    QTest::addColumn<QByteArray>("after"); // the file's bytes after the write
    QTest::addColumn<Fields>("read");     // empty: the dialog keeps its fields
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");

    const Fields kept;
    const QByteArray good("good,pw,user,host");
    const Fields goodFields{ "good", "pw", "user", "host" };
    const QString japanese = QString(300, QChar(0x5546)); // 900 bytes of UTF-8
    const Fields jp{ japanese, "鍵🔑", "太郎", "ホスト.example:3307" };
    const QByteArray h4090(4090, 'h');

    QTest::newRow("host:port") << int(Regular) << QByteArray("d,p,u,127.0.0.1:3307") << kept << 0
        << QByteArray("d,p,u,127.0.0.1:3307") << Fields{ "d", "p", "u", "127.0.0.1:3307" } << "127.0.0.1" << 3307;
    QTest::newRow("[::1]:3307") << int(Regular) << QByteArray("d,p,u,[::1]:3307") << kept << 0
        << QByteArray("d,p,u,[::1]:3307") << Fields{ "d", "p", "u", "[::1]:3307" } << "::1" << 3307;
    QTest::newRow("bare IPv6 has no port") << int(Regular) << QByteArray("d,p,u,fe80::1:3307") << kept << 0
        << QByteArray("d,p,u,fe80::1:3307") << Fields{ "d", "p", "u", "fe80::1:3307" } << "fe80::1:3307" << -1;
    QTest::newRow("port out of range stays host") << int(Regular) << QByteArray("d,p,u,h:70000") << kept << 0
        << QByteArray("d,p,u,h:70000") << Fields{ "d", "p", "u", "h:70000" } << "h:70000" << -1;
    QTest::newRow("trailing line end") << int(Regular) << QByteArray("d,p,u, db.local:3307\r\n") << kept << 0
        << QByteArray("d,p,u, db.local:3307\r\n") << Fields{ "d", "p", "u", " db.local:3307\r\n" } << "db.local" << 3307;
    QTest::newRow("4096 bytes are read") << int(Regular) << "d,p,u," + h4090 << kept << 0
        << "d,p,u," + h4090 << Fields{ "d", "p", "u", QString(h4090) } << QString(h4090) << -1;
    QTest::newRow("4097 bytes are ignored") << int(Regular) << "d,p,u,h" + h4090 << kept << 0
        << "d,p,u,h" + h4090 << kept << "h0" << -1;
    QTest::newRow("missing file") << int(Missing) << QByteArray() << kept << 0 << QByteArray() << kept << "h0" << -1;
    QTest::newRow("FIFO is no file") << int(Fifo) << QByteArray() << kept << 0 << QByteArray() << kept << "h0" << -1;
    QTest::newRow("directory is no file") << int(Directory) << QByteArray() << kept << 0 << QByteArray() << kept << "h0" << -1;

    QTest::newRow("long Japanese record round-trips") << int(Regular) << good << jp << 0
        << QStringList(jp).join(',').toUtf8() << jp << "ホスト.example" << 3307;
    QTest::newRow("too long is not written") << int(Regular) << good << Fields{ "d", "p", "u", QString(2000, QChar(0x3042)) }
        << 0 << good << goodFields << "host" << -1;
    QTest::newRow("comma in a name is not written") << int(Regular) << good << Fields{ "a,b", "p", "u", "h" } << 0
        << good << goodFields << "host" << -1;
    QTest::newRow("disk full keeps the old file") << int(Regular) << good << Fields{ "a-longer-name", "p", "u", "h" } << 4
        << good << goodFields << "host" << -1;
}

void tst_Settings::rules()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, file);
    QFETCH(Fields, typed);
    QFETCH(int, sizeLimit);
    QFETCH(QByteArray, after);
    QFETCH(Fields, read);
    QFETCH(QString, host);
    QFETCH(int, port);

    ScratchDirectory scratch;
    const QString ini = scratch.path() + QStringLiteral("/database.ini");
    const QByteArray path = QFile::encodeName(ini);
    if (kind == Regular) {
        QFile f(ini);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(file) == file.size());
        ::chmod(path, 0644);
    } else if (kind == Fifo) {
        QCOMPARE(::mkfifo(path, 0600), 0);
    } else if (kind == Directory) {
        QVERIFY(QDir().mkdir(ini));
    }

    if (!typed.isEmpty()) {
        ConnectDialog writer;
        writer.setParams({ {}, typed[0], typed[2], typed[1], typed[3], -1 });
        // Writes past the limit fail even for root, as on a full disk.
        struct rlimit old;
        ::getrlimit(RLIMIT_FSIZE, &old);
        const auto previous = ::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit tiny{ rlim_t(sizeLimit), old.rlim_max };
        ::setrlimit(RLIMIT_FSIZE, sizeLimit ? &tiny : &old);
        const bool written = writer.WriteSettings(ini);
        ::setrlimit(RLIMIT_FSIZE, &old);
        ::signal(SIGXFSZ, previous);
        QCOMPARE(written, after != file);
        // Owner-only whenever written, and no temporary file is left beside it.
        struct stat st;
        QCOMPARE(::stat(path, &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(written ? 0600 : 0644));
        QCOMPARE(QDir(scratch.path()).entryList(QDir::Files | QDir::Hidden), QStringList{ "database.ini" });
    }
    if (kind == Regular || !typed.isEmpty()) {
        QFile f(ini);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), after);
    }

    // A FIFO that were opened would block here for ever: fail instead.
    ::alarm(10);
    ConnectDialog reader;
    reader.setParams({ {}, "d0", "u0", "p0", "h0", -1 });
    reader.ReadSettings(ini);
    ::alarm(0);
    const Fields expected = read.isEmpty() ? Fields{ "d0", "p0", "u0", "h0" } : read;
    QCOMPARE((Fields{ reader.editDatabase->text(), reader.editPassword->text(),
                      reader.editUsername->text(), reader.editHostname->text() }),
             expected);
    const ConnectionParams params = reader.params();
    QCOMPARE(params.host, host);
    QCOMPARE(params.port, port);

    // What params() gives, setParams() shows again unchanged.
    ConnectDialog copy;
    copy.setParams(params);
    QCOMPARE(copy.params(), params);
}

QTEST_MAIN(tst_Settings)
#include "tst_settings.moc"
