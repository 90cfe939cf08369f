#pragma once
#include "inetstates.h"
#include "mime/messagetext.h"
#include "net/engine.h"
#include "popcapa.h"
#include "popreply.h"

#include <memory>

namespace pop {

// The replies the engine waits for, each named after the reply it expects:
// read in order, they are the session's transcript.
enum class Await {
    GreetingOk,
    CapaOk,
    CapaList,  // the capability lines after CAPA's +OK, up to "."
    StlsOk,
    UserOk,
    PassOk,
    StatOk,
    RetrOk,
    RetrLines, // the message after RETR's +OK, up to "."
    QuitOk,
    Nothing,   // the reply to a command whose work was abandoned
};

// The most text of one message's body handed on. The window's view holds
// all of it, two bytes a character and more for its layout, so an endless
// message would grow memory until the system kills the program. 16 million
// characters are thousands of pages, more than anyone reads in a message
// view, while large ordinary messages fit (decoded, an attachment is one
// line; even as source a message of 10 MB does). Beyond it the rest of the
// message is read off the wire and dropped, so that the session stays
// usable.
constexpr qsizetype kMaxMessageChars = 16'000'000;

// One step of a retrieved message for the owner: Begin; Headers with the
// header fields as text; Data with the next piece of the body as text
// ('\n' line ends) and the body octets received so far; End (after a
// failure too). Once the text reaches kMaxMessageChars its last piece ends
// with a line saying the rest is not shown, and every later event has
// `cut` set.
struct DocEvent {
    DocState state = DocState::Begin;
    qint64 transferred = 0;
    QList<mime::HeaderText> headers;
    QString text;
    bool cut = false;
};

// What the handshake and the transactions need of their session: the wire
// and the owner. Tests provide another, so that they run without a socket.
class Link {
public:
    virtual ~Link() = default;
    // Writes the command and its CRLF; its reply is awaited after those
    // already awaited.
    virtual void Send(const QByteArray &command, Await await) = 0;
    // The lines that follow the +OK just read are awaited before anything.
    virtual void ExpectLines(Await await) = 0;
    virtual void Document(const DocEvent &event) = 0;
    // The connection must be encrypted before the login: this server
    // offered STLS before; *why says so for the error.
    virtual bool MustEncrypt(QString *why) const = 0;
};

// How a step ended, for the session to act on.
struct Outcome {
    enum Kind {
        Going,          // nothing to do yet
        Opened,         // handshake: the login may begin (protocol state 1)
        StartTls,       // handshake: the server agreed to STLS
        LoggedIn,       // login: transaction state (STAT is on its way)
        Counted,        // login: the message count
        LoginRefused,   // login: USER or PASS refused; the session ends
        StatFailed,     // login: no usable count; the session stays
        Retrieved,      // retrieval: the whole message came
        RetrieveFailed, // retrieval: no such message; the session stays
        Broken,         // the session must end
    } kind = Going;
    SessionFailure failure{InetError::ProtocolError, {}, {}};
    qint32 count = 0;

    static Outcome Of(Kind kind) { return {kind, {InetError::ProtocolError, {}, {}}, 0}; }
    static Outcome Failed(Kind kind, InetError number, const QString &description, const QStringList &lines = {})
    {
        return {kind, {number, description, lines}, 0};
    }
};

// The opening of a session (RFC 1939 4, RFC 2449, RFC 2595): greeting,
// CAPA, STLS when listed.
class Handshake {
public:
    explicit Handshake(Link &link) : m_link(link) {}
    Outcome OnGreetingOk(const StatusLine &line, bool encrypted);
    Outcome OnCapaOk(const StatusLine &line);
    // Takes capability lines from input; *ended once the list is complete.
    Outcome OnCapaList(QByteArrayView input, qsizetype *consumed, bool *ended);
    Outcome OnStlsOk(const StatusLine &line);

private:
    // No STLS on offer: the login may go on in clear, unless it must not.
    Outcome WithoutEncryption(const QStringList &lines);

    Link &m_link;
    CapaList m_capabilities;
};

// USER, PASS and the STAT that follows a login (RFC 1939 7, 5).
class Login {
public:
    Login(Link &link, QByteArray user, QByteArray password);
    ~Login();
    void Start();
    Outcome OnUserOk(const StatusLine &line);
    Outcome OnPassOk(const StatusLine &line);
    Outcome OnStatOk(const StatusLine &line);

private:
    Link &m_link;
    QByteArray m_user;
    QByteArray m_password;
};

// RETR of one message (RFC 1939 5): its lines decoded as they stream in and
// handed on as text (mime::MessageText), up to maxChars (0: no limit, for
// a reader that does not hold the text).
class Retrieval {
public:
    Retrieval(Link &link, int number, bool decodeMime, qsizetype maxChars = kMaxMessageChars);
    ~Retrieval();
    Outcome Start();
    Outcome OnRetrOk(const StatusLine &line);
    // Takes message lines from input; *ended once the message is complete.
    Outcome OnRetrLines(QByteArrayView input, qsizetype *consumed, bool *ended);
    // The text still held (what came is shown, not lost), then End; also
    // when the retrieval failed or was abandoned.
    void Finish();
    int Number() const { return m_number; }

private:
    void Data(const QString &text);
    void Cut(const QString &text);

    Link &m_link;
    int m_number;
    bool m_decodeMime;
    qsizetype m_maxChars;
    RetrDecoder m_decoder;
    std::unique_ptr<mime::MessageText> m_text;
    qint64 m_transferred = 0;
    qsizetype m_shownChars = 0;
    bool m_atLineStart = true; // the text handed on so far ends a line
    bool m_cut = false;        // the rest is read and dropped
};

} // namespace pop
