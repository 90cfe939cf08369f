#include "faultcases.h"

namespace {
// The server offers no PIPELINING, so that each command is a step of its own.
const QStringList kSmtpGreeting{"S:220 faults.test ESMTP"};
const QStringList kSmtpHello = kSmtpGreeting + QStringList{"C:EHLO", "S:250-faults.test\r\n250 8BITMIME"};
const QStringList kSmtpRset{"C:RSET", "S:250 2.0.0 ok"};

const QStringList kPopLogin{"S:+OK faults.test ready", "C:USER alice", "S:+OK", "C:PASS alice-pw", "S:+OK logged in"};
const QStringList kPopStat = kPopLogin + QStringList{"C:STAT", "S:+OK 2 320"};
const QStringList kPopQuit{"C:QUIT", "S:+OK bye", "X"};

const QByteArray kGarbage = QByteArray("\x01\xff]]] what?\x7f");
} // namespace

const QList<Fault> &Faults()
{
    // name, SMTP reply, POP reply, SMTP while the text streams, POP inside a
    // message, error, what arrives when it is only message text
    static const QList<Fault> faults{
        {"connection dropped", {"X"}, {"X"}, {"X"}, {"X"}, 1004, QByteArray()},
        {"server silent", {"Z"}, {"Z"}, {"SLOW"}, {"Z"}, 1005, QByteArray()},
        {"4xx reply", {"S:451 4.3.0 try again later"}, {"S:-ERR [SYS/TEMP] try again later"},
         {"S:451 4.3.0 try again later", "SLOW"}, {"S:-ERR [SYS/TEMP] try again later", "S:."}, 0,
         "-ERR [SYS/TEMP] try again later\r\n"},
        {"5xx reply", {"S:554 5.7.1 refused"}, {"S:-ERR [SYS/PERM] refused"}, {"S:554 5.7.1 refused", "SLOW"},
         {"S:-ERR [SYS/PERM] refused", "S:."}, 0, "-ERR [SYS/PERM] refused\r\n"},
        {"garbage", {"S:]]] what?"}, {"S:]]] what?"}, {"S:]]] what?", "SLOW"},
         {"L:" + QString::fromLatin1(kGarbage), "S:", "S:."}, 1006, kGarbage + "\r\n"},
        {"1 MiB line", {"BIG", "Z"}, {"BIG", "Z"}, {"BIG", "SLOW"}, {"BIG", "S:", "S:."}, 1006,
         QByteArray(1 << 20, 'x') + "\r\n"},
    };
    return faults;
}

const QList<Step> &SmtpSteps()
{
    const QStringList mail = kSmtpHello + QStringList{"C:MAIL FROM:<me@x.test>"};
    const QStringList rcpt1 = mail + QStringList{"S:250 2.1.0 ok", "C:RCPT TO:<a@x.test>"};
    const QStringList rcpt2 = rcpt1 + QStringList{"S:250 2.1.5 ok", "C:RCPT TO:<b@x.test>"};
    const QStringList data = rcpt2 + QStringList{"S:250 2.1.5 ok", "C:DATA"};
    static const QList<Step> steps{
        {"greeting", {}, FaultContext::Reply, Drive::Connect, {1010, 6}, {}, "state 4"},
        {"EHLO", kSmtpGreeting + QStringList{"C:EHLO"}, FaultContext::Reply, Drive::Connect, {0, 4},
         {"C:HELO", "S:250 faults.test"}, "state 4"},
        {"HELO after EHLO refused",
         kSmtpGreeting + QStringList{"C:EHLO", "S:502 5.5.2 EHLO not implemented", "C:HELO"},
         FaultContext::Reply, Drive::Connect, {1011, 6}, {}, "state 4"},
        {"MAIL FROM", mail, FaultContext::Reply, Drive::Send, {1012, 4}, kSmtpRset, ""},
        {"RCPT TO (first)", rcpt1, FaultContext::Reply, Drive::Send, {1013, 4}, kSmtpRset, ""},
        {"RCPT TO (second)", rcpt2, FaultContext::Reply, Drive::Send, {1013, 4}, kSmtpRset, ""},
        {"DATA (354)", data, FaultContext::Reply, Drive::Send, {1014, 4}, kSmtpRset, ""},
        {"message text", data + QStringList{"S:354 go ahead", "W:65536"}, FaultContext::SmtpBody,
         Drive::SendLarge, {1015, 6}, {}, ""},
        {"end of data", data + QStringList{"S:354 go ahead", "D"}, FaultContext::Reply, Drive::Send, {1015, 4}, {},
         ""},
        {"QUIT", kSmtpHello + QStringList{"C:QUIT"}, FaultContext::Reply, Drive::Quit, {0, 6}, {}, ""},
    };
    return steps;
}

const QList<Step> &PopSteps()
{
    static const QList<Step> steps{
        {"greeting", {}, FaultContext::Reply, Drive::Connect, {1010, 6}, {}, "protocol 1"},
        {"USER", kPopLogin.mid(0, 2), FaultContext::Reply, Drive::Connect, {1020, 6}, kPopQuit, "protocol 2"},
        {"PASS", kPopLogin.mid(0, 4), FaultContext::Reply, Drive::Connect, {1020, 6}, kPopQuit, "protocol 2"},
        {"STAT", kPopLogin + QStringList{"C:STAT"}, FaultContext::Reply, Drive::Connect, {1021, 4}, {}, "count"},
        {"RETR reply", kPopStat + QStringList{"C:RETR 1"}, FaultContext::Reply, Drive::Retrieve, {1022, 4}, {},
         "doc 2"},
        {"RETR mid-body",
         kPopStat + QStringList{"C:RETR 1", "R:+OK 320\r\nSubject: faults\r\n\r\n" + QString::fromLatin1(PopBodyBeforeFault())},
         FaultContext::PopBody, Drive::Retrieve, {}, {}, ""},
        {"QUIT", kPopStat + QStringList{"C:QUIT"}, FaultContext::Reply, Drive::Quit, {0, 6}, {}, ""},
    };
    return steps;
}

QStringList NextSmtpDocument()
{
    return {"C:MAIL", "S:250 ok", "C:RCPT", "S:250 ok", "C:RCPT", "S:250 ok", "C:DATA", "S:354 go ahead", "D",
            "S:250 2.0.0 queued", "C:QUIT", "S:221 bye", "X"};
}

QStringList GoodSmtpSession()
{
    return kSmtpHello + NextSmtpDocument();
}

QStringList NextPopMessage()
{
    return QStringList{"C:RETR", "R:+OK\r\nSubject: next\r\n\r\nnext message\r\n.\r\n"} + kPopQuit;
}

QStringList GoodPopSession()
{
    return kPopStat + NextPopMessage();
}

QString NextPopBody()
{
    return QStringLiteral("next message\n"); // as the control hands it on
}

QByteArray PopBodyBeforeFault()
{
    return "first line\r\n";
}

QStringList ScriptFor(const Step &step, const Fault &fault, bool smtp)
{
    QStringList script = step.prefix;
    switch (step.context) {
    case FaultContext::Reply:
        script += smtp ? fault.smtpReply : fault.popReply;
        if (fault.error == 0)
            script += step.afterRefusal;
        break;
    case FaultContext::SmtpBody:
        script += fault.smtpBody;
        break;
    case FaultContext::PopBody:
        script += fault.popBody;
        break;
    }
    return script;
}

Outcome Expected(const Step &step, const Fault &fault)
{
    if (step.context == FaultContext::PopBody && !fault.bodyText.isNull())
        return {0, 4}; // just message text: it arrives, the session goes on
    if (fault.error == 0)
        return step.refused;
    // Losing the connection or an answer after QUIT is the end that was asked for.
    if (step.drive == Drive::Quit && (fault.error == 1004 || fault.error == 1005))
        return {0, 6};
    return {fault.error, 6};
}

QString Describe(const QStringList &steps)
{
    QStringList parts;
    for (const QString &step : steps) {
        if (step == QLatin1String("X")) {
            parts << QStringLiteral("closes the connection");
        } else if (step == QLatin1String("Z")) {
            parts << QStringLiteral("stays silent");
        } else if (step == QLatin1String("SLOW")) {
            parts << QStringLiteral("stops reading");
        } else if (step == QLatin1String("BIG")) {
            parts << QStringLiteral("1 MiB without a line end");
        } else {
            QString text;
            for (QChar c : step.mid(2)) {
                if (c.unicode() < 32 || c.unicode() >= 127)
                    text += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
                else
                    text += c;
            }
            parts << (text.isEmpty() ? QStringLiteral("a line end") : QStringLiteral("`%1`").arg(text));
        }
    }
    return parts.join(QStringLiteral(", then "));
}
