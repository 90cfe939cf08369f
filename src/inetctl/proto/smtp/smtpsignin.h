#pragma once
#include "smtptransaction.h"

#include <QByteArray>
#include <QList>

struct Gsasl;
struct Gsasl_session;

namespace smtp {

// Mechanisms we sign in with, most preferred first: SCRAM never lets the
// password itself reach the server; PLAIN and LOGIN need the encryption
// (or loopback) the session insists on anyway.
inline constexpr const char *kSignInMechanisms[] = {"SCRAM-SHA-256", "SCRAM-SHA-1", "PLAIN", "LOGIN"};

// The mechanisms an EHLO reply's AUTH line offers, upper case ("AUTH" and the
// old "AUTH=" form).
QList<QByteArray> OfferedMechanisms(const QList<QByteArray> &ehloLines);
// The one we use among those offered; empty when none fits.
QByteArray ChooseMechanism(const QList<QByteArray> &offered);

// A refusal of MAIL or RCPT that means "sign in first" (RFC 4954 6: 530,
// or the enhanced code 5.7.0, or words to that effect).
bool AsksForSignIn(const Reply &reply);

// SMTP sign-in (RFC 4954) with the SASL exchange done by GNU SASL: AUTH with
// the initial response where the mechanism has one, then one response per
// 334 challenge, until 235.
class SignIn {
public:
    SignIn(Link &link, QByteArray user, QByteArray password);
    ~SignIn();
    SignIn(const SignIn &) = delete;
    SignIn &operator=(const SignIn &) = delete;

    Outcome Start(const QByteArray &mechanism);
    Outcome OnAuth235(const Reply &reply);
    QByteArray Mechanism() const { return m_mechanism; }

private:
    // One SASL step: the base64 answer to the server's base64 challenge.
    bool Step(const QByteArray &challenge, QByteArray *response, QString *error);
    Outcome Failed(const QString &description, const QStringList &lines = {});

    Link &m_link;
    QByteArray m_user;
    QByteArray m_password;
    QByteArray m_mechanism;
    Gsasl *m_context = nullptr;
    Gsasl_session *m_session = nullptr;
    bool m_saslDone = false; // the mechanism has checked the server's last word
};

} // namespace smtp
