#include "mimeheaders.h"
#include "charsets.h"
#include "encodedwords.h"
#include "transferdecoding.h"

#include <algorithm>
#include <utility>

namespace mime {

namespace {
// RFC 2231 continuations are numbered; more sections than this are not a
// file name but an attempt to make us allocate.
constexpr int kMaxParamSections = 256;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsHeaderName(QByteArrayView name)
{
    if (name.isEmpty())
        return false;
    for (char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u <= 32 || u >= 127)
            return false;
    }
    return true;
}

// Reads value from *i: blanks and (comments) are skipped.
void SkipBlanks(QByteArrayView v, qsizetype *i)
{
    while (*i < v.size()) {
        if (IsBlank(v[*i])) {
            ++*i;
        } else if (v[*i] == '(') {
            int depth = 0;
            while (*i < v.size()) {
                const char c = v[*i];
                ++*i;
                if (c == '\\')
                    ++*i;
                else if (c == '(')
                    ++depth;
                else if (c == ')' && --depth == 0)
                    break;
            }
        } else {
            return;
        }
    }
}

QByteArray ReadToken(QByteArrayView v, qsizetype *i, QByteArrayView stops)
{
    const qsizetype start = *i;
    while (*i < v.size() && !IsBlank(v[*i]) && !stops.contains(v[*i]))
        ++*i;
    return v.sliced(start, *i - start).toByteArray();
}

QByteArray ReadQuoted(QByteArrayView v, qsizetype *i)
{
    QByteArray out;
    ++*i; // the opening quote
    while (*i < v.size() && v[*i] != '"') {
        if (v[*i] == '\\' && *i + 1 < v.size())
            ++*i;
        out += v[*i];
        ++*i;
    }
    if (*i < v.size())
        ++*i;
    return out;
}

QByteArray PercentDecoded(QByteArrayView text)
{
    QByteArray out;
    for (qsizetype k = 0; k < text.size(); ++k) {
        if (text[k] == '%' && k + 2 < text.size() && HexValue(text[k + 1]) >= 0 && HexValue(text[k + 2]) >= 0) {
            out += char(HexValue(text[k + 1]) * 16 + HexValue(text[k + 2]));
            k += 2;
        } else {
            out += text[k];
        }
    }
    return out;
}

struct Section {
    int number = 0;
    bool extended = false;
    QByteArray value;
};
} // namespace

QByteArray FieldValue(const QList<HeaderField> &fields, QByteArrayView name)
{
    for (const HeaderField &field : fields)
        if (QByteArrayView(field.first).compare(name, Qt::CaseInsensitive) == 0)
            return field.second;
    return QByteArray();
}

HeaderReader::Line HeaderReader::Take(QByteArrayView line)
{
    if (line.isEmpty())
        return Line::Blank;
    if ((line[0] == ' ' || line[0] == '\t') && !m_fields.isEmpty()) {
        m_fields.last().second += line;
        return Line::Field;
    }
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0 || !IsHeaderName(line.first(colon)))
        return Line::NotAField;
    m_fields.append({line.first(colon).toByteArray(), line.sliced(colon + 1).toByteArray()});
    return Line::Field;
}

QList<HeaderField> HeaderReader::TakeFields()
{
    QList<HeaderField> fields = std::exchange(m_fields, {});
    for (HeaderField &field : fields)
        field.second = field.second.trimmed();
    return fields;
}

QList<HeaderField> ParseHeaderBlock(QByteArrayView entity, QByteArrayView *body)
{
    HeaderReader reader;
    qsizetype i = 0;
    while (i < entity.size()) {
        qsizetype end = entity.indexOf('\n', i);
        const qsizetype next = end < 0 ? entity.size() : end + 1;
        if (end < 0)
            end = entity.size();
        QByteArrayView line = entity.sliced(i, end - i);
        if (line.endsWith('\r'))
            line.chop(1);
        const HeaderReader::Line kind = reader.Take(line);
        if (kind == HeaderReader::Line::NotAField)
            break; // no header block: this line is body already
        i = next;
        if (kind == HeaderReader::Line::Blank)
            break; // the blank line before the body
    }
    *body = entity.sliced(i);
    return reader.TakeFields();
}

namespace {
// RFC 2231 3-4: the sections of one parameter, in order, joined; an
// extended first section may name the charset of them all.
QString JoinSections(QList<Section> list)
{
    std::stable_sort(list.begin(), list.end(), [](const Section &a, const Section &b) { return a.number < b.number; });
    QByteArray charset;
    QByteArray bytes;
    bool anyExtended = false;
    for (qsizetype k = 0; k < list.size(); ++k) {
        if (k > 0 && list[k].number == list[k - 1].number)
            continue; // a repeated section: the first counts
        QByteArray value = list[k].value;
        if (!list[k].extended) {
            bytes += value;
            continue;
        }
        if (!anyExtended && k == 0) {
            // charset'language'octets
            const qsizetype q1 = value.indexOf('\''), q2 = q1 < 0 ? -1 : value.indexOf('\'', q1 + 1);
            if (q2 > q1) {
                charset = value.left(q1);
                value = value.mid(q2 + 1);
            }
        }
        anyExtended = true;
        bytes += PercentDecoded(value);
    }
    return anyExtended ? DecodeCharset(bytes, charset) : DecodeHeaderValue(bytes);
}

// "name", "name*", "name*0", "name*0*": false when the section number is
// not one we take.
bool ReadSectionName(QByteArray *name, Section *section)
{
    if (name->endsWith('*')) {
        section->extended = true;
        name->chop(1);
    }
    const qsizetype star = name->lastIndexOf('*');
    if (star <= 0)
        return true;
    bool ok = false;
    section->number = name->mid(star + 1).toInt(&ok);
    if (!ok || section->number < 0 || section->number >= kMaxParamSections)
        return false;
    name->truncate(star);
    return true;
}
} // namespace

StructuredValue ParseStructuredValue(QByteArrayView v)
{
    StructuredValue result;
    qsizetype i = 0;
    SkipBlanks(v, &i);
    result.token = ReadToken(v, &i, ";(").toLower();
    QMap<QByteArray, QList<Section>> sections;
    while (i < v.size()) {
        SkipBlanks(v, &i);
        if (i < v.size() && v[i] == ';') {
            ++i;
            continue;
        }
        QByteArray name = ReadToken(v, &i, ";=(").toLower();
        SkipBlanks(v, &i);
        if (name.isEmpty() || i >= v.size() || v[i] != '=') {
            if (name.isEmpty() && i < v.size())
                ++i; // a stray character
            continue;
        }
        ++i;
        SkipBlanks(v, &i);
        Section section;
        section.value = i < v.size() && v[i] == '"' ? ReadQuoted(v, &i) : ReadToken(v, &i, ";(");
        if (!ReadSectionName(&name, &section))
            continue;
        if (!result.raw.contains(name))
            result.raw.insert(name, section.value);
        QList<Section> &list = sections[name];
        if (list.size() < kMaxParamSections)
            list.append(section);
    }
    for (auto it = sections.cbegin(); it != sections.cend(); ++it)
        result.params.insert(it.key(), JoinSections(it.value()));
    return result;
}

EntityInfo ParseEntityInfo(const QList<HeaderField> &fields, bool inDigest)
{
    EntityInfo info;
    if (inDigest) { // RFC 2046 5.1.5: parts of a digest are messages
        info.type = "message";
        info.subtype = "rfc822";
    }
    const QByteArray contentType = FieldValue(fields, "Content-Type");
    const StructuredValue type = ParseStructuredValue(contentType);
    const qsizetype slash = type.token.indexOf('/');
    if (slash > 0 && slash + 1 < type.token.size()) {
        info.type = type.token.left(slash);
        info.subtype = type.token.mid(slash + 1);
    }
    info.charset = type.Param("charset").toLatin1();
    info.boundary = type.raw.value("boundary");
    info.transferEncoding = FieldValue(fields, "Content-Transfer-Encoding").trimmed().toLower();
    const StructuredValue disposition = ParseStructuredValue(FieldValue(fields, "Content-Disposition"));
    info.attachment = disposition.token == "attachment";
    info.fileName = disposition.Param("filename");
    if (info.fileName.isEmpty())
        info.fileName = type.Param("name");
    return info;
}

} // namespace mime
