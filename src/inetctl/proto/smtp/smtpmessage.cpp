#include "smtpmessage.h"

#include <QTimeZone>

namespace smtp {

namespace {

bool IsAscii(const QString &text)
{
    for (QChar c : text)
        if (c.unicode() > 126)
            return false;
    return true;
}

bool ValidName(const QString &name)
{
    if (name.isEmpty())
        return false;
    for (QChar c : name) // RFC 5322 2.2: printable US-ASCII except colon
        if (c.unicode() < 33 || c.unicode() > 126 || c == QLatin1Char(':'))
            return false;
    return true;
}

// Control characters other than TAB have no place in a header value; CR and
// LF would start a header (or a body) of the caller's choosing.
bool ValidValue(const QString &value)
{
    for (QChar c : value)
        if ((c.unicode() < 32 && c != QLatin1Char('\t')) || c.unicode() == 127)
            return false;
    return true;
}

bool IsAddressHeader(const QString &name)
{
    static const QStringList names{QStringLiteral("from"), QStringLiteral("to"), QStringLiteral("cc"),
                                   QStringLiteral("bcc"), QStringLiteral("reply-to"),
                                   QStringLiteral("sender")};
    return names.contains(name.toLower());
}

QByteArray QuoteIfNeeded(const QString &name)
{
    static const QString specials = QStringLiteral("()<>[]:;@\\,.\"");
    bool quote = false;
    for (QChar c : name)
        if (specials.contains(c))
            quote = true;
    if (!quote)
        return name.toLatin1();
    QString escaped = name;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return '"' + escaped.toLatin1() + '"';
}

// An address header whose display names are not ASCII: each name becomes
// encoded words, the addresses stay readable to every server on the way.
bool EncodeAddressValue(const QString &value, QByteArray *out)
{
    const AddressList list = ParseAddressList(value);
    if (!list.ok)
        return false;
    QList<QByteArray> parts;
    for (const Mailbox &mailbox : list.mailboxes) {
        if (mailbox.displayName.isEmpty())
            parts.append(mailbox.address.toLatin1());
        else if (IsAscii(mailbox.displayName))
            parts.append(QuoteIfNeeded(mailbox.displayName) + " <" + mailbox.address.toLatin1() + '>');
        else
            parts.append(EncodeWords(mailbox.displayName) + " <" + mailbox.address.toLatin1() + '>');
    }
    *out = parts.join(", ");
    return true;
}

// Folds a header line longer than RFC 5322 allows at its last whitespace
// before the limit; false when there is none.
bool FoldLine(const QByteArray &line, QByteArray *out)
{
    QByteArray rest = line;
    QByteArray folded;
    while (rest.size() > kMaxLineOctets) {
        qsizetype cut = -1;
        for (qsizetype i = kMaxLineOctets; i > 0; --i)
            if (rest[i] == ' ' || rest[i] == '\t') {
                cut = i;
                break;
            }
        if (cut <= 0)
            return false;
        folded += rest.left(cut) + "\r\n";
        rest = rest.mid(cut);
    }
    *out = folded + rest;
    return true;
}

QByteArray ContentTypeFor(const QString &programValue, const QByteArray &charset)
{
    // Keep the program's media type and its other parameters; only the
    // charset must match what the body really is.
    QString value = programValue.trimmed();
    qsizetype typeEnd = 0;
    while (typeEnd < value.size() && value[typeEnd] != QLatin1Char(';') && !value[typeEnd].isSpace())
        ++typeEnd;
    const QString type = value.left(typeEnd);
    QByteArray result = type.toLatin1() + "; charset=" + charset;
    const QStringList params = value.mid(typeEnd).split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString &param : params) {
        const QString p = param.trimmed();
        if (p.isEmpty() || p.startsWith(QStringLiteral("charset"), Qt::CaseInsensitive))
            continue;
        result += "; " + p.toLatin1();
    }
    return result;
}

} // namespace

QByteArray Rfc5322Date(const QDateTime &when)
{
    static const char *days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static const char *months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QDate d = when.date();
    const QTime t = when.time();
    const int offset = when.offsetFromUtc() / 60;
    const int absOffset = qAbs(offset);
    return QStringLiteral("%1, %2 %3 %4 %5:%6:%7 %8%9%10")
        .arg(QLatin1String(days[d.dayOfWeek() - 1]))
        .arg(d.day(), 2, 10, QLatin1Char('0'))
        .arg(QLatin1String(months[d.month() - 1]))
        .arg(d.year())
        .arg(t.hour(), 2, 10, QLatin1Char('0'))
        .arg(t.minute(), 2, 10, QLatin1Char('0'))
        .arg(t.second(), 2, 10, QLatin1Char('0'))
        .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
        .arg(absOffset / 60, 2, 10, QLatin1Char('0'))
        .arg(absOffset % 60, 2, 10, QLatin1Char('0'))
        .toLatin1();
}

QByteArray EncodeWords(const QString &text)
{
    // RFC 2047 2: an encoded word is at most 75 characters; 45 octets of
    // UTF-8 give 60 of base64 plus 12 of framing. Characters are not split
    // between words.
    const QByteArray utf8 = text.toUtf8();
    QList<QByteArray> words;
    qsizetype start = 0;
    while (start < utf8.size()) {
        qsizetype end = qMin<qsizetype>(start + 45, utf8.size());
        while (end < utf8.size() && end > start && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80)
            --end;
        words.append("=?UTF-8?B?" + utf8.mid(start, end - start).toBase64() + "?=");
        start = end;
    }
    return words.join("\r\n ");
}

Envelope BuildEnvelope(const HeaderList &headers, BodyEncoding encoding, const QByteArray &charset,
                       const QDateTime &now)
{
    Envelope env;
    bool hasDate = false, hasMime = false, hasType = false;
    const bool encoded = encoding != BodyEncoding::SevenBit;
    const bool relabel = charset != "US-ASCII";
    QByteArray block;
    QString fromValue;
    QStringList recipientValues;

    for (const auto &[name, value] : headers) {
        if (!ValidName(name)) {
            env.error = QStringLiteral("Header name \"%1\" is not valid").arg(name);
            env.headerError = true;
            return env;
        }
        if (!ValidValue(value)) {
            env.error = QStringLiteral("Header \"%1\" contains a line break or control character").arg(name);
            env.headerError = true;
            return env;
        }
        const QString lower = name.toLower();
        if (lower == QLatin1String("from") && fromValue.isNull())
            fromValue = value;
        if (lower == QLatin1String("to") || lower == QLatin1String("cc"))
            recipientValues.append(value);
        hasDate |= lower == QLatin1String("date");
        hasMime |= lower == QLatin1String("mime-version");
        if (lower == QLatin1String("content-transfer-encoding") && encoded)
            continue; // replaced by the label of the encoding really used
        QByteArray text;
        if (lower == QLatin1String("content-type")) {
            hasType = true;
            const bool textType = value.trimmed().startsWith(QStringLiteral("text/"), Qt::CaseInsensitive);
            if (relabel && textType)
                text = ContentTypeFor(value, charset);
        }
        if (text.isNull()) {
            if (IsAscii(value))
                text = value.toLatin1();
            else if (!IsAddressHeader(name) || !EncodeAddressValue(value, &text))
                text = EncodeWords(value);
        }
        QByteArray line = name.toLatin1() + ':';
        if (!text.isEmpty())
            line += ' ' + text;
        QByteArray folded;
        if (!FoldLine(line, &folded)) {
            env.error = QStringLiteral("Header \"%1\" is too long to send").arg(name);
            env.headerError = true;
            return env;
        }
        block += folded + "\r\n";
    }

    if (!hasDate)
        block += "Date: " + Rfc5322Date(now) + "\r\n";
    if (encoded) {
        if (!hasMime)
            block += "MIME-Version: 1.0\r\n";
        if (!hasType)
            block += "Content-Type: text/plain; charset=" + charset + "\r\n";
        block += encoding == BodyEncoding::EightBit ? "Content-Transfer-Encoding: 8bit\r\n"
                                                    : "Content-Transfer-Encoding: quoted-printable\r\n";
    }
    block += "\r\n";

    const AddressList from = ParseAddressList(fromValue);
    if (!from.ok) {
        env.error = fromValue.trimmed().isEmpty()
                        ? QStringLiteral("The document has no sender address (From)")
                        : QStringLiteral("Sender address \"%1\" is not valid").arg(from.error);
        return env;
    }
    env.sender = from.mailboxes.first().address;
    for (const QString &value : std::as_const(recipientValues)) {
        if (value.trimmed().isEmpty())
            continue; // an empty CC is no recipient
        const AddressList list = ParseAddressList(value);
        if (!list.ok) {
            env.error = QStringLiteral("Recipient address \"%1\" is not valid").arg(list.error);
            return env;
        }
        for (const Mailbox &mailbox : list.mailboxes)
            if (!env.recipients.contains(mailbox.address, Qt::CaseInsensitive))
                env.recipients.append(mailbox.address);
    }
    if (env.recipients.isEmpty()) {
        env.error = QStringLiteral("The document has no recipient (To or CC)");
        return env;
    }
    env.headers = block;
    env.ok = true;
    return env;
}

} // namespace smtp
