#include "messagefile.h"
#include "exceptions.h"
#include "rtfreader.h"
#include "textfile.h"

#include <QTextBlock>
#include <QTextDocument>
#include <QTextOption>

namespace {

// What the editor can show and take keystrokes on without freezing the
// window. Loading costs a few microseconds a line (and about 150 bytes of
// memory); a long line costs far more, as it is laid out again whole on
// every keystroke. A message beyond these bounds is no message a person
// edits, and is refused rather than freezing the window for minutes.
constexpr qint64 MaxMessageFileBytes = 16 * 1024 * 1024;
constexpr int MaxMessageLines = 500'000;
// Lines longer than this are wrapped anywhere: at word boundaries a line
// without spaces costs time in the square of its length (seconds at 64 KiB).
constexpr qsizetype LongLineChars = 1024;
// Wrapped anywhere, a long line still costs about 2 ms per KiB for each
// layout, one per keystroke: all long lines together stay below this.
constexpr qsizetype MaxLongLineChars = 128 * 1024;

Exception TooLargeToEdit(const QString &fileName)
{
    return Exception(QStringLiteral("The file %1 is too large to edit").arg(fileName));
}

// Whether lines of these lengths fit the bounds above.
class LineBudget {
public:
    bool Add(qsizetype length)
    {
        if (length > LongLineChars) {
            m_longChars += length;
            m_anyLong = true;
        }
        return ++m_lines <= MaxMessageLines && m_longChars <= MaxLongLineChars;
    }
    bool AnyLong() const { return m_anyLong; }

private:
    int m_lines = 0;
    qsizetype m_longChars = 0;
    bool m_anyLong = false;
};

// Counts before the document is built, so that a file of a million empty
// lines is refused at once rather than after seconds of building.
bool FitsForEditing(const QString &text)
{
    LineBudget budget;
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\n' || c == u'\r' || c == QChar::ParagraphSeparator) { // as the document breaks blocks
            if (!budget.Add(i - lineStart))
                return false;
            lineStart = i + 1;
        }
    }
    return budget.Add(text.size() - lineStart);
}

// The loaded document is held to the same bounds, and long lines are
// wrapped anywhere; a refused one is emptied.
void FitForEditing(QTextDocument *document, const QString &fileName)
{
    LineBudget budget;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        if (!budget.Add(block.length() - 1)) {
            document->clear();
            throw TooLargeToEdit(fileName);
        }
    }
    QTextOption option = document->defaultTextOption();
    option.setWrapMode(budget.AnyLong() ? QTextOption::WrapAnywhere : QTextOption::WrapAtWordBoundaryOrAnywhere);
    document->setDefaultTextOption(option);
}

} // namespace

void LoadMessageFile(QTextDocument *document, const QString &fileName)
{
    QByteArray bytes;
    try {
        bytes = TextFile::ReadAll(fileName, MaxMessageFileBytes);
    } catch (const EInOutError &error) {
        if (error.ErrorCode() == EInOutError::TooLarge)
            throw TooLargeToEdit(fileName);
        throw Exception(QStringLiteral("Cannot open file %1").arg(fileName));
    }
    const auto checkText = [&fileName](const QString &text) {
        if (!FitsForEditing(text))
            throw TooLargeToEdit(fileName);
    };
    if (LooksLikeRtf(bytes) && ReadRtf(bytes, document, checkText)) {
        FitForEditing(document, fileName);
        return;
    }
    // Not readable as rich text: read it again as plain text. A NUL byte is
    // no part of any text, so such a file is no message either.
    if (bytes.contains('\0'))
        throw Exception(QStringLiteral("Failed to Load Stream"));
    const QString text = TextFile::Decode(bytes);
    checkText(text);
    document->setPlainText(text);
    FitForEditing(document, fileName);
}
