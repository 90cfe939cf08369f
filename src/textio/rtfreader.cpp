#include "rtfreader.h"
#include "hexdigits.h"

#include <QHash>
#include <QStringDecoder>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <array>
#include <climits>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

// Hostile input must not be able to grow the group stack without bound.
constexpr std::size_t kMaxDepth = 1000;
constexpr int kDefaultCodePage = 1252;
constexpr char16_t kReplacement = 0xFFFD;

enum FormatBit : quint8 {
    Bold = 1,
    Italic = 2,
    Underline = 4,
    StrikeOut = 8,
    SuperScript = 16,
    SubScript = 32,
};
constexpr int kFormatCount = 64;

// Where the text of a group goes: into the document, into the font table
// (only its code pages matter), or nowhere.
enum class Dest : quint8 { Text, FontTable, Skip };

struct GroupState {
    Dest dest = Dest::Text;
    quint8 format = 0;
    int uc = 1;    // fallback characters that follow each \uN
    int font = -1; // -1: the document's default font
    bool hidden = false;
};

enum class Kw : quint8 {
    Par, Char, Cell, Row, U, Uc, Bin,
    Bold, Italic, Underline, UnderlineOff, StrikeOut, Super, Sub, NoSuperSub, Hidden, Plain,
    Ansi, Mac, Pc, Pca, AnsiCpg, Deff, Font, FCharset, Cpg,
    FontTable, SkipDest,
};

struct KwInfo {
    Kw kw;
    char16_t ch = 0; // for Kw::Char
};

const std::unordered_map<std::string_view, KwInfo> &Keywords()
{
    static const std::unordered_map<std::string_view, KwInfo> table = [] {
        std::unordered_map<std::string_view, KwInfo> t = {
            {"par", {Kw::Par}}, {"sect", {Kw::Par}}, {"page", {Kw::Par}},
            {"cell", {Kw::Cell}}, {"nestcell", {Kw::Cell}}, {"row", {Kw::Row}}, {"nestrow", {Kw::Row}},
            {"line", {Kw::Char, 0x2028}}, {"tab", {Kw::Char, u'\t'}},
            {"emdash", {Kw::Char, 0x2014}}, {"endash", {Kw::Char, 0x2013}},
            {"emspace", {Kw::Char, 0x2003}}, {"enspace", {Kw::Char, 0x2002}},
            {"qmspace", {Kw::Char, 0x2005}}, {"bullet", {Kw::Char, 0x2022}},
            {"lquote", {Kw::Char, 0x2018}}, {"rquote", {Kw::Char, 0x2019}},
            {"ldblquote", {Kw::Char, 0x201C}}, {"rdblquote", {Kw::Char, 0x201D}},
            {"zwj", {Kw::Char, 0x200D}}, {"zwnj", {Kw::Char, 0x200C}},
            {"ltrmark", {Kw::Char, 0x200E}}, {"rtlmark", {Kw::Char, 0x200F}},
            {"u", {Kw::U}}, {"uc", {Kw::Uc}}, {"bin", {Kw::Bin}},
            {"b", {Kw::Bold}}, {"i", {Kw::Italic}},
            {"ul", {Kw::Underline}}, {"uld", {Kw::Underline}}, {"uldash", {Kw::Underline}},
            {"uldashd", {Kw::Underline}}, {"uldashdd", {Kw::Underline}}, {"uldb", {Kw::Underline}},
            {"ulth", {Kw::Underline}}, {"ulw", {Kw::Underline}}, {"ulwave", {Kw::Underline}},
            {"ulhwave", {Kw::Underline}}, {"ululdbwave", {Kw::Underline}}, {"ulthd", {Kw::Underline}},
            {"ulthdash", {Kw::Underline}}, {"ulldash", {Kw::Underline}}, {"ulnone", {Kw::UnderlineOff}},
            {"strike", {Kw::StrikeOut}}, {"striked", {Kw::StrikeOut}},
            {"super", {Kw::Super}}, {"sub", {Kw::Sub}}, {"nosupersub", {Kw::NoSuperSub}},
            {"v", {Kw::Hidden}}, {"plain", {Kw::Plain}},
            {"ansi", {Kw::Ansi}}, {"mac", {Kw::Mac}}, {"pc", {Kw::Pc}}, {"pca", {Kw::Pca}},
            {"ansicpg", {Kw::AnsiCpg}}, {"deff", {Kw::Deff}}, {"f", {Kw::Font}},
            {"fcharset", {Kw::FCharset}}, {"cpg", {Kw::Cpg}}, {"fonttbl", {Kw::FontTable}},
        };
        // Destinations whose content is not message text.
        static constexpr std::string_view skipped[] = {
            "colortbl", "stylesheet", "info", "pict", "object", "objdata", "objclass", "objname",
            "header", "headerl", "headerr", "headerf", "footer", "footerl", "footerr", "footerf",
            "footnote", "ftnsep", "ftnsepc", "ftncn", "aftnsep", "aftnsepc", "aftncn",
            "annotation", "atnid", "atnauthor", "atrfstart", "atrfend", "bkmkstart", "bkmkend",
            "fldinst", "datafield", "formfield", "xe", "tc", "txe",
            "listtable", "listoverridetable", "rsidtbl", "generator", "xmlnstbl", "themedata",
            "colorschememapping", "latentstyles", "datastore", "filetbl", "revtbl", "pgdsctbl",
            "protusertbl", "private", "userprops", "template", "docvar", "mmathPr", "defchp", "defpap",
            "nonshppict", "shppict", "shpinst", "sp", "sn", "sv", "background",
            "pn", "pntxta", "pntxtb", "falt", "panose",
            "title", "subject", "author", "operator", "keywords", "comment", "doccomm",
            "company", "manager", "category", "hlinkbase", "creatim", "revtim", "printim", "buptim",
        };
        for (std::string_view word : skipped)
            t.emplace(word, KwInfo{Kw::SkipDest});
        return t;
    }();
    return table;
}

int CodePageForCharset(int charset)
{
    switch (charset) {
    case 77: return 10000;
    case 128: return 932;
    case 129: return 949;
    case 130: return 1361;
    case 134: return 936;
    case 136: return 950;
    case 161: return 1253;
    case 162: return 1254;
    case 163: return 1258;
    case 177: return 1255;
    case 178: return 1256;
    case 186: return 1257;
    case 204: return 1251;
    case 222: return 874;
    case 238: return 1250;
    case 254: return 437;
    case 255: return 850;
    default: return 0; // ANSI, default, symbol...: the document's code page
    }
}

// Windows-1252 by table: the default code page needs no converter at all.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

void AppendCp1252(QString &out, const QByteArray &bytes)
{
    const qsizetype at = out.size();
    out.append(QLatin1StringView(bytes)); // Latin-1 but for 0x80-0x9F
    QChar *c = out.data() + at;
    for (char b : bytes) {
        const auto u = static_cast<unsigned char>(b);
        if (u >= 0x80 && u < 0xA0)
            *c = QChar(kCp1252High[u - 0x80]);
        ++c;
    }
}

class Decoders {
public:
    void Append(QString &out, const QByteArray &bytes, int codePage)
    {
        QStringDecoder *decoder = codePage == kDefaultCodePage ? nullptr : For(codePage);
        if (decoder)
            out += decoder->decode(bytes);
        else
            AppendCp1252(out, bytes);
    }

private:
    // Null when the code page is unknown here: such text is read as 1252.
    QStringDecoder *For(int codePage)
    {
        auto it = cache_.find(codePage);
        if (it != cache_.end())
            return it->second.get();
        std::unique_ptr<QStringDecoder> found;
        for (const QByteArray &name : NamesFor(codePage)) {
            auto decoder = std::make_unique<QStringDecoder>(name.constData());
            if (decoder->isValid()) {
                found = std::move(decoder);
                break;
            }
        }
        return cache_.emplace(codePage, std::move(found)).first->second.get();
    }

    static QList<QByteArray> NamesFor(int codePage)
    {
        switch (codePage) {
        case 65001: return {"UTF-8"};
        case 10000: return {"macintosh"};
        case 932: return {"windows-31j", "Shift_JIS"};
        case 936: return {"GBK"};
        case 949: return {"windows-949", "EUC-KR"};
        case 950: return {"Big5"};
        case 20127: return {"US-ASCII"};
        default: break;
        }
        if (codePage >= 28591 && codePage <= 28605)
            return {"ISO-8859-" + QByteArray::number(codePage - 28590)};
        const QByteArray number = QByteArray::number(codePage);
        return {"windows-" + number, "cp" + number, "ibm-" + number};
    }

    std::unordered_map<int, std::unique_ptr<QStringDecoder>> cache_;
};

// The document text, and where each stretch of one format ends in it.
struct TextSpan {
    qint64 end : 56; // packed: a format change per character is possible
    quint64 format : 8;
};
struct ReadText {
    QString text;
    std::vector<TextSpan> spans;
};

// Collects the document text. Bytes are kept undecoded until something else
// must follow them, so a stretch of text is decoded in one call. Paragraph
// breaks are held back until text follows: the \par that ends the last
// paragraph must not leave an empty line behind.
class Output {
public:
    void Bytes(const char *bytes, qsizetype size, quint8 format, int codePage)
    {
        BeginText(format);
        if (codePage != bytesCodePage_)
            FlushBytes();
        bytesCodePage_ = codePage;
        bytes_.append(bytes, size);
    }

    void Unit(char32_t c, quint8 format)
    {
        if (QChar::isLowSurrogate(c) && pendingHigh_) {
            FlushBytes();
            out_.text.append(QChar(pendingHigh_));
            out_.text.append(QChar(char16_t(c)));
            pendingHigh_ = 0;
            return;
        }
        BeginText(format);
        FlushBytes();
        if (QChar::isHighSurrogate(c)) {
            pendingHigh_ = char16_t(c);
        } else if (QChar::isLowSurrogate(c) || c == 0xFDD0 || c == 0xFDD1) {
            out_.text.append(QChar(kReplacement)); // unpaired half, or the editor's frame markers
        } else if (QChar::requiresSurrogates(c)) {
            const QChar pair[2] = {QChar(QChar::highSurrogate(c)), QChar(QChar::lowSurrogate(c))};
            out_.text.append(pair, 2);
        } else {
            out_.text.append(QChar(char16_t(c)));
        }
    }

    void Paragraph()
    {
        ResolveHigh();
        ++pendingBreaks_;
        pendingCellTab_ = false; // a row's last cell needs no separator
    }

    void Cell(quint8 format)
    {
        if (pendingCellTab_)
            BeginText(format);
        pendingCellTab_ = true;
    }

    ReadText Finish()
    {
        ResolveHigh();
        FlushBytes();
        if (pendingBreaks_ > 1)
            out_.text.append(QString(pendingBreaks_ - 1, u'\n'));
        CloseSpan();
        return std::move(out_);
    }

private:
    void BeginText(quint8 format)
    {
        ResolveHigh();
        if (format != format_) {
            FlushBytes();
            CloseSpan();
            format_ = format;
        }
        if (pendingBreaks_ || pendingCellTab_) {
            FlushBytes();
            for (; pendingBreaks_ > 0; --pendingBreaks_)
                out_.text.append(u'\n');
            if (pendingCellTab_)
                out_.text.append(u'\t');
            pendingCellTab_ = false;
        }
    }

    void ResolveHigh()
    {
        if (!pendingHigh_)
            return;
        FlushBytes();
        out_.text.append(QChar(kReplacement));
        pendingHigh_ = 0;
    }

    void FlushBytes()
    {
        if (bytes_.isEmpty())
            return;
        decoders_.Append(out_.text, bytes_, bytesCodePage_);
        bytes_.resize(0);
    }

    void CloseSpan()
    {
        const qsizetype start = out_.spans.empty() ? 0 : out_.spans.back().end;
        if (out_.text.size() > start)
            out_.spans.push_back({out_.text.size(), format_});
    }

    Decoders decoders_;
    ReadText out_;
    quint8 format_ = 0;
    QByteArray bytes_;
    int bytesCodePage_ = kDefaultCodePage;
    int pendingBreaks_ = 0;
    bool pendingCellTab_ = false;
    char16_t pendingHigh_ = 0;
};

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Bytes that end a run of plain text.
constexpr std::array<bool, 256> kSpecial = [] {
    std::array<bool, 256> t{};
    t['{'] = t['}'] = t['\\'] = t['\r'] = t['\n'] = true;
    return t;
}();

class Parser {
public:
    explicit Parser(const QByteArray &data) : d_(data.constData()), n_(data.size()) {}

    // Reads the group that opens at start. False when it is not well-formed.
    bool Read(qsizetype start, ReadText *result)
    {
        std::vector<GroupState> stack;
        stack.reserve(64);
        GroupState state;
        qsizetype pos = start;
        while (pos < n_) {
            const char c = d_[pos];
            if (c == '{') {
                if (stack.size() >= kMaxDepth)
                    return false;
                stack.push_back(state);
                ucLeft_ = 0;
                ++pos;
            } else if (c == '}') {
                ucLeft_ = 0;
                ++pos;
                state = stack.back();
                stack.pop_back();
                if (stack.empty()) {
                    if (!TailBalanced(pos))
                        return false;
                    *result = out_.Finish();
                    return true;
                }
            } else if (c == '\\') {
                pos = Control(pos, state);
            } else if (c == '\r' || c == '\n') {
                ++pos; // line breaks in the file carry no meaning
            } else {
                qsizetype end = pos + 1;
                while (end < n_ && !kSpecial[static_cast<unsigned char>(d_[end])])
                    ++end;
                if (state.dest == Dest::Text)
                    Text(d_ + pos, end - pos, state);
                pos = end;
            }
        }
        return false; // the outer group never closed
    }

private:
    // What follows the document is ignored, unless it closes more groups
    // than it opens.
    bool TailBalanced(qsizetype pos) const
    {
        qsizetype depth = 0;
        for (; pos < n_; ++pos) {
            if (d_[pos] == '\\')
                ++pos;
            else if (d_[pos] == '{')
                ++depth;
            else if (d_[pos] == '}' && --depth < 0)
                return false;
        }
        return true;
    }

    int CodePage(const GroupState &state) const
    {
        if (fontCodePages_.isEmpty())
            return docCodePage_;
        return fontCodePages_.value(state.font >= 0 ? state.font : defaultFont_, docCodePage_);
    }

    // Plain bytes of text, less any \uN fallback still to skip and control
    // characters other than tab, which have no place in the editor.
    void Text(const char *p, qsizetype size, const GroupState &state)
    {
        const qsizetype skip = std::min<qsizetype>(ucLeft_, size);
        ucLeft_ -= int(skip);
        p += skip;
        size -= skip;
        if (state.hidden)
            return;
        const int codePage = CodePage(state);
        const char *end = p + size;
        while (p < end) {
            const char *q = p;
            while (q < end && (static_cast<unsigned char>(*q) >= 0x20 || *q == '\t'))
                ++q;
            if (q > p)
                out_.Bytes(p, q - p, state.format, codePage);
            p = q + 1;
        }
    }

    // A control symbol or word counts as one fallback character after \uN.
    bool SkippedAsFallback()
    {
        if (ucLeft_ <= 0)
            return false;
        --ucLeft_;
        return true;
    }

    void Char(char32_t c, const GroupState &state)
    {
        if (!SkippedAsFallback() && state.dest == Dest::Text && !state.hidden)
            out_.Unit(c, state.format);
    }

    qsizetype Control(qsizetype pos, GroupState &state)
    {
        if (pos + 1 >= n_)
            return n_;
        const char c = d_[pos + 1];
        if (IsLetter(c))
            return Word(pos + 1, state);
        switch (c) {
        case '\'': {
            pos += 2;
            const int high = pos < n_ ? textcore::HexValue(d_[pos]) : -1;
            const int low = high >= 0 && pos + 1 < n_ ? textcore::HexValue(d_[pos + 1]) : -1;
            if (low < 0)
                return high >= 0 ? pos + 1 : pos; // malformed escape: dropped
            const char byte = char(high * 16 + low);
            if (state.dest == Dest::Text && static_cast<unsigned char>(byte) < 0x20 && byte != '\t') {
                SkippedAsFallback();
                return pos + 2;
            }
            if (state.dest == Dest::Text)
                Text(&byte, 1, state);
            return pos + 2;
        }
        case '\\':
        case '{':
        case '}':
            if (state.dest == Dest::Text)
                Text(d_ + pos + 1, 1, state);
            else
                SkippedAsFallback();
            return pos + 2;
        case '~': Char(0x00A0, state); break;
        case '_': Char(0x2011, state); break;
        case '\t': Char(u'\t', state); break;
        case '*': state.dest = Dest::Skip; break;
        case '\r':
        case '\n':
            if (!SkippedAsFallback() && state.dest == Dest::Text)
                out_.Paragraph();
            break;
        default: SkippedAsFallback(); break; // \- optional hyphen and the rest
        }
        return pos + 2;
    }

    qsizetype Word(qsizetype pos, GroupState &state)
    {
        qsizetype i = pos;
        while (i < n_ && IsLetter(d_[i]))
            ++i;
        const std::string_view word(d_ + pos, std::size_t(i - pos));
        bool negative = false;
        if (i + 1 < n_ && d_[i] == '-' && IsDigit(d_[i + 1])) {
            negative = true;
            ++i;
        }
        bool hasParam = false;
        qint64 param = 0;
        for (; i < n_ && IsDigit(d_[i]); ++i) {
            hasParam = true;
            if (param < 1'000'000'000'000LL) // clamp, but keep reading the digits
                param = param * 10 + (d_[i] - '0');
        }
        if (negative)
            param = -param;
        if (i < n_ && d_[i] == ' ')
            ++i;

        const auto &keywords = Keywords();
        const auto it = keywords.find(word);
        if (it == keywords.end()) {
            SkippedAsFallback();
            return i;
        }
        const KwInfo info = it->second;
        if (info.kw == Kw::Bin) {
            // Raw bytes follow, wherever the word appears; they may hold braces.
            SkippedAsFallback();
            return param <= 0 ? i : i + qsizetype(std::min<qint64>(param, n_ - i));
        }
        if (SkippedAsFallback())
            return i;
        const int value = int(std::clamp<qint64>(param, INT_MIN, INT_MAX));
        if (state.dest == Dest::Skip)
            return i;
        if (state.dest == Dest::FontTable) {
            FontTableWord(info.kw, value, state);
            return i;
        }
        TextWord(info, hasParam, value, state);
        return i;
    }

    void FontTableWord(Kw kw, int value, GroupState &state)
    {
        switch (kw) {
        case Kw::Font: font_ = value; break;
        case Kw::FCharset:
            if (const int codePage = CodePageForCharset(value))
                fontCodePages_.insert(font_, codePage);
            break;
        case Kw::Cpg:
            if (value > 0 && value <= 65535)
                fontCodePages_.insert(font_, value);
            break;
        case Kw::SkipDest: state.dest = Dest::Skip; break;
        default: break;
        }
    }

    static void SetBit(GroupState &state, quint8 bit, bool on)
    {
        state.format = on ? (state.format | bit) : (state.format & ~bit);
    }

    void TextWord(const KwInfo &info, bool hasParam, int value, GroupState &state)
    {
        const bool on = !hasParam || value != 0;
        switch (info.kw) {
        case Kw::Par:
        case Kw::Row: out_.Paragraph(); break;
        case Kw::Cell: out_.Cell(state.format); break;
        case Kw::Char:
            if (!state.hidden)
                out_.Unit(info.ch, state.format);
            break;
        case Kw::U: {
            // A signed 16-bit number; some writers give larger code points as is.
            qint64 c = value < 0 ? qint64(value) + 65536 : value;
            if (c < 0 || c > 0x10FFFF)
                c = kReplacement;
            if ((c >= 0x20 || c == '\t') && !state.hidden)
                out_.Unit(char32_t(c), state.format);
            ucLeft_ = state.uc;
            break;
        }
        case Kw::Uc: state.uc = hasParam ? std::clamp(value, 0, 1'000'000) : 1; break;
        case Kw::Bold: SetBit(state, Bold, on); break;
        case Kw::Italic: SetBit(state, Italic, on); break;
        case Kw::Underline: SetBit(state, Underline, on); break;
        case Kw::UnderlineOff: SetBit(state, Underline, false); break;
        case Kw::StrikeOut: SetBit(state, StrikeOut, on); break;
        case Kw::Super:
            SetBit(state, SubScript, false);
            SetBit(state, SuperScript, on);
            break;
        case Kw::Sub:
            SetBit(state, SuperScript, false);
            SetBit(state, SubScript, on);
            break;
        case Kw::NoSuperSub: SetBit(state, SuperScript | SubScript, false); break;
        case Kw::Hidden: state.hidden = on; break;
        case Kw::Plain:
            state.format = 0;
            state.font = -1;
            state.hidden = false;
            break;
        case Kw::Ansi: SetDocCodePage(kDefaultCodePage); break;
        case Kw::Mac: SetDocCodePage(10000); break;
        case Kw::Pc: SetDocCodePage(437); break;
        case Kw::Pca: SetDocCodePage(850); break;
        case Kw::AnsiCpg:
            if (value > 0 && value <= 65535) {
                docCodePage_ = value;
                explicitCodePage_ = true;
            }
            break;
        case Kw::Deff: defaultFont_ = value; break;
        case Kw::Font: state.font = value; break;
        case Kw::FontTable: state.dest = Dest::FontTable; break;
        case Kw::SkipDest: state.dest = Dest::Skip; break;
        default: break;
        }
    }

    // The character set word comes before \ansicpg, which wins.
    void SetDocCodePage(int codePage)
    {
        if (!explicitCodePage_)
            docCodePage_ = codePage;
    }

    const char *d_;
    qsizetype n_;
    Output out_;
    int ucLeft_ = 0; // fallback characters of the last \uN still to skip
    int docCodePage_ = kDefaultCodePage;
    bool explicitCodePage_ = false;
    int defaultFont_ = 0;
    int font_ = 0; // the font table entry being read
    QHash<int, int> fontCodePages_;
};

// Index of the "{\rtf" header, or -1.
qsizetype RtfStart(const QByteArray &data)
{
    qsizetype pos = data.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (pos < data.size() && (data[pos] == ' ' || data[pos] == '\t' || data[pos] == '\r' || data[pos] == '\n'))
        ++pos;
    return QByteArrayView(data).sliced(pos).startsWith("{\\rtf") ? pos : -1;
}

QTextCharFormat CharFormat(quint8 bits)
{
    QTextCharFormat format;
    if (bits & Bold)
        format.setFontWeight(QFont::Bold);
    if (bits & Italic)
        format.setFontItalic(true);
    if (bits & Underline)
        format.setFontUnderline(true);
    if (bits & StrikeOut)
        format.setFontStrikeOut(true);
    if (bits & SuperScript)
        format.setVerticalAlignment(QTextCharFormat::AlignSuperScript);
    else if (bits & SubScript)
        format.setVerticalAlignment(QTextCharFormat::AlignSubScript);
    return format;
}

} // namespace

bool LooksLikeRtf(const QByteArray &data)
{
    return RtfStart(data) >= 0;
}

bool ReadRtf(const QByteArray &data, QTextDocument *document, const std::function<void(const QString &)> &checkText)
{
    if (!document)
        return false;
    ReadText read;
    const qsizetype start = RtfStart(data);
    const bool ok = start >= 0 && Parser(data).Read(start, &read);
    if (ok && checkText)
        checkText(read.text);

    // Loading is not an edit the user could undo.
    const bool undo = document->isUndoRedoEnabled();
    document->setUndoRedoEnabled(false);
    document->clear();
    if (ok && !read.spans.empty()) {
        std::array<std::optional<QTextCharFormat>, kFormatCount> formats;
        QTextCursor cursor(document);
        cursor.beginEditBlock();
        qsizetype from = 0;
        for (const TextSpan &span : read.spans) {
            auto &format = formats[span.format];
            if (!format)
                format = CharFormat(span.format);
            const bool whole = from == 0 && span.end == read.text.size();
            cursor.insertText(whole ? read.text : read.text.sliced(from, span.end - from), *format);
            from = span.end;
        }
        cursor.endEditBlock();
    }
    document->setUndoRedoEnabled(undo);
    return ok;
}
