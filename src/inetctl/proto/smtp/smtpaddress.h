#pragma once
#include <QChar>
#include <QList>
#include <QString>

namespace smtp {

// RFC 5321 4.5.3.1: 64 octets of local part, 255 of domain, 254 for a path.
constexpr int kMaxLocalPart = 64;
constexpr int kMaxDomain = 255;
constexpr int kMaxAddress = 254;

struct Mailbox {
    QString displayName; // unquoted, may be empty
    QString address;     // local@domain
};

struct AddressList {
    bool ok = false;
    QList<Mailbox> mailboxes;
    QString error; // the first element that is not acceptable, when !ok
};

// Splits a comma-separated list of "local@domain" and "Name <local@domain>"
// elements (commas inside quotes or angle brackets do not split) and checks
// each address. Empty elements (a stray comma) are skipped.
AddressList ParseAddressList(const QString &text);

// RFC 5322 3.2.3 atext: a character of an atom (letters, digits and
// "!#$%&'*+-/=?^_`{|}~"; ASCII only). A dot-atom adds the dots between atoms.
bool IsAtext(QChar c);

// The syntax of one address: dot-atom or quoted local part, host name or
// address literal domain; ASCII only (no SMTPUTF8).
bool IsValidAddress(const QString &address);

} // namespace smtp
