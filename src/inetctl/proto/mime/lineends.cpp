#include "lineends.h"

namespace mime {

QString LineEnds::Feed(QStringView text)
{
    qsizetype from = 0;
    if (m_afterCR && text.startsWith(QLatin1Char('\n')))
        from = 1; // the second half of a CR LF whose CR ended the last piece
    if (!text.isEmpty())
        m_afterCR = text.endsWith(QLatin1Char('\r'));
    qsizetype cr = text.indexOf(QLatin1Char('\r'), from);
    if (cr < 0)
        return text.sliced(from).toString();
    QString out;
    out.reserve(text.size() - from);
    while (cr >= 0) {
        out += text.sliced(from, cr - from);
        out += QLatin1Char('\n');
        from = cr + 1;
        if (from < text.size() && text[from] == QLatin1Char('\n'))
            ++from;
        cr = text.indexOf(QLatin1Char('\r'), from);
    }
    out += text.sliced(from);
    return out;
}

} // namespace mime
