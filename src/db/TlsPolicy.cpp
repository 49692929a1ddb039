#include "TlsPolicy.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <mysql.h>
#include <errmsg.h>
// The session's TLS object is reached through the connection's I/O layer;
// its type is declared only when the headers are told TLS is built in.
#define HAVE_TLS
#include <ma_pvio.h>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <sys/stat.h>

#include <memory>

namespace {

// Where a verifying mode looks for trust when no CA file is given: the
// system's store, as for any other TLS client on the machine.
const char SystemCaPath[] = "/etc/ssl/certs";
constexpr qint64 MaxPemBytes = 1 << 20;

struct X509Free { void operator()(X509 *x) const { X509_free(x); } };
struct KeyFree { void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); } };
struct BioFree { void operator()(BIO *b) const { BIO_free(b); } };
using X509Ptr = std::unique_ptr<X509, X509Free>;
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;

// A key with a passphrase must fail here, not stop and ask on a terminal.
int noPassphrase(char *, int, int, void *)
{
    return -1;
}

bool verifies(TlsMode mode)
{
    return mode == TlsMode::VerifyCa || mode == TlsMode::VerifyIdentity;
}

// The files the mode uses, empty where none.
struct TlsFiles
{
    QString ca, caPath, cert, key;
};

TlsFiles filesFor(const ConnectionParams &p)
{
    TlsFiles f;
    if (p.tlsMode == TlsMode::Off)
        return f;
    f.cert = p.tlsCert;
    f.key = p.tlsKey;
    if (verifies(p.tlsMode)) {
        f.ca = p.tlsCa;
        if (f.ca.isEmpty())
            f.caPath = QString::fromLatin1(SystemCaPath);
    }
    return f;
}

// The file's bytes, or why there are none.
QString readPem(const QString &what, const QString &path, QByteArray *bytes)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("%1「%2」がありません").arg(what, path);
    if (info.isDir())
        return QStringLiteral("%1「%2」はディレクトリです").arg(what, path);
    QFile file(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly))
        return QStringLiteral("%1「%2」を読めません").arg(what, path);
    *bytes = file.read(MaxPemBytes);
    return QString();
}

std::unique_ptr<BIO, BioFree> memoryBio(const QByteArray &bytes)
{
    return std::unique_ptr<BIO, BioFree>(BIO_new_mem_buf(bytes.constData(), int(bytes.size())));
}

X509Ptr firstCertificate(const QByteArray &bytes)
{
    auto bio = memoryBio(bytes);
    return X509Ptr(bio ? PEM_read_bio_X509(bio.get(), nullptr, noPassphrase, nullptr) : nullptr);
}

KeyPtr privateKey(const QByteArray &bytes)
{
    auto bio = memoryBio(bytes);
    return KeyPtr(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassphrase, nullptr)
                      : nullptr);
}

QString certificateProblem(const QString &what, const QString &path, X509Ptr *certificate)
{
    QByteArray bytes;
    const QString unreadable = readPem(what, path, &bytes);
    if (!unreadable.isEmpty())
        return unreadable;
    *certificate = firstCertificate(bytes);
    if (!*certificate)
        return QStringLiteral("%1「%2」は PEM 形式の証明書ではありません").arg(what, path);
    return QString();
}

QString clientProblem(const TlsFiles &f)
{
    const QString certWhat = QStringLiteral("クライアント証明書");
    const QString keyWhat = QStringLiteral("クライアント証明書の鍵");
    if (f.cert.isEmpty())
        return QStringLiteral("鍵ファイルに合うクライアント証明書を指定して下さい");
    X509Ptr certificate;
    QString problem = certificateProblem(certWhat, f.cert, &certificate);
    if (!problem.isEmpty())
        return problem;
    // Without a key file the client library looks for the key in the
    // certificate's own file.
    const QString keyPath = f.key.isEmpty() ? f.cert : f.key;
    QByteArray bytes;
    problem = readPem(keyWhat, keyPath, &bytes);
    if (!problem.isEmpty())
        return problem;
    const KeyPtr key = privateKey(bytes);
    if (!key) {
        return f.key.isEmpty()
            ? QStringLiteral("クライアント証明書の鍵ファイルを指定して下さい")
            : QStringLiteral("%1「%2」は PEM 形式の鍵ではありません (パスフレーズ付きの鍵は使えません)")
                  .arg(keyWhat, keyPath);
    }
    if (X509_check_private_key(certificate.get(), key.get()) != 1)
        return QStringLiteral("クライアント証明書「%1」と鍵「%2」が一致しません").arg(f.cert, keyPath);
    return QString();
}

QString socketProblem(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return QStringLiteral("ソケット「%1」がありません").arg(path);
    if (!S_ISSOCK(st.st_mode))
        return QStringLiteral("「%1」はソケットではありません").arg(path);
    return QString();
}

// A path the driver's option string carries unchanged, or a link to it.
QString carried(const QString &path, const char *name, std::unique_ptr<QTemporaryDir> &aliases)
{
    if (!path.contains(QLatin1Char(';')) && path.simplified() == path)
        return path;
    if (!aliases)
        aliases = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/velquin-XXXXXX"));
    const QString link = aliases->filePath(QLatin1String(name));
    QFile::link(QFileInfo(path).absoluteFilePath(), link);
    return link;
}

SSL *sslOf(MYSQL *mysql)
{
    const MARIADB_PVIO *pvio = mysql->net.pvio;
    return pvio && pvio->ctls ? static_cast<SSL *>(pvio->ctls->ssl) : nullptr;
}

DbError tlsError(const QString &message)
{
    return DbError{ CR_SSL_CONNECTION_ERROR, QStringLiteral("HY000"), QStringLiteral("TLS: ") + message };
}

bool nameMatches(X509 *certificate, const QString &name)
{
    const QByteArray ascii = name.toUtf8();
    unsigned char address[16];
    if (inet_pton(AF_INET, ascii.constData(), address) == 1
        || inet_pton(AF_INET6, ascii.constData(), address) == 1)
        return X509_check_ip_asc(certificate, ascii.constData(), 0) == 1;
    // Certificates name hosts in their ASCII form: 例え.jp as xn--r8jz45g.jp.
    const QByteArray ace = QUrl::toAce(name);
    return !ace.isEmpty()
        && X509_check_host(certificate, ace.constData(), size_t(ace.size()),
                           X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS, nullptr)
        == 1;
}

} // namespace

QString TlsPolicy::problem(const ConnectionParams &params)
{
    QString problem;
    if (params.viaSocket())
        problem = socketProblem(params.host);
    const TlsFiles f = filesFor(params);
    if (problem.isEmpty() && !f.ca.isEmpty()) {
        X509Ptr ca;
        problem = certificateProblem(QStringLiteral("CA 証明書"), f.ca, &ca);
        if (!problem.isEmpty())
            problem = QStringLiteral("TLS: ") + problem;
    }
    if (problem.isEmpty() && !f.caPath.isEmpty() && !QFileInfo(f.caPath).isDir())
        problem = QStringLiteral("TLS: 証明書を検証するには CA 証明書ファイルを指定して下さい");
    if (problem.isEmpty() && (!f.cert.isEmpty() || !f.key.isEmpty())) {
        problem = clientProblem(f);
        if (!problem.isEmpty())
            problem = QStringLiteral("TLS: ") + problem;
    }
    ERR_clear_error();
    return problem;
}

QString TlsPolicy::driverOptions(const ConnectionParams &params,
                                 std::unique_ptr<QTemporaryDir> &aliases)
{
    QStringList options;
    if (params.viaSocket())
        options << QStringLiteral("UNIX_SOCKET=") + carried(params.host, "socket", aliases);
    if (params.tlsMode != TlsMode::Off) {
        const TlsFiles f = filesFor(params);
        const std::pair<const char *, QString> files[] = {
            { "SSL_CA", f.ca }, { "SSL_CAPATH", f.caPath }, { "SSL_CERT", f.cert }, { "SSL_KEY", f.key }
        };
        for (const auto &[option, path] : files)
            if (!path.isEmpty())
                options << QLatin1String(option) + QLatin1Char('=') + carried(path, option, aliases);
        // An empty cipher list keeps the library's ciphers; it is what makes
        // the driver ask for TLS when no file is given.
        options << QStringLiteral("SSL_CIPHER=");
    }
    return options.join(QLatin1Char(';'));
}

void TlsPolicy::applyNative(MYSQL *mysql, const ConnectionParams &params)
{
    if (params.tlsMode == TlsMode::Off)
        return;
    const TlsFiles f = filesFor(params);
    const QByteArray key = QFile::encodeName(f.key), cert = QFile::encodeName(f.cert),
                     ca = QFile::encodeName(f.ca), caPath = QFile::encodeName(f.caPath);
    auto orNull = [](const QByteArray &a) { return a.isEmpty() ? nullptr : a.constData(); };
    mysql_ssl_set(mysql, orNull(key), orNull(cert), orNull(ca), orNull(caPath), "");
    if (params.tlsMode == TlsMode::VerifyIdentity) {
        const my_bool on = 1;
        mysql_optionsv(mysql, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &on);
    }
}

QString TlsPolicy::expectedName(const ConnectionParams &params)
{
    return params.viaSocket() || params.host.isEmpty() ? QStringLiteral("localhost") : params.host;
}

DbError TlsPolicy::checkSession(MYSQL *mysql, const ConnectionParams &params)
{
    if (params.tlsMode == TlsMode::Off || params.tlsMode == TlsMode::Preferred)
        return DbError();
    if (!mysql_get_ssl_cipher(mysql))
        return tlsError(QStringLiteral("暗号化が必須ですが、サーバーは TLS に対応していません"));
    if (!verifies(params.tlsMode))
        return DbError();
    SSL *ssl = sslOf(mysql);
    const char *library = nullptr;
    mariadb_get_infov(mysql, MARIADB_TLS_LIBRARY, &library);
    if (!ssl || !library || qstrncmp(library, "OpenSSL", 7) != 0)
        return tlsError(QStringLiteral("サーバーの証明書を確かめられません"));
    const long verified = SSL_get_verify_result(ssl);
    if (verified != X509_V_OK) {
        return tlsError(QStringLiteral("サーバーの証明書を CA で検証できません: %1")
                            .arg(QString::fromUtf8(X509_verify_cert_error_string(verified))));
    }
    if (params.tlsMode != TlsMode::VerifyIdentity)
        return DbError();
    const X509Ptr peer(SSL_get1_peer_certificate(ssl));
    const QString name = expectedName(params);
    if (!peer || !nameMatches(peer.get(), name))
        return tlsError(QStringLiteral("サーバーの証明書はホスト「%1」のものではありません").arg(name));
    return DbError();
}

TlsSession TlsPolicy::session(MYSQL *mysql)
{
    TlsSession session;
    static const char query[] =
        "SHOW SESSION STATUS WHERE Variable_name IN ('Ssl_version', 'Ssl_cipher')";
    if (mysql_real_query(mysql, query, sizeof query - 1) != 0)
        return session;
    MYSQL_RES *result = mysql_store_result(mysql);
    if (!result)
        return session;
    while (MYSQL_ROW row = mysql_fetch_row(result)) {
        if (mysql_num_fields(result) < 2 || !row[0] || !row[1])
            continue;
        const QString value = QString::fromUtf8(row[1]);
        if (qstrcmp(row[0], "Ssl_version") == 0)
            session.version = value;
        else if (qstrcmp(row[0], "Ssl_cipher") == 0)
            session.cipher = value;
    }
    mysql_free_result(result);
    return session;
}
