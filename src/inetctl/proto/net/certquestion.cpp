#include "certquestion.h"

#include <QCryptographicHash>
#include <QSslCertificate>
#include <QStringList>

namespace {
QString NameLine(const QSslCertificate &certificate, bool issuer)
{
    static const struct {
        QSslCertificate::SubjectInfo field;
        const char *label;
    } fields[] = {
        {QSslCertificate::CommonName, "CN"},
        {QSslCertificate::Organization, "O"},
        {QSslCertificate::OrganizationalUnitName, "OU"},
        {QSslCertificate::CountryName, "C"},
    };
    QStringList parts;
    for (const auto &f : fields) {
        const QStringList values = issuer ? certificate.issuerInfo(f.field) : certificate.subjectInfo(f.field);
        for (const QString &value : values)
            parts.append(QLatin1String(f.label) + QLatin1Char('=') + value);
    }
    return OneLineForDisplay(parts.join(QLatin1String(", ")));
}
} // namespace

QString CertificateFingerprint(const QSslCertificate &certificate)
{
    if (certificate.isNull())
        return {};
    return QString::fromLatin1(certificate.digest(QCryptographicHash::Sha256).toHex(':').toUpper());
}

CertificateQuestion AskAbout(const QString &server, const QSslCertificate &certificate,
                             const QString &reason, const QString &trustedFingerprint)
{
    CertificateQuestion question;
    question.server = server;
    question.subject = NameLine(certificate, false);
    question.issuer = NameLine(certificate, true);
    question.validFrom = certificate.effectiveDate().toUTC();
    question.validUntil = certificate.expiryDate().toUTC();
    question.fingerprint = CertificateFingerprint(certificate);
    question.reason = reason;
    // The pinned certificate itself can come back with a new complaint
    // (it expired): that is no change of certificate, and warning of an
    // interception then would teach people to ignore the warning.
    question.changed = !trustedFingerprint.isEmpty() && !SameFingerprint(trustedFingerprint, question.fingerprint);
    if (question.changed) {
        const QString normal = NormalFingerprint(trustedFingerprint);
        question.trustedFingerprint = normal.isEmpty() ? OneLineForDisplay(trustedFingerprint) : normal;
    }
    return question;
}
