#pragma once
#include <QByteArray>
#include <QString>

#include <functional>

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
// The parser is iterative and linear in the input size. checkText, when
// given, sees the text before the document is built and may throw to
// refuse it (building a document is far dearer than reading the RTF).
bool ReadRtf(const QByteArray &data, QTextDocument *document,
             const std::function<void(const QString &text)> &checkText = {});
