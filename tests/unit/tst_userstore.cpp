// The user's own files: a server is keyed one way however its host was
// written, a pin replaces the server's earlier one, lines the program does
// not know survive a rewrite, files are private and never half written, and
// a failure comes back as an error instead of a hang.
#include "net/certquestion.h"
#include "net/userstore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLockFile>
#include <QSslCertificate>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <sys/stat.h>

namespace {
// Self-signed, C=DE, O=Orvanta Test, OU=Mail, CN=mail.orvanta.test.
const QByteArray kCertificate = R"(-----BEGIN CERTIFICATE-----
MIIB8zCCAZmgAwIBAgIUT9dOiGkKKPxsBPSxL55b4eUkY/4wCgYIKoZIzj0EAwIw
TzELMAkGA1UEBhMCREUxFTATBgNVBAoMDE9ydmFudGEgVGVzdDENMAsGA1UECwwE
TWFpbDEaMBgGA1UEAwwRbWFpbC5vcnZhbnRhLnRlc3QwHhcNMjYxMjA5MDUyMTMw
WhcNMzYxMjA2MDUyMTMwWjBPMQswCQYDVQQGEwJERTEVMBMGA1UECgwMT3J2YW50
YSBUZXN0MQ0wCwYDVQQLDARNYWlsMRowGAYDVQQDDBFtYWlsLm9ydmFudGEudGVz
dDBZMBMGByqGSM49AgEGCCqGSM49AwEHA0IABGpx/Kz3Z6rapeMyUigIqmPU0gZT
UYaLL1WiOm8arH6DXv9LbUrTkrxlSywVya/te5LPIhk3bgNQVPSASZA1iWqjUzBR
MB0GA1UdDgQWBBQHkPWpilyVHP0qvSM51UAKhnUm+jAfBgNVHSMEGDAWgBQHkPWp
ilyVHP0qvSM51UAKhnUm+jAPBgNVHRMBAf8EBTADAQH/MAoGCCqGSM49BAMCA0gA
MEUCIFLI9f8Sc5rVV54S4LCN0bzNOlwp4r37uryqzJ4F+k2fAiEA8Tn01jnXw1Jo
aC9pzgHUNhm+Zc0V3MUqZgLjawHPbbc=
-----END CERTIFICATE-----
)";
const QString kCertificateFingerprint = QStringLiteral(
    "83:37:5F:C3:AE:7B:3F:80:3F:FB:F8:2A:94:30:FE:EF:C3:1F:E5:7C:B2:48:62:C8:44:10:D4:6B:6D:5D:C9:57");
const QString kOtherFingerprint = QStringLiteral(
    "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89");

const char kServer[] = "mail.example.org:993";

QString StorePath(const char *name)
{
    return UserStore::Folder() + QLatin1Char('/') + QLatin1String(name);
}

QByteArray ReadBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteBytes(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

struct stat Stat(const QString &path)
{
    struct stat info {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return info;
}
} // namespace

class TestUserStore : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;
    QByteArray m_home;

private slots:
    void initTestCase() { m_home = qgetenv("HOME"); }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir->path()));
        qputenv("HOME", m_home);
    }
    void cleanup() { m_dir.reset(); }

    void serverKey_data();
    void serverKey();
    void pinReplacesAndIsFound();
    void encryptionOfferRemembered();
    void foreignLinesSurvive_data();
    void foreignLinesSurvive();
    void filesArePrivateAndWhole();
    void failureIsReported_data();
    void failureIsReported();
    void homeFallback_data();
    void homeFallback();
    void certificateQuestion();
    void oneLineForDisplay_data();
    void oneLineForDisplay();
};

void TestUserStore::serverKey_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("key");
    QTest::newRow("name in lower case") << "Mail.Example.ORG" << 25 << "mail.example.org:25";
    QTest::newRow("trailing dot dropped") << "mail.example.org." << 587 << "mail.example.org:587";
    QTest::newRow("IPv6 in brackets") << "::1" << 25 << "[::1]:25";
    QTest::newRow("IPv6 written out") << "[2001:DB8:0:0:0:0:0:1]" << 995 << "[2001:db8::1]:995";
    QTest::newRow("IPv4") << "192.0.2.7" << 110 << "192.0.2.7:110";
    // These would break the line format or hide what a line says.
    QTest::newRow("line break") << "evil\nhost" << 25 << "";
    QTest::newRow("space") << "two words" << 25 << "";
    QTest::newRow("bidi override") << QString::fromUtf8("mail\u202Egro") << 25 << "";
    QTest::newRow("comment mark") << "#mail" << 25 << "";
    QTest::newRow("empty") << "" << 25 << "";
    QTest::newRow("only a dot") << "." << 25 << "";
    QTest::newRow("no port") << "mail.example.org" << 0 << "";
}

void TestUserStore::serverKey()
{
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QString, key);
    QCOMPARE(UserStore::ServerKey(host, quint16(port)), key);
}

void TestUserStore::pinReplacesAndIsFound()
{
    QString error;
    QVERIFY(UserStore::TrustedFingerprint(kServer).isEmpty());
    QVERIFY2(UserStore::TrustCertificate(kServer, kCertificateFingerprint, &error), qPrintable(error));
    QCOMPARE(UserStore::TrustedFingerprint(QStringLiteral("MAIL.example.org.:993")), kCertificateFingerprint);
    QVERIFY(UserStore::TrustedFingerprint(QStringLiteral("mail.example.org:995")).isEmpty());

    // Written the other way, kept in the one form.
    QVERIFY2(UserStore::TrustCertificate(kServer, kOtherFingerprint.toLower().remove(':'), &error),
             qPrintable(error));
    QCOMPARE(UserStore::TrustedFingerprint(kServer), kOtherFingerprint);
    QCOMPARE(ReadBytes(StorePath("trusted-certificates")).count(kServer), 1);

    QVERIFY2(UserStore::TrustCertificate(QStringLiteral("[::1]:25"), kCertificateFingerprint, &error),
             qPrintable(error));
    QCOMPARE(UserStore::TrustedFingerprint(QStringLiteral("[0:0::1]:25")), kCertificateFingerprint);

    error.clear();
    QVERIFY(!UserStore::TrustCertificate(kServer, QStringLiteral("AB:CD"), &error));
    QVERIFY(!error.isEmpty());
    error.clear();
    QVERIFY(!UserStore::TrustCertificate(QStringLiteral("mail\n:993"), kCertificateFingerprint, &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(UserStore::TrustedFingerprint(kServer), kOtherFingerprint);
}

void TestUserStore::encryptionOfferRemembered()
{
    const QString server = QStringLiteral("smtp.example.org:25");
    QString error;
    QVERIFY(!UserStore::OfferedEncryption(server));
    QVERIFY2(UserStore::NoteEncryptionOffered(QStringLiteral("SMTP.example.org:25"), &error), qPrintable(error));
    QVERIFY(UserStore::OfferedEncryption(server));
    QVERIFY(!UserStore::OfferedEncryption(QStringLiteral("smtp.example.org:587")));

    const QString path = StorePath("encrypted-servers");
    const ino_t inode = Stat(path).st_ino;
    QVERIFY(UserStore::NoteEncryptionOffered(server, &error));
    QCOMPARE(Stat(path).st_ino, inode); // not rewritten
    QCOMPARE(ReadBytes(path).count("smtp.example.org:25"), 1);
}

void TestUserStore::foreignLinesSurvive_data()
{
    QTest::addColumn<bool>("encryption");
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    const QByteArray fp = kCertificateFingerprint.toLatin1(), other = kOtherFingerprint.toLatin1();
    const QByteArray kept = "# my notes\r\nnot a pin at all\nother.example:25 " + fp + "\r\n\xff\xfe\x01\n"
                            "mail.example.org:993 not-a-fingerprint\n";
    QTest::newRow("pin added after the user's lines")
        << false << kept + "no final line end" << kept + "no final line end\nmail.example.org:993 " + other + "\n";
    QTest::newRow("pin replaced in its place, a second one dropped")
        << false << "a.example:1 " + fp + "\nMail.Example.org:993 " + fp + "\nx\nmail.example.org.:993 " + fp + "\n"
        << "a.example:1 " + fp + "\nmail.example.org:993 " + other + "\nx\n";
    QTest::newRow("encryption noted after the user's lines")
        << true << QByteArray("# mine\nbogus line here\n[::1]:25\n")
        << QByteArray("# mine\nbogus line here\n[::1]:25\nsmtp.example.org:25\n");
}

void TestUserStore::foreignLinesSurvive()
{
    QFETCH(bool, encryption);
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    const QString path = StorePath(encryption ? "encrypted-servers" : "trusted-certificates");
    QVERIFY(WriteBytes(path, before));
    QString error;
    const bool ok = encryption ? UserStore::NoteEncryptionOffered(QStringLiteral("smtp.example.org:25"), &error)
                               : UserStore::TrustCertificate(kServer, kOtherFingerprint, &error);
    QVERIFY2(ok, qPrintable(error));
    QCOMPARE(ReadBytes(path), after);
}

void TestUserStore::filesArePrivateAndWhole()
{
    // Not even the umask may open them up; missing parents are made too.
    const mode_t umaskBefore = ::umask(0);
    const QString base = m_dir->path() + QStringLiteral("/deeper/config");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(base));
    QString error;
    const bool trusted = UserStore::TrustCertificate(kServer, kCertificateFingerprint, &error);
    const bool noted = UserStore::NoteEncryptionOffered(kServer, &error);
    ::chmod(QFile::encodeName(StorePath("trusted-certificates")).constData(), 0644);
    const bool retrusted = UserStore::TrustCertificate(kServer, kOtherFingerprint, &error);
    ::umask(umaskBefore);
    QVERIFY2(trusted && noted && retrusted, qPrintable(error));

    const QString folder = UserStore::Folder();
    QCOMPARE(folder, base + QStringLiteral("/orvanta-mail"));
    QCOMPARE(Stat(folder).st_mode & 07777, mode_t(0700));
    QCOMPARE(Stat(base).st_mode & 07777, mode_t(0700));
    const QStringList entries =
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    QCOMPARE(entries, QStringList({"encrypted-servers", "trusted-certificates"}));
    for (const QString &name : entries) {
        QCOMPARE(Stat(folder + '/' + name).st_mode & 07777, mode_t(0600));
        QVERIFY(ReadBytes(folder + '/' + name).startsWith("# "));
    }
}

void TestUserStore::failureIsReported_data()
{
    QTest::addColumn<QString>("blocker");
    QTest::newRow("folder is a file") << "folder file";
    QTest::newRow("store files are folders") << "store folders";
    QTest::newRow("store files are pipes") << "store pipes"; // reading one must not wait for a writer
    QTest::newRow("another program holds the lock") << "lock";
}

void TestUserStore::failureIsReported()
{
    QFETCH(QString, blocker);
    const QString folder = UserStore::Folder();
    std::unique_ptr<QLockFile> lock;
    if (blocker == "folder file") {
        QVERIFY(WriteBytes(folder, "not a folder"));
    } else {
        QVERIFY(QDir().mkpath(folder));
        for (const char *name : {"trusted-certificates", "encrypted-servers"}) {
            const QByteArray path = QFile::encodeName(StorePath(name));
            if (blocker == "store folders")
                QVERIFY(::mkdir(path.constData(), 0700) == 0);
            else if (blocker == "store pipes")
                QVERIFY(::mkfifo(path.constData(), 0600) == 0);
        }
        if (blocker == "lock") {
            lock = std::make_unique<QLockFile>(folder + "/.lock");
            QVERIFY(lock->tryLock(0));
        }
    }
    QElapsedTimer timer;
    timer.start();
    QString trustError, noteError;
    QVERIFY(!UserStore::TrustCertificate(kServer, kCertificateFingerprint, &trustError));
    QVERIFY(!UserStore::NoteEncryptionOffered(kServer, &noteError));
    QVERIFY(UserStore::TrustedFingerprint(kServer).isEmpty());
    QVERIFY(!UserStore::OfferedEncryption(kServer));
    QVERIFY2(!trustError.isEmpty() && !noteError.isEmpty(), qPrintable(trustError + " / " + noteError));
    QVERIFY(timer.elapsed() < 10000);
}

void TestUserStore::homeFallback_data()
{
    QTest::addColumn<QByteArray>("xdg"); // "unset" for no variable at all
    QTest::addColumn<bool>("haveHome");
    QTest::newRow("XDG_CONFIG_HOME unset") << QByteArray("unset") << true;
    QTest::newRow("XDG_CONFIG_HOME empty") << QByteArray("") << true;
    QTest::newRow("XDG_CONFIG_HOME relative") << QByteArray("relative/config") << true;
    QTest::newRow("neither set") << QByteArray("unset") << false;
}

void TestUserStore::homeFallback()
{
    QFETCH(QByteArray, xdg);
    QFETCH(bool, haveHome);
    if (xdg == "unset")
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", xdg);
    const QString home = m_dir->path() + QStringLiteral("/home");
    if (haveHome)
        qputenv("HOME", QFile::encodeName(home));
    else
        qunsetenv("HOME");

    QString error;
    const bool noted = UserStore::NoteEncryptionOffered(kServer, &error);
    if (!haveHome) {
        QVERIFY(UserStore::Folder().isEmpty());
        QVERIFY(!noted);
        QVERIFY(!error.isEmpty());
        return;
    }
    QVERIFY2(noted, qPrintable(error));
    QCOMPARE(UserStore::Folder(), home + QStringLiteral("/.config/orvanta-mail"));
    QVERIFY(QFile::exists(home + QStringLiteral("/.config/orvanta-mail/encrypted-servers")));
}

void TestUserStore::certificateQuestion()
{
    const QSslCertificate certificate(kCertificate, QSsl::Pem);
    QVERIFY(!certificate.isNull());
    QCOMPARE(CertificateFingerprint(certificate), kCertificateFingerprint);
    QVERIFY(CertificateFingerprint(QSslCertificate()).isEmpty());
    QVERIFY(SameFingerprint(kOtherFingerprint, kOtherFingerprint.toLower().remove(':')));
    QVERIFY(!SameFingerprint(kOtherFingerprint, kCertificateFingerprint));
    QVERIFY(!SameFingerprint(QString(), QString()));

    const QString name = QStringLiteral("CN=mail.orvanta.test, O=Orvanta Test, OU=Mail, C=DE");
    CertificateQuestion q = AskAbout(kServer, certificate, QStringLiteral("Nobody vouches for it"), QString());
    QCOMPARE(q.server, QString(kServer));
    QCOMPARE(q.subject, name);
    QCOMPARE(q.issuer, name);
    QCOMPARE(q.validFrom, QDateTime(QDate(2026, 12, 9), QTime(5, 21, 30), Qt::UTC));
    QCOMPARE(q.validUntil, QDateTime(QDate(2036, 12, 6), QTime(5, 21, 30), Qt::UTC));
    QCOMPARE(q.fingerprint, kCertificateFingerprint);
    QCOMPARE(q.reason, QStringLiteral("Nobody vouches for it"));
    QVERIFY(!q.changed);

    q = AskAbout(kServer, certificate, QString(), kOtherFingerprint.toLower());
    QVERIFY(q.changed);
    QCOMPARE(q.trustedFingerprint, kOtherFingerprint);
    // The pinned certificate itself, back with another complaint, is no change.
    q = AskAbout(kServer, certificate, QStringLiteral("Certificate has expired"), kCertificateFingerprint);
    QVERIFY(!q.changed);
}

void TestUserStore::oneLineForDisplay_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("plain") << "CN=AT&T <mail>" << "CN=AT&T <mail>";
    QTest::newRow("line breaks") << "a\r\nb\u2028c" << "a  b c";
    QTest::newRow("bidi override") << QString::fromUtf8("moc.\u202Eevil") << QString::fromUtf8("moc.\uFFFDevil");
    QTest::newRow("very long") << QString(5000, 'x') << QString(512, 'x') + QChar(0x2026);
}

void TestUserStore::oneLineForDisplay()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QCOMPARE(OneLineForDisplay(text), shown);
}

QTEST_GUILESS_MAIN(TestUserStore)
#include "tst_userstore.moc"
