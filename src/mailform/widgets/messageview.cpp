#include "messageview.h"
#include "viewtext.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace {

QString PlainBreaks(QString text)
{
    return text.replace(QChar(QChar::LineSeparator), QLatin1Char('\n'))
        .replace(QChar(QChar::ParagraphSeparator), QLatin1Char('\n'));
}

// The view's text as assistive technology reads and edits it.
class AccessibleMessageView : public QAccessibleWidget,
                              public QAccessibleTextInterface,
                              public QAccessibleEditableTextInterface {
public:
    explicit AccessibleMessageView(TMessageView *view) : QAccessibleWidget(view, QAccessible::EditableText) {}

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        if (type == QAccessible::EditableTextInterface)
            return static_cast<QAccessibleEditableTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.editable = !View()->isReadOnly();
        s.readOnly = View()->isReadOnly();
        s.multiLine = true;
        s.selectableText = true;
        return s;
    }

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Value)
            return View()->toPlainText();
        return QAccessibleWidget::text(kind);
    }

    // QAccessibleTextInterface
    QString text(int startOffset, int endOffset) const override
    {
        QTextCursor cursor = Cursor(startOffset);
        cursor.setPosition(Clamp(endOffset), QTextCursor::KeepAnchor);
        return PlainBreaks(cursor.selectedText());
    }
    int characterCount() const override { return View()->document()->characterCount() - 1; }
    int cursorPosition() const override { return View()->textCursor().position(); }
    void setCursorPosition(int position) override { View()->setTextCursor(Cursor(position)); }
    int selectionCount() const override { return View()->textCursor().hasSelection() ? 1 : 0; }
    void selection(int index, int *startOffset, int *endOffset) const override
    {
        const QTextCursor cursor = View()->textCursor();
        const bool has = index == 0 && cursor.hasSelection();
        *startOffset = has ? cursor.selectionStart() : 0;
        *endOffset = has ? cursor.selectionEnd() : 0;
    }
    void addSelection(int startOffset, int endOffset) override { setSelection(0, startOffset, endOffset); }
    void removeSelection(int index) override
    {
        if (index != 0)
            return;
        QTextCursor cursor = View()->textCursor();
        cursor.clearSelection();
        View()->setTextCursor(cursor);
    }
    void setSelection(int index, int startOffset, int endOffset) override
    {
        if (index != 0)
            return;
        QTextCursor cursor = Cursor(startOffset);
        cursor.setPosition(Clamp(endOffset), QTextCursor::KeepAnchor);
        View()->setTextCursor(cursor);
    }
    QRect characterRect(int offset) const override
    {
        const QRect r = View()->cursorRect(Cursor(offset));
        return QRect(View()->viewport()->mapToGlobal(r.topLeft()), r.size());
    }
    int offsetAtPoint(const QPoint &point) const override
    {
        return View()->cursorForPosition(View()->viewport()->mapFromGlobal(point)).position();
    }
    void scrollToSubstring(int startIndex, int endIndex) override
    {
        setSelection(0, startIndex, endIndex);
        View()->ensureCursorVisible();
    }
    QString attributes(int offset, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = offset;
        return QString();
    }

    // QAccessibleEditableTextInterface
    void deleteText(int startOffset, int endOffset) override { replaceText(startOffset, endOffset, QString()); }
    void insertText(int offset, const QString &text) override { replaceText(offset, offset, text); }
    void replaceText(int startOffset, int endOffset, const QString &text) override
    {
        if (View()->isReadOnly())
            return;
        QTextCursor cursor = Cursor(startOffset);
        cursor.setPosition(Clamp(endOffset), QTextCursor::KeepAnchor);
        cursor.insertText(text);
    }

private:
    // Offsets and rectangles are asked of an up-to-date view.
    TMessageView *View() const
    {
        auto *view = static_cast<TMessageView *>(widget());
        view->CatchUp();
        return view;
    }
    int Clamp(int offset) const { return qBound(0, offset, characterCount()); }
    QTextCursor Cursor(int offset) const
    {
        QTextCursor cursor(View()->document());
        cursor.setPosition(Clamp(offset));
        return cursor;
    }
};

QAccessibleInterface *MessageViewFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("TMessageView"))
        if (auto *view = qobject_cast<TMessageView *>(object))
            return new AccessibleMessageView(view);
    return nullptr;
}

} // namespace

// The plain layout, whose notices of a received piece (repaint this, the
// size changed) are held and given once when the view catches up.
class TMessageView::ReceivingLayout : public QPlainTextDocumentLayout {
public:
    using QPlainTextDocumentLayout::QPlainTextDocumentLayout;

    // Document changes made by `insert` are not announced yet.
    template <typename Insert>
    void Held(Insert insert)
    {
        m_holding = true;
        insert();
        m_holding = false;
    }
    void CatchUp()
    {
        if (!m_held)
            return;
        m_held = false;
        emit documentSizeChanged(documentSize());
        emit update(QRectF(0., -document()->documentMargin(), 1000000000., 1000000000.));
    }

protected:
    void documentChanged(int from, int charsRemoved, int charsAdded) override
    {
        if (!m_holding) {
            QPlainTextDocumentLayout::documentChanged(from, charsRemoved, charsAdded);
            CatchUp(); // what was held goes out with this change
            return;
        }
        m_held = true;
        const QSignalBlocker quiet(this);
        QPlainTextDocumentLayout::documentChanged(from, charsRemoved, charsAdded);
    }

private:
    bool m_holding = false;
    bool m_held = false;
};

TMessageView::TMessageView(QWidget *parent) : QPlainTextEdit(parent)
{
    static const bool factoryInstalled = (QAccessible::installFactory(MessageViewFactory), true);
    (void)factoryInstalled;
    auto *doc = new QTextDocument(this);
    m_layout = new ReceivingLayout(doc);
    doc->setDocumentLayout(m_layout);
    setDocument(doc); // the editor's first document goes with it
}

void TMessageView::CatchUp()
{
    m_catchUpPosted = false;
    if (m_layout) // not while the view is being made
        m_layout->CatchUp();
}

// Input acts on an up-to-date view (a page down needs the scroll range). A
// paint does not wait: it draws the document as it is.
bool TMessageView::event(QEvent *e)
{
    if (e->type() != QEvent::Paint)
        CatchUp();
    return QPlainTextEdit::event(e);
}

bool TMessageView::viewportEvent(QEvent *e)
{
    if (e->type() != QEvent::Paint)
        CatchUp();
    return QPlainTextEdit::viewportEvent(e);
}

void TMessageView::AppendReceived(const QString &text)
{
    // Appended through a cursor at the end: the cost follows the new text,
    // not what the view already holds, and the user's caret stays put.
    QTextDocument *doc = document();
    const QString last = doc->lastBlock().text();
    const qsizetype lineStart = last.lastIndexOf(QChar(QChar::LineSeparator)) + 1;
    const QString shaped = viewtext::Paragraphs(text, last.size(), last.size() - lineStart,
                                                viewtext::OpensDirection(QStringView(last).sliced(lineStart)));
    // The received text is not the user's edit: nothing to undo.
    const bool undo = doc->isUndoRedoEnabled();
    doc->setUndoRedoEnabled(false);
    // Inside an edit block the cursor does not work out its x position,
    // which would lay out the last paragraph on every piece.
    QTextCursor cursor(doc);
    m_layout->Held([&] {
        cursor.beginEditBlock();
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(shaped);
        cursor.endEditBlock();
    });
    doc->setUndoRedoEnabled(undo);
    if (!m_catchUpPosted) {
        m_catchUpPosted = true;
        QMetaObject::invokeMethod(this, &TMessageView::CatchUp, Qt::QueuedConnection);
    }
}

#include "moc_messageview.cpp"
