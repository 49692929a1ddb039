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
    QTest::addColumn<Fields>("typed");     // empty: nothing is written
    QTest::addColumn<int>("sizeLimit");    // RLIMIT_FSIZE while writing, 0: none
    QTest::addColumn<QByteArray>("after"); // the bytes written; empty: file unchanged
    QTest::addColumn<Fields>("read");      // empty: the dialog keeps its fields
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    auto row = [](const char *name, Kind kind, const QByteArray &file, const Fields &typed, int limit,
                  const QByteArray &after, const Fields &read, const QString &host, int port) {
        QTest::newRow(name) << int(kind) << file << typed << limit << after << read << host << port;
    };

    const QByteArray good("good,pw,user,host"), h4090(4090, 'h');
    const Fields goodFields{ "good", "pw", "user", "host" };
    const Fields jp{ QString(300, QChar(0x5546)), "鍵🔑", "太郎", "ホスト.example:3307" };

    row("host:port", Regular, "d,p,u,127.0.0.1:3307", {}, 0, {}, { "d", "p", "u", "127.0.0.1:3307" },
        "127.0.0.1", 3307);
    row("[::1]:3307", Regular, "d,p,u,[::1]:3307", {}, 0, {}, { "d", "p", "u", "[::1]:3307" }, "::1", 3307);
    row("bare IPv6 has no port", Regular, "d,p,u,fe80::1:3307", {}, 0, {}, { "d", "p", "u", "fe80::1:3307" },
        "fe80::1:3307", -1);
    row("port out of range stays host", Regular, "d,p,u,h:70000", {}, 0, {}, { "d", "p", "u", "h:70000" },
        "h:70000", -1);
    row("trailing line end", Regular, "d,p,u, db.local:3307\r\n", {}, 0, {},
        { "d", "p", "u", " db.local:3307\r\n" }, "db.local", 3307);
    row("4096 bytes are read", Regular, "d,p,u," + h4090, {}, 0, {}, { "d", "p", "u", QString(h4090) }, h4090, -1);
    row("4097 bytes are ignored", Regular, "d,p,u,h" + h4090, {}, 0, {}, {}, "h0", -1);
    row("missing file", Missing, {}, {}, 0, {}, {}, "h0", -1);
    row("FIFO is no file", Fifo, {}, {}, 0, {}, {}, "h0", -1);
    row("directory is no file", Directory, {}, {}, 0, {}, {}, "h0", -1);

    row("long Japanese record round-trips", Regular, good, jp, 0, jp.join(',').toUtf8(), jp, "ホスト.example", 3307);
    row("too long is not written", Regular, good, { "d", "p", "u", QString(2000, QChar(0x3042)) }, 0, {},
        goodFields, "host", -1);
    row("comma in a name is not written", Regular, good, { "a,b", "p", "u", "h" }, 0, {}, goodFields, "host", -1);
    row("disk full keeps the old file", Regular, good, { "a-longer-name", "p", "u", "h" }, 4, {}, goodFields,
        "host", -1);
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
        QCOMPARE(written, !after.isEmpty());
        // Owner-only whenever written, and no temporary file is left beside it.
        struct stat st;
        QCOMPARE(::stat(path, &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(written ? 0600 : 0644));
        QCOMPARE(QDir(scratch.path()).entryList(QDir::Files | QDir::Hidden), QStringList{ "database.ini" });
    }
    if (kind == Regular) {
        QFile f(ini);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), after.isEmpty() ? file : after);
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
