#pragma once
#include <QPlainTextEdit>

// The Get Mail page's view of a retrieved message. Received text is added
// at the end through a cursor, shaped for the document (viewtext.h), with no
// undo history; the user may still select, copy and edit it.
//
// While received text goes in, the view repaints and works out its scroll
// range once per turn of the event loop, not once per piece: both lay out
// text (the scroll range the last screenful of the document), which cost
// more than the text itself when a message arrives in many pieces. User
// input and the accessible text interface bring the view up to date first.
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
    // Repaints and recomputes the scroll range for what was appended since
    // the last turn of the event loop; called by the view itself.
    void CatchUp();

protected:
    bool event(QEvent *e) override;
    bool viewportEvent(QEvent *e) override;

private:
    class ReceivingLayout;
    ReceivingLayout *m_layout = nullptr;
    bool m_catchUpPosted = false;
};
