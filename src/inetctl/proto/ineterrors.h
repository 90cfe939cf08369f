#pragma once
#include <QString>

// The error numbers both controls raise through OnError. This is the one
// table: docs/RELIABILITY.md summarises it, the window singles out only
// ConnectFailed (1003).
//
//  number  name               raised when
//  1003    ConnectFailed      the host name does not resolve, the port is not
//                             valid, or no address of the host accepts a
//                             connection
//  1004    ConnectionLost     the server closed the connection, or the socket
//                             failed, while the session was open
//  1005    Timeout            the server stayed silent longer than Timeout
//                             seconds (greeting, a reply, or a stalled transfer),
//                             or a command outlasted its deadline: Timeout plus
//                             a second per 256 octets moved (a trickling server)
//  1006    ProtocolError      a reply that is not SMTP/POP3: garbage, an invalid
//                             reply code, a line or reply beyond its limit
//  1007    TransferAborted    Quit (the Disconnect button, closing the window)
//                             ended a document before it was complete: an
//                             outgoing message the server never accepted, or
//                             a retrieval cut short
//  1010    GreetingRefused    the server's greeting was not 220 / +OK
//  1011    HelloRefused       both EHLO and HELO were refused
//  1012    SenderRefused      MAIL FROM was refused
//  1013    RecipientRefused   a RCPT TO was refused (nothing is sent then)
//  1014    DataRefused        DATA was refused
//  1015    MessageRefused     the server refused the message after its end
//  1016    BadHeader          a header name or value the control will not send
//                             (line breaks in a value, an invalid name)
//  1017    BadAddress         the document has no usable sender or recipients
//  1018    FileError          the body file is not named, cannot be opened or
//                             cannot be read
//  1020    AuthFailed         USER or PASS was refused, or the SMTP server
//                             refused the sign-in (AUTH: a wrong password)
//  1021    StatFailed         STAT was refused or its reply is malformed
//  1022    RetrieveFailed     RETR was refused (e.g. no such message)
//  1023    QuitFailed         the server refused QUIT (the connection is
//                             closed anyway; mailbox changes may be lost)
//  1024    SignInRequired     the SMTP server requires sign-in and no password
//                             was typed, or it offers no sign-in method this
//                             program has
//  1025    SignInNotEncrypted the SMTP server requires sign-in over a
//                             connection in clear to another host: the
//                             password was not sent
//  1030    TlsFailed          the encrypted connection could not be made: the
//                             server offered STARTTLS / STLS and then refused
//                             it, or the TLS handshake failed or was cut off
//  1031    CertificateRejected the server's certificate did not verify
//                             (expired, for another host name, unknown
//                             authority, self-signed, ...), or the user
//                             did not trust it
//  1032    EncryptionMissing  a server that offered STARTTLS / STLS before
//                             offers no encryption now (or port 587 offers
//                             none): the session ends before anything is sent
enum class InetError : short {
    ConnectFailed = 1003,
    ConnectionLost = 1004,
    Timeout = 1005,
    ProtocolError = 1006,
    TransferAborted = 1007,
    GreetingRefused = 1010,
    HelloRefused = 1011,
    SenderRefused = 1012,
    RecipientRefused = 1013,
    DataRefused = 1014,
    MessageRefused = 1015,
    BadHeader = 1016,
    BadAddress = 1017,
    FileError = 1018,
    AuthFailed = 1020,
    StatFailed = 1021,
    RetrieveFailed = 1022,
    QuitFailed = 1023,
    SignInRequired = 1024,
    SignInNotEncrypted = 1025,
    TlsFailed = 1030,
    CertificateRejected = 1031,
    EncryptionMissing = 1032,
};

// Short name for messages and test output.
QString toString(InetError error);
