#include "trust.h"
#include "hexdigits.h"
#include "oneline.h"

namespace {
// SHA-256 is 32 octets.
constexpr qsizetype FingerprintOctets = 32;

// A certificate's names can be as long as its issuer likes; the dialog
// shows a line, not a page.
constexpr qsizetype MaxDisplayLength = 512;
} // namespace

QString NormalFingerprint(const QString &text)
{
    QByteArray hex;
    hex.reserve(FingerprintOctets * 2);
    for (const QChar c : QStringView(text).trimmed()) {
        if (c == QLatin1Char(':'))
            continue;
        if (c.unicode() > 0x7f || textcore::HexValue(char(c.unicode())) < 0
            || hex.size() == FingerprintOctets * 2)
            return {};
        hex.append(char(c.unicode()));
    }
    if (hex.size() != FingerprintOctets * 2)
        return {};
    return QString::fromLatin1(QByteArray::fromHex(hex).toHex(':').toUpper());
}

bool SameFingerprint(const QString &a, const QString &b)
{
    const QString normal = NormalFingerprint(a);
    return !normal.isEmpty() && normal == NormalFingerprint(b);
}

QString OneLineForDisplay(const QString &text)
{
    // Names compared by eye: every invisible character is marked, and each
    // blank stays one blank, so a name reads with the spacing it has.
    textcore::OneLineRules rules;
    rules.collapseBlanks = false;
    rules.markAllFormatCharacters = true;
    rules.maxChars = MaxDisplayLength;
    return textcore::OneLine(text, rules);
}
