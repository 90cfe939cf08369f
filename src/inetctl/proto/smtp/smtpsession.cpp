#include "smtpsession.h"

#include <QDateTime>
#include <QFileInfo>

using namespace smtp;

namespace {
// Body octets read (from memory or disk) per step: big enough for a few
// system calls per megabyte, small enough that memory stays flat for any
// file size.
constexpr qsizetype kBodyChunk = 256 * 1024;
// Back-pressure: no more is produced while the socket holds this much
// unsent, so a slow server never makes the client buffer the file.
constexpr qint64 kWriteHighWater = 1024 * 1024;
// The encoding scan reads bigger pieces: it runs before anything is sent,
// so fewer system calls there shorten the whole transfer.
constexpr qsizetype kScanChunk = 1024 * 1024;
// A server that does not answer QUIT is not waited for long: the session is
// over either way.

SmtpEvents *Events(SessionEvents *events)
{
    return static_cast<SmtpEvents *>(events);
}
} // namespace

struct SmtpSession::Document {
    Envelope envelope;
    BodyEncoding encoding = BodyEncoding::SevenBit;
    QByteArray text;
    bool fromFile = false;
    QFile file;
    qint64 textPos = 0;
    qint64 total = 0;
    qint64 transferred = 0;
    qsizetype nextRecipient = 0;
    int outstanding = 0;     // envelope replies still to come
    bool waitingToStart = false;
    bool failed = false;     // the first refusal of the envelope, kept below
    InetError failure = InetError::SenderRefused;
    QString failureText;
    QStringList failureLines;
    bool inData = false;     // 354 came: the DATA stream is being written
    bool headersWritten = false;
    bool bodyDone = false;
    bool dataRaised = false;
    DotStuffer stuffer;
    QpEncoder qp;
};

SmtpSession::SmtpSession(SmtpEvents *events, QObject *parent) : InetSession(events, 465, parent) {}

SmtpSession::~SmtpSession() = default;

void SmtpSession::ResetSession()
{
    m_expected.clear();
    m_extensions.clear();
    m_doc.reset();
    m_pumping = false;
}

void SmtpSession::OnConnected()
{
    m_expected = {Wait::Greeting220};
    WaitForServer(true);
}

void SmtpSession::OnEncrypted()
{
    // RFC 3207 4.2: what the server said in clear may have been forged.
    m_extensions.clear();
    Send("EHLO " + HelloName(), Wait::Ehlo250);
}

QByteArray SmtpSession::HelloName() const
{
    const QHostAddress local = LocalAddress();
    if (local.isNull())
        return "localhost";
    return local.protocol() == QAbstractSocket::IPv6Protocol ? "[IPv6:" + local.toString().toLatin1() + ']'
                                                             : '[' + local.toString().toLatin1() + ']';
}

void SmtpSession::Send(const QByteArray &command, Wait wait)
{
    m_expected.append(wait);
    Write(command + "\r\n");
    WaitForServer(true);
}

void SmtpSession::OnInput()
{
    const Guard guard = MakeGuard();
    while (!InputData().isEmpty()) {
        Reply reply;
        qsizetype used = 0;
        QString error;
        switch (ParseReply(InputData(), &reply, &used, &error)) {
        case ParseResult::NeedMore:
            return;
        case ParseResult::Invalid:
            Fail(InetError::ProtocolError, QStringLiteral("The server sent an invalid reply: %1").arg(error));
            return;
        case ParseResult::Complete:
            Consume(used);
            HandleReply(reply);
            if (!guard.Holds())
                return;
            break;
        }
    }
}

void SmtpSession::FailOnReply(InetError number, const QString &fallback, const Reply &reply)
{
    const QString text = reply.Text();
    Fail(number, text.isEmpty() ? fallback : text, reply.RawLines());
}

void SmtpSession::HandleReply(const Reply &reply)
{
    if (m_expected.isEmpty()) {
        if (m_doc && m_doc->inData) {
            // Refused while the text is still streaming: the DATA cannot be
            // ended cleanly any more, so the connection goes.
            FailOnReply(InetError::MessageRefused, QStringLiteral("The server refused the message"), reply);
            return;
        }
        if (reply.code == 421)
            FailOnReply(InetError::ConnectionLost, QStringLiteral("The server closed the session"), reply);
        else
            Fail(InetError::ProtocolError, QStringLiteral("Unexpected reply from the server"), reply.RawLines());
        return;
    }
    const Wait wait = m_expected.takeFirst();
    const bool waiting = !m_expected.isEmpty() || (m_doc && m_doc->inData);
    WaitForServer(waiting);

    // RFC 5321 3.8: 421 at any step means the server is closing the session.
    if (reply.code == 421 && wait != Wait::Quit221 && wait != Wait::Ignored) {
        const InetError number = wait == Wait::Greeting220 ? InetError::GreetingRefused
                                 : wait == Wait::Ehlo250 || wait == Wait::Helo250 ? InetError::HelloRefused
                                                                                   : InetError::ConnectionLost;
        FailOnReply(number, QStringLiteral("The server closed the session"), reply);
        return;
    }

    switch (wait) {
    case Wait::Greeting220:
        // The welcome; anything else means the server will not take mail from us.
        if (reply.code != 220) {
            FailOnReply(InetError::GreetingRefused, QStringLiteral("The server refused the session"), reply);
            return;
        }
        Send("EHLO " + HelloName(), Wait::Ehlo250);
        return;
    case Wait::Ehlo250:
        // The extensions list; a server that does not know EHLO gets HELO.
        if (reply.Class() == 2) {
            for (qsizetype i = 1; i < reply.lines.size(); ++i)
                m_extensions.insert(reply.lines[i].trimmed().split(' ').value(0).toUpper());
            // Offered encryption is always taken, before anything else is
            // said; once encrypted, the offer is not taken again.
            if (!Encrypted() && HasExtension("STARTTLS")) {
                Send("STARTTLS", Wait::StartTls220);
                return;
            }
            SessionReady();
        } else {
            const QByteArray helo = LocalAddress().protocol() == QAbstractSocket::IPv6Protocol
                                        ? "[IPv6:" + LocalAddress().toString().toLatin1() + ']'
                                        : '[' + LocalAddress().toString().toLatin1() + ']';
            Send("HELO " + helo, Wait::Helo250);
        }
        return;
    case Wait::Helo250:
        // The old greeting, our last chance to open the session.
        if (reply.Class() != 2) {
            FailOnReply(InetError::HelloRefused, QStringLiteral("The server refused HELO"), reply);
            return;
        }
        SessionReady();
        return;
    case Wait::StartTls220:
        // Ready to start TLS. A refusal after the offer ends the session:
        // going on in clear would let anyone on the path strip encryption.
        if (reply.code != 220) {
            const QString text = reply.Text();
            Fail(InetError::TlsFailed,
                 QStringLiteral("The server offered STARTTLS but refused it%1")
                     .arg(text.isEmpty() ? QString() : QStringLiteral(": ") + text),
                 reply.RawLines());
            return;
        }
        StartTls();
        return;
    case Wait::Mail250:
        // The sender; a refusal ends the transaction once its replies are in.
        if (!m_doc)
            return;
        --m_doc->outstanding;
        if (reply.Class() != 2 && !m_doc->failed) {
            m_doc->failed = true;
            m_doc->failure = InetError::SenderRefused;
            m_doc->failureText = reply.Text().isEmpty()
                                     ? QStringLiteral("Sender <%1> refused").arg(m_doc->envelope.sender)
                                     : reply.Text();
            m_doc->failureLines = reply.RawLines();
        }
        if (!HasExtension("PIPELINING") && !m_doc->failed)
            SendNextRecipient();
        EnvelopeReplied();
        return;
    case Wait::Rcpt250: {
        // One recipient; we never send to part of the list: one refusal
        // stops the whole document, so that nobody gets it behind the user's
        // back while the user is told it failed.
        if (!m_doc)
            return;
        --m_doc->outstanding;
        const QString address = m_doc->envelope.recipients.value(m_doc->nextRecipient - 1 - m_doc->outstanding);
        if (reply.code != 250 && reply.code != 251 && !m_doc->failed) {
            m_doc->failed = true;
            m_doc->failure = InetError::RecipientRefused;
            m_doc->failureText = reply.Text().isEmpty() ? QStringLiteral("Recipient <%1> refused").arg(address)
                                                        : reply.Text();
            m_doc->failureLines = reply.RawLines();
        }
        if (!HasExtension("PIPELINING") && !m_doc->failed)
            SendNextRecipient();
        EnvelopeReplied();
        return;
    }
    case Wait::Data354:
        // Go ahead for the message text.
        if (!m_doc)
            return;
        if (reply.code != 354) {
            m_doc->failed = true;
            m_doc->failure = InetError::DataRefused;
            m_doc->failureText = reply.Text().isEmpty() ? QStringLiteral("The server refused DATA") : reply.Text();
            m_doc->failureLines = reply.RawLines();
            RefuseDocument();
            return;
        }
        {
            m_doc->inData = true;
            WaitForServer(true);
            const Guard guard = MakeGuard();
            Document *doc = m_doc.get();
            Events(m_events)->SmtpDocProgress(DocState::Headers, doc->total, 0);
            if (!guard.Holds() || m_doc.get() != doc)
                return;
            PumpBody();
        }
        return;
    case Wait::DataEnd250:
        // The server has taken responsibility for the message, or refused it;
        // either way the transaction is over and the session is usable.
        if (reply.Class() == 2) {
            EndDocument();
        } else {
            const QString text = reply.Text();
            AbandonDocument(InetError::MessageRefused,
                            text.isEmpty() ? QStringLiteral("The server refused the message") : text,
                            reply.RawLines());
        }
        return;
    case Wait::Rset250:
        // The refused transaction is cleared; a document waiting for it starts.
        if (reply.Class() != 2) {
            FailOnReply(InetError::ProtocolError, QStringLiteral("The server refused RSET"), reply);
            return;
        }
        if (m_expected.isEmpty() && m_doc && m_doc->waitingToStart)
            StartEnvelope();
        return;
    case Wait::Quit221:
        // Goodbye (whatever the code: we are leaving).
        FinishDisconnect();
        return;
    case Wait::Ignored:
        return;
    }
}

void SmtpSession::SessionReady()
{
    RaiseState(ConnState::Connected);
}

void SmtpSession::SendDocument(const HeaderList &headers, const QByteArray &text, bool fromFile,
                               const QString &fileName)
{
    m_doc = std::make_unique<Document>();
    Document *doc = m_doc.get();
    doc->fromFile = fromFile;
    doc->text = text;
    m_lastTotal = 0;
    m_lastTransferred = 0;

    const Guard guard = MakeGuard();
    Events(m_events)->SmtpDocProgress(DocState::Begin, 0, 0);
    if (!guard.Holds() || m_doc.get() != doc)
        return;

    // Learn what the body holds before the first header goes out: the
    // headers must name the encoding that the body will need.
    BodyScan scan;
    if (fromFile) {
        if (fileName.trimmed().isEmpty()) {
            AbandonDocument(InetError::FileError, QStringLiteral("No file name given"), {});
            return;
        }
        doc->file.setFileName(fileName);
        if (QFileInfo(fileName).isDir() || !doc->file.open(QIODevice::ReadOnly)) {
            const QString reason = QFileInfo(fileName).isDir() ? QStringLiteral("it is a folder")
                                                               : doc->file.errorString();
            AbandonDocument(InetError::FileError,
                            QStringLiteral("Cannot open file \"%1\": %2").arg(fileName, reason), {});
            return;
        }
        QByteArray buffer(kScanChunk, Qt::Uninitialized);
        for (;;) {
            const qint64 got = doc->file.read(buffer.data(), buffer.size());
            if (got < 0) {
                AbandonDocument(InetError::FileError, QStringLiteral("Cannot read file \"%1\": %2")
                                                          .arg(fileName, doc->file.errorString()), {});
                return;
            }
            if (got == 0)
                break;
            scan.Feed(QByteArrayView(buffer.constData(), got));
        }
        doc->file.seek(0);
    } else {
        scan.Feed(doc->text);
    }
    doc->total = scan.Size();
    m_lastTotal = doc->total;
    doc->encoding = scan.Choose(HasExtension("8BITMIME"));
    doc->envelope = BuildEnvelope(headers, doc->encoding, scan.Charset(), QDateTime::currentDateTime());
    if (!doc->envelope.ok) {
        AbandonDocument(doc->envelope.headerError ? InetError::BadHeader : InetError::BadAddress,
                        doc->envelope.error, {});
        return;
    }
    StartEnvelope();
}

void SmtpSession::StartEnvelope()
{
    Document *doc = m_doc.get();
    if (!m_expected.isEmpty()) {
        doc->waitingToStart = true; // behind the RSET of the last transaction
        return;
    }
    doc->waitingToStart = false;
    QByteArray mail = "MAIL FROM:<" + doc->envelope.sender.toLatin1() + '>';
    if (doc->encoding == BodyEncoding::EightBit)
        mail += " BODY=8BITMIME";
    if (HasExtension("PIPELINING")) {
        // RFC 2920: the envelope goes in one write; DATA waits for the
        // recipients' replies so that a refused recipient never leaves us
        // inside a DATA we cannot take back.
        QByteArray batch = mail + "\r\n";
        m_expected.append(Wait::Mail250);
        for (const QString &recipient : std::as_const(doc->envelope.recipients)) {
            batch += "RCPT TO:<" + recipient.toLatin1() + ">\r\n";
            m_expected.append(Wait::Rcpt250);
        }
        doc->outstanding = 1 + int(doc->envelope.recipients.size());
        doc->nextRecipient = doc->envelope.recipients.size();
        Write(batch);
        WaitForServer(true);
    } else {
        doc->outstanding = 1;
        Send(mail, Wait::Mail250);
    }
}

void SmtpSession::SendNextRecipient()
{
    Document *doc = m_doc.get();
    if (doc->nextRecipient >= doc->envelope.recipients.size())
        return;
    ++doc->outstanding;
    Send("RCPT TO:<" + doc->envelope.recipients[doc->nextRecipient++].toLatin1() + '>', Wait::Rcpt250);
}

void SmtpSession::EnvelopeReplied()
{
    Document *doc = m_doc.get();
    if (doc->outstanding > 0)
        return;
    if (doc->failed) {
        RefuseDocument();
        return;
    }
    if (doc->nextRecipient < doc->envelope.recipients.size())
        return;
    Send("DATA", Wait::Data354);
}

void SmtpSession::RefuseDocument()
{
    // The server allows another transaction after RSET; the session stays.
    Send("RSET", Wait::Rset250);
    AbandonDocument(m_doc->failure, m_doc->failureText, m_doc->failureLines);
}

void SmtpSession::AbandonDocument(InetError number, QString description, QStringList lines)
{
    TakeRunningWork();
    const Guard guard = MakeGuard();
    m_events->SessionError(number, description, lines);
    if (!guard.Holds() || m_doc)
        return; // a new document started from inside the error event
    RaiseWorkAborted();
}

bool SmtpSession::ReadBodyChunk(QByteArray *chunk, QString *error)
{
    Document *doc = m_doc.get();
    if (!doc->fromFile) {
        *chunk = doc->text.mid(doc->textPos, kBodyChunk);
        doc->textPos += chunk->size();
        return true;
    }
    chunk->resize(kBodyChunk);
    const qint64 got = doc->file.read(chunk->data(), kBodyChunk);
    if (got < 0) {
        *error = QStringLiteral("Cannot read file \"%1\": %2").arg(doc->file.fileName(), doc->file.errorString());
        return false;
    }
    chunk->resize(got);
    return true;
}

void SmtpSession::PumpBody()
{
    if (m_pumping || !m_doc || !m_doc->inData || m_doc->bodyDone)
        return;
    const Guard guard = MakeGuard();
    Document *doc = m_doc.get();
    m_pumping = true;
    if (!doc->headersWritten) {
        QByteArray out;
        doc->stuffer.Feed(doc->envelope.headers, out);
        Write(out);
        doc->headersWritten = true;
    }
    while (BytesToWrite() < kWriteHighWater) {
        QByteArray chunk;
        QString error;
        if (!ReadBodyChunk(&chunk, &error)) {
            // Half a message is on the wire: only closing the connection
            // makes the server drop it.
            m_pumping = false;
            Fail(InetError::FileError, error);
            return;
        }
        QByteArray out;
        if (chunk.isEmpty()) {
            if (doc->encoding == BodyEncoding::QuotedPrintable) {
                QByteArray tail;
                doc->qp.Finish(tail);
                doc->stuffer.Feed(tail, out);
            }
            doc->stuffer.Finish(out);
            Write(out);
            doc->bodyDone = true;
            doc->file.close();
            m_expected.append(Wait::DataEnd250);
            WaitForServer(true);
            if (!doc->dataRaised) { // an empty body still has its data phase
                doc->dataRaised = true;
                Events(m_events)->SmtpDocProgress(DocState::Data, doc->total, doc->transferred);
                if (!guard.session)
                    return;
            }
            break;
        }
        if (doc->encoding == BodyEncoding::QuotedPrintable) {
            QByteArray encoded;
            doc->qp.Feed(chunk, encoded);
            doc->stuffer.Feed(encoded, out);
        } else {
            doc->stuffer.Feed(chunk, out);
        }
        Write(out);
        doc->transferred += chunk.size();
        m_lastTransferred = doc->transferred;
        doc->dataRaised = true;
        WaitForServer(true);
        Events(m_events)->SmtpDocProgress(DocState::Data, doc->total, doc->transferred);
        if (!guard.session)
            return;
        if (!guard.Holds() || m_doc.get() != doc)
            break;
    }
    m_pumping = false;
}

void SmtpSession::OnWritten()
{
    PumpBody();
}

void SmtpSession::EndDocument()
{
    if (!m_doc)
        return;
    const qint64 total = m_doc->total;
    const qint64 transferred = m_doc->transferred;
    m_doc.reset();
    Events(m_events)->SmtpDocProgress(DocState::End, total, transferred);
}

bool SmtpSession::TakeRunningWork()
{
    if (!m_doc)
        return false;
    m_lastTotal = m_doc->total;
    m_lastTransferred = m_doc->transferred;
    m_doc.reset();
    return true;
}

void SmtpSession::RaiseWorkAborted()
{
    Events(m_events)->SmtpDocProgress(DocState::End, m_lastTotal, m_lastTransferred);
}

QString SmtpSession::AbortedWorkText() const
{
    return QStringLiteral("The message was not sent: the session was closed before the server accepted it");
}

void SmtpSession::Quit()
{
    // A message whose end never came is dropped by the server.
    const bool inData = m_state == ConnState::Connected && m_doc && m_doc->inData;
    if (!BeginQuit(inData))
        return;
    for (Wait &wait : m_expected)
        wait = Wait::Ignored;
    m_expected.append(Wait::Quit221);
    Write("QUIT\r\n");
    WaitForServer(true, QuitWaitMs);
}
