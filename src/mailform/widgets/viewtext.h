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
QString Paragraphs(const QString &text, qsizetype paragraphChars, qsizetype lineChars);

} // namespace viewtext
