#pragma once
#include <QString>
#include <QStringView>

namespace textcore {

// How much of a peer's blanks and invisible characters a one-line text keeps.
struct OneLineRules {
    // Long runs of blanks shown as one space, none at the ends: padding
    // would otherwise push what follows to the start of a wrapped line,
    // where it passes for a line of its own.
    bool collapseBlanks = true;
    // Every invisible format character marked (zero-width joiners, soft
    // hyphens, direction marks), not only the direction controls: for names
    // that must be compared by eye, where no letter may hide. Text that
    // people write keeps them, since emoji and some scripts need them.
    bool markAllFormatCharacters = false;
    // Longer text is cut and ends in an ellipsis; negative: never cut.
    qsizetype maxChars = -1;
};

// Text from a peer made safe to show on one line, so that it can neither
// start a new line nor reorder what follows it:
// - a line break (CR, LF, VT, FF, NEL, U+2028, U+2029) or a tab reads as a
//   blank, as a folded line reads once unfolded;
// - any other control character, a lone surrogate and every direction
//   control that embeds, overrides or isolates (U+202A-U+202E,
//   U+2066-U+2069) becomes U+FFFD, the replacement mark: they draw nothing
//   in most fonts, and a mark shows the reader that something was there.
// Linear in the text's length.
QString OneLine(QStringView text, const OneLineRules &rules = {});

} // namespace textcore
