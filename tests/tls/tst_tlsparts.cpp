// The pure parts of the encrypted connections: the POP capability list and
// the words a certificate failure is told in.
#include "net/tlserrors.h"
#include "pop/popcapa.h"

#include <QSslCertificate>
#include <QTest>

namespace {
// Expired on 2021-01-01, for mail.orvanta.test and pop.orvanta.test.
const QByteArray kCertificate = R"(-----BEGIN CERTIFICATE-----
MIIBijCCATCgAwIBAgIBATAKBggqhkjOPQQDAjANMQswCQYDVQQDDAJjYTAeFw0y
MDAxMDEwMDAwMDBaFw0yMTAxMDEwMDAwMDBaMBwxGjAYBgNVBAMMEW1haWwub3J2
YW50YS50ZXN0MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAETKDXNlzH237yOalO
BCUqyJrAKFAF8S+jssGSIFEKeoE4iSgZpOs3a4XmAzGghWKYhS9+jYDY0ZVH9L7C
Hxus3qNyMHAwLgYDVR0RBCcwJYIRbWFpbC5vcnZhbnRhLnRlc3SCEHBvcC5vcnZh
bnRhLnRlc3QwHQYDVR0OBBYEFJWF8z9YXHMSOT7FlMi8YbuK/F9rMB8GA1UdIwQY
MBaAFBsHde1vHKMpd8owylroENB4WQmxMAoGCCqGSM49BAMCA0gAMEUCIEK83ij8
MfYvTaFtwLex87vmeenzOFpuk5bTPSUIHwn7AiEAo1rUhYGD5rQQrcTGEcy0CvVM
vBqxHnAasvP0iUTZZ+g=
-----END CERTIFICATE-----
)";

using Errors = QList<QSslError::SslError>;
} // namespace

class TestTlsParts : public QObject {
    Q_OBJECT
private slots:
    void capabilityLists_data();
    void capabilityLists();
    void certificateWords_data();
    void certificateWords();
};

void TestTlsParts::capabilityLists_data()
{
    QTest::addColumn<QList<QByteArray>>("reads");
    QTest::addColumn<int>("result"); // pop::ParseResult after the last read
    QTest::addColumn<bool>("stls");
    QTest::addColumn<QByteArray>("left"); // what follows the list
    using R = pop::ParseResult;
    QTest::newRow("STLS among others") << QList<QByteArray>{"TOP\r\nSTLS\r\nUSER\r\n.\r\n"} << int(R::Complete)
                                       << true << QByteArray();
    QTest::newRow("no STLS") << QList<QByteArray>{"TOP\r\nUSER\r\nSASL PLAIN\r\n.\r\n"} << int(R::Complete) << false
                             << QByteArray();
    QTest::newRow("lower case, bare LF") << QList<QByteArray>{"user\nstls\n.\n"} << int(R::Complete) << true
                                         << QByteArray();
    QTest::newRow("a longer word is not STLS") << QList<QByteArray>{"STLSX\r\nX-STLS\r\n.\r\n"} << int(R::Complete)
                                               << false << QByteArray();
    QTest::newRow("split inside a line and the end") << QList<QByteArray>{"US", "ER\r\nST", "LS\r\n.", "\r\n"}
                                                     << int(R::Complete) << true << QByteArray();
    QTest::newRow("the next reply stays") << QList<QByteArray>{"STLS\r\n.\r\n+OK Begin TLS\r\n"} << int(R::Complete)
                                          << true << QByteArray("+OK Begin TLS\r\n");
    QTest::newRow("not ended yet") << QList<QByteArray>{"STLS\r\n"} << int(R::NeedMore) << true << QByteArray();
    QTest::newRow("line beyond the limit") << QList<QByteArray>{QByteArray(pop::kMaxCapaLine + 1, 'x')}
                                           << int(R::Invalid) << false << QByteArray();
    QTest::newRow("list beyond the limit") << QList<QByteArray>{QByteArray("X\r\n").repeated(pop::kMaxCapaLines + 1)}
                                           << int(R::Invalid) << false << QByteArray();
}

void TestTlsParts::capabilityLists()
{
    QFETCH(QList<QByteArray>, reads);
    QFETCH(int, result);
    QFETCH(bool, stls);
    QFETCH(QByteArray, left);
    pop::CapaList list;
    QByteArray pending;
    pop::ParseResult last = pop::ParseResult::NeedMore;
    for (const QByteArray &read : reads) {
        pending += read;
        qsizetype used = 0;
        QByteArray error;
        last = list.Feed(pending, &used, &error);
        pending.remove(0, used);
        if (last != pop::ParseResult::NeedMore)
            break;
    }
    QCOMPARE(int(last), result);
    QCOMPARE(list.Has("STLS"), stls);
    if (last == pop::ParseResult::Complete)
        QCOMPARE(pending, left);
}

void TestTlsParts::certificateWords_data()
{
    QTest::addColumn<Errors>("errors");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("details");
    QTest::newRow("expired") << Errors{QSslError::CertificateExpired}
                             << "Certificate has expired (valid until 2021-01-01T00:00:00Z)" << 1;
    QTest::newRow("another host name")
        << Errors{QSslError::HostNameMismatch}
        << "Certificate is for another host name (mail.orvanta.test, pop.orvanta.test, not smtp.example.org)" << 1;
    // OpenSSL reports an unknown issuer twice over; it is said once.
    QTest::newRow("unknown authority")
        << Errors{QSslError::UnableToGetLocalIssuerCertificate, QSslError::UnableToVerifyFirstCertificate}
        << "Certificate issuer is not trusted (unknown authority)" << 1;
    QTest::newRow("self-signed") << Errors{QSslError::SelfSignedCertificate}
                                 << "Certificate is self-signed and not trusted" << 1;
    QTest::newRow("unknown authority outranks the rest")
        << Errors{QSslError::HostNameMismatch, QSslError::CertificateExpired,
                  QSslError::UnableToGetLocalIssuerCertificate}
        << "Certificate issuer is not trusted (unknown authority)" << 3;
    QTest::newRow("expired outranks the host name")
        << Errors{QSslError::HostNameMismatch, QSslError::CertificateExpired}
        << "Certificate has expired (valid until 2021-01-01T00:00:00Z)" << 2;
}

void TestTlsParts::certificateWords()
{
    QFETCH(Errors, errors);
    QFETCH(QString, reason);
    QFETCH(int, details);
    const QList<QSslCertificate> certificates = QSslCertificate::fromData(kCertificate);
    QCOMPARE(certificates.size(), 1);
    QList<QSslError> list;
    for (QSslError::SslError error : errors)
        list.append(QSslError(error, certificates.first()));
    const CertificateVerdict verdict = DescribeCertificateErrors(list, QStringLiteral("smtp.example.org"));
    QCOMPARE(verdict.reason, reason);
    QCOMPARE(verdict.details.size(), details);
    QCOMPARE(verdict.details.first(), reason);
}

QTEST_MAIN(TestTlsParts)
#include "tst_tlsparts.moc"
