#pragma once
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

#include <optional>

namespace mime {

// Text whose charset label cannot be trusted (none, US-ASCII, UTF-8 or a
// name nobody knows): a line is read as UTF-8 when it is valid UTF-8, else
// as Latin-1, so that no octet is lost and mislabelled Latin-1 stays legible.
// ASCII is passed on at once; from a line's first 8-bit octet to its end the
// octets are held, so the choice does not depend on how the input is cut.
class Utf8OrLatin1Decoder {
public:
    QString Decode(QByteArrayView bytes);
    QString Finish();

private:
    void DecideHeld(QString *out, bool lineEnded);

    QByteArray m_held; // from the current line's first 8-bit octet on
};

// Octets in a named charset to text, as they stream in.
class TextDecoder {
public:
    explicit TextDecoder(QByteArrayView charset = {});
    QString Decode(QByteArrayView bytes);
    QString Finish();

private:
    std::optional<QStringDecoder> m_decoder; // empty: Utf8OrLatin1Decoder
    Utf8OrLatin1Decoder m_fallback;
};

// The whole of a short text, such as one encoded word.
QString DecodeCharset(QByteArrayView bytes, QByteArrayView charset);

// How many octets at the end of bytes start a UTF-8 sequence that more
// input would complete.
qsizetype IncompleteUtf8Tail(QByteArrayView bytes);

} // namespace mime
