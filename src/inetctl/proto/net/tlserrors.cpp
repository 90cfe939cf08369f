#include "tlserrors.h"

#include <QSslCertificate>
#include <algorithm>

namespace {
// Lower ranks are told first: an unknown issuer makes any other finding
// about the certificate moot, an expired one is the usual slip of a known
// server, a host name mismatch points at the settings.
int Rank(QSslError::SslError error)
{
    switch (error) {
    case QSslError::NoPeerCertificate: return 0;
    case QSslError::SelfSignedCertificate:
    case QSslError::SelfSignedCertificateInChain: return 1;
    case QSslError::UnableToGetLocalIssuerCertificate:
    case QSslError::UnableToGetIssuerCertificate:
    case QSslError::UnableToVerifyFirstCertificate:
    case QSslError::CertificateUntrusted: return 2;
    case QSslError::CertificateRevoked: return 3;
    case QSslError::CertificateExpired:
    case QSslError::CertificateNotYetValid: return 4;
    case QSslError::HostNameMismatch: return 5;
    default: return 6;
    }
}

QString CertificateNames(const QSslCertificate &certificate)
{
    QStringList names;
    const auto alternatives = certificate.subjectAlternativeNames();
    for (const QSsl::AlternativeNameEntryType type : {QSsl::DnsEntry, QSsl::IpAddressEntry}) {
        // The map gives the names of one type newest first: turn them back
        // into the certificate's order.
        const QStringList ofType = alternatives.values(type);
        for (auto it = ofType.crbegin(); it != ofType.crend(); ++it)
            if (!names.contains(*it))
                names.append(*it);
    }
    if (names.isEmpty())
        names = certificate.subjectInfo(QSslCertificate::CommonName);
    return names.isEmpty() ? QStringLiteral("no name") : names.join(QStringLiteral(", "));
}

QString Reason(const QSslError &error, const QString &peerName)
{
    switch (error.error()) {
    case QSslError::CertificateExpired:
        return QStringLiteral("Certificate has expired (valid until %1)")
            .arg(error.certificate().expiryDate().toUTC().toString(Qt::ISODate));
    case QSslError::CertificateNotYetValid:
        return QStringLiteral("Certificate is not yet valid (valid from %1)")
            .arg(error.certificate().effectiveDate().toUTC().toString(Qt::ISODate));
    case QSslError::HostNameMismatch:
        return QStringLiteral("Certificate is for another host name (%1, not %2)")
            .arg(CertificateNames(error.certificate()), peerName);
    case QSslError::UnableToGetLocalIssuerCertificate:
    case QSslError::UnableToGetIssuerCertificate:
    case QSslError::UnableToVerifyFirstCertificate:
    case QSslError::CertificateUntrusted:
        return QStringLiteral("Certificate issuer is not trusted (unknown authority)");
    case QSslError::SelfSignedCertificate:
    case QSslError::SelfSignedCertificateInChain:
        return QStringLiteral("Certificate is self-signed and not trusted");
    case QSslError::CertificateRevoked:
        return QStringLiteral("Certificate has been revoked");
    case QSslError::NoPeerCertificate:
        return QStringLiteral("The server sent no certificate");
    default:
        return QStringLiteral("Certificate is not valid: %1").arg(error.errorString());
    }
}
} // namespace

CertificateVerdict DescribeCertificateErrors(const QList<QSslError> &errors, const QString &peerName)
{
    CertificateVerdict verdict;
    if (errors.isEmpty()) {
        verdict.reason = QStringLiteral("Certificate is not valid");
        return verdict;
    }
    QList<QSslError> ranked = errors;
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const QSslError &a, const QSslError &b) { return Rank(a.error()) < Rank(b.error()); });
    for (const QSslError &error : std::as_const(ranked)) {
        const QString line = Reason(error, peerName);
        if (!verdict.details.contains(line))
            verdict.details.append(line);
    }
    verdict.reason = verdict.details.first();
    return verdict;
}

bool IsUnvouched(QSslError::SslError error)
{
    switch (error) {
    case QSslError::SelfSignedCertificate:
    case QSslError::SelfSignedCertificateInChain:
    case QSslError::UnableToGetLocalIssuerCertificate:
    case QSslError::UnableToGetIssuerCertificate:
    case QSslError::UnableToVerifyFirstCertificate:
    case QSslError::CertificateUntrusted:
        return true;
    default:
        return false;
    }
}
