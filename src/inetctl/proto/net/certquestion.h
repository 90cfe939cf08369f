#pragma once
#include "trust.h"

class QSslCertificate;

// The SHA-256 fingerprint of a certificate in the form NormalFingerprint
// gives; "" for a null
// certificate.
QString CertificateFingerprint(const QSslCertificate &certificate);

// The question for a certificate the server presented. `trustedFingerprint`
// is the one pinned for the server before, "" when none: a pin that differs
// marks the question as a changed certificate.
CertificateQuestion AskAbout(const QString &server, const QSslCertificate &certificate,
                             const QString &reason, const QString &trustedFingerprint);
