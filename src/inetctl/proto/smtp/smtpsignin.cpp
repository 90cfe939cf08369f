#include "smtpsignin.h"

#include <gsasl.h>

#include <cstring>

namespace smtp {

namespace {
QString TextOr(const Reply &reply, const QString &fallback)
{
    const QString text = reply.Text();
    return text.isEmpty() ? fallback : text;
}

void Wipe(QByteArray &secret)
{
    secret.fill('\0');
    secret.clear();
}
} // namespace

QList<QByteArray> OfferedMechanisms(const QList<QByteArray> &ehloLines)
{
    QList<QByteArray> offered;
    for (const QByteArray &line : ehloLines) {
        const QByteArray upper = line.trimmed().toUpper();
        if (!upper.startsWith("AUTH ") && !upper.startsWith("AUTH="))
            continue;
        for (const QByteArray &name : upper.mid(5).simplified().split(' '))
            if (!name.isEmpty() && !offered.contains(name))
                offered.append(name);
    }
    return offered;
}

QByteArray ChooseMechanism(const QList<QByteArray> &offered)
{
    for (const char *name : kSignInMechanisms)
        if (offered.contains(QByteArray(name)))
            return name;
    return {};
}

bool AsksForSignIn(const Reply &reply)
{
    if (reply.code == 530)
        return true;
    const QByteArray first = reply.lines.value(0).trimmed();
    if (reply.Class() == 5 && first.startsWith("5.7.0 "))
        return true;
    const QString text = reply.Text().toLower();
    return reply.Class() == 5
           && (text.contains(QLatin1String("authentication required")) || text.contains(QLatin1String("auth required"))
               || text.contains(QLatin1String("must authenticate")));
}

SignIn::SignIn(Link &link, QByteArray user, QByteArray password)
    : m_link(link), m_user(std::move(user)), m_password(std::move(password))
{
}

SignIn::~SignIn()
{
    Wipe(m_password);
    if (m_session)
        gsasl_finish(m_session);
    if (m_context)
        gsasl_done(m_context);
}

Outcome SignIn::Failed(const QString &description, const QStringList &lines)
{
    return Outcome::Failed(Outcome::Refused, InetError::AuthFailed, description, lines);
}

Outcome SignIn::Start(const QByteArray &mechanism)
{
    m_mechanism = mechanism;
    int rc = gsasl_init(&m_context);
    if (rc == GSASL_OK && !gsasl_client_support_p(m_context, mechanism.constData()))
        rc = GSASL_UNKNOWN_MECHANISM;
    if (rc == GSASL_OK)
        rc = gsasl_client_start(m_context, mechanism.constData(), &m_session);
    if (rc != GSASL_OK)
        return Failed(QStringLiteral("Cannot sign in with %1: %2")
                          .arg(QString::fromLatin1(mechanism), QString::fromUtf8(gsasl_strerror(rc))));
    gsasl_property_set(m_session, GSASL_AUTHID, m_user.constData());
    gsasl_property_set(m_session, GSASL_PASSWORD, m_password.constData());
    Wipe(m_password); // the library holds it from here on

    // LOGIN has no initial response: its user name answers the first
    // challenge. The others start with theirs (RFC 4954 4), "=" when empty.
    QByteArray command = "AUTH " + mechanism;
    if (mechanism != "LOGIN") {
        QByteArray initial;
        QString error;
        if (!Step({}, &initial, &error))
            return Failed(error);
        command += ' ' + (initial.isEmpty() ? QByteArray("=") : initial);
    }
    m_link.Send(command, Await::Auth235);
    return {};
}

bool SignIn::Step(const QByteArray &challenge, QByteArray *response, QString *error)
{
    char *out = nullptr;
    const int rc = gsasl_step64(m_session, challenge.constData(), &out);
    if (rc != GSASL_OK && rc != GSASL_NEEDS_MORE) {
        gsasl_free(out);
        *error = QStringLiteral("Sign-in with %1 failed: %2")
                     .arg(QString::fromLatin1(m_mechanism), QString::fromUtf8(gsasl_strerror(rc)));
        return false;
    }
    m_saslDone = rc == GSASL_OK;
    *response = out ? QByteArray(out) : QByteArray();
    if (out) {
        std::memset(out, 0, std::strlen(out)); // PLAIN and LOGIN carry the password
        gsasl_free(out);
    }
    return true;
}

Outcome SignIn::OnAuth235(const Reply &reply)
{
    if (reply.code == 334) {
        // A challenge: the mechanism answers it.
        QByteArray response;
        QString error;
        if (!Step(reply.lines.value(0).trimmed(), &response, &error)) {
            // RFC 4954 4: "*" cancels the exchange; the server answers 501.
            m_link.Send("*", Await::Nothing);
            return Failed(error, reply.RawLines());
        }
        m_link.Send(response, Await::Auth235);
        return {};
    }
    if (reply.code == 235) {
        // SCRAM proves the server knows the password too; a server that
        // says yes without that proof is not the one we know.
        if (m_mechanism.startsWith("SCRAM-") && !m_saslDone)
            return Failed(QStringLiteral("The server accepted the sign-in without proving that it knows the "
                                         "password; the message was not sent"),
                          reply.RawLines());
        return Outcome::Of(Outcome::SignedIn);
    }
    return Failed(TextOr(reply, QStringLiteral("The server refused the sign-in")), reply.RawLines());
}

} // namespace smtp
