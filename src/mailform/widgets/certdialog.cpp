#include "certdialog.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace {

QString DateText(const QDateTime &date)
{
    if (!date.isValid())
        return QStringLiteral("unknown");
    return QLocale::c().toString(date.toUTC(), QStringLiteral("d MMMM yyyy, HH:mm 'UTC'"));
}

// Values come from the server: shown as plain text (a name like "<b>" is
// no markup), selectable so they can be copied, and read to assistive
// technology exactly as shown ("&" included).
QLabel *ValueLabel(const QString &text, const QString &objectName, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setObjectName(objectName);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setAccessibleName(text);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QLabel *FingerprintLabel(const QString &fingerprint, const QString &objectName, QWidget *parent)
{
    QLabel *label = ValueLabel(fingerprint, objectName, parent);
    label->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    return label;
}

QLabel *WrappedLabel(const QString &text, const QString &objectName, QWidget *parent)
{
    QLabel *label = ValueLabel(text, objectName, parent);
    label->setWordWrap(true);
    return label;
}

} // namespace

TCertificateDialog::TCertificateDialog(const CertificateQuestion &question, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("CertificateDialog"));
    setWindowTitle(QStringLiteral("Certificate"));
    setModal(true);
    auto *layout = new QVBoxLayout(this);
    const QString server = OneLineForDisplay(question.server);

    if (question.changed) {
        auto *row = new QHBoxLayout;
        auto *icon = new QLabel(this);
        const int size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
        icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, this).pixmap(size));
        icon->setAlignment(Qt::AlignTop);
        row->addWidget(icon);
        row->addWidget(WrappedLabel(QStringLiteral("The certificate of %1 has changed since you trusted it. "
                                                   "Someone may be intercepting the connection, or the "
                                                   "server's certificate was replaced.")
                                        .arg(server),
                                    QStringLiteral("WarningLabel"), this),
                       1);
        layout->addLayout(row);
        layout->addSpacing(6);
    }

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Server:"), ValueLabel(server, QStringLiteral("ServerLabel"), this));
    form->addRow(QStringLiteral("Subject:"),
                 WrappedLabel(OneLineForDisplay(question.subject), QStringLiteral("SubjectLabel"), this));
    form->addRow(QStringLiteral("Issuer:"),
                 WrappedLabel(OneLineForDisplay(question.issuer), QStringLiteral("IssuerLabel"), this));
    form->addRow(QStringLiteral("Valid from:"),
                 ValueLabel(DateText(question.validFrom), QStringLiteral("ValidFromLabel"), this));
    form->addRow(QStringLiteral("Valid until:"),
                 ValueLabel(DateText(question.validUntil), QStringLiteral("ValidUntilLabel"), this));
    form->addRow(QStringLiteral("SHA-256 fingerprint:"),
                 FingerprintLabel(OneLineForDisplay(question.fingerprint), QStringLiteral("FingerprintLabel"), this));
    if (question.changed)
        form->addRow(QStringLiteral("Trusted before:"),
                     FingerprintLabel(OneLineForDisplay(question.trustedFingerprint),
                                      QStringLiteral("TrustedFingerprintLabel"), this));
    form->addRow(QStringLiteral("Reason:"),
                 WrappedLabel(OneLineForDisplay(question.reason), QStringLiteral("ReasonLabel"), this));
    layout->addLayout(form);

    auto *buttons = new QDialogButtonBox(this);
    m_trust = buttons->addButton(QStringLiteral("Trust this certificate"), QDialogButtonBox::AcceptRole);
    m_cancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    m_trust->setObjectName(QStringLiteral("TrustButton"));
    m_cancel->setObjectName(QStringLiteral("CancelButton"));
    for (QPushButton *button : {m_trust, m_cancel})
        button->setAccessibleName(button->text());
    // Trusting takes a deliberate choice: Enter presses Cancel even when
    // the trust button has the focus.
    m_trust->setAutoDefault(false);
    m_cancel->setDefault(true);
    m_cancel->setFocus();
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

bool TCertificateDialog::Ask(QWidget *parent, const CertificateQuestion &question)
{
    // The parent may go while the dialog waits (the window closes); the
    // dialog then goes with it and the answer is no.
    QPointer<TCertificateDialog> dialog = new TCertificateDialog(question, parent);
    const int result = dialog->exec();
    const bool trusted = dialog && result == QDialog::Accepted;
    delete dialog;
    return trusted;
}

#include "moc_certdialog.cpp"
