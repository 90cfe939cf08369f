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
