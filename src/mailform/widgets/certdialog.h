#pragma once
#include "net/trust.h"

#include <QDialog>

class QPushButton;

// Puts a certificate nobody vouches for to the user: what it says, its
// fingerprint to compare with one the server's administrator gives, and
// why it did not verify. Cancel is the answer unless the user picks the
// other button: Enter, Escape and closing the window all cancel.
class TCertificateDialog : public QDialog {
    Q_OBJECT
public:
    explicit TCertificateDialog(const CertificateQuestion &question, QWidget *parent = nullptr);

    // Runs the dialog modally; true only for "Trust this certificate".
    static bool Ask(QWidget *parent, const CertificateQuestion &question);

private:
    QPushButton *m_trust = nullptr;
    QPushButton *m_cancel = nullptr;
};
