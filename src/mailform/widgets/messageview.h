#pragma once
#include <QPlainTextEdit>

// The Get Mail page's view of a retrieved message. Received text is added
// at the end through a cursor, shaped for the document (viewtext.h), with no
// undo history; the user may still select, copy and edit it.
//
// Lines grouped into one paragraph are joined by line separators; assistive
// technology reads them as plain line breaks, one character for one, so
// that every offset it is given still points at the same place.
class TMessageView : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TMessageView(QWidget *parent = nullptr);
    // Appends text whose lines end in '\n'.
    void AppendReceived(const QString &text);
};
