#include "replyline.h"

#include <cstring>

namespace net {

ParseResult TakeLine(QByteArrayView data, qsizetype limit, QByteArrayView *text, qsizetype *consumed,
                     LimitCounts counts)
{
    const qsizetype cr = counts == LimitCounts::TextAndCR ? 1 : 0;
    const char *start = data.data();
    const void *nl = data.isEmpty() ? nullptr : std::memchr(start, '\n', size_t(data.size()));
    if (!nl) {
        // A line at the limit may still await its LF after the CR: that
        // split must not refuse what one read would have taken.
        const qsizetype counted = data.endsWith('\r') ? data.size() - 1 + cr : data.size();
        return counted > limit ? ParseResult::Invalid : ParseResult::NeedMore;
    }
    qsizetype length = static_cast<const char *>(nl) - start;
    *consumed = length + 1;
    qsizetype counted = length;
    if (length > 0 && start[length - 1] == '\r') {
        --length;
        counted = length + cr;
    }
    if (counted > limit)
        return ParseResult::Invalid;
    *text = QByteArrayView(start, length);
    return ParseResult::Complete;
}

} // namespace net
