#pragma once
#include <QString>

// How received text is laid into the message view's document, which pays
// for every paragraph (block) inserted and lays out a visible paragraph
// again whole on every change to it. Lines are grouped into paragraphs of
// about kParagraphChars characters, joined by line separators (U+2028,
// shown and copied as line breaks), and a line longer than kLongLineChars is
// broken into paragraphs, after a space where there is one within
// kNoSpaceSlack more characters, else where it reaches that, never inside a
// surrogate pair or before a combining mark.
namespace viewtext {

constexpr qsizetype kParagraphChars = 1024;
constexpr qsizetype kLongLineChars = 8192;
constexpr qsizetype kNoSpaceSlack = 1024;

// Text with '\n' line ends as the view takes it, continuing a last
// paragraph of paragraphChars characters whose last line has lineChars.
// A line that holds a direction control that embeds, overrides or isolates
// ends its paragraph: a line separator does not end their effect, so the
// sender's lines after it would show reordered. `directionOpen` tells that
// the last line so far holds one.
QString Paragraphs(const QString &text, qsizetype paragraphChars, qsizetype lineChars, bool directionOpen = false);

// The text holds a control that starts an embedding, override or isolate
// (U+202A, U+202B, U+202D, U+202E, U+2066-U+2068).
bool OpensDirection(QStringView text);

} // namespace viewtext
