#pragma once
#include <QString>

// What the program remembers for the user apart from the settings: the
// certificates the user chose to trust and the servers that offered
// encryption before. Kept in $XDG_CONFIG_HOME/orvanta-mail (or
// ~/.config/orvanta-mail), private to the user, in two line files:
//
//   trusted-certificates   "host:port AB:CD:...:EF" (SHA-256, 32 octets)
//   encrypted-servers      "host:port"
//
// Lines this program does not understand stay as they are when it rewrites
// a file. Files are replaced whole (never half written) and two programs
// writing at once take turns.
class UserStore {
public:
    // The folder; empty when neither XDG_CONFIG_HOME nor HOME names one.
    static QString Folder();

    // "host:port" as the files key it: host in lower case without a
    // trailing dot, an IPv6 address in brackets ("[::1]:25"). Empty when the
    // host cannot be one (empty, spaces, control characters) or port is 0.
    // The functions below take a server in this form and find other
    // spellings of the same one too.
    static QString ServerKey(const QString &host, quint16 port);

    // The fingerprint pinned for a server ("host:port"), "" if none.
    static QString TrustedFingerprint(const QString &server);
    // Pins the certificate for the server, replacing an earlier pin.
    static bool TrustCertificate(const QString &server, const QString &fingerprint,
                                 QString *error = nullptr);

    // The server offered STARTTLS or STLS in an earlier session: a session
    // without the offer now means someone may have taken it out.
    static bool OfferedEncryption(const QString &server);
    static bool NoteEncryptionOffered(const QString &server, QString *error = nullptr);
};
