// What a desktop reads of the window, on a private X server and session bus
// (tests/support/desktop-session.sh): every window's title as a window
// manager reads it (_NET_WM_NAME, WM_NAME), and what assistive technology is
// told through the accessibility interface.
#include "apphandler.h"
#include "guitest.h"
#include "label.h"
#include "mailform.h"
#include "messageview.h"
#include "statusbar.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTcpServer>
#include <QTest>
#include <QtTest/qtestaccessible.h>

using GuiTest::Find;

namespace {

// The property as xprop prints it: NAME(TYPE) = "text".
QString XProperty(QWidget *window, const char *name)
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        QProcess xprop;
        xprop.start(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(window->winId()),
                                              QString::fromLatin1(name)});
        xprop.waitForFinished(5000);
        const QString out = QString::fromUtf8(xprop.readAllStandardOutput());
        const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("= \"(.*)\"")).match(out);
        if (m.hasMatch())
            return m.captured(1);
        QTest::qWait(20);
    }
    return QStringLiteral("<no %1>").arg(QString::fromLatin1(name));
}

struct Titles {
    QString netWmName, wmName;
};

Titles Read(QWidget *window)
{
    return {XProperty(window, "_NET_WM_NAME"), XProperty(window, "WM_NAME")};
}

// Forgets the events recorded so far (the recorder copies each one).
void ClearAccessibilityEvents()
{
    qDeleteAll(QTestAccessibility::events());
    QTestAccessibility::clearEvents();
}

// The titles of the first modal window that `action` opens.
Titles ModalTitles(const std::function<void()> &action)
{
    Titles titles;
    GuiTest::WhileAnsweringModals(action, [&](QWidget *modal) {
        titles = Read(modal);
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->reject();
    });
    return titles;
}

} // namespace

class TestDesktop : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        GuiTest::InitApp();
        // The accessibility bridge comes up once the bus has answered.
        QVERIFY2(QTest::qWaitFor([] { return QAccessible::isActive(); }, 10000),
                 "no accessibility bus: run under tests/support/desktop-session.sh");
        QTestAccessibility::initialize();
    }
    void cleanup() { ClearAccessibilityEvents(); }

    void titlesAreExactlyTheCaptions_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("title");
        QTest::newRow("main window") << "main" << "Orvanta Mail";
        QTest::newRow("error box") << "error" << "Error";
        QTest::newRow("exception box") << "exception" << "Orvanta Mail";
        QTest::newRow("open-file dialog") << "open" << "Open";
    }
    void titlesAreExactlyTheCaptions()
    {
        QFETCH(QString, window);
        QFETCH(QString, title);
        auto form = GuiTest::ShowForm();
        Titles seen;
        if (window == "main") {
            seen = Read(form.get());
        } else if (window == "error") {
            quint16 closed;
            {
                QTcpServer probe;
                probe.listen(QHostAddress::LocalHost);
                closed = probe.serverPort();
            }
            Find<QTabWidget>(form.get(), "PageControl1")->setCurrentIndex(2);
            Find<QLineEdit>(form.get(), "eSMTPServer")->setText(QStringLiteral("127.0.0.1:%1").arg(closed));
            Find<QLineEdit>(form.get(), "eHomeAddr")->setText(QStringLiteral("me@orvanta.test"));
            seen = ModalTitles([&] {
                QTest::mouseClick(Find(form.get(), "SMTPConnectBtn"), Qt::LeftButton);
                QTest::qWait(1000);
            });
        } else if (window == "exception") {
            seen = ModalTitles([] { Guarded([] { throw std::runtime_error("Disk full"); }); });
        } else {
            seen = ModalTitles([&] { Find<QCheckBox>(form.get(), "cbSendFile")->click(); });
        }
        QCOMPARE(seen.netWmName, title);
        QCOMPARE(seen.wmName, title);
    }


    void informationReachesAssistiveTechnology_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("role");
        QTest::addColumn<QStringList>("texts");
        const QStringList status{"Mail sent to Tom & Jerry <tj@x.test> (12 bytes data)", "Transfer aborted",
                                 "Authorization error"};
        QTest::newRow("Send Mail status") << "SMTPStatus" << int(QAccessible::StatusBar) << status;
        QTest::newRow("Get Mail status") << "POPStatus" << int(QAccessible::StatusBar) << status;
        QTest::newRow("Connect To status") << "ConnectStatus" << int(QAccessible::StatusBar) << status;
        QTest::newRow("message count") << "lMessageCount" << int(QAccessible::StaticText)
                                       << QStringList{"3", "0", "40000"};
    }
    void informationReachesAssistiveTechnology()
    {
        // A status text or the count is read as it stands, and each change
        // is announced as the name change a screen reader listens for.
        QFETCH(QString, name);
        QFETCH(int, role);
        QFETCH(QStringList, texts);
        auto form = GuiTest::ShowForm();
        QWidget *widget = Find(form.get(), name);
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(widget);
        QVERIFY(iface);
        QCOMPARE(int(iface->role()), role);
        QVERIFY(!iface->text(QAccessible::Description).isEmpty());
        for (const QString &text : texts) {
            ClearAccessibilityEvents();
            if (auto *bar = qobject_cast<TStatusBar *>(widget))
                bar->SetSimpleText(text);
            else
                qobject_cast<TLabel *>(widget)->SetCaption(text);
            QCOMPARE(iface->text(QAccessible::Name), text);
            QAccessibleEvent changed(widget, QAccessible::NameChanged);
            QVERIFY2(QTestAccessibility::containsEvent(&changed), qPrintable(text));
        }
    }

    void messageViewReadsAsPlainLines()
    {
        // Received lines share paragraphs in the view's document; a reader
        // still gets one line break per line, at the offsets shown.
        auto form = GuiTest::ShowForm();
        auto *view = Find<TMessageView>(form.get(), "mReadMessage");
        view->AppendReceived(QStringLiteral("Subject: lines\nfirst\nsecond\n"));
        QAccessibleTextInterface *text = QAccessible::queryAccessibleInterface(view)->textInterface();
        QVERIFY(text);
        const QString shown = view->toPlainText();
        QCOMPARE(text->characterCount(), shown.size());
        QCOMPARE(text->text(0, text->characterCount()), shown);
        const int at = int(shown.indexOf(QStringLiteral("second")));
        QCOMPARE(text->text(at - 1, at + 6), QStringLiteral("\nsecond"));
    }

    void inputsKeepTheirNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("accessibleName");
        QTest::newRow("To") << "eTo" << "To:";
        QTest::newRow("SMTP host") << "eSMTPServer" << "SMTP server host address:";
        QTest::newRow("POP host") << "ePOPServer" << "POP server host address:";
        QTest::newRow("password") << "ePassword" << "Password:";
        QTest::newRow("message text") << "reMessageText" << "Message text";
        QTest::newRow("message view") << "mReadMessage" << "Message view";
    }
    void inputsKeepTheirNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, accessibleName);
        auto form = GuiTest::ShowForm();
        QWidget *widget = Find(form.get(), name);
        if (auto *edit = qobject_cast<QLineEdit *>(widget))
            edit->setText(QStringLiteral("typed"));
        QCOMPARE(QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name), accessibleName);
    }
};

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
