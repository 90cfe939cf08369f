#pragma once
#include <QString>
#include <QStringView>

namespace mime {

// HTML as readable text, as it streams in: tags dropped, entities decoded,
// blanks collapsed, line breaks where the layout breaks lines (br, p, div,
// list items, table rows, headings), the content of script, style and title
// left out. Nothing of the markup is ever interpreted beyond that.
class HtmlToText {
public:
    QString Feed(QStringView html);
    QString Finish();

private:
    void Char(QChar c, QString *out);
    void InText(QChar c, QString *out);
    void InTag(QChar c, QString *out);
    void InComment(QChar c);
    void InEntity(QChar c, QString *out);
    void Visible(QStringView text, QString *out);
    void Break(int lines, QString *out);
    void Tag(QString *out);
    void Entity(QString *out);

    enum class In { Text, Tag, Comment, Entity };
    In m_in = In::Text;
    QString m_pending;   // the tag or entity being read
    QChar m_quote;       // inside a quoted attribute value
    QString m_skipUntil; // closing tag that ends skipped content
    QString m_skipTail;  // the last characters read while skipping
    bool m_pre = false;
    bool m_space = false;  // a blank is due before the next visible text
    bool m_started = false;
    int m_breaks = 0;      // line breaks at the end of the output
};

} // namespace mime
