// POP status lines: a parsed line keeps the limits, and a line split across
// reads parses exactly as when it arrives whole.
#include "fuzzcuts.h"
#include "fuzzentries.h"
#include "pop/popreply.h"

using namespace pop;

namespace {
struct Parsed {
    ParseResult result;
    StatusLine line;
    qsizetype consumed = -1;
};

Parsed Parse(QByteArrayView data)
{
    Parsed parsed;
    QByteArray error;
    parsed.result = ParseStatusLine(data, &parsed.line, &parsed.consumed, &error);
    switch (parsed.result) {
    case ParseResult::Complete:
        FUZZ_CHECK(parsed.consumed > 0 && parsed.consumed <= data.size());
        FUZZ_CHECK(data[parsed.consumed - 1] == '\n');
        FUZZ_CHECK(data.first(parsed.consumed - 1).indexOf('\n') < 0);
        FUZZ_CHECK(parsed.line.text.size() <= kMaxStatusLine);
        FUZZ_CHECK(parsed.line.text == parsed.line.text.trimmed());
        FUZZ_CHECK(data.startsWith(parsed.line.ok ? "+OK" : "-ERR"));
        break;
    case ParseResult::Invalid:
        FUZZ_CHECK(!error.isEmpty());
        break;
    case ParseResult::NeedMore:
        FUZZ_CHECK(data.indexOf('\n') < 0);
        break;
    }
    return parsed;
}
} // namespace

int FuzzPopStatus(const uint8_t *bytes, size_t size)
{
    const QByteArrayView data(reinterpret_cast<const char *>(bytes), qsizetype(size));
    const Parsed whole = Parse(data);
    for (qsizetype cut : FuzzCuts(data, 3)) {
        const Parsed part = Parse(data.first(cut));
        if (part.result == ParseResult::Complete) {
            FUZZ_CHECK(whole.result == ParseResult::Complete && whole.consumed == part.consumed);
            FUZZ_CHECK(whole.line.ok == part.line.ok && whole.line.text == part.line.text);
        }
        // What the first read already refused, the whole refuses too.
        if (part.result == ParseResult::Invalid)
            FUZZ_CHECK(whole.result == ParseResult::Invalid);
    }
    return 0;
}
