#include "tpop.h"
#include "eoleexception.h"
#include "mime/bodydecoder.h"
#include "mime/encodedwords.h"

#include <QPointer>


namespace {
// Text held back until the end of a message (a multipart body) is handed
// on in chunks of about this many characters, so that no one event asks
// the window to lay out megabytes at once.
constexpr qsizetype kDeliverChars = 64 * 1024;

// A line break in a credential would let it smuggle a second command.
QByteArray CommandArgument(const QString &text, const QString &what)
{
    for (QChar c : text)
        if (c.unicode() < 32 || c.unicode() == 127)
            throw EOleException(EOleException::E_InvalidArg,
                                QStringLiteral("The %1 contains a control character").arg(what));
    return text.toUtf8();
}
} // namespace

// The body of the message being retrieved, as text: decoded, or the source.
class TPOP::BodyText {
public:
    BodyText(bool decodeMime, const QList<pop::RawHeader> &headers)
    {
        if (decodeMime)
            m_mime = std::make_unique<mime::BodyDecoder>(headers);
    }
    QString Feed(const QByteArray &body) { return m_mime ? m_mime->Feed(body) : m_source.Decode(body); }
    QString Finish() { return m_mime ? m_mime->Finish() : m_source.Finish(); }

private:
    std::unique_ptr<mime::BodyDecoder> m_mime;
    mime::Utf8OrLatin1Decoder m_source;
};

TPOP::TPOP(QWidget *parent)
    : TInternetControl(110, parent), m_docOutput(new TDocOutput(this)), m_session(new PopSession(this, this))
{
}

TPOP::~TPOP()
{
    // The engine must not call back into a control that is half destroyed.
    delete m_session;
    m_session = nullptr;
}

short TPOP::State() const
{
    return short(m_session->State());
}

bool TPOP::Busy() const
{
    return m_session->Busy();
}

short TPOP::ProtocolState() const
{
    return m_session->State() == ConnState::Connected ? m_session->ProtocolState() : 0;
}

void TPOP::Connect(const OleVariant &remoteHost, const OleVariant &remotePort)
{
    if (m_session->State() != ConnState::Disconnected)
        throw EOleException(EOleException::E_Fail, QStringLiteral("The POP session is already open"));
    if (!remoteHost.IsOmitted())
        SetRemoteHost(remoteHost.ToString());
    const int port = remotePort.IsOmitted() ? 0 : remotePort.ToInt();
    if (!remotePort.IsOmitted() && (port < 1 || port > 65535))
        throw EOleException(EOleException::E_InvalidArg, QStringLiteral("Port %1 is not valid").arg(port));
    m_errors->Clear();
    m_session->SetTimeoutSeconds(Timeout());
    m_session->Open(RemoteHost(), RemotePort(), port);
}

void TPOP::Quit()
{
    m_session->Quit();
}

void TPOP::Authenticate(const OleVariant &userId, const OleVariant &password)
{
    const QString user = userId.IsOmitted() ? m_userId : userId.ToString();
    const QString pass = password.IsOmitted() ? m_password : password.ToString();
    if (m_session->State() != ConnState::Connected || m_session->ProtocolState() != 1)
        throw EOleException(EOleException::E_Fail, QStringLiteral("The POP session is not waiting for a login"));
    if (m_session->Busy())
        throw EOleException(EOleException::E_Fail, QStringLiteral("The POP control is busy"));
    const QByteArray userBytes = CommandArgument(user, QStringLiteral("user name"));
    const QByteArray passBytes = CommandArgument(pass, QStringLiteral("password"));
    m_errors->Clear();
    m_session->SetTimeoutSeconds(Timeout());
    m_session->Authenticate(userBytes, passBytes);
}

void TPOP::RetrieveMessage(short messageNumber)
{
    if (m_session->State() != ConnState::Connected || m_session->ProtocolState() != 2)
        throw EOleException(EOleException::E_Fail, QStringLiteral("Not logged in to a POP server"));
    if (m_session->Busy())
        throw EOleException(EOleException::E_Fail, QStringLiteral("The POP control is busy"));
    m_errors->Clear();
    m_session->SetTimeoutSeconds(Timeout());
    m_session->Retrieve(messageNumber);
}

void TPOP::SessionStateChanged(ConnState state)
{
    RaiseEvent([&] { emit OnStateChanged(short(state)); });
}

void TPOP::SessionError(InetError number, const QString &description, const QStringList &serverLines)
{
    RaiseError(number, description, serverLines, QStringLiteral("TPOP"));
}

void TPOP::PopProtocolStateChanged(short state)
{
    RaiseEvent([&] { emit OnProtocolStateChanged(state); });
}

void TPOP::PopDocProgress(DocState state, qint64 transferred, const QList<pop::RawHeader> &headers,
                          const QByteArray &body)
{
    switch (state) {
    case DocState::Begin:
        ++m_docSerial;
        m_docDecodesMime = m_decodeMime;
        m_bodyText.reset();
        m_docOutput->Headers()->Clear();
        break;
    case DocState::Headers:
        m_docOutput->Headers()->Clear();
        for (const auto &[name, value] : headers)
            m_docOutput->Headers()->Add(QString::fromLatin1(name), m_docDecodesMime ? mime::DecodeHeaderValue(value)
                                                                                     : mime::DecodeCharset(value, {}));
        m_bodyText = std::make_unique<BodyText>(m_docDecodesMime, headers);
        break;
    case DocState::Data:
        if (!m_bodyText)
            m_bodyText = std::make_unique<BodyText>(m_docDecodesMime, QList<pop::RawHeader>());
        // One event per piece received, even when the text is held back for
        // now: the window shows the byte count growing.
        RaiseDocData(transferred, m_bodyText->Feed(body), false);
        return;
    case DocState::End:
        // Also after a failure: what came of the body is shown, not lost.
        if (m_bodyText) {
            const std::unique_ptr<BodyText> bodyText = std::move(m_bodyText);
            const QString rest = bodyText->Finish();
            if (!rest.isEmpty() && !RaiseDocData(transferred, rest, true))
                return;
        }
        break;
    }
    m_docOutput->SetProgress(short(state), ClampCount(transferred));
    RaiseEvent([&] { emit OnDocOutput(m_docOutput); });
}

bool TPOP::RaiseDocData(qint64 transferred, const QString &text, bool split)
{
    // A handler may start another retrieval or have the control deleted.
    const QPointer<TPOP> self(this);
    const quint64 serial = m_docSerial;
    qsizetype at = 0;
    do {
        qsizetype length = text.size() - at;
        if (split && length > kDeliverChars) {
            // Cut after a line end if there is one near, never inside a
            // surrogate pair.
            const qsizetype nl = text.lastIndexOf(QLatin1Char('\n'), at + kDeliverChars - 1);
            length = nl >= at + kDeliverChars / 2 ? nl + 1 - at : kDeliverChars;
            if (text[at + length].isLowSurrogate())
                --length;
        }
        m_docOutput->SetProgress(short(DocState::Data), ClampCount(transferred), text.mid(at, length));
        RaiseEvent([&] { emit OnDocOutput(m_docOutput); });
        if (!self || m_docSerial != serial)
            return false;
        at += length;
    } while (at < text.size());
    return true;
}

void TPOP::PopMessageCount(qint32 count)
{
    RaiseEvent([&] { emit OnRefreshMessageCount(count); });
}
