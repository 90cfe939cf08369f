#pragma once
#include "hexdigits.h"

#include <QByteArray>
#include <QByteArrayView>

namespace mime {

enum class TransferEncoding { Identity, QuotedPrintable, Base64 };

// The Content-Transfer-Encoding value; 7bit, 8bit, binary and names we do
// not know all leave the octets as they are.
TransferEncoding ParseTransferEncoding(QByteArrayView value);

// The value of a hexadecimal digit, or -1.
using textcore::HexValue;

// A whole base64 text (as in an encoded word): false when it holds anything
// but the alphabet and padding.
bool DecodeBase64Strict(QByteArrayView text, QByteArray *out);

// Undoes a transfer encoding as the body streams in. Quoted-printable is
// read leniently (RFC 2045 6.7: a malformed escape stays as written,
// trailing blanks added in transport are dropped). Base64 that turns out not
// to be base64 (a line with other characters) is not guessed at: that line
// and everything after it go to the raw output unchanged, so the reader sees
// the text rather than nothing.
class TransferDecoder {
public:
    explicit TransferDecoder(TransferEncoding encoding = TransferEncoding::Identity);
    void Feed(QByteArrayView in, QByteArray *decoded, QByteArray *raw);
    void Finish(QByteArray *decoded, QByteArray *raw);
    bool Broken() const { return m_broken; }
    // Feed would only copy its input to the decoded output.
    bool PassesThrough() const { return m_encoding == TransferEncoding::Identity && !m_broken; }

private:
    void FeedQuotedPrintable(QByteArrayView in, QByteArray *out);
    void QuotedPrintableOctet(char c, QByteArray *out);
    void FeedBase64(QByteArrayView in, QByteArray *decoded, QByteArray *raw);
    bool Base64Line(QByteArrayView line, QByteArray *decoded);

    TransferEncoding m_encoding;
    bool m_broken = false;
    QByteArray m_hold;    // quoted-printable: octets whose meaning the next ones decide
    QByteArray m_line;    // base64: the current line
    quint32 m_bits = 0;   // base64: sextets of the current quantum
    int m_sextets = 0;
};

} // namespace mime
