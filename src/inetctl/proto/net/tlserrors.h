#pragma once
#include <QList>
#include <QSslError>
#include <QString>
#include <QStringList>

// Why a server's certificate was not accepted, in words a person
// understands: the first problem that matters most, and one line per
// problem for the error's details.
struct CertificateVerdict {
    QString reason;      // e.g. "Certificate has expired"
    QStringList details; // every problem, as the TLS library words it
};

// `peerName` is the host part of RemoteHost, the name the certificate must
// carry.
CertificateVerdict DescribeCertificateErrors(const QList<QSslError> &errors, const QString &peerName);

// No authority we know vouches for the certificate (self-signed, or its
// issuer unknown): a user may judge it and trust it for a server. Every
// other problem (expired, another host name, revoked) stays a refusal.
bool IsUnvouched(QSslError::SslError error);
