// The certificate dialog: what it shows for a first and for a changed
// certificate, what assistive technology reads, and that nothing but the
// trust button trusts.
#include "certdialog.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {
const QString kFingerprint = QStringLiteral(
    "83:37:5F:C3:AE:7B:3F:80:3F:FB:F8:2A:94:30:FE:EF:C3:1F:E5:7C:B2:48:62:C8:44:10:D4:6B:6D:5D:C9:57");
const QString kTrusted = QStringLiteral(
    "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89");

CertificateQuestion Question(bool changed, const QString &subject = QStringLiteral("CN=mail.example.org, O=Example"))
{
    CertificateQuestion q;
    q.server = QStringLiteral("mail.example.org:993");
    q.subject = subject;
    q.issuer = QStringLiteral("CN=Example CA");
    q.validFrom = QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC);
    q.validUntil = QDateTime(QDate(2027, 1, 1), QTime(12, 30), Qt::UTC);
    q.fingerprint = kFingerprint;
    q.reason = QStringLiteral("The certificate is self-signed");
    q.changed = changed;
    if (changed)
        q.trustedFingerprint = kTrusted;
    return q;
}

enum class Answer { Enter, EnterOnTrust, Escape, Close, ClickTrust, ClickCancel, ParentGone };
} // namespace

Q_DECLARE_METATYPE(Answer)
Q_DECLARE_METATYPE(CertificateQuestion)

class TestCertDialog : public QObject {
    Q_OBJECT
private slots:
    void showsTheQuestion_data();
    void showsTheQuestion();
    void onlyTrustTrusts_data();
    void onlyTrustTrusts();
};

void TestCertDialog::showsTheQuestion_data()
{
    QTest::addColumn<CertificateQuestion>("question");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<bool>("warned");
    const QStringList common = {"mail.example.org:993",    "CN=Example CA",    "1 January 2026, 00:00 UTC",
                                "1 January 2027, 12:30 UTC", kFingerprint, "The certificate is self-signed"};
    QTest::newRow("first certificate") << Question(false) << common + QStringList{"CN=mail.example.org, O=Example"}
                                       << false;
    QTest::newRow("changed certificate")
        << Question(true)
        << common + QStringList{"The certificate of mail.example.org:993 has changed since you trusted it. Someone "
                                "may be intercepting the connection, or the server's certificate was replaced.",
                                kTrusted}
        << true;
    // A name from the server can neither be markup nor start a second line.
    QTest::newRow("hostile subject") << Question(false, QStringLiteral("<b>CN=a</b>\nCN=bank"))
                                     << common + QStringList{"<b>CN=a</b> CN=bank"} << false;
}

void TestCertDialog::showsTheQuestion()
{
    QFETCH(CertificateQuestion, question);
    QFETCH(QStringList, shown);
    QFETCH(bool, warned);
    TCertificateDialog dialog(question);
    dialog.show();
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Certificate"));

    QStringList texts;
    for (QLabel *label : dialog.findChildren<QLabel *>()) {
        if (label->text().isEmpty())
            continue;
        texts.append(label->text());
        if (label->objectName().endsWith(QLatin1String("Label"))) {
            QCOMPARE(label->textFormat(), Qt::PlainText);
            QCOMPARE(QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name), label->text());
        }
    }
    for (const QString &text : shown)
        QVERIFY2(texts.contains(text), qPrintable(text + " not in: " + texts.join(" | ")));
    QCOMPARE(dialog.findChild<QLabel *>("WarningLabel") != nullptr, warned);

    auto *trust = dialog.findChild<QPushButton *>("TrustButton");
    auto *cancel = dialog.findChild<QPushButton *>("CancelButton");
    QVERIFY(trust && cancel);
    QCOMPARE(trust->text(), QStringLiteral("Trust this certificate"));
    QCOMPARE(cancel->text(), QStringLiteral("Cancel"));
    for (QPushButton *button : {trust, cancel})
        QCOMPARE(QAccessible::queryAccessibleInterface(button)->text(QAccessible::Name), button->text());
    QVERIFY(cancel->isDefault());
    QCOMPARE(dialog.focusWidget(), cancel);
}

void TestCertDialog::onlyTrustTrusts_data()
{
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<bool>("trusted");
    QTest::newRow("Enter") << Answer::Enter << false;
    QTest::newRow("Enter on the trust button") << Answer::EnterOnTrust << false;
    QTest::newRow("Escape") << Answer::Escape << false;
    QTest::newRow("window closed") << Answer::Close << false;
    QTest::newRow("Cancel clicked") << Answer::ClickCancel << false;
    QTest::newRow("parent window gone") << Answer::ParentGone << false;
    QTest::newRow("Trust clicked") << Answer::ClickTrust << true;
}

void TestCertDialog::onlyTrustTrusts()
{
    QFETCH(Answer, answer);
    QFETCH(bool, trusted);
    QPointer<QWidget> parent = new QWidget;
    parent->show();
    bool answered = false, stuck = false;
    QTimer act, safety; // on the stack: neither outlives the row
    act.setSingleShot(true);
    safety.setSingleShot(true);
    QObject::connect(&act, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<TCertificateDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        answered = true;
        auto *trustButton = dialog->findChild<QPushButton *>("TrustButton");
        switch (answer) {
        case Answer::Enter:
            QTest::keyClick(dialog->focusWidget(), Qt::Key_Return);
            break;
        case Answer::EnterOnTrust:
            trustButton->setFocus();
            QTest::keyClick(trustButton, Qt::Key_Return);
            break;
        case Answer::Escape:
            QTest::keyClick(dialog->focusWidget(), Qt::Key_Escape);
            break;
        case Answer::Close:
            dialog->close();
            break;
        case Answer::ClickCancel:
            QTest::mouseClick(dialog->findChild<QPushButton *>("CancelButton"), Qt::LeftButton);
            break;
        case Answer::ParentGone:
            delete parent;
            break;
        case Answer::ClickTrust:
            QTest::mouseClick(trustButton, Qt::LeftButton);
            break;
        }
    });
    // An answer that left the dialog open must fail the row, not hang it.
    QObject::connect(&safety, &QTimer::timeout, [&] {
        if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
            stuck = true;
            dialog->reject();
        }
    });
    act.start(0);
    safety.start(5000);
    const bool result = TCertificateDialog::Ask(parent, Question(false));
    delete parent;
    QVERIFY(answered);
    QVERIFY(!stuck);
    QCOMPARE(result, trusted);
}

QTEST_MAIN(TestCertDialog)
#include "tst_certdialog.moc"
