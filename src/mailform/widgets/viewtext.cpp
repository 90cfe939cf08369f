#include "viewtext.h"

#include <cstring>

namespace viewtext {

bool OpensDirection(QStringView text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u >= 0x202A && u <= 0x202E && u != 0x202C) || (u >= 0x2066 && u <= 0x2068))
            return true;
    }
    return false;
}

namespace {

bool InDirectionRange(char16_t u)
{
    return char16_t(u - 0x202A) <= 0x2068 - 0x202A;
}

// Whether the text may hold a direction control, four characters at a
// time: a group with none at or above U+2000 holds none, so text without
// them (nearly all) is not searched line by line.
bool MayOpenDirection(QStringView text)
{
    const char16_t *p = text.utf16();
    const qsizetype n = text.size();
    qsizetype i = 0;
    for (; i + 4 <= n; i += 4) {
        quint64 group;
        std::memcpy(&group, p + i, sizeof group);
        if ((group & 0xE000E000E000E000ULL) &&
            (InDirectionRange(p[i]) || InDirectionRange(p[i + 1]) || InDirectionRange(p[i + 2]) ||
             InDirectionRange(p[i + 3])))
            return true;
    }
    for (; i < n; ++i)
        if (InDirectionRange(p[i]))
            return true;
    return false;
}

} // namespace

QString Paragraphs(const QString &text, qsizetype paragraphChars, qsizetype lineChars, bool directionOpen)
{
    const bool mayOpen = MayOpenDirection(text);
    QString out;
    out.reserve(text.size() + text.size() / kLongLineChars + 1);
    const QChar *p = text.constData();
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), i);
        if (end < 0)
            end = n;
        // The line's characters, broken where it grows too long.
        while (lineChars + (end - i) > kLongLineChars) {
            qsizetype cut = i + qMax<qsizetype>(0, kLongLineChars - lineChars);
            const qsizetype last = qMin(end, i + qMax<qsizetype>(0, kLongLineChars + kNoSpaceSlack - lineChars));
            while (cut < last && p[cut] != QLatin1Char(' '))
                ++cut;
            if (cut < end && p[cut] == QLatin1Char(' ')) {
                ++cut; // the space stays on the first part
            } else if (cut >= end) {
                break; // the line ends before a break is due
            } else {
                // No space near: never between the halves of a surrogate
                // pair or before a combining mark.
                while (cut > i && (p[cut].isLowSurrogate() || p[cut].isMark()))
                    --cut;
                if (cut == i)
                    cut = last;
            }
            out.append(p + i, cut - i);
            out += QLatin1Char('\n');
            i = cut;
            paragraphChars = lineChars = 0;
            directionOpen = false;
        }
        out.append(p + i, end - i);
        paragraphChars += end - i;
        lineChars += end - i;
        directionOpen = directionOpen || (mayOpen && OpensDirection(QStringView(p + i, end - i)));
        if (end == n)
            break;
        if (paragraphChars >= kParagraphChars || directionOpen) {
            out += QLatin1Char('\n');
            paragraphChars = 0;
        } else {
            out += QChar(QChar::LineSeparator);
            ++paragraphChars;
        }
        lineChars = 0;
        directionOpen = false;
        i = end + 1;
    }
    return out;
}

} // namespace viewtext
