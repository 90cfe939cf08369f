#include "htmltext.h"

#include <QHash>

#include <utility>

namespace mime {

namespace {
// A tag or entity longer than this is not markup we need to read: the rest
// of it is skipped (tag) or shown as text (entity) instead of held.
constexpr qsizetype kMaxTag = 4096;
constexpr qsizetype kMaxEntity = 32;

const QHash<QString, char32_t> &NamedEntities()
{
    static const QHash<QString, char32_t> entities{
        {QStringLiteral("amp"), U'&'},     {QStringLiteral("lt"), U'<'},       {QStringLiteral("gt"), U'>'},
        {QStringLiteral("quot"), U'"'},    {QStringLiteral("apos"), U'\''},    {QStringLiteral("nbsp"), U' '},
        {QStringLiteral("copy"), U'©'},    {QStringLiteral("reg"), U'®'},      {QStringLiteral("trade"), U'™'},
        {QStringLiteral("hellip"), U'…'},  {QStringLiteral("mdash"), U'—'},    {QStringLiteral("ndash"), U'–'},
        {QStringLiteral("lsquo"), U'‘'},   {QStringLiteral("rsquo"), U'’'},    {QStringLiteral("ldquo"), U'“'},
        {QStringLiteral("rdquo"), U'”'},   {QStringLiteral("bull"), U'•'},     {QStringLiteral("euro"), U'€'},
        {QStringLiteral("pound"), U'£'},   {QStringLiteral("yen"), U'¥'},      {QStringLiteral("cent"), U'¢'},
        {QStringLiteral("sect"), U'§'},    {QStringLiteral("deg"), U'°'},      {QStringLiteral("times"), U'×'},
        {QStringLiteral("divide"), U'÷'},  {QStringLiteral("laquo"), U'«'},    {QStringLiteral("raquo"), U'»'},
        {QStringLiteral("auml"), U'ä'},    {QStringLiteral("ouml"), U'ö'},     {QStringLiteral("uuml"), U'ü'},
        {QStringLiteral("Auml"), U'Ä'},    {QStringLiteral("Ouml"), U'Ö'},     {QStringLiteral("Uuml"), U'Ü'},
        {QStringLiteral("szlig"), U'ß'},   {QStringLiteral("eacute"), U'é'},   {QStringLiteral("egrave"), U'è'},
        {QStringLiteral("agrave"), U'à'},  {QStringLiteral("ccedil"), U'ç'},   {QStringLiteral("ntilde"), U'ñ'},
        {QStringLiteral("shy"), 0xAD},
    };
    return entities;
}

// Lines each tag breaks: 1 ends the line, 2 leaves a blank line.
int BreaksFor(const QString &name)
{
    static const QHash<QString, int> breaks{
        {QStringLiteral("p"), 2},       {QStringLiteral("h1"), 2},    {QStringLiteral("h2"), 2},
        {QStringLiteral("h3"), 2},      {QStringLiteral("h4"), 2},    {QStringLiteral("h5"), 2},
        {QStringLiteral("h6"), 2},      {QStringLiteral("table"), 2}, {QStringLiteral("blockquote"), 2},
        {QStringLiteral("div"), 1},     {QStringLiteral("tr"), 1},    {QStringLiteral("li"), 1},
        {QStringLiteral("ul"), 1},      {QStringLiteral("ol"), 1},    {QStringLiteral("dl"), 1},
        {QStringLiteral("dt"), 1},      {QStringLiteral("dd"), 1},    {QStringLiteral("hr"), 1},
        {QStringLiteral("pre"), 1},     {QStringLiteral("address"), 1}, {QStringLiteral("section"), 1},
        {QStringLiteral("article"), 1}, {QStringLiteral("header"), 1}, {QStringLiteral("footer"), 1},
        {QStringLiteral("center"), 1},
    };
    return breaks.value(name, 0);
}

bool IsHtmlBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\r') || c == QLatin1Char('\n')
           || c == QLatin1Char('\f');
}
} // namespace

QString HtmlToText::Feed(QStringView html)
{
    QString out;
    for (QChar c : html)
        Char(c, &out);
    return out;
}

QString HtmlToText::Finish()
{
    QString out;
    if (m_in == In::Entity)
        Visible(QString(QLatin1Char('&') + m_pending), &out);
    // An unclosed tag or comment at the end is dropped: it was never text.
    m_in = In::Text;
    m_pending.clear();
    return out;
}

void HtmlToText::Char(QChar c, QString *out)
{
    switch (m_in) {
    case In::Text: InText(c, out); return;
    case In::Tag: InTag(c, out); return;
    case In::Comment: InComment(c); return;
    case In::Entity: InEntity(c, out); return;
    }
}

void HtmlToText::InText(QChar c, QString *out)
{
    if (!m_skipUntil.isEmpty()) {
        // Script and style are not markup: only their closing tag ends them.
        m_skipTail += c;
        const QString closing = QStringLiteral("</") + m_skipUntil;
        if (m_skipTail.size() > closing.size())
            m_skipTail.remove(0, m_skipTail.size() - closing.size());
        if (m_skipTail.compare(closing, Qt::CaseInsensitive) == 0) {
            m_in = In::Tag;
            m_pending = QLatin1Char('/') + m_skipUntil;
            m_quote = QChar();
            m_skipTail.clear();
        }
        return;
    }
    if (c == QLatin1Char('<')) {
        m_in = In::Tag;
        m_pending.clear();
        m_quote = QChar();
    } else if (c == QLatin1Char('&')) {
        m_in = In::Entity;
        m_pending.clear();
    } else if (m_pre) {
        if (c == QLatin1Char('\n'))
            Break(-1, out);
        else if (c != QLatin1Char('\r'))
            Visible(QStringView(&c, 1), out);
    } else if (IsHtmlBlank(c)) {
        m_space = true;
    } else {
        Visible(QStringView(&c, 1), out);
    }
}

void HtmlToText::InTag(QChar c, QString *out)
{
    if (!m_quote.isNull()) {
        if (c == m_quote)
            m_quote = QChar();
    } else if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
        if (m_pending.size() > 1 && !m_pending.startsWith(QLatin1Char('!')))
            m_quote = c;
    } else if (c == QLatin1Char('>')) {
        m_in = In::Text;
        Tag(out);
        return;
    }
    if (m_pending.size() < kMaxTag)
        m_pending += c;
    if (m_pending == QLatin1String("!--")) {
        m_in = In::Comment;
        m_pending.clear();
    }
}

void HtmlToText::InComment(QChar c)
{
    m_pending += c;
    if (m_pending.size() > 3)
        m_pending.remove(0, m_pending.size() - 3);
    if (m_pending.endsWith(QLatin1String("-->"))) {
        m_in = In::Text;
        m_pending.clear();
    }
}

void HtmlToText::InEntity(QChar c, QString *out)
{
    if (c == QLatin1Char(';')) {
        m_in = In::Text;
        Entity(out);
        return;
    }
    if ((c.isLetterOrNumber() || c == QLatin1Char('#')) && m_pending.size() < kMaxEntity) {
        m_pending += c;
        return;
    }
    // Not an entity after all ("AT&T"): the text as written.
    m_in = In::Text;
    Visible(QString(QLatin1Char('&') + m_pending), out);
    m_pending.clear();
    Char(c, out);
}

void HtmlToText::Visible(QStringView text, QString *out)
{
    if (text.isEmpty())
        return;
    if (m_space && m_breaks == 0 && m_started)
        *out += QLatin1Char(' ');
    m_space = false;
    *out += text;
    m_started = true;
    m_breaks = 0;
}

void HtmlToText::Break(int lines, QString *out)
{
    if (lines == 0) // an inline tag: a blank before it still counts
        return;
    m_space = false;
    if (lines < 0) { // <br> and line ends inside <pre>: always one more
        *out += QStringLiteral("\r\n");
        ++m_breaks;
        m_started = true;
        return;
    }
    if (!m_started)
        return;
    while (m_breaks < lines) {
        *out += QStringLiteral("\r\n");
        ++m_breaks;
    }
}

void HtmlToText::Tag(QString *out)
{
    const QString pending = std::exchange(m_pending, QString());
    QStringView tag(pending);
    const bool closing = tag.startsWith(QLatin1Char('/'));
    if (closing)
        tag = tag.sliced(1);
    qsizetype n = 0;
    while (n < tag.size() && (tag[n].isLetterOrNumber()))
        ++n;
    const QString name = tag.first(n).toString().toLower();
    if (!m_skipUntil.isEmpty()) {
        if (closing && name == m_skipUntil)
            m_skipUntil.clear();
        return;
    }
    if (!closing && (name == QLatin1String("script") || name == QLatin1String("style")
                     || name == QLatin1String("title"))) {
        if (!tag.endsWith(QLatin1Char('/')))
            m_skipUntil = name;
        return;
    }
    if (name == QLatin1String("br")) {
        Break(-1, out);
    } else if (name == QLatin1String("td") || name == QLatin1String("th")) {
        m_space = true;
    } else {
        if (name == QLatin1String("pre"))
            m_pre = !closing;
        Break(BreaksFor(name), out);
        if (name == QLatin1String("li") && !closing)
            Visible(QStringLiteral("* "), out);
    }
}

void HtmlToText::Entity(QString *out)
{
    const QString name = m_pending;
    m_pending.clear();
    char32_t code = 0;
    bool known = false;
    if (name.startsWith(QLatin1Char('#'))) {
        const bool hex = name.size() > 1 && (name[1] == QLatin1Char('x') || name[1] == QLatin1Char('X'));
        const quint64 value = name.mid(hex ? 2 : 1).toULongLong(&known, hex ? 16 : 10);
        // NUL, surrogates and numbers past Unicode are not characters.
        code = (known && value > 0 && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF)) ? char32_t(value)
                                                                                              : char32_t(0xFFFD);
        known = known || name.size() > 1;
    } else {
        const auto it = NamedEntities().constFind(name);
        known = it != NamedEntities().constEnd();
        if (known)
            code = it.value();
    }
    if (!known) {
        Visible(QString(QLatin1Char('&') + name + QLatin1Char(';')), out);
        return;
    }
    if (code == 0xAD)
        return; // a soft hyphen only marks where a word may break
    Visible(QString::fromUcs4(&code, 1), out);
}

} // namespace mime
