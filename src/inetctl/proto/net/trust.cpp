#include "trust.h"
#include "hexdigits.h"
#include "oneline.h"

#include <QCryptographicHash>
#include <QSslCertificate>
#include <QStringList>

namespace {
// SHA-256 is 32 octets.
constexpr qsizetype FingerprintOctets = 32;

// A certificate's names can be as long as its issuer likes; the dialog
// shows a line, not a page.
constexpr qsizetype MaxDisplayLength = 512;

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

QString NormalFingerprint(const QString &text)
{
    QByteArray hex;
    hex.reserve(FingerprintOctets * 2);
    for (const QChar c : QStringView(text).trimmed()) {
        if (c == QLatin1Char(':'))
            continue;
        if (c.unicode() > 0x7f || textcore::HexValue(char(c.unicode())) < 0
            || hex.size() == FingerprintOctets * 2)
            return {};
        hex.append(char(c.unicode()));
    }
    if (hex.size() != FingerprintOctets * 2)
        return {};
    return QString::fromLatin1(QByteArray::fromHex(hex).toHex(':').toUpper());
}

bool SameFingerprint(const QString &a, const QString &b)
{
    const QString normal = NormalFingerprint(a);
    return !normal.isEmpty() && normal == NormalFingerprint(b);
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

QString OneLineForDisplay(const QString &text)
{
    // Names compared by eye: every invisible character is marked, and each
    // blank stays one blank, so a name reads with the spacing it has.
    textcore::OneLineRules rules;
    rules.collapseBlanks = false;
    rules.markAllFormatCharacters = true;
    rules.maxChars = MaxDisplayLength;
    return textcore::OneLine(text, rules);
}
