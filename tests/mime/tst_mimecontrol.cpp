// TPOP's delivery of decoded mail against scripted servers: how a held
// multipart body reaches the handler, and what happens when the connection
// ends or the handler starts another retrieval in the middle of it.
#include "docobjects.h"
#include "controlevents.h"
#include "scriptserver.h"
#include "tpop.h"

#include <QTest>

namespace {
const QStringList kLogin{"S:+OK ready", "C:USER alice", "S:+OK", "C:PASS pw", "S:+OK", "C:STAT", "S:+OK 1 999"};

// One text part long enough to come in several chunks, with characters
// outside the BMP so that a chunk boundary could fall inside a pair.
QByteArray LongText()
{
    QByteArray text;
    for (int i = 0; i < 30000; ++i)
        text += "line " + QByteArray::number(i) + " \xf0\x9f\x98\x80\r\n";
    return text;
}

QByteArray Multipart(const QByteArray &text)
{
    return "Subject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe?=\r\nContent-Type: multipart/mixed; boundary=\"p\"\r\n\r\n"
           "--p\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n" + text
           + "--p\r\nContent-Type: application/pdf; name=a.pdf\r\nContent-Transfer-Encoding: base64\r\n\r\nAAAA\r\n--p--\r\n";
}

// A multipart body with no delimiter in it: held until it ends (nothing
// shows whether one comes), then shown as it came.
QByteArray Undelimited(const QByteArray &text)
{
    return "Subject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe?=\r\nContent-Type: multipart/mixed; boundary=\"p\"\r\n\r\n" + text;
}

// Logs in and retrieves message 1 once counted, recording what comes.
struct Watch : ControlEvents {
    explicit Watch(TPOP *pop) : ControlEvents(pop)
    {
        QObject::connect(pop, &TPOP::OnProtocolStateChanged, pop, [pop](short s) {
            if (s == 1)
                pop->Authenticate("alice", "pw");
        });
        QObject::connect(pop, &TPOP::OnRefreshMessageCount, pop, [pop](qint32) { pop->RetrieveMessage(1); });
    }
    bool Ended() const { return documentsEnded > 0; }
};
} // namespace

class TestMimeControl : public QObject {
    Q_OBJECT
private slots:
    void heldMultipartArrivesInChunks();
    void cutConnectionShowsWhatCame();
    void retrievalStartedFromAChunkEndsTheOldDelivery();
};

void TestMimeControl::heldMultipartArrivesInChunks()
{
    const QByteArray text = LongText();
    const QByteArray message = Undelimited(text);
    const qsizetype half = message.size() / 2;
    ScriptServer server(kLogin + QStringList{"C:RETR 1", "S:+OK", "L:" + QString::fromLatin1(message.left(half)),
                                             "L:" + QString::fromLatin1(message.mid(half) + ".\r\n")});
    TPOP pop;
    pop.SetTimeout(5);
    Watch watch(&pop);
    pop.SetRemoteHost(server.Host());
    pop.Connect();
    QTRY_VERIFY_WITH_TIMEOUT(watch.Ended(), 10000);
    QVERIFY(watch.errors.isEmpty());
    QVERIFY(watch.headers.contains(QStringLiteral("Subject: Grüße")));
    // While the body is held the events only count bytes; then the text
    // comes in chunks that each the window can take, none inside a pair.
    QVERIFY(watch.chunks.size() > 3);
    QVERIFY(watch.chunks.first().isEmpty());
    QString all;
    for (const QString &chunk : std::as_const(watch.chunks)) {
        QVERIFY(chunk.size() <= 64 * 1024);
        QVERIFY(chunk.isEmpty() || !chunk.front().isLowSurrogate());
        all += chunk;
    }
    QCOMPARE(all, QString::fromUtf8(QByteArray(text).replace("\r\n", "\n")));
    QCOMPARE(watch.transferredAt.last(), qint32(message.size() - message.indexOf("\r\n\r\n") - 4));
}

void TestMimeControl::cutConnectionShowsWhatCame()
{
    // A multipart message cut off by the server: the part that came is
    // shown after the error, not lost with the held body.
    QByteArray message = Multipart("first part only\r\n");
    message.truncate(message.indexOf("first part only\r\n") + 17);
    ScriptServer server(kLogin + QStringList{"C:RETR 1", "S:+OK", "R:" + message, "X"});
    TPOP pop;
    pop.SetTimeout(5);
    Watch watch(&pop);
    pop.SetRemoteHost(server.Host());
    pop.Connect();
    QTRY_VERIFY_WITH_TIMEOUT(watch.Ended(), 10000);
    QCOMPARE(watch.errors.size(), 1);
    QCOMPARE(watch.chunks.join(QString()), QStringLiteral("first part only\n"));
}

void TestMimeControl::retrievalStartedFromAChunkEndsTheOldDelivery()
{
    // The handler asks for the next message while the held text of this one
    // is being handed out: the rest of the old text must not run into the
    // new message.
    ScriptServer server(kLogin + QStringList{"C:RETR 1", "S:+OK", "L:" + QString::fromLatin1(Undelimited(LongText()) + ".\r\n"),
                                             "C:RETR 1", "S:+OK", "S:Subject: second", "S:", "S:second body", "S:.", "Z"});
    TPOP pop;
    pop.SetTimeout(5);
    Watch watch(&pop);
    int textChunks = 0;
    connect(&pop, &TPOP::OnDocOutput, this, [&](TDocOutput *doc) {
        if (doc->State() == 1)
            watch.chunks.clear();
        if (doc->State() == 3 && !doc->GetData().isEmpty() && ++textChunks == 2)
            pop.RetrieveMessage(1);
    });
    pop.SetRemoteHost(server.Host());
    pop.Connect();
    QTRY_VERIFY_WITH_TIMEOUT(watch.Ended(), 10000);
    QCOMPARE(textChunks, 3);
    QCOMPARE(watch.chunks, QStringList{QStringLiteral("second body\n")});
    QVERIFY(watch.headers.endsWith(QStringLiteral("Subject: second")));
}

QTEST_MAIN(TestMimeControl)
#include "tst_mimecontrol.moc"
