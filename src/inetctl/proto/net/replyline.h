#pragma once
#include <QByteArrayView>

namespace net {

// What a parser of server replies makes of the bytes received so far.
enum class ParseResult { Complete, NeedMore, Invalid };

} // namespace net
