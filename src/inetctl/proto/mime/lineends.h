#pragma once
#include <QString>

namespace mime {

// Text of a received message with one line break per line, as the view
// takes it: CR LF, a lone CR (one a sender encoded, such as "=0D") and LF
// each end a line. Fed in pieces, it gives the same text whatever the cut:
// a CR that ends a piece is a line end at once, and an LF that opens the
// next piece is then its second half.
class LineEnds {
public:
    // Works in the text's own buffer when it is the only owner: no second
    // copy of megabytes of mail.
    QString Feed(QString text);
    void Reset() { m_afterCR = false; }

private:
    bool m_afterCR = false;
};

} // namespace mime
