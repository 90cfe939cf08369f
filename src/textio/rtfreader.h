#pragma once
#include <QByteArray>
class QTextDocument;

// True when the bytes look like RTF: "{\rtf" at the start, after an optional
// UTF-8 byte order mark and ASCII white space (some tools write either).
bool LooksLikeRtf(const QByteArray &data);

// Reads RTF into the document, replacing its content: the text with its
// paragraphs, tabs and special characters, and bold, italic, underline,
// strike-out and super/subscript as character formats (hidden text is left
// out). Returns false, leaving the document empty, when the data is not
// well-formed enough to read: no "{\rtf" header, unbalanced braces, or groups
// nested deeper than 1000.
// The parser is iterative and linear in the input size.
bool ReadRtf(const QByteArray &data, QTextDocument *document);
