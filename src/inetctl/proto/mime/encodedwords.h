#pragma once
#include <QByteArrayView>
#include <QString>

namespace mime {

// A header value as a person reads it (RFC 2047): encoded words in any
// charset decoded, the blanks between two adjacent encoded words dropped,
// other text read as UTF-8 or else Latin-1. A malformed encoded word stays
// as it was written.
QString DecodeHeaderValue(QByteArrayView raw);

} // namespace mime
