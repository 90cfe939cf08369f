#pragma once
#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

namespace mime {

// A header field: name and unfolded raw value.
using HeaderField = QPair<QByteArray, QByteArray>;

// The value of the first field of that name (any case), or a null array.
QByteArray FieldValue(const QList<HeaderField> &fields, QByteArrayView name);

// Reads a header block a line at a time (RFC 5322 2.2): each line a field
// or the continuation of the one before (unfolding removes the line break
// only), until the blank line. Values are trimmed once, when taken, so the
// cost stays linear in the block's size however it is folded.
class HeaderReader {
public:
    enum class Line { Field, Blank, NotAField };
    // One line without its line end. A line that is no field (and no
    // continuation) ends the block: it belongs to the body.
    Line Take(QByteArrayView line);
    QList<HeaderField> TakeFields();

private:
    QList<HeaderField> m_fields;
};

// Splits an entity into its header fields (folded lines joined) and its
// body. A first line that is not a header field starts the body.
QList<HeaderField> ParseHeaderBlock(QByteArrayView entity, QByteArrayView *body);

// A structured value such as Content-Type's: "type/subtype; a=b; c*=..."
// with the parameters by lower-case name, RFC 2231 continuations and
// charsets resolved and RFC 2047 words decoded (senders use both for file
// names). Senders also forget semicolons; blanks then separate parameters.
struct StructuredValue {
    QByteArray token; // lower case: "text/plain", "attachment"
    QMap<QByteArray, QString> params;
    QMap<QByteArray, QByteArray> raw; // first value of each, as written
    QString Param(const char *name) const { return params.value(QByteArray(name)); }
};
StructuredValue ParseStructuredValue(QByteArrayView value);

// What the body decoder needs to know about one entity.
struct EntityInfo {
    QByteArray type = "text";
    QByteArray subtype = "plain";
    QByteArray charset;
    QByteArray boundary;
    QByteArray transferEncoding;
    bool attachment = false;      // Content-Disposition: attachment
    QString fileName;             // from the disposition, else Content-Type's name
    bool IsMultipart() const { return type == "multipart"; }
    bool IsText() const { return type == "text" && subtype != "html"; }
    bool IsHtml() const { return type == "text" && subtype == "html"; }
};
EntityInfo ParseEntityInfo(const QList<HeaderField> &fields, bool inDigest = false);

} // namespace mime
