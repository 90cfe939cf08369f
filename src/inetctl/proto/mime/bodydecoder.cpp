#include "bodydecoder.h"
#include "oneline.h"

#include <cstring>
#include <utility>

namespace mime {

namespace {
// A complete body is fed to a decoder in slices of this size, so that the
// octets decoded from one slice never need a second full copy.
constexpr qsizetype kDecodeSlice = 256 * 1024;
// Blanks may follow a delimiter on its line (RFC 2046 5.1.1: padding added
// in transport); a line with more than this is text, so that a line of
// endless blanks is never held.
constexpr qsizetype kMaxDelimiterPadding = 998;
// A part's header block is read a line at a time; past this size the rest
// is the part's body, as for a message's header block, so that one endless
// line is never held.
constexpr qsizetype kMaxPartHeader = 1024 * 1024;
// An alternative not yet known to be the one shown is held as text; past
// this it is shown, and no later one is: memory stays bounded and no long
// text waits for the multipart's end.
constexpr qsizetype kMaxHeldAlternative = 1024 * 1024;
// No alternative chosen yet; lower ranks are read first.
constexpr int kNotChosen = 4;

QString Grouped(qint64 n)
{
    QString digits = QString::number(n);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, QLatin1Char(','));
    return digits;
}

// A multipart that cannot be read as one: its body as it came.
class RawDecoder final : public EntityDecoder {
public:
    QString Feed(QByteArrayView raw) override { return m_text.Decode(raw); }
    QString Finish() override { return m_text.Finish(); }

private:
    Utf8OrLatin1Decoder m_text;
};

// Finds the delimiter lines of a multipart body as it streams in (RFC 2046
// 5.1.1): "--boundary" at the start of a line, "--" after it on the last
// one, then only blanks; the line break before a delimiter belongs to it.
// Each octet is looked at once, so the cost is linear in the body whatever
// the boundary and however nearly its lines match it. Text goes to the sink
// in runs as long as the input allows.
class DelimiterScanner {
public:
    class Sink {
    public:
        virtual void Content(QByteArrayView bytes) = 0;
        virtual void Delimiter(bool close) = 0;

    protected:
        ~Sink() = default;
    };

    // The boundary holds no CR or LF (MakeEntityDecoder sees to it).
    explicit DelimiterScanner(const QByteArray &boundary) : m_delimiter("--" + boundary) {}
    void Feed(QByteArrayView data, Sink &sink);
    // The end of the body ends its last line too.
    void Finish(Sink &sink);

private:
    enum class At { Prefix, AfterBoundary, OneDash, Padding, InLine, Epilogue };
    qsizetype InPrefix(QByteArrayView data, qsizetype i, Sink &sink);
    qsizetype InSuffix(QByteArrayView data, qsizetype i, Sink &sink);
    qsizetype InLine(QByteArrayView data, qsizetype i, Sink &sink);
    void Found(qsizetype next, Sink &sink);
    void NotADelimiter(QByteArrayView data, qsizetype at, Sink &sink);
    void Text(QByteArrayView bytes, Sink &sink);
    void Flush(Sink &sink);
    bool Withholding() const { return !m_lineEnd.isEmpty() || m_matched > 0 || !m_padding.isEmpty(); }

    const QByteArray m_delimiter;
    At m_at = At::Prefix;
    // What may be a delimiter is withheld: the last line break, the octets
    // of "--boundary" that start this line and what followed them.
    QByteArrayView m_lineEnd;
    qsizetype m_matched = 0;
    QByteArray m_padding;
    bool m_close = false;
    qsizetype m_withheldFrom = -1; // where that starts in this piece; -1: in an earlier one
    bool m_heldCR = false;         // a CR ended the last piece: a line break if LF follows
    QByteArrayView m_run;          // text of this piece not yet given to the sink
};

void DelimiterScanner::Feed(QByteArrayView data, Sink &sink)
{
    m_withheldFrom = Withholding() ? -1 : 0;
    qsizetype i = 0;
    while (i < data.size() && m_at != At::Epilogue) {
        switch (m_at) {
        case At::Prefix: i = InPrefix(data, i, sink); break;
        case At::AfterBoundary:
        case At::OneDash:
        case At::Padding: i = InSuffix(data, i, sink); break;
        case At::InLine: i = InLine(data, i, sink); break;
        case At::Epilogue: break; // after the close delimiter nothing is read
        }
    }
    Flush(sink);
}

qsizetype DelimiterScanner::InPrefix(QByteArrayView data, qsizetype i, Sink &sink)
{
    // The line so far starts "--boundary": it goes on doing so, or is text.
    const qsizetype n = qMin(data.size() - i, m_delimiter.size() - m_matched);
    qsizetype k = 0;
    while (k < n && data[i + k] == m_delimiter[m_matched + k])
        ++k;
    m_matched += k;
    if (k < n)
        NotADelimiter(data, i + k, sink);
    else if (m_matched == m_delimiter.size())
        m_at = At::AfterBoundary;
    return i + k;
}

qsizetype DelimiterScanner::InSuffix(QByteArrayView data, qsizetype i, Sink &sink)
{
    // After "--boundary": "--" once, then blanks up to the line break.
    const char c = data[i];
    if (m_at == At::OneDash) {
        if (c != '-') {
            NotADelimiter(data, i, sink);
            return i;
        }
        m_close = true;
        m_at = At::Padding;
    } else if (c == '\n') {
        Found(i + 1, sink);
        return i + 1;
    } else if (c == '-' && m_at == At::AfterBoundary) {
        m_at = At::OneDash;
    } else if ((c == ' ' || c == '\t' || c == '\r') && m_padding.size() < kMaxDelimiterPadding) {
        m_at = At::Padding;
    } else {
        NotADelimiter(data, i, sink);
        return i;
    }
    m_padding += c;
    return i + 1;
}

qsizetype DelimiterScanner::InLine(QByteArrayView data, qsizetype i, Sink &sink)
{
    // Text up to the line break, which is withheld: a delimiter may follow.
    // So is a CR that ends the piece: an LF may follow it.
    const char *p = data.data();
    const void *nl = std::memchr(p + i, '\n', size_t(data.size() - i));
    const qsizetype j = nl ? static_cast<const char *>(nl) - p : data.size();
    const bool cr = j > i ? p[j - 1] == '\r' : m_heldCR;
    if (j > i) {
        if (m_heldCR) { // not followed by LF: text
            Flush(sink);
            sink.Content("\r");
        }
        Text(data.sliced(i, j - i - (cr ? 1 : 0)), sink);
    }
    m_heldCR = false;
    if (!nl) {
        m_heldCR = cr;
        return j;
    }
    m_withheldFrom = j > i || !cr ? j - (cr ? 1 : 0) : -1;
    m_lineEnd = cr ? QByteArrayView("\r\n") : QByteArrayView("\n");
    m_at = At::Prefix;
    return j + 1;
}

void DelimiterScanner::Found(qsizetype next, Sink &sink)
{
    Flush(sink);
    const bool close = m_close;
    m_lineEnd = {};
    m_matched = 0;
    m_padding.clear();
    m_close = false;
    m_withheldFrom = next;
    m_at = close ? At::Epilogue : At::Prefix;
    sink.Delimiter(close);
}

void DelimiterScanner::NotADelimiter(QByteArrayView data, qsizetype at, Sink &sink)
{
    // What was withheld is text after all, as it came.
    if (m_withheldFrom >= 0) {
        Text(data.sliced(m_withheldFrom, at - m_withheldFrom), sink);
    } else if (Withholding()) {
        Flush(sink);
        sink.Content(m_lineEnd.toByteArray() + m_delimiter.first(m_matched) + m_padding);
    }
    m_lineEnd = {};
    m_matched = 0;
    m_padding.clear();
    m_close = false;
    m_at = At::InLine;
}

void DelimiterScanner::Text(QByteArrayView bytes, Sink &sink)
{
    if (bytes.isEmpty())
        return;
    if (!m_run.isEmpty() && bytes.data() == m_run.data() + m_run.size()) {
        m_run = QByteArrayView(m_run.data(), m_run.size() + bytes.size());
        return;
    }
    Flush(sink);
    m_run = bytes;
}

void DelimiterScanner::Flush(Sink &sink)
{
    if (!m_run.isEmpty())
        sink.Content(m_run);
    m_run = {};
}

void DelimiterScanner::Finish(Sink &sink)
{
    m_withheldFrom = -1;
    switch (m_at) {
    case At::AfterBoundary:
    case At::Padding:
        Found(-1, sink); // a delimiter needs no line break at the very end
        return;
    case At::Prefix:
    case At::OneDash:
        NotADelimiter({}, 0, sink);
        break;
    case At::InLine:
    case At::Epilogue:
        break;
    }
    if (m_heldCR)
        sink.Content("\r");
    m_heldCR = false;
    m_at = At::Epilogue;
}

// How readable an alternative is, lowest first: plain text, else HTML, else
// a nested multipart (an HTML page with its pictures); else the first part.
int AlternativeRank(const EntityInfo &info, bool first)
{
    if (!info.attachment) {
        if (info.IsText() && info.subtype == "plain")
            return 0;
        if (info.IsHtml())
            return 1;
        if (info.IsMultipart())
            return 2;
    }
    return first ? 3 : kNotChosen;
}

// A multipart body as it streams in (RFC 2046 5.1): the preamble and the
// epilogue dropped, each part's header block read and its body decoded as
// they come; of an alternative only the one a person reads. Without any
// delimiter the body shows as it came.
class MultipartDecoder final : public EntityDecoder, private DelimiterScanner::Sink {
public:
    MultipartDecoder(const EntityInfo &info, int depth)
        : m_scanner(info.boundary), m_depth(depth), m_alternative(info.subtype == "alternative"),
          m_digest(info.subtype == "digest")
    {
    }
    QString Feed(QByteArrayView raw) override;
    QString Finish() override;

private:
    enum class Part { None, Due, Headers, Body }; // Due: opened by a delimiter, no octet yet
    void Content(QByteArrayView bytes) override;
    void Delimiter(bool close) override;
    QByteArrayView TakeHeaderLines(QByteArrayView bytes);
    void HeaderLine();
    void BodyFromLine();
    void EndHeaders();
    bool Chosen(const EntityInfo &info);
    void EndPart();
    void Show(const QString &text);
    void ShowChosen();
    void Out(const QString &text);

    DelimiterScanner m_scanner;
    const int m_depth;
    const bool m_alternative;
    const bool m_digest; // RFC 2046 5.1.5: its parts are messages
    bool m_found = false; // a delimiter came: the preamble is dropped
    bool m_raw = false;   // none came within kMaxPreamble: shown as it came
    QByteArray m_preamble;
    Utf8OrLatin1Decoder m_rawText;

    Part m_part = Part::None;
    HeaderReader m_reader;
    QByteArray m_line; // a header line until its end
    qsizetype m_headerBytes = 0;
    std::unique_ptr<EntityDecoder> m_child; // null: the part is not shown
    bool m_firstPart = true;
    bool m_partShown = false;

    // Of an alternative, the part chosen so far: its text is held until no
    // later part can be chosen instead.
    int m_chosenRank = kNotChosen;
    bool m_final = false;
    QString m_held;

    QString m_out; // the text of this piece
    bool m_shownAny = false;
    bool m_endsInLineBreak = false;
};

QString MultipartDecoder::Feed(QByteArrayView raw)
{
    if (m_raw)
        return m_rawText.Decode(raw);
    m_scanner.Feed(raw, *this);
    if (!m_found) {
        m_preamble.append(raw.data(), raw.size());
        if (m_preamble.size() > kMaxPreamble) {
            m_raw = true;
            return m_rawText.Decode(std::exchange(m_preamble, {}));
        }
    }
    return std::exchange(m_out, {});
}

QString MultipartDecoder::Finish()
{
    if (m_raw)
        return m_rawText.Finish();
    m_scanner.Finish(*this);
    if (!m_found) {
        const QString text = m_rawText.Decode(std::exchange(m_preamble, {}));
        return text + m_rawText.Finish();
    }
    EndPart();
    ShowChosen();
    return std::exchange(m_out, {});
}

void MultipartDecoder::Content(QByteArrayView bytes)
{
    if (m_part == Part::None)
        return; // the preamble (held whole by Feed) or the epilogue
    if (m_part == Part::Due) {
        m_part = Part::Headers;
        m_headerBytes = 0;
    }
    if (m_part == Part::Headers)
        bytes = TakeHeaderLines(bytes);
    if (!bytes.isEmpty() && m_child)
        Show(m_child->Feed(bytes));
}

void MultipartDecoder::Delimiter(bool close)
{
    if (!m_found) {
        m_found = true;
        m_preamble = QByteArray();
    }
    if (m_part == Part::Due)
        m_part = Part::Headers; // a part between two delimiters, even an empty one
    EndPart();
    m_part = close ? Part::None : Part::Due;
    if (close)
        ShowChosen();
}

QByteArrayView MultipartDecoder::TakeHeaderLines(QByteArrayView bytes)
{
    // A line at a time until the header block ends; what follows is body.
    while (!bytes.isEmpty() && m_part == Part::Headers) {
        const qsizetype nl = bytes.indexOf('\n');
        const qsizetype take = nl < 0 ? bytes.size() : nl + 1;
        if (m_headerBytes + m_line.size() + take > kMaxPartHeader) {
            BodyFromLine(); // no header block after all
            break;
        }
        m_line.append(bytes.first(take));
        bytes = bytes.sliced(take);
        if (nl >= 0)
            HeaderLine();
    }
    return bytes;
}

void MultipartDecoder::HeaderLine()
{
    m_headerBytes += m_line.size();
    QByteArrayView line(m_line);
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.endsWith('\r'))
        line.chop(1);
    switch (m_reader.Take(line)) {
    case HeaderReader::Line::Field:
        m_line.clear();
        break;
    case HeaderReader::Line::Blank: // between the part's header and its body
        m_line.clear();
        EndHeaders();
        break;
    case HeaderReader::Line::NotAField: // no header block: this line is body already
        BodyFromLine();
        break;
    }
}

void MultipartDecoder::BodyFromLine()
{
    const QByteArray line = std::exchange(m_line, {});
    EndHeaders();
    if (m_child && !line.isEmpty())
        Show(m_child->Feed(line));
}

void MultipartDecoder::EndHeaders()
{
    m_part = Part::Body;
    const EntityInfo info = ParseEntityInfo(m_reader.TakeFields(), m_digest);
    if (Chosen(info))
        m_child = MakeEntityDecoder(info, m_depth + 1);
    m_firstPart = false;
    m_partShown = false;
}

bool MultipartDecoder::Chosen(const EntityInfo &info)
{
    if (!m_alternative)
        return true;
    const int rank = AlternativeRank(info, m_firstPart);
    if (m_final || rank >= m_chosenRank)
        return false;
    m_chosenRank = rank;
    m_held.clear();
    m_final = rank == 0; // nothing is read before plain text: it shows at once
    return true;
}

void MultipartDecoder::EndPart()
{
    if (m_part == Part::Headers) {
        if (!m_line.isEmpty())
            HeaderLine(); // the last line, without a line break
        if (m_part == Part::Headers)
            EndHeaders();
    }
    if (m_part == Part::Body && m_child)
        Show(m_child->Finish());
    m_child.reset();
    m_part = Part::None;
}

void MultipartDecoder::Show(const QString &text)
{
    if (text.isEmpty())
        return;
    if (m_alternative && !m_final) {
        m_held += text;
        if (m_held.size() > kMaxHeldAlternative) {
            m_final = true;
            Out(std::exchange(m_held, {}));
        }
        return;
    }
    Out(text);
}

void MultipartDecoder::ShowChosen()
{
    // The alternative has ended: no later part can be chosen.
    m_final = true;
    if (!m_held.isEmpty())
        Out(std::exchange(m_held, {}));
}

void MultipartDecoder::Out(const QString &text)
{
    // A part's text goes on a line of its own.
    if (!m_partShown && m_shownAny && !m_endsInLineBreak)
        m_out += QStringLiteral("\r\n");
    m_partShown = true;
    m_shownAny = true;
    m_out += text;
    m_endsInLineBreak = text.endsWith(QLatin1Char('\n'));
}
} // namespace

QString AttachmentLine(const QString &name, const QByteArray &type, qint64 size)
{
    // The name is the sender's: it must not break the line, pad itself into
    // what looks like another, or reorder the lines after it.
    QString shown = textcore::OneLine(name);
    if (shown.isEmpty())
        shown = textcore::OneLine(QString::fromLatin1(type));
    return QStringLiteral("[Attachment: %1, %2 %3]\r\n")
        .arg(shown, Grouped(size), size == 1 ? QStringLiteral("byte") : QStringLiteral("bytes"));
}

LeafDecoder::LeafDecoder(const EntityInfo &info)
    : m_info(info),
      m_show(info.attachment ? Show::Attachment
             : info.IsText() ? Show::Text
             : info.IsHtml() ? Show::Html
                             : Show::Attachment),
      m_transfer(ParseTransferEncoding(info.transferEncoding)), m_text(info.charset)
{
}

QString LeafDecoder::Feed(QByteArrayView raw)
{
    if (m_transfer.PassesThrough())
        return Convert(raw, {}); // no copy of what needs no decoding
    QByteArray decoded, broken;
    m_transfer.Feed(raw, &decoded, &broken);
    return Convert(decoded, broken);
}

QString LeafDecoder::Finish()
{
    QByteArray decoded, broken;
    m_transfer.Finish(&decoded, &broken);
    QString out = Convert(decoded, broken);
    switch (m_show) {
    case Show::Text:
        out += m_text.Finish() + m_rawText.Finish();
        break;
    case Show::Html:
        out += m_html.Feed(m_text.Finish());
        out += m_html.Finish();
        out += m_rawText.Finish();
        break;
    case Show::Attachment:
        out = AttachmentLine(m_info.fileName, m_info.type + '/' + m_info.subtype, m_size);
        break;
    }
    return out;
}

QString LeafDecoder::Convert(QByteArrayView decoded, QByteArrayView raw)
{
    if (m_show == Show::Attachment) {
        m_size += decoded.size() + raw.size();
        return QString();
    }
    QString out = m_show == Show::Html ? m_html.Feed(m_text.Decode(decoded)) : m_text.Decode(decoded);
    if (!raw.isEmpty()) {
        // The decoded text ends where the encoding broke; the raw text follows.
        if (m_show == Show::Html) {
            out += m_html.Feed(m_text.Finish());
            out += m_html.Finish();
        } else {
            out += m_text.Finish();
        }
        out += m_rawText.Decode(raw);
    }
    return out;
}

std::unique_ptr<EntityDecoder> MakeEntityDecoder(const EntityInfo &info, int depth)
{
    if (!info.IsMultipart())
        return std::make_unique<LeafDecoder>(info);
    // Without a boundary a delimiter line could hold, or nested too deep, a
    // multipart shows as it came.
    const QByteArray &boundary = info.boundary;
    if (depth >= kMaxNesting || boundary.isEmpty() || boundary.size() > kMaxBoundary || boundary.contains('\r')
        || boundary.contains('\n'))
        return std::make_unique<RawDecoder>();
    return std::make_unique<MultipartDecoder>(info, depth);
}

QString DecodeEntity(const EntityInfo &info, QByteArrayView body, int depth)
{
    const std::unique_ptr<EntityDecoder> decoder = MakeEntityDecoder(info, depth);
    QString out;
    for (qsizetype at = 0; at < body.size(); at += kDecodeSlice)
        out += decoder->Feed(body.sliced(at, qMin(kDecodeSlice, body.size() - at)));
    return out + decoder->Finish();
}

BodyDecoder::BodyDecoder(const QList<HeaderField> &headers) : m_entity(MakeEntityDecoder(ParseEntityInfo(headers)))
{
}

QString BodyDecoder::Feed(QByteArrayView raw)
{
    return m_entity->Feed(raw);
}

QString BodyDecoder::Finish()
{
    return m_entity->Finish();
}

} // namespace mime
