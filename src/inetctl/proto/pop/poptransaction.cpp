#include "poptransaction.h"

#include <QLocale>

namespace pop {

namespace {
// Text held back until the end of a message (a multipart body) is handed on
// in pieces of about this many characters, so that no one event asks the
// view to lay out megabytes at once.
constexpr qsizetype kDeliverChars = 64 * 1024;

QString LineText(const StatusLine &line)
{
    return QString::fromUtf8(line.text);
}

QString TextOr(const StatusLine &line, const QString &fallback)
{
    return line.text.isEmpty() ? fallback : LineText(line);
}

QStringList LineList(const StatusLine &line)
{
    return {(line.ok ? QStringLiteral("+OK ") : QStringLiteral("-ERR ")) + LineText(line)};
}
} // namespace

// ---- the handshake ----------------------------------------------------------

Outcome Handshake::OnGreetingOk(const StatusLine &line, bool encrypted)
{
    // The welcome; -ERR means the server will not serve us.
    if (!line.ok)
        return Outcome::Failed(Outcome::Broken, InetError::GreetingRefused,
                               TextOr(line, QStringLiteral("The server refused the session")), LineList(line));
    if (encrypted) // TLS from the first byte: nothing to ask
        return Outcome::Of(Outcome::Opened);
    // Whether the server offers STLS; the login waits for the answer.
    m_capabilities = CapaList();
    m_link.Send("CAPA", Await::CapaOk);
    return {};
}

Outcome Handshake::OnCapaOk(const StatusLine &line)
{
    // The capability list follows, or the server predates CAPA (and so
    // cannot offer STLS): the login goes on in clear as it always has.
    if (!line.ok)
        return WithoutEncryption(LineList(line));
    m_link.ExpectLines(Await::CapaList);
    return {};
}

Outcome Handshake::OnCapaList(QByteArrayView input, qsizetype *consumed, bool *ended)
{
    // The capabilities, up to "."; STLS among them is taken before the login.
    QByteArray error;
    const ParseResult result = m_capabilities.Feed(input, consumed, &error);
    *ended = result != ParseResult::NeedMore;
    if (result == ParseResult::Invalid)
        return Outcome::Failed(Outcome::Broken, InetError::ProtocolError,
                               QStringLiteral("The server sent an invalid reply: %1").arg(QString::fromUtf8(error)));
    if (result == ParseResult::NeedMore)
        return {};
    if (!m_capabilities.Has("STLS"))
        return WithoutEncryption({});
    m_link.Send("STLS", Await::StlsOk);
    return {};
}

Outcome Handshake::WithoutEncryption(const QStringList &lines)
{
    // A server that offered STLS before and does not now has had the offer
    // removed on the way, so the password would go out in clear.
    QString why;
    if (m_link.MustEncrypt(&why))
        return Outcome::Failed(Outcome::Broken, InetError::EncryptionMissing, why, lines);
    return Outcome::Of(Outcome::Opened);
}

Outcome Handshake::OnStlsOk(const StatusLine &line)
{
    // Ready for the handshake. A refusal after the offer ends the session:
    // the password is never sent in clear to a server that offered
    // encryption.
    if (!line.ok)
        return Outcome::Failed(Outcome::Broken, InetError::TlsFailed,
                               QStringLiteral("The server offered STLS but refused it%1")
                                   .arg(line.text.isEmpty() ? QString() : QStringLiteral(": ") + LineText(line)),
                               LineList(line));
    return Outcome::Of(Outcome::StartTls);
}

// ---- the login ----------------------------------------------------------------

Login::Login(Link &link, QByteArray user, QByteArray password)
    : m_link(link), m_user(std::move(user)), m_password(std::move(password))
{
}

Login::~Login()
{
    m_password.fill('\0');
}

void Login::Start()
{
    // USER and PASS go one after the other: RFC 1939 servers need not take
    // pipelined commands, and PASS must not reach a server that refused USER.
    m_link.Send("USER " + m_user, Await::UserOk);
}

Outcome Login::OnUserOk(const StatusLine &line)
{
    // The user name is known; the password follows only now.
    if (!line.ok)
        return Outcome::Failed(Outcome::LoginRefused, InetError::AuthFailed,
                               TextOr(line, QStringLiteral("Login refused")), LineList(line));
    m_link.Send("PASS " + m_password, Await::PassOk);
    m_password.fill('\0');
    m_password.clear();
    return {};
}

Outcome Login::OnPassOk(const StatusLine &line)
{
    // Logged in; the mailbox is locked for us until QUIT. The count is
    // asked at once.
    if (!line.ok)
        return Outcome::Failed(Outcome::LoginRefused, InetError::AuthFailed,
                               TextOr(line, QStringLiteral("Login refused")), LineList(line));
    m_link.Send("STAT", Await::StatOk);
    return Outcome::Of(Outcome::LoggedIn);
}

Outcome Login::OnStatOk(const StatusLine &line)
{
    // "+OK count size": the count starts the browsing.
    const QList<QByteArray> parts = line.text.split(' ');
    bool ok = line.ok && !parts.isEmpty();
    const qint32 count = ok ? parts[0].toInt(&ok) : 0;
    if (!ok || count < 0)
        return Outcome::Failed(Outcome::StatFailed, InetError::StatFailed,
                               line.ok ? QStringLiteral("The server sent a malformed message count") : LineText(line),
                               LineList(line));
    Outcome counted = Outcome::Of(Outcome::Counted);
    counted.count = count;
    return counted;
}

// ---- one retrieval ------------------------------------------------------------

Retrieval::Retrieval(Link &link, int number, bool decodeMime, qsizetype maxChars)
    : m_link(link), m_number(number), m_decodeMime(decodeMime), m_maxChars(qMax<qsizetype>(maxChars, 0))
{
}

Retrieval::~Retrieval() = default;

Outcome Retrieval::Start()
{
    m_link.Document({DocState::Begin, 0, {}, {}});
    if (m_number < 1)
        return Outcome::Failed(Outcome::RetrieveFailed, InetError::RetrieveFailed,
                               QStringLiteral("There is no message %1").arg(m_number));
    m_link.Send("RETR " + QByteArray::number(m_number), Await::RetrOk);
    return {};
}

Outcome Retrieval::OnRetrOk(const StatusLine &line)
{
    // The message follows, or the server has no such message.
    if (!line.ok)
        return Outcome::Failed(Outcome::RetrieveFailed, InetError::RetrieveFailed,
                               TextOr(line, QStringLiteral("No message %1").arg(m_number)), LineList(line));
    m_link.ExpectLines(Await::RetrLines);
    return {};
}

Outcome Retrieval::OnRetrLines(QByteArrayView input, qsizetype *consumed, bool *ended)
{
    // The message, up to "."; its text goes on as it comes.
    QByteArrayView body;
    *consumed = m_decoder.Feed(input, &body);
    if (!m_text && !m_cut && m_decoder.HeadersDone()) {
        m_text = std::make_unique<mime::MessageText>(m_decoder.Headers(), m_decodeMime);
        m_link.Document({DocState::Headers, m_transferred, m_text->Headers(), {}});
    }
    if (m_text || m_cut) {
        if (!body.isEmpty()) {
            m_transferred += body.size();
            // One event per piece received, even when the text is held back
            // for now or no longer shown: the window shows the byte count
            // growing.
            Data(m_cut ? QString() : m_text->Feed(body));
        }
    }
    *ended = m_decoder.Done();
    return *ended ? Outcome::Of(Outcome::Retrieved) : Outcome{};
}

void Retrieval::Finish()
{
    if (m_text) {
        const std::unique_ptr<mime::MessageText> text = std::move(m_text);
        for (const QString &piece : mime::CutForDelivery(text->Finish(), kDeliverChars)) {
            Data(piece);
            if (m_cut)
                break;
        }
    }
    m_link.Document({DocState::End, m_transferred, {}, {}, m_cut});
}

void Retrieval::Data(const QString &text)
{
    if (!m_cut && m_maxChars > 0 && text.size() > m_maxChars - m_shownChars) {
        Cut(text);
        return;
    }
    m_shownChars += text.size();
    if (!text.isEmpty())
        m_atLineStart = text.endsWith(QLatin1Char('\n'));
    m_link.Document({DocState::Data, m_transferred, {}, text, m_cut});
}

void Retrieval::Cut(const QString &text)
{
    // What still fits, up to its last line end where it has one, then a line
    // of our own; what the decoder holds goes unshown too.
    qsizetype keep = m_maxChars - m_shownChars;
    const qsizetype nl = keep > 0 ? text.lastIndexOf(QLatin1Char('\n'), keep - 1) : -1;
    if (nl >= 0)
        keep = nl + 1;
    else if (keep > 0 && text[keep].isLowSurrogate())
        --keep;
    QString shown = text.first(keep);
    if (!(shown.isEmpty() ? m_atLineStart : shown.endsWith(QLatin1Char('\n'))))
        shown += QLatin1Char('\n');
    shown += QStringLiteral("[The rest of this message is not shown: its text is longer than %1 million characters]\n")
                 .arg(QLocale::c().toString(double(m_maxChars) / 1e6, 'g', 6));
    m_cut = true;
    m_text.reset();
    m_shownChars += shown.size();
    m_atLineStart = true;
    m_link.Document({DocState::Data, m_transferred, {}, shown, true});
}

} // namespace pop
