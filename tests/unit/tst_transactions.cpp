// The SMTP document transaction and the POP retrieval without a socket: a
// transcript of replies in, the commands, stream and events out.
#include "pop/poptransaction.h"
#include "smtp/smtpsignin.h"
#include "smtp/smtptransaction.h"

#include <QTest>

namespace {

// The wire as a transaction sees it, recorded.
struct SmtpWire : smtp::Link {
    QStringList commands;
    QList<smtp::Await> awaited;
    QByteArray stream;
    bool pipelining = false;
    QList<DocState> progress;

    void Send(const QByteArray &command, smtp::Await await) override
    {
        commands << QString::fromLatin1(command);
        awaited << await;
    }
    void Write(const QByteArray &bytes) override { stream += bytes; }
    void Expect(smtp::Await await) override { awaited << await; }
    qint64 Backlog() const override { return 0; }
    bool Offers(QByteArrayView extension) const override { return pipelining && extension == "PIPELINING"; }
    bool mustEncrypt = false;
    bool MustEncrypt(QString *why) const override
    {
        *why = QStringLiteral("offered encryption before");
        return mustEncrypt;
    }
    void Progress(DocState state, qint64, qint64) override { progress << state; }
};

smtp::Reply ReplyOf(const QString &text)
{
    smtp::Reply reply;
    qsizetype used = 0;
    QString error;
    smtp::ParseReply((text + QStringLiteral("\r\n")).toLatin1(), &reply, &used, &error);
    return reply;
}

// Answers each awaited reply in turn; the outcome that ends the transaction.
smtp::Outcome Play(smtp::Transaction &transaction, SmtpWire &wire, const QStringList &replies)
{
    for (const QString &text : replies) {
        if (wire.awaited.isEmpty())
            break;
        const smtp::Reply reply = ReplyOf(text);
        smtp::Outcome outcome;
        switch (wire.awaited.takeFirst()) {
        case smtp::Await::Mail250: outcome = transaction.OnMail250(reply); break;
        case smtp::Await::Rcpt250: outcome = transaction.OnRcpt250(reply); break;
        case smtp::Await::Data354: outcome = transaction.OnData354(reply); break;
        case smtp::Await::DataEnd250: outcome = transaction.OnDataEnd250(reply); break;
        default: break;
        }
        if (outcome.kind != smtp::Outcome::Going)
            return outcome;
    }
    return {};
}

struct PopWire : pop::Link {
    QStringList commands;
    QList<pop::DocEvent> events;
    void Send(const QByteArray &command, pop::Await) override { commands << QString::fromLatin1(command); }
    void ExpectLines(pop::Await) override {}
    void Document(const pop::DocEvent &event) override { events << event; }
    bool mustEncrypt = false;
    bool MustEncrypt(QString *) const override { return mustEncrypt; }
};

} // namespace

class TestTransactions : public QObject {
    Q_OBJECT
private slots:
    void smtpDocument_data()
    {
        QTest::addColumn<bool>("pipelining");
        QTest::addColumn<QStringList>("replies");
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("error"); // 0: none
        QTest::addColumn<bool>("reset");
        const QStringList envelope{"MAIL FROM:<me@x.test>", "RCPT TO:<a@x.test>", "RCPT TO:<b@x.test>"};
        QTest::newRow("sent") << true << QStringList{"250 ok", "250 ok", "250 ok", "354 go", "250 queued"}
                              << envelope + QStringList{"DATA"} << int(smtp::Outcome::Sent) << 0 << false;
        QTest::newRow("one refused recipient stops the document before DATA")
            << true << QStringList{"250 ok", "550 no such user", "250 ok"} << envelope
            << int(smtp::Outcome::Refused) << int(InetError::RecipientRefused) << true;
        QTest::newRow("without PIPELINING one command per reply, and none after a refusal")
            << false << QStringList{"250 ok", "550 no"} << envelope.mid(0, 2) << int(smtp::Outcome::Refused)
            << int(InetError::RecipientRefused) << true;
        QTest::newRow("refused sender") << true << QStringList{"553 not you", "250 ok", "250 ok"} << envelope
                                        << int(smtp::Outcome::Refused) << int(InetError::SenderRefused) << true;
        QTest::newRow("refused DATA") << true << QStringList{"250 ok", "250 ok", "250 ok", "554 no"}
                                      << envelope + QStringList{"DATA"} << int(smtp::Outcome::Refused)
                                      << int(InetError::DataRefused) << true;
        QTest::newRow("refused after its end: no RSET needed")
            << true << QStringList{"250 ok", "250 ok", "250 ok", "354 go", "552 too big"}
            << envelope + QStringList{"DATA"} << int(smtp::Outcome::Refused) << int(InetError::MessageRefused)
            << false;
    }
    void smtpDocument()
    {
        QFETCH(bool, pipelining);
        QFETCH(QStringList, replies);
        QFETCH(int, outcome);
        QFETCH(int, error);
        QFETCH(bool, reset);
        SmtpWire wire;
        wire.pipelining = pipelining;
        smtp::Document document;
        document.headers = {{"From", "me@x.test"}, {"To", "a@x.test"}, {"CC", "b@x.test"}};
        document.text = ".first line is a dot\n.\nend";
        smtp::Transaction transaction(wire, document);
        QCOMPARE(int(transaction.Prepare().kind), int(smtp::Outcome::Going));
        transaction.Start();
        const smtp::Outcome result = Play(transaction, wire, replies);
        QTEST(wire.commands, "commands");
        QCOMPARE(int(result.kind), outcome);
        if (error)
            QCOMPARE(int(result.failure.number), error);
        QCOMPARE(result.resetNeeded, reset);
        if (outcome == smtp::Outcome::Sent) {
            // The stream: headers, the body with every line end CRLF and
            // every leading dot doubled, the terminating dot.
            QVERIFY(wire.stream.contains("\r\n\r\n..first line is a dot\r\n..\r\nend\r\n.\r\n"));
            QCOMPARE(wire.progress, (QList<DocState>{DocState::Headers, DocState::Data}));
        }
    }

    void smtpDocumentRefusedBeforeAnythingIsSent_data()
    {
        QTest::addColumn<QString>("to");
        QTest::addColumn<bool>("fromFile");
        QTest::addColumn<int>("error");
        QTest::newRow("no recipient") << "" << false << int(InetError::BadAddress);
        QTest::newRow("line break in a header") << "a@x.test\r\nBcc: c@x.test" << false << int(InetError::BadHeader);
        QTest::newRow("no file named") << "a@x.test" << true << int(InetError::FileError);
    }
    void smtpDocumentRefusedBeforeAnythingIsSent()
    {
        QFETCH(QString, to);
        QFETCH(bool, fromFile);
        QFETCH(int, error);
        SmtpWire wire;
        smtp::Document document;
        document.headers = {{"From", "me@x.test"}, {"To", to}};
        document.fromFile = fromFile;
        smtp::Transaction transaction(wire, document);
        const smtp::Outcome prepared = transaction.Prepare();
        QCOMPARE(int(prepared.kind), int(smtp::Outcome::Refused));
        QCOMPARE(int(prepared.failure.number), error);
        QVERIFY(wire.commands.isEmpty() && wire.stream.isEmpty());
    }

    // Sign-in: the exchange each mechanism makes (the SCRAM exchange with a
    // real server is in the road tests) and how it ends.
    void smtpSignIn_data()
    {
        QTest::addColumn<QByteArray>("mechanism");
        QTest::addColumn<QStringList>("replies");
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<int>("outcome");
        QTest::newRow("PLAIN: initial response, accepted")
            << QByteArray("PLAIN") << QStringList{"235 2.7.0 ok"} << QStringList{"AUTH PLAIN AGFsaWNlAGFsaWNlLXB3"}
            << int(smtp::Outcome::SignedIn);
        QTest::newRow("LOGIN: user name and password answer the challenges")
            << QByteArray("LOGIN") << QStringList{"334 VXNlcm5hbWU6", "334 UGFzc3dvcmQ6", "235 ok"}
            << QStringList{"AUTH LOGIN", "YWxpY2U=", "YWxpY2UtcHc="} << int(smtp::Outcome::SignedIn);
        QTest::newRow("wrong password") << QByteArray("PLAIN") << QStringList{"535 5.7.8 authentication failed"}
                                        << QStringList{"AUTH PLAIN AGFsaWNlAGFsaWNlLXB3"}
                                        << int(smtp::Outcome::Refused);
        QTest::newRow("SCRAM: yes without the server's proof is refused")
            << QByteArray("SCRAM-SHA-256") << QStringList{"235 ok"} << QStringList{} << int(smtp::Outcome::Refused);
        QTest::newRow("SCRAM: a challenge that is not SCRAM is cancelled with *")
            << QByteArray("SCRAM-SHA-1") << QStringList{"334 bm9uc2Vuc2U="} << QStringList{"*"}
            << int(smtp::Outcome::Refused);
    }
    void smtpSignIn()
    {
        QFETCH(QByteArray, mechanism);
        QFETCH(QStringList, replies);
        QFETCH(QStringList, commands);
        QFETCH(int, outcome);
        SmtpWire wire;
        smtp::SignIn signIn(wire, "alice", "alice-pw");
        smtp::Outcome result = signIn.Start(mechanism);
        for (const QString &reply : replies) {
            if (result.kind != smtp::Outcome::Going)
                break;
            result = signIn.OnAuth235(ReplyOf(reply));
        }
        QCOMPARE(int(result.kind), outcome);
        if (outcome == smtp::Outcome::Refused)
            QCOMPARE(int(result.failure.number), int(InetError::AuthFailed));
        // SCRAM's first message carries a fresh nonce: only its form is known.
        if (mechanism.startsWith("SCRAM"))
            QVERIFY(wire.commands.takeFirst().startsWith(QLatin1String("AUTH ") + mechanism + ' '));
        QCOMPARE(wire.commands, commands);
        QVERIFY(!wire.commands.join(' ').contains(QLatin1String("alice-pw"))); // never in clear text
    }

    void smtpSignInChoices_data()
    {
        QTest::addColumn<QStringList>("ehlo");
        QTest::addColumn<QByteArray>("chosen");
        QTest::newRow("SCRAM-SHA-256 first") << QStringList{"AUTH PLAIN LOGIN SCRAM-SHA-1 SCRAM-SHA-256"}
                                             << QByteArray("SCRAM-SHA-256");
        QTest::newRow("old AUTH= form, lower case") << QStringList{"AUTH=login plain"} << QByteArray("PLAIN");
        QTest::newRow("nothing we have") << QStringList{"AUTH XOAUTH2 OAUTHBEARER"} << QByteArray();
        QTest::newRow("no AUTH line") << QStringList{"AUTHX PLAIN", "SIZE 100"} << QByteArray();
    }
    void smtpSignInChoices()
    {
        QFETCH(QStringList, ehlo);
        QList<QByteArray> lines;
        for (const QString &line : ehlo)
            lines << line.toLatin1();
        QTEST(smtp::ChooseMechanism(smtp::OfferedMechanisms(lines)), "chosen");
    }

    void smtpRefusalAsksForSignIn_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<bool>("asks");
        QTest::newRow("530") << "530 5.7.0 Authentication required" << true;
        QTest::newRow("enhanced 5.7.0 with another code") << "550 5.7.0 Please sign in" << true;
        QTest::newRow("words only") << "554 Authentication required first" << true;
        QTest::newRow("relay refused is not it") << "554 5.7.1 Relay access denied" << false;
        QTest::newRow("temporary words are not it") << "450 4.7.0 authentication required" << false;
    }
    void smtpRefusalAsksForSignIn()
    {
        QFETCH(QString, reply);
        QTEST(smtp::AsksForSignIn(ReplyOf(reply)), "asks");
    }

    // A server known to offer encryption that no longer does: nothing more
    // is said to it, in either protocol.
    void encryptionRemovedOnTheWay_data()
    {
        QTest::addColumn<QString>("ehlo");
        QTest::addColumn<bool>("mustEncrypt");
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<int>("outcome");
        QTest::newRow("offered: taken") << "250-x\r\n250 STARTTLS" << true << QStringList{"STARTTLS"} << -1;
        QTest::newRow("removed") << "250-x\r\n250 SIZE 10" << true << QStringList{} << int(smtp::Outcome::Broken);
        QTest::newRow("EHLO refused: no HELO") << "502 no" << true << QStringList{} << int(smtp::Outcome::Broken);
        QTest::newRow("never offered: goes on in clear") << "250-x\r\n250 SIZE 10" << false << QStringList{}
                                                         << int(smtp::Outcome::Ready);
    }
    void encryptionRemovedOnTheWay()
    {
        QFETCH(QString, ehlo);
        QFETCH(bool, mustEncrypt);
        QFETCH(int, outcome);
        SmtpWire wire;
        wire.mustEncrypt = mustEncrypt;
        smtp::Handshake handshake(wire);
        const smtp::Outcome result = handshake.OnEhlo250(ReplyOf(ehlo), false);
        QTEST(wire.commands, "commands");
        if (outcome >= 0) {
            QCOMPARE(int(result.kind), outcome);
            if (outcome == smtp::Outcome::Broken)
                QCOMPARE(int(result.failure.number), int(InetError::EncryptionMissing));
        }

        PopWire pop;
        pop.mustEncrypt = mustEncrypt;
        pop::Handshake popHandshake(pop);
        pop::StatusLine err;
        err.ok = false;
        const pop::Outcome popResult = popHandshake.OnCapaOk(err); // no CAPA: no STLS either
        QCOMPARE(int(popResult.kind), int(mustEncrypt ? pop::Outcome::Broken : pop::Outcome::Opened));
    }

    void popRetrieval_data()
    {
        QTest::addColumn<QString>("status");
        QTest::addColumn<QList<QByteArray>>("pieces");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("outcome");
        const QByteArray message = "Subject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe?=\r\nContent-Transfer-Encoding: quoted-printable\r\n"
                                   "\r\none=0D=\r\ntwo\r\n..dot\r\n.\r\n";
        QTest::newRow("whole") << "+OK" << QList<QByteArray>{message} << "one\ntwo\n.dot\n" << int(pop::Outcome::Retrieved);
        QList<QByteArray> bytes;
        for (char c : message)
            bytes << QByteArray(1, c);
        QTest::newRow("a byte at a time") << "+OK" << bytes << "one\ntwo\n.dot\n" << int(pop::Outcome::Retrieved);
        QTest::newRow("no such message") << "-ERR no such message" << QList<QByteArray>{} << ""
                                         << int(pop::Outcome::RetrieveFailed);
    }
    void popRetrieval()
    {
        QFETCH(QString, status);
        QFETCH(QList<QByteArray>, pieces);
        QFETCH(QString, text);
        QFETCH(int, outcome);
        PopWire wire;
        pop::Retrieval retrieval(wire, 3, true);
        QCOMPARE(int(retrieval.Start().kind), int(pop::Outcome::Going));
        QCOMPARE(wire.commands, QStringList{"RETR 3"});
        pop::StatusLine line;
        line.ok = status.startsWith(QLatin1String("+OK"));
        pop::Outcome result = retrieval.OnRetrOk(line);
        for (const QByteArray &piece : pieces) {
            qsizetype used = 0;
            bool ended = false;
            result = retrieval.OnRetrLines(piece, &used, &ended);
            QCOMPARE(used, piece.size());
            if (ended)
                break;
        }
        QCOMPARE(int(result.kind), outcome);
        retrieval.Finish();
        QString shown;
        QStringList headers;
        for (const pop::DocEvent &event : std::as_const(wire.events)) {
            shown += event.text;
            for (const auto &[name, value] : event.headers)
                headers << name + QStringLiteral(": ") + value;
        }
        QCOMPARE(shown, text);
        QCOMPARE(wire.events.first().state, DocState::Begin);
        QCOMPARE(wire.events.last().state, DocState::End);
        if (outcome == pop::Outcome::Retrieved)
            QCOMPARE(headers.value(0), QStringLiteral("Subject: Grüße"));
    }
};

QTEST_MAIN(TestTransactions)
#include "tst_transactions.moc"
