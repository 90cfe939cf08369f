#include "smtpaddress.h"

#include <QStringList>

namespace smtp {

bool IsAtext(QChar c)
{
    if (c.unicode() > 126)
        return false;
    if (c.isLetterOrNumber())
        return true;
    return QStringLiteral("!#$%&'*+-/=?^_`{|}~").contains(c);
}

namespace {

bool IsDotAtom(const QString &text)
{
    if (text.isEmpty() || text.startsWith(QLatin1Char('.')) || text.endsWith(QLatin1Char('.'))
        || text.contains(QStringLiteral("..")))
        return false;
    for (QChar c : text)
        if (c != QLatin1Char('.') && !IsAtext(c))
            return false;
    return true;
}

bool IsQuotedLocal(const QString &text)
{
    if (text.size() < 2 || !text.startsWith(QLatin1Char('"')) || !text.endsWith(QLatin1Char('"')))
        return false;
    for (qsizetype i = 1; i + 1 < text.size(); ++i) {
        const ushort c = text[i].unicode();
        if (c < 32 || c > 126)
            return false;
        if (c == '\\') {
            if (++i + 1 >= text.size())
                return false;
        } else if (c == '"') {
            return false;
        }
    }
    return true;
}

bool IsHostName(const QString &domain)
{
    if (domain.isEmpty() || domain.size() > kMaxDomain)
        return false;
    const QStringList labels = domain.split(QLatin1Char('.'));
    for (const QString &label : labels) {
        if (label.isEmpty() || label.size() > 63 || label.startsWith(QLatin1Char('-'))
            || label.endsWith(QLatin1Char('-')))
            return false;
        for (QChar c : label)
            if (c.unicode() > 126 || !(c.isLetterOrNumber() || c == QLatin1Char('-')))
                return false;
    }
    return true;
}

bool IsAddressLiteral(const QString &domain)
{
    if (!domain.startsWith(QLatin1Char('[')) || !domain.endsWith(QLatin1Char(']')) || domain.size() < 3)
        return false;
    for (QChar c : domain.mid(1, domain.size() - 2)) {
        const ushort u = c.unicode();
        if (u < 33 || u > 126 || u == '[' || u == ']' || u == '\\')
            return false;
    }
    return true;
}

QString Unquote(QString text)
{
    text = text.trimmed();
    if (text.size() >= 2 && text.startsWith(QLatin1Char('"')) && text.endsWith(QLatin1Char('"'))) {
        QString plain;
        for (qsizetype i = 1; i + 1 < text.size(); ++i) {
            if (text[i] == QLatin1Char('\\') && i + 2 < text.size())
                ++i;
            plain += text[i];
        }
        return plain;
    }
    return text;
}

QStringList SplitTopLevel(const QString &text, bool *balanced)
{
    QStringList parts;
    QString current;
    bool quoted = false;
    int angle = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            current += c;
            if (c == QLatin1Char('\\') && i + 1 < text.size())
                current += text[++i];
            else if (c == QLatin1Char('"'))
                quoted = false;
            continue;
        }
        if (c == QLatin1Char('"'))
            quoted = true;
        else if (c == QLatin1Char('<'))
            ++angle;
        else if (c == QLatin1Char('>'))
            --angle;
        if (c == QLatin1Char(',') && angle == 0) {
            parts.append(current);
            current.clear();
            continue;
        }
        current += c;
    }
    parts.append(current);
    *balanced = !quoted && angle == 0;
    return parts;
}

} // namespace

bool IsValidAddress(const QString &address)
{
    if (address.isEmpty() || address.size() > kMaxAddress)
        return false;
    const qsizetype at = address.lastIndexOf(QLatin1Char('@'));
    if (at <= 0 || at + 1 >= address.size())
        return false;
    const QString local = address.left(at);
    const QString domain = address.mid(at + 1);
    if (local.size() > kMaxLocalPart)
        return false;
    if (!IsDotAtom(local) && !IsQuotedLocal(local))
        return false;
    return IsHostName(domain) || IsAddressLiteral(domain);
}

AddressList ParseAddressList(const QString &text)
{
    AddressList result;
    bool balanced = true;
    const QStringList elements = SplitTopLevel(text, &balanced);
    if (!balanced) {
        result.error = text.trimmed();
        return result;
    }
    for (const QString &raw : elements) {
        const QString element = raw.trimmed();
        if (element.isEmpty())
            continue;
        Mailbox mailbox;
        for (QChar c : element) {
            if (c.unicode() < 32 || c.unicode() == 127) { // no line breaks or controls anywhere
                result.error = element;
                return result;
            }
        }
        const qsizetype open = element.lastIndexOf(QLatin1Char('<'));
        if (open >= 0) {
            if (!element.endsWith(QLatin1Char('>'))) {
                result.error = element;
                return result;
            }
            mailbox.address = element.mid(open + 1, element.size() - open - 2).trimmed();
            mailbox.displayName = Unquote(element.left(open));
            if (mailbox.displayName.contains(QLatin1Char('<')) || mailbox.displayName.contains(QLatin1Char('>'))) {
                result.error = element;
                return result;
            }
        } else {
            mailbox.address = element;
        }
        if (!IsValidAddress(mailbox.address)) {
            result.error = element;
            return result;
        }
        result.mailboxes.append(mailbox);
    }
    result.ok = !result.mailboxes.isEmpty();
    if (!result.ok)
        result.error = QStringLiteral("no address");
    return result;
}

} // namespace smtp
