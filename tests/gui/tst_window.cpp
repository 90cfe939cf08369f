// The window as laid out: geometry kept by alignment and the resize rule,
// initial state, hints, colours, accessible names, Clear.
#include "apphandler.h"
#include "guitest.h"
#include "bitbtn.h"
#include "glyphs.h"
#include "image.h"
#include "label.h"
#include "mailform.h"
#include "messageview.h"
#include "statusbar.h"
#include "tpop.h"
#include "tsmtp.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QCheckBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>

using GuiTest::Find;
using namespace Qt::StringLiterals;

class TestWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { GuiTest::InitApp(); }

    void opensAtDesignedPlaceAndSize()
    {
        auto form = GuiTest::ShowForm();
        QCOMPARE(form->size(), QSize(418, 405));
        QCOMPARE(form->pos(), QPoint(131, 46));
        QCOMPARE(form->windowTitle(), QStringLiteral("Orvanta Mail"));
        QCOMPARE(ApplicationTitle(), QStringLiteral("Orvanta Mail"));
        QVERIFY(!form->windowIcon().isNull());
        auto *pages = Find<QTabWidget>(form.get(), "PageControl1");
        QCOMPARE(pages->geometry(), QRect(0, 9, 418, 396));
        QCOMPARE(pages->currentWidget()->objectName(), QStringLiteral("SendPage"));
        QStringList titles;
        for (int i = 0; i < pages->count(); ++i)
            titles << pages->tabText(i);
        QCOMPARE(titles, (QStringList{"Send Mail", "Get Mail", "Connect To"}));
    }

    void resizeRuleMovesButtonsAndWidensEdits_data()
    {
        QTest::addColumn<int>("width");
        QTest::newRow("designed width") << 418;
        QTest::newRow("wider") << 600;
        QTest::newRow("maximised") << 1600;
        QTest::newRow("narrower") << 300;
    }
    void resizeRuleMovesButtonsAndWidensEdits()
    {
        QFETCH(int, width);
        auto form = GuiTest::ShowForm();
        form->resize(width, 405);
        QTRY_COMPARE(form->width(), width);
        for (const char *name : {"SendBtn", "ClearBtn", "QuitBtn"}) {
            auto *button = Find(form.get(), name);
            QCOMPARE(button->x(), width - button->width() - 10);
        }
        const int sendLeft = Find(form.get(), "SendBtn")->x();
        for (const char *name : {"eTo", "eCC", "eSubject"}) {
            auto *edit = Find(form.get(), name);
            QCOMPARE(edit->width(), sendLeft - edit->x() - 10);
        }
        if (width == 418) {
            QCOMPARE(sendLeft, 339);
            QCOMPARE(Find(form.get(), "eTo")->width(), 273);
        }
        // The Send page's panel widens with its page, so the buttons stay
        // whole on it at every width (maximised too).
        QWidget *panel = Find(form.get(), "Panel1");
        QTRY_COMPARE(panel->geometry(), QRect(0, 4, Find(form.get(), "SendPage")->width() - 1, 347));
        for (const char *name : {"SendBtn", "ClearBtn", "QuitBtn"}) {
            if (width >= 418)
                QVERIFY2(panel->rect().contains(Find(form.get(), name)->geometry()), name);
        }
        QCOMPARE(Find(form.get(), "PageControl1")->width(), width);
    }

    void alignedControlsFollowTheWindow()
    {
        auto form = GuiTest::ShowForm();
        form->resize(560, 500);
        QTRY_COMPARE(form->size(), QSize(560, 500));
        // Taller: the pages keep their height; the space opens above the tabs.
        auto *pages = Find(form.get(), "PageControl1");
        QCOMPARE(pages->geometry(), QRect(0, 500 - 396, 560, 396));
        QCOMPARE(Find(form.get(), "Panel2")->geometry(), QRect(0, 0, 560, 9));
        for (const char *page : {"SendPage", "RecvPage", "ConPage"}) {
            Find<QTabWidget>(form.get(), "PageControl1")->setCurrentWidget(Find(form.get(), page));
            QWidget *p = Find(form.get(), page);
            for (const char *bar : {"SMTPStatus", "POPStatus", "ConnectStatus"}) {
                if (auto *status = p->findChild<TStatusBar *>(bar)) {
                    QTRY_COMPARE(status->geometry(), QRect(0, p->height() - 17, p->width(), 17));
                }
            }
        }
        QWidget *send = Find(form.get(), "SendPage");
        QCOMPARE(Find(form.get(), "reMessageText")->geometry(),
                 QRect(0, send->height() - 17 - 247, send->width(), 247));
        QWidget *recv = Find(form.get(), "RecvPage");
        QCOMPARE(Find(form.get(), "Panel3")->geometry(), QRect(0, 0, recv->width(), 29));
        QCOMPARE(Find(form.get(), "mReadMessage")->geometry(),
                 QRect(0, 29, recv->width(), recv->height() - 29 - 17));
        // Smaller: nothing scrolls, the page control is cut off at the top.
        form->resize(200, 150);
        QTRY_COMPARE(form->size(), QSize(200, 150));
        QCOMPARE(pages->geometry(), QRect(0, 150 - 396, 200, 396));
    }

    void noScrollBarsAnywhere()
    {
        auto form = GuiTest::ShowForm();
        for (auto *area : form->findChildren<QAbstractScrollArea *>()) {
            QCOMPARE(area->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
            QCOMPARE(area->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        }
    }

    void initialState()
    {
        auto form = GuiTest::ShowForm();
        QCOMPARE(Find<QLineEdit>(form.get(), "eSubject")->text(), QStringLiteral("Via Orvanta "));
        QCOMPARE(Find<QLineEdit>(form.get(), "eCurMessage")->text(), QStringLiteral("0"));
        QCOMPARE(Find<QLabel>(form.get(), "lMessageCount")->text(), QStringLiteral("0"));
        QVERIFY(Find<QLineEdit>(form.get(), "eCurMessage")->isReadOnly());
        auto *attach = Find<QCheckBox>(form.get(), "cbSendFile");
        QVERIFY(!attach->isChecked());
        QCOMPARE(attach->text(), QStringLiteral("&Attach Text File"));
        QCOMPARE(attach->layoutDirection(), Qt::RightToLeft); // caption left of the box
        for (const char *name : {"SMTPConnectBtn", "POPConnectBtn"}) {
            auto *button = Find<QAbstractButton>(form.get(), name);
            QCOMPARE(button->text(), QStringLiteral("Connect"));
            QVERIFY(button->isEnabled());
        }
        auto *led = Find(form.get(), "LedImage");
        QVERIFY(led->isHidden());
        QVERIFY(!led->isEnabled());
        for (auto *bar : form->findChildren<TStatusBar *>())
            QVERIFY(bar->text().isEmpty());
        // The client controls exist, keep their stored settings and are idle.
        auto *smtp = Find<TSMTP>(form.get(), "SMTP1");
        auto *pop = Find<TPOP>(form.get(), "POP1");
        QCOMPARE(smtp->State(), short(6));
        QCOMPARE(pop->State(), short(6));
        QCOMPARE(smtp->RemotePort(), 25);
        QCOMPARE(pop->RemotePort(), 110);
        QCOMPARE(pop->RemoteHost(), QStringLiteral("127.0.0.1"));
        QVERIFY(smtp->isHidden() && pop->isHidden());
        QCOMPARE(smtp->focusPolicy(), Qt::NoFocus);
        QVERIFY(smtp->width() <= 32 && smtp->height() <= 32);
    }

    void passwordShowsStars()
    {
        auto form = GuiTest::ShowForm();
        auto *password = Find<QLineEdit>(form.get(), "ePassword");
        QCOMPARE(password->echoMode(), QLineEdit::Password);
        password->setText(QStringLiteral("s3cret"));
        QCOMPARE(password->displayText(), QStringLiteral("******"));
        QCOMPARE(password->text(), QStringLiteral("s3cret"));
    }

    void hintsOnlyWhereDesigned_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("hint");
        QTest::newRow("To:") << "Label1" << "Recipient's name(s), comma delimited";
        QTest::newRow("cc:") << "Label3" << "cc: name(s), comma delimited";
        QTest::newRow("Subject:") << "Label2" << "Subject of this message";
        QTest::newRow("attach") << "cbSendFile" << "Send a text file along with the message";
        QTest::newRow("up-down") << "udCurMessage" << "Browse messages in order";
        QTest::newRow("(From") << "Label9" << "Number of messages stored on the server";
        QTest::newRow("messages)") << "Label11" << "Number of messages stored on the server";
        QTest::newRow("save") << "SaveBtn" << "Save this connection";
        QTest::newRow("banner") << "HalvexImage" << "Connect to www.halvex.example";
        QTest::newRow("smtp host") << "Label7" << "Host name or IP address of SMTP server";
        QTest::newRow("return") << "Label8" << "Return address to use when sending SMTP mail";
        QTest::newRow("smtp connect") << "SMTPConnectBtn" << "Connect to SMTP server";
        QTest::newRow("pop host") << "Label6" << "Host name or IP address of POP server";
        QTest::newRow("user") << "Label5" << "Your user name on the host machine";
        QTest::newRow("password") << "Label4" << "Your password on the host machine";
        QTest::newRow("pop connect") << "POPConnectBtn" << "Connect to POP server";
        for (const char *silent : {"SendBtn", "ClearBtn", "QuitBtn", "eTo", "eHomeAddr", "eSMTPServer",
                                   "BitBtn1", "BitBtn2", "SMTPStatus", "ConnectStatus", "Panel1",
                                   "lMessageCount", "Label10", "Label12", "reMessageText"})
            QTest::newRow(silent) << silent << QString();
    }
    void hintsOnlyWhereDesigned()
    {
        QFETCH(QString, name);
        QFETCH(QString, hint);
        auto form = GuiTest::ShowForm();
        QWidget *widget = Find(form.get(), name);
        QVERIFY2(widget, qPrintable(name));
        QCOMPARE(widget->toolTip(), hint);
    }

    void groupsColourTheirContents_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QPalette::ColorRole>("role");
        QTest::addColumn<QColor>("colour");
        const QColor maroon(128, 0, 0), navy(0, 0, 128);
        QTest::newRow("smtp host edit") << "eSMTPServer" << QPalette::Text << maroon;
        QTest::newRow("smtp label") << "Label12" << QPalette::WindowText << maroon;
        QTest::newRow("smtp button") << "SMTPConnectBtn" << QPalette::ButtonText << maroon;
        QTest::newRow("pop password") << "ePassword" << QPalette::Text << navy;
        QTest::newRow("pop label") << "Label13" << QPalette::WindowText << navy;
        QTest::newRow("pop button") << "POPConnectBtn" << QPalette::ButtonText << navy;
        QTest::newRow("message text") << "reMessageText" << QPalette::Text << maroon;
        QTest::newRow("message view") << "mReadMessage" << QPalette::Text << navy;
        QTest::newRow("count") << "lMessageCount" << QPalette::WindowText << maroon;
        QTest::newRow("To: is black") << "Label1" << QPalette::WindowText << QColor(Qt::black);
    }
    void groupsColourTheirContents()
    {
        QFETCH(QString, name);
        QFETCH(QPalette::ColorRole, role);
        QFETCH(QColor, colour);
        auto form = GuiTest::ShowForm();
        QCOMPARE(Find(form.get(), name)->palette().color(QPalette::Active, role), colour);
    }

    void everyTextControlHasAnAccessibleName()
    {
        auto form = GuiTest::ShowForm();
        QStringList names;
        for (auto *edit : form->findChildren<QLineEdit *>()) {
            QVERIFY2(!edit->accessibleName().isEmpty(), qPrintable(edit->objectName()));
            names << edit->accessibleName();
        }
        // Inputs only: what shows information is named by its text
        // (tst_desktop).
        for (const char *other : {"reMessageText", "mReadMessage"}) {
            QVERIFY2(!Find(form.get(), other)->accessibleName().isEmpty(), other);
            names << Find(form.get(), other)->accessibleName();
        }
        // Two edits both labelled "Host Address:" must still be told apart.
        QCOMPARE(QSet<QString>(names.begin(), names.end()).size(), names.size());
        QCOMPARE(Find(form.get(), "eTo")->accessibleName(), QStringLiteral("To:"));
    }

    void fontFallsBackWhenTheFirstChoiceIsMissing_data()
    {
        QTest::addColumn<QStringList>("families");
        QTest::addColumn<QString>("shown");
        QTest::newRow("as installed") << QApplication::font().families()
                                      << (QFontDatabase::hasFamily("Tahoma") ? "Tahoma" : "Liberation Sans");
        QTest::newRow("first choice missing") << QStringList{"No Such Face 7f3a", "Liberation Sans"}
                                              << "Liberation Sans";
    }
    void fontFallsBackWhenTheFirstChoiceIsMissing()
    {
        QFETCH(QStringList, families);
        QFETCH(QString, shown);
        const QFont saved = QApplication::font();
        QFont font = saved;
        font.setFamilies(families);
        QApplication::setFont(font);
        auto form = GuiTest::ShowForm();
        for (const char *name : {"eTo", "Label1", "SendBtn", "mReadMessage", "ConnectStatus"}) {
            QCOMPARE(QFontInfo(Find(form.get(), name)->font()).family(), shown);
            QCOMPARE(Find(form.get(), name)->font().pointSize(), 8);
        }
        QApplication::setFont(saved);
    }

    void editsTakeTextOfAnyLength()
    {
        // A long recipient list must never be cut short without a word.
        auto form = GuiTest::ShowForm();
        const QString text(100000, QLatin1Char('a'));
        for (auto *edit : form->findChildren<QLineEdit *>()) {
            edit->setText(text);
            QVERIFY2(edit->text() == text, qPrintable(edit->objectName()));
        }
    }

    void countLabelGrowsToTheRight()
    {
        auto form = GuiTest::ShowForm();
        auto *count = Find<TLabel>(form.get(), "lMessageCount");
        const int left = count->x();
        const int narrow = count->width();
        count->SetCaption(QStringLiteral("123456"));
        QCOMPARE(count->x(), left);
        QVERIFY(count->width() > narrow);
        QCOMPARE(count->width(), count->fontMetrics().horizontalAdvance(QStringLiteral("123456")));
        QCOMPARE(Find(form.get(), "Label11")->x(), count->x() + count->width() + TLabel::kFollowerGap);
    }

    void countNeverRunsIntoItsLabel_data()
    {
        QTest::addColumn<QString>("count");
        QTest::addColumn<bool>("designedPlace");
        QTest::newRow("0") << "0" << true;
        QTest::newRow("999") << "999" << true;
        QTest::newRow("1000") << "1000" << false;
        QTest::newRow("2147483647") << "2147483647" << false;
    }
    void countNeverRunsIntoItsLabel()
    {
        QFETCH(QString, count);
        QFETCH(bool, designedPlace);
        auto form = GuiTest::ShowForm();
        auto *label = Find<TLabel>(form.get(), "lMessageCount");
        auto *messages = Find(form.get(), "Label11");
        label->SetCaption(QStringLiteral("1234567")); // and back: the label returns to its place
        label->SetCaption(count);
        QVERIFY(messages->x() > label->geometry().right());
        QCOMPARE(messages->x() == 164, designedPlace);
        QCOMPARE(messages->y(), 6);
    }

    void labelsFitTheirCaptions()
    {
        auto form = GuiTest::ShowForm();
        for (auto *label : form->findChildren<TLabel *>()) {
            if (label->wordWrap()) {
                QVERIFY2(label->height() >= label->heightForWidth(label->width()),
                         qPrintable(label->objectName()));
            } else {
                QVERIFY2(label->width() >= label->fontMetrics().horizontalAdvance(label->text()),
                         qPrintable(label->objectName()));
            }
        }
    }

    void clearEmptiesTheMessageButKeepsTheAttachBox()
    {
        auto form = GuiTest::ShowForm();
        Find<QLineEdit>(form.get(), "eTo")->setText("a@example.org");
        Find<QLineEdit>(form.get(), "eCC")->setText("b@example.org");
        Find<QTextEdit>(form.get(), "reMessageText")->setPlainText("Hello\nthere");
        auto *attach = Find<QCheckBox>(form.get(), "cbSendFile");
        const QString caption = attach->text();
        QTest::mouseClick(Find(form.get(), "ClearBtn"), Qt::LeftButton);
        QCOMPARE(Find<QLineEdit>(form.get(), "eTo")->text(), QString());
        QCOMPARE(Find<QLineEdit>(form.get(), "eCC")->text(), QString());
        // The subject empties; it does not go back to its first text.
        QCOMPARE(Find<QLineEdit>(form.get(), "eSubject")->text(), QString());
        QCOMPARE(Find<QTextEdit>(form.get(), "reMessageText")->toPlainText(), QString());
        QVERIFY(form->GetOpenDialog().FileName.isEmpty());
        QCOMPARE(attach->text(), caption);
    }

    void glyphsTakeTheirTransparencyFromTheBottomLeftPixel()
    {
        // 4 x 2 picture: left glyph | right glyph; bottom-left is the key.
        QImage picture(4, 2, QImage::Format_RGB32);
        const QRgb key = qRgb(128, 128, 0), white = qRgb(255, 255, 255), grey = qRgb(128, 128, 128);
        picture.setPixel(0, 0, qRgb(255, 0, 0));
        picture.setPixel(1, 0, key);
        picture.setPixel(2, 0, white);
        picture.setPixel(3, 0, grey);
        picture.setPixel(0, 1, key);
        picture.setPixel(1, 1, qRgb(0, 0, 255));
        picture.setPixel(2, 1, key);
        picture.setPixel(3, 1, qRgb(0, 0, 0));
        QPalette palette;
        palette.setColor(QPalette::Light, QColor(250, 250, 240));
        palette.setColor(QPalette::Dark, QColor(90, 90, 100));
        const QImage normal = Glyphs::NormalGlyph(QPixmap::fromImage(picture)).toImage();
        const QImage disabled = Glyphs::DisabledGlyph(QPixmap::fromImage(picture), palette).toImage();
        QCOMPARE(normal.size(), QSize(2, 2));
        QCOMPARE(qAlpha(normal.pixel(1, 0)), 0);
        QCOMPARE(qAlpha(normal.pixel(0, 1)), 0);
        QCOMPARE(normal.pixel(0, 0), qRgb(255, 0, 0));
        QCOMPARE(normal.pixel(1, 1), qRgb(0, 0, 255));
        // Disabled: the key is transparent there too, white and grey take the
        // palette's 3-D highlight and shadow, other colours stay.
        QCOMPARE(disabled.pixel(0, 0), QColor(250, 250, 240).rgb());
        QCOMPARE(disabled.pixel(1, 0), QColor(90, 90, 100).rgb());
        QCOMPARE(qAlpha(disabled.pixel(0, 1)), 0);
        QCOMPARE(disabled.pixel(1, 1), qRgb(0, 0, 0));
    }

    void everyButtonShowsItsGlyph()
    {
        auto form = GuiTest::ShowForm();
        for (auto *button : form->findChildren<TBitBtn *>()) {
            QVERIFY2(!button->icon().isNull(), qPrintable(button->objectName()));
            QCOMPARE(button->icon().pixmap(16, 16, QIcon::Disabled).size(), QSize(16, 16));
        }
        QCOMPARE(Find<TImage>(form.get(), "LedImage")->Picture().size(), QSize(32, 16));
        QCOMPARE(Find<TImage>(form.get(), "HalvexImage")->Picture().size(), QSize(140, 34));
    }

    void quitButtonsCloseTheWindow_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("page");
        QTest::newRow("Send Mail") << "QuitBtn" << "SendPage";
        QTest::newRow("Get Mail") << "BitBtn2" << "RecvPage";
        QTest::newRow("Connect To") << "BitBtn1" << "ConPage";
    }
    void quitButtonsCloseTheWindow()
    {
        QFETCH(QString, button);
        QFETCH(QString, page);
        auto form = GuiTest::ShowForm();
        Find<QTabWidget>(form.get(), "PageControl1")->setCurrentWidget(Find(form.get(), page));
        QTest::mouseClick(Find(form.get(), button), Qt::LeftButton);
        QVERIFY(!form->isVisible());
    }

    void errorBoxStaysOnScreen_data()
    {
        QTest::addColumn<QString>("description");
        QTest::addColumn<bool>("cut");
        QTest::newRow("a usual refusal as it is") << "5.3.4 message too big\r(552 5.3.4 try smaller)" << false;
        QTest::newRow("512 lines of 4,000 characters")
            << (QString(3999, QLatin1Char('x')) + QLatin1Char(' ') + QLatin1Char('\r')).repeated(512) << true;
        QTest::newRow("a line of 100,000 characters without a blank") << QString(100000, QLatin1Char('y')) << true;
    }
    void errorBoxStaysOnScreen()
    {
        QFETCH(QString, description);
        QFETCH(bool, cut);
        auto form = GuiTest::ShowForm();
        const QString full =
            QStringLiteral("1015 - ") + QString(description).replace(QLatin1Char('\r'), QLatin1Char('\n'));
        QString details, size;
        bool boxOnScreen = false, okOnScreen = false;
        const GuiTest::ModalLog log = GuiTest::WhileAnsweringModals(
            [&] {
                bool cancelDisplay = false;
                emit Find<TSMTP>(form.get(), "SMTP1")->OnError(1015, description, cancelDisplay);
            },
            [&](QWidget *modal) {
                auto *box = qobject_cast<QMessageBox *>(modal);
                QAbstractButton *ok = box->button(QMessageBox::Ok);
                const QRect screen = box->screen()->availableGeometry();
                details = box->detailedText();
                size = QStringLiteral("%1 x %2").arg(box->width()).arg(box->height());
                boxOnScreen = screen.contains(box->frameGeometry());
                okOnScreen = ok->isVisible() && screen.contains(QRect(ok->mapToGlobal(QPoint()), ok->size()));
                ok->click();
            });
        QVERIFY2(boxOnScreen, qPrintable(size));
        QVERIFY(okOnScreen);
        QCOMPARE(log.titles, QStringList{"Error"});
        if (cut) {
            QCOMPARE(details, full);
            const QString shown = log.texts.value(0);
            QVERIFY(shown.size() < 2000 && shown.count(QLatin1Char('\n')) < 25);
            QVERIFY(QString(full).remove(QLatin1Char('\n')).startsWith(shown.chopped(1).remove(QLatin1Char('\n'))));
        } else {
            QCOMPARE(log.texts.value(0), full);
            QVERIFY(details.isEmpty());
        }
    }

    void bodyDirectionControlsEndWithTheirLine_data()
    {
        QTest::addColumn<QStringList>("chunks");
        QTest::newRow("override") << QStringList{u"x \u202Eevil\nnext line\n"_s};
        QTest::newRow("isolate, its line in two chunks") << QStringList{u"x \u2067ev"_s, u"il\nnext line\n"_s};
        QTest::newRow("embedding after a long paragraph")
            << QStringList{QString(3000, QLatin1Char('a')) + u"\nb\u202Bc\nnext line\n"_s};
        QTest::newRow("override among a short piece's last characters") << QStringList{u"x\u202E\n"_s, u"next line\n"_s};
    }
    void bodyDirectionControlsEndWithTheirLine()
    {
        // A line separator does not end an override; a paragraph does.
        QFETCH(QStringList, chunks);
        TMessageView view;
        for (const QString &chunk : chunks)
            view.AppendReceived(chunk);
        QCOMPARE(view.toPlainText(), chunks.join(QString()));
        const QTextBlock next = view.document()->find(u"next line"_s).block();
        QVERIFY(!next.text().contains(QRegularExpression(u"[\u202A-\u202E\u2066-\u2068]"_s)));
    }

    void ctrlEndRightAfterTextArrivesShowsTheEnd_data()
    {
        QTest::addColumn<bool>("caughtUp"); // the event loop ran before the key
        QTest::newRow("in the same turn") << false;
        QTest::newRow("a turn later") << true;
    }
    void ctrlEndRightAfterTextArrivesShowsTheEnd()
    {
        // The view works out its scroll range once per turn of the event
        // loop; a key pressed in the same turn must still reach the end.
        QFETCH(bool, caughtUp);
        QString text;
        for (int i = 0; i < 400; ++i)
            text += u"line %1 of the message\n"_s.arg(i);
        TMessageView view;
        view.resize(300, 200);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.AppendReceived(text);
        if (caughtUp)
            QCoreApplication::processEvents();
        QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier);
        QCoreApplication::processEvents();
        QCOMPARE(view.textCursor().position(), view.document()->characterCount() - 1);
        QVERIFY(view.viewport()->rect().contains(view.cursorRect()));
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
