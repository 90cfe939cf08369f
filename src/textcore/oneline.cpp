#include "oneline.h"

namespace textcore {

namespace {

constexpr char32_t kReplacementMark = 0xFFFD;
constexpr char16_t kEllipsis = 0x2026;
// Blanks a sender may space words with; a longer run is padding, which can
// push what follows to a wrapped line of its own, and shows as one space.
constexpr qsizetype kMaxBlankRun = 8;

// The controls whose effect lasts past themselves, up to the end of the
// paragraph: the embeddings, overrides and isolates, with their ends. The
// marks (LRM, RLM, ALM) act as one letter and stay.
bool IsDirectionControl(char32_t c)
{
    return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// Characters that draw nothing but take room: what padding is made of.
// Besides the spaces, the letters that fonts leave empty.
bool IsBlank(char32_t c)
{
    switch (c) {
    case 0x115F: // Hangul fillers
    case 0x1160:
    case 0x3164:
    case 0xFFA0:
    case 0x2800: // braille pattern blank
        return true;
    default:
        return QChar::isSpace(c); // tab, line breaks, NEL and every separator
    }
}

char32_t CodeAt(QStringView text, qsizetype at, qsizetype *units)
{
    const QChar c = text[at];
    if (c.isHighSurrogate() && at + 1 < text.size() && text[at + 1].isLowSurrogate()) {
        *units = 2;
        return QChar::surrogateToUcs4(c, text[at + 1]);
    }
    *units = 1;
    return c.unicode(); // a lone surrogate stays one code, and is marked
}

char32_t Shown(char32_t c, const OneLineRules &rules)
{
    switch (QChar::category(c)) {
    case QChar::Other_Control:
        return QChar::isSpace(c) ? U' ' : kReplacementMark;
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return U' ';
    case QChar::Other_Format:
        return rules.markAllFormatCharacters || IsDirectionControl(c) ? kReplacementMark : c;
    case QChar::Other_Surrogate:
        return kReplacementMark;
    default:
        return c;
    }
}

// Zero-width characters between blanks would keep a run of padding apart.
bool JoinsBlanks(char32_t c, const OneLineRules &rules)
{
    return IsBlank(c) || (QChar::category(c) == QChar::Other_Format && Shown(c, rules) == c);
}

} // namespace

QString OneLine(QStringView text, const OneLineRules &rules)
{
    QString shown;
    shown.reserve(rules.maxChars >= 0 ? qMin(text.size(), rules.maxChars + 1) : text.size());
    const qsizetype n = text.size();
    qsizetype units = 0;
    for (qsizetype i = 0; i < n; i += units) {
        if (rules.maxChars >= 0 && shown.size() >= rules.maxChars) {
            shown.append(QChar(kEllipsis));
            break;
        }
        const char32_t c = CodeAt(text, i, &units);
        if (rules.collapseBlanks && IsBlank(c)) {
            qsizetype end = i + units;
            qsizetype codes = 1;
            for (qsizetype more = 0; end < n && JoinsBlanks(CodeAt(text, end, &more), rules); end += more)
                ++codes;
            const bool atEnds = shown.isEmpty() || end == n;
            if (!atEnds && codes <= kMaxBlankRun) {
                // Spacing the sender chose shows as written.
                for (qsizetype at = i, more = 0; at < end; at += more)
                    shown.append(QChar::fromUcs4(Shown(CodeAt(text, at, &more), rules)));
            } else if (!atEnds) {
                shown.append(QLatin1Char(' '));
            }
            units = end - i;
            continue;
        }
        shown.append(QChar::fromUcs4(Shown(c, rules)));
    }
    return shown;
}

} // namespace textcore
