#pragma once
#include <QByteArrayView>

namespace net {

// What a parser of server replies makes of the bytes received so far.
enum class ParseResult { Complete, NeedMore, Invalid };

// What a line limit counts: the text alone, or the text and the CR of a
// CRLF line end.
enum class LimitCounts { Text, TextAndCR };

// Takes the line at the front of data, up to its LF (CRLF or bare LF).
// Complete: *text is the line without its end, *consumed counts the end too.
// NeedMore: no LF yet, and the line can still end within the limit.
// Invalid: the line is longer than limit; *consumed is set all the same
// once the LF has come.
ParseResult TakeLine(QByteArrayView data, qsizetype limit, QByteArrayView *text, qsizetype *consumed,
                     LimitCounts counts = LimitCounts::Text);

} // namespace net
