#include "messageid.h"
#include "smtp/smtpaddress.h"

#include <QAtomicInteger>
#include <QRandomGenerator>
#include <QRegularExpression>

namespace {

// Keeps the recognisable characters, turns the rest into "_", and never
// leaves an empty atom or a dot at either end.
QString DotAtom(const QString &text, const QString &fallback)
{
    QString out;
    for (QChar c : text)
        out += (smtp::IsAtext(c) || c == QLatin1Char('.')) ? c : QLatin1Char('_');
    out.replace(QRegularExpression(QStringLiteral("\\.{2,}")), QStringLiteral("."));
    while (out.startsWith(QLatin1Char('.')))
        out.remove(0, 1);
    while (out.endsWith(QLatin1Char('.')))
        out.chop(1);
    return out.isEmpty() ? fallback : out;
}

} // namespace

QString MakeMessageId(const QString &title, const QString &returnAddress, const QDateTime &now)
{
    static QAtomicInteger<quint32> counter;
    // "Name <user@host>" gives user@host; a bare text is taken whole.
    QString address = returnAddress.trimmed();
    const qsizetype open = address.lastIndexOf(QLatin1Char('<'));
    const qsizetype close = address.lastIndexOf(QLatin1Char('>'));
    if (open >= 0 && close > open)
        address = address.mid(open + 1, close - open - 1).trimmed();
    const qsizetype at = address.lastIndexOf(QLatin1Char('@'));
    const QString local = DotAtom(at >= 0 ? address.left(at) : address, QStringLiteral("unknown"));
    const QString domain = DotAtom(at >= 0 ? address.mid(at + 1) : QString(), QStringLiteral("localhost"));
    const QString unique = QStringLiteral("%1%2")
                               .arg(QRandomGenerator::global()->generate() & 0xffffff, 6, 16, QLatin1Char('0'))
                               .arg(counter.fetchAndAddRelaxed(1) & 0xff, 2, 16, QLatin1Char('0'));
    return QStringLiteral("<%1_%2_%3_%4@%5>")
        .arg(DotAtom(title, QStringLiteral("Orvanta_Mail")),
             now.toString(QStringLiteral("yyyyMMdd'T'HHmmss.zzz")), unique, local, domain);
}
