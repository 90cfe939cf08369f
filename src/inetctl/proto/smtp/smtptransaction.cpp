#include "smtptransaction.h"
#include "smtpsignin.h"

#include <QDateTime>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace smtp {

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
// The scan runs on the caller's thread (the window's), so it reads at most
// this much of a file: about 2 ms per MiB from the page cache, so a quarter
// of a second at worst. The rest of a longer file is unknown, so such a
// file goes quoted-printable, which carries any octets and any line length
// intact but costs about five times the time to send; below this bound
// (the 100 MiB of the benchmarks) the cheapest honest encoding is kept.
constexpr qint64 kScanLimit = 128 * 1024 * 1024;

QString TextOr(const Reply &reply, const QString &fallback)
{
    const QString text = reply.Text();
    return text.isEmpty() ? fallback : text;
}
} // namespace

// ---- the handshake ----------------------------------------------------------

bool Handshake::Offers(QByteArrayView keyword) const
{
    return m_extensions.contains(keyword);
}

void Handshake::Encrypted()
{
    Reset();
    m_link.Send("EHLO " + m_helloName, Await::Ehlo250);
}

Outcome Handshake::OnGreeting220(const Reply &reply)
{
    // The welcome; anything else means the server will not take mail from us.
    if (reply.code != 220)
        return Outcome::Failed(Outcome::Broken, InetError::GreetingRefused,
                               TextOr(reply, QStringLiteral("The server refused the session")), reply.RawLines());
    m_link.Send("EHLO " + m_helloName, Await::Ehlo250);
    return {};
}

Outcome Handshake::OnEhlo250(const Reply &reply, bool encrypted)
{
    // The extensions list; a server that does not know EHLO gets HELO.
    Reset();
    if (reply.Class() == 2) {
        for (qsizetype i = 1; i < reply.lines.size(); ++i)
            m_extensions.append(reply.lines[i].trimmed().split(' ').value(0).split('=').value(0).toUpper());
        m_mechanisms = OfferedMechanisms(reply.lines.mid(1));
    }
    // Offered encryption is always taken, before anything else is said;
    // once encrypted, the offer is not taken again. A connection that must
    // be encrypted and cannot be ends here, before a word of ours could be
    // read by someone in the middle.
    QString why;
    if (!encrypted && !Offers("STARTTLS") && m_link.MustEncrypt(&why))
        return Outcome::Failed(Outcome::Broken, InetError::EncryptionMissing, why, reply.RawLines());
    if (reply.Class() != 2) {
        m_link.Send("HELO " + m_helloName, Await::Helo250);
        return {};
    }
    if (!encrypted && Offers("STARTTLS")) {
        m_link.Send("STARTTLS", Await::StartTls220);
        return {};
    }
    return Outcome::Of(Outcome::Ready);
}

Outcome Handshake::OnHelo250(const Reply &reply)
{
    // The old greeting, our last chance to open the session.
    if (reply.Class() != 2)
        return Outcome::Failed(Outcome::Broken, InetError::HelloRefused,
                               TextOr(reply, QStringLiteral("The server refused HELO")), reply.RawLines());
    return Outcome::Of(Outcome::Ready);
}

Outcome Handshake::OnStartTls220(const Reply &reply)
{
    // Ready to start TLS. A refusal after the offer ends the session: going
    // on in clear would let anyone on the path strip encryption.
    if (reply.code != 220) {
        const QString text = reply.Text();
        return Outcome::Failed(Outcome::Broken, InetError::TlsFailed,
                               QStringLiteral("The server offered STARTTLS but refused it%1")
                                   .arg(text.isEmpty() ? QString() : QStringLiteral(": ") + text),
                               reply.RawLines());
    }
    return Outcome::Of(Outcome::StartTls);
}

// ---- one document -----------------------------------------------------------

Transaction::Transaction(Link &link, Document document) : m_link(link), m_document(std::move(document)) {}

Transaction::~Transaction() = default;

Outcome Transaction::Prepare()
{
    // Learn what the body holds before the first header goes out: the
    // headers must name the encoding that the body will need.
    BodyScan scan;
    bool scannedWhole = true;
    if (m_document.fromFile) {
        const QString &name = m_document.fileName;
        if (name.trimmed().isEmpty())
            return Outcome::Failed(Outcome::Refused, InetError::FileError, QStringLiteral("No file name given"));
        auto cannotOpen = [&name](const QString &why) {
            return Outcome::Failed(Outcome::Refused, InetError::FileError,
                                   QStringLiteral("Cannot open file \"%1\": %2").arg(name, why));
        };
        // Opened without blocking (a FIFO would wait for a writer for ever)
        // and kept only when it is a regular file: a FIFO or a device such
        // as /dev/zero never ends.
        const int fd = ::open(QFile::encodeName(name).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (fd < 0)
            return cannotOpen(QString::fromLocal8Bit(std::strerror(errno)));
        struct stat info {};
        if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            const bool folder = S_ISDIR(info.st_mode);
            ::close(fd);
            return cannotOpen(folder ? QStringLiteral("it is a folder") : QStringLiteral("it is not a regular file"));
        }
        if (!m_file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
            ::close(fd);
            return cannotOpen(m_file.errorString());
        }
        // What is sent is the file as it was when opened: one that grows
        // meanwhile never makes the send endless.
        m_fileLeft = info.st_size;
        QByteArray buffer(kScanChunk, Qt::Uninitialized);
        qint64 scanned = 0;
        while (scanned < qMin<qint64>(m_fileLeft, kScanLimit)) {
            const qint64 got = m_file.read(buffer.data(), qMin<qint64>(buffer.size(), m_fileLeft - scanned));
            if (got < 0)
                return Outcome::Failed(Outcome::Refused, InetError::FileError,
                                       QStringLiteral("Cannot read file \"%1\": %2").arg(name, m_file.errorString()));
            if (got == 0) {
                m_fileLeft = scanned; // shrank since it was opened
                break;
            }
            scan.Feed(QByteArrayView(buffer.constData(), got));
            scanned += got;
        }
        scannedWhole = scanned >= m_fileLeft;
        m_file.seek(0);
    } else {
        scan.Feed(m_document.text);
    }
    m_total = m_document.fromFile ? m_fileLeft : scan.Size();
    m_encoding = scannedWhole ? scan.Choose(m_link.Offers("8BITMIME")) : BodyEncoding::QuotedPrintable;
    // Of an unread rest only this is sure: text that is not UTF-8 is read
    // as Latin-1, which takes any octets, and plain ASCII is also UTF-8.
    const QByteArray charset = scannedWhole ? scan.Charset()
                               : scan.ValidUtf8() ? QByteArrayLiteral("UTF-8")
                                                  : QByteArrayLiteral("ISO-8859-1");
    m_envelope = BuildEnvelope(m_document.headers, m_encoding, charset, QDateTime::currentDateTime());
    if (!m_envelope.ok)
        return Outcome::Failed(Outcome::Refused, m_envelope.headerError ? InetError::BadHeader : InetError::BadAddress,
                               m_envelope.error);
    return {};
}

void Transaction::Start()
{
    m_phase = Phase::Envelope;
    QByteArray mail = "MAIL FROM:<" + m_envelope.sender.toLatin1() + '>';
    if (m_encoding == BodyEncoding::EightBit)
        mail += " BODY=8BITMIME";
    m_link.Send(mail, Await::Mail250);
    m_outstanding = 1;
    // RFC 2920: with PIPELINING the recipients follow at once; DATA waits
    // for their replies, so that a refused recipient never leaves us inside
    // a DATA we cannot take back.
    while (m_link.Offers("PIPELINING") && m_nextRecipient < m_envelope.recipients.size()) {
        m_link.Send("RCPT TO:<" + m_envelope.recipients[m_nextRecipient++].toLatin1() + '>', Await::Rcpt250);
        ++m_outstanding;
    }
}

void Transaction::NoteRefusal(InetError number, const Reply &reply, const QString &fallback)
{
    if (!m_refusal)
        m_refusal = Outcome::Failed(Outcome::Refused, number, TextOr(reply, fallback), reply.RawLines(), true);
}

Outcome Transaction::OnMail250(const Reply &reply)
{
    // The sender; a refusal ends the transaction once its replies are in.
    if (reply.Class() != 2)
        NoteRefusal(AsksForSignIn(reply) ? InetError::SignInRequired : InetError::SenderRefused, reply,
                    QStringLiteral("Sender <%1> refused").arg(m_envelope.sender));
    return EnvelopeReplied();
}

Outcome Transaction::OnRcpt250(const Reply &reply)
{
    // One recipient. We never send to part of the list: one refusal stops
    // the whole document, so that nobody gets it behind the user's back
    // while the user is told it failed.
    const QString address = m_envelope.recipients.value(m_repliedRecipients++);
    if (reply.code != 250 && reply.code != 251)
        NoteRefusal(AsksForSignIn(reply) ? InetError::SignInRequired : InetError::RecipientRefused, reply,
                    QStringLiteral("Recipient <%1> refused").arg(address));
    return EnvelopeReplied();
}

Outcome Transaction::EnvelopeReplied()
{
    --m_outstanding;
    if (!m_refusal && m_nextRecipient < m_envelope.recipients.size()) {
        // Without PIPELINING, one recipient after the other.
        m_link.Send("RCPT TO:<" + m_envelope.recipients[m_nextRecipient++].toLatin1() + '>', Await::Rcpt250);
        ++m_outstanding;
    }
    if (m_outstanding > 0)
        return {};
    if (m_refusal)
        return *m_refusal;
    m_link.Send("DATA", Await::Data354);
    return {};
}

Outcome Transaction::OnData354(const Reply &reply)
{
    // Go ahead for the message text.
    if (reply.code != 354)
        return Outcome::Failed(Outcome::Refused, InetError::DataRefused,
                               TextOr(reply, QStringLiteral("The server refused DATA")), reply.RawLines(), true);
    m_phase = Phase::Body;
    m_link.Progress(DocState::Headers, m_total, 0);
    return Pump();
}

Outcome Transaction::OnDataEnd250(const Reply &reply)
{
    // The server has taken responsibility for the message, or refused it;
    // either way the transaction is over and the session is usable.
    if (reply.Class() != 2)
        return Outcome::Failed(Outcome::Refused, InetError::MessageRefused,
                               TextOr(reply, QStringLiteral("The server refused the message")), reply.RawLines());
    return Outcome::Of(Outcome::Sent);
}

bool Transaction::ReadBodyChunk(QByteArray *chunk, QString *error)
{
    if (!m_document.fromFile) {
        *chunk = m_document.text.mid(m_textPos, kBodyChunk);
        m_textPos += chunk->size();
        return true;
    }
    chunk->resize(qMin<qint64>(kBodyChunk, m_fileLeft));
    const qint64 got = chunk->isEmpty() ? 0 : m_file.read(chunk->data(), chunk->size());
    if (got < 0) {
        *error = QStringLiteral("Cannot read file \"%1\": %2").arg(m_document.fileName, m_file.errorString());
        return false;
    }
    chunk->resize(got);
    m_fileLeft -= got;
    return true;
}

QByteArray Transaction::Encoded(QByteArrayView chunk)
{
    QByteArray out;
    if (m_encoding != BodyEncoding::QuotedPrintable) {
        m_stuffer.Feed(chunk, out);
        return out;
    }
    QByteArray encoded;
    m_qp.Feed(chunk, encoded);
    m_stuffer.Feed(encoded, out);
    return out;
}

Outcome Transaction::Pump()
{
    if (m_phase != Phase::Body)
        return {};
    if (!m_headersWritten) {
        QByteArray out;
        m_stuffer.Feed(m_envelope.headers, out);
        m_link.Write(out);
        m_headersWritten = true;
    }
    while (m_link.Backlog() < kWriteHighWater) {
        QByteArray chunk;
        QString error;
        // Half a message is on the wire: only closing the connection makes
        // the server drop it.
        if (!ReadBodyChunk(&chunk, &error))
            return Outcome::Failed(Outcome::Broken, InetError::FileError, error);
        if (chunk.isEmpty()) {
            QByteArray out;
            if (m_encoding == BodyEncoding::QuotedPrintable) {
                QByteArray tail;
                m_qp.Finish(tail);
                m_stuffer.Feed(tail, out);
            }
            m_stuffer.Finish(out);
            m_link.Write(out);
            m_file.close();
            m_phase = Phase::Verdict;
            m_link.Expect(Await::DataEnd250);
            if (!m_dataRaised) // an empty body still has its data phase
                m_link.Progress(DocState::Data, m_total, m_transferred);
            return {};
        }
        m_link.Write(Encoded(chunk));
        m_transferred += chunk.size();
        m_dataRaised = true;
        m_link.Progress(DocState::Data, m_total, m_transferred);
    }
    return {};
}

} // namespace smtp
