#pragma once
#include <QByteArray>
#include <QByteArrayView>

namespace smtp {

// RFC 5322 2.1.1: a line holds at most 998 octets before its CRLF. A longer
// line is cut or rejected by servers on the way, so the body is encoded.
constexpr qsizetype kMaxLineOctets = 998;
// RFC 2045 6.7: quoted-printable lines are at most 76 characters.
constexpr int kMaxQpLine = 76;

enum class BodyEncoding { SevenBit, EightBit, QuotedPrintable };

// What the body holds, learnt chunk by chunk before anything is sent, so
// that the headers can name the encoding honestly. CR, LF and CRLF each end
// a line.
class BodyScan {
public:
    void Feed(QByteArrayView bytes);

    bool NonAscii() const { return m_nonAscii; }
    bool ValidUtf8() const { return m_validUtf8 && m_utf8Need == 0; }
    bool HasNul() const { return m_nul; }
    qsizetype LongestLine() const { return qMax(m_longest, m_current); }
    qint64 Size() const { return m_size; }

    BodyEncoding Choose(bool server8BitMime) const;
    // The charset that labels the body truthfully.
    QByteArray Charset() const;

private:
    bool m_nonAscii = false;
    bool m_validUtf8 = true;
    bool m_nul = false;
    bool m_lastCR = false;
    int m_utf8Need = 0;
    qsizetype m_longest = 0;
    qsizetype m_current = 0;
    qint64 m_size = 0;
};

// Turns message text into the DATA stream: every line end (CRLF, CR or LF)
// becomes CRLF and every line that begins with "." gets a second one, the
// first line and lines that are only "." included. State carries across
// chunks, so a CR at the end of one chunk and an LF at the start of the next
// make one line end, and a dot after a chunk boundary is still seen.
class DotStuffer {
public:
    void Feed(QByteArrayView in, QByteArray &out);
    // A final CRLF when the text did not end with one, then ".CRLF".
    void Finish(QByteArray &out);
    bool AtLineStart() const { return m_atLineStart; }

private:
    bool m_atLineStart = true;
    bool m_lastCR = false;
};

// Quoted-printable (RFC 2045 6.7) for a text body: line ends become CRLF,
// lines are soft-broken at 76 characters, "=", control and 8-bit octets and
// whitespace before a line end are encoded. Streams across chunks.
class QpEncoder {
public:
    void Feed(QByteArrayView in, QByteArray &out);
    void Finish(QByteArray &out);

private:
    void Put(QByteArray &out, const char *token, int length);
    int m_lineLength = 0;
    bool m_lastCR = false;
    char m_pendingSpace = 0;
};

} // namespace smtp
