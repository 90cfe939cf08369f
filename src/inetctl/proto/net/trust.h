#pragma once
#include <QDateTime>
#include <QString>

// A certificate that did not verify only because nobody vouches for it
// (self-signed, or its issuer is unknown), put to the user: trust it for
// this server from now on, or not.
struct CertificateQuestion {
    QString server;      // "host:port" as the user gave the host
    QString subject;     // one line, e.g. "CN=mail.example.org, O=Example"
    QString issuer;      // one line, same form
    QDateTime validFrom; // UTC
    QDateTime validUntil;
    QString fingerprint; // SHA-256 of the certificate, "AB:CD:..." upper case
    QString reason;      // why it did not verify, one sentence
    // A different certificate was trusted for this server before: the
    // server's key changed, or someone is in the middle.
    bool changed = false;
    QString trustedFingerprint; // the one trusted before, when changed
};

// Whoever answers the question (the window shows a dialog). One method:
// true trusts the certificate for that server from now on.
class CertificateDecider {
public:
    virtual ~CertificateDecider() = default;
    virtual bool TrustCertificate(const CertificateQuestion &question) = 0;
};

// A fingerprint written either way ("ab:cd:..." or "ABCD...") in the form
// above; "" when the text is not 32 octets in hex.
QString NormalFingerprint(const QString &text);
// Both name the same certificate; never true for text that is no fingerprint.
bool SameFingerprint(const QString &a, const QString &b);

// Text that came from the server (a certificate's names), made safe to show
// on one line: line breaks become spaces, other control and direction
// characters a replacement mark, so it can neither start a new line nor
// reorder what follows; very long text is cut.
QString OneLineForDisplay(const QString &text);
