#include "smtpreply.h"

namespace smtp {

namespace {
QString Printable(QByteArrayView bytes)
{
    QString text = QString::fromUtf8(bytes.first(qMin<qsizetype>(bytes.size(), 60)));
    for (QChar &c : text)
        if (c.unicode() < 32 || c.unicode() == 127)
            c = QLatin1Char('?');
    return text;
}

bool ValidCode(QByteArrayView line)
{
    // RFC 5321 4.2: first digit 2-5, second 0-5, third 0-9.
    return line.size() >= 3 && line[0] >= '2' && line[0] <= '5' && line[1] >= '0' && line[1] <= '5'
           && line[2] >= '0' && line[2] <= '9';
}
} // namespace

QString Reply::Text() const
{
    QStringList parts;
    for (const QByteArray &line : lines)
        if (!line.trimmed().isEmpty())
            parts.append(QString::fromUtf8(line.trimmed()));
    return parts.join(QLatin1Char(' '));
}

QStringList Reply::RawLines() const
{
    QStringList raw;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const bool last = i + 1 == lines.size();
        QString line = QString::number(code);
        if (!lines[i].isEmpty() || !last)
            line += QLatin1Char(last ? ' ' : '-') + QString::fromUtf8(lines[i]);
        raw.append(line);
    }
    return raw;
}

ParseResult ParseReply(QByteArrayView data, Reply *reply, qsizetype *consumed, QString *error)
{
    Reply result;
    qsizetype pos = 0;
    for (;;) {
        QByteArrayView line;
        qsizetype used = 0;
        const ParseResult taken = net::TakeLine(data.sliced(pos), kMaxReplyLine, &line, &used);
        if (taken == ParseResult::Invalid)
            *error = QStringLiteral("Reply line longer than %1 bytes").arg(kMaxReplyLine);
        if (taken != ParseResult::Complete)
            return taken;
        pos += used;
        const qsizetype length = line.size();
        if (!ValidCode(line) || (length > 3 && line[3] != ' ' && line[3] != '-')) {
            *error = QStringLiteral("Malformed reply \"%1\"").arg(Printable(line));
            return ParseResult::Invalid;
        }
        const int code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
        if (!result.lines.isEmpty() && code != result.code) {
            *error = QStringLiteral("Reply changes its code from %1 to %2").arg(result.code).arg(code);
            return ParseResult::Invalid;
        }
        result.code = code;
        result.lines.append(length > 4 ? line.sliced(4).toByteArray() : QByteArray());
        if (length == 3 || line[3] == ' ') {
            result.multiline = result.lines.size() > 1;
            *reply = result;
            *consumed = pos;
            return ParseResult::Complete;
        }
        if (result.lines.size() >= kMaxReplyLines) {
            *error = QStringLiteral("Reply longer than %1 lines").arg(kMaxReplyLines);
            return ParseResult::Invalid;
        }
    }
}

} // namespace smtp
