#include "lineends.h"

#include <cstring>

namespace mime {

QString LineEnds::Feed(QString text)
{
    qsizetype from = 0;
    if (m_afterCR && text.startsWith(QLatin1Char('\n')))
        from = 1; // the second half of a CR LF whose CR ended the last piece
    if (!text.isEmpty())
        m_afterCR = text.endsWith(QLatin1Char('\r'));
    qsizetype cr = text.indexOf(QLatin1Char('\r'), from);
    if (cr < 0)
        return from == 0 ? text : text.sliced(from);
    // Lines move down in place: mail has a CR on every line, and building a
    // new text a line at a time would cost more than the copy itself.
    QChar *base = text.data();
    QChar *to = base;
    while (cr >= 0) {
        std::memmove(to, base + from, size_t(cr - from) * sizeof(QChar));
        to += cr - from;
        *to++ = QLatin1Char('\n');
        from = cr + 1;
        if (from < text.size() && base[from] == QLatin1Char('\n'))
            ++from;
        cr = text.indexOf(QLatin1Char('\r'), from);
    }
    std::memmove(to, base + from, size_t(text.size() - from) * sizeof(QChar));
    to += text.size() - from;
    text.truncate(to - base);
    return text;
}

} // namespace mime
