// The line limits of the three reply parsers at their edges: a line at the
// limit is taken whatever its line end, one octet more is refused, and a
// read that stops between the CR and the LF refuses nothing that the whole
// line would pass. CAPA lines count their CR towards the limit.
#include "pop/popcapa.h"
#include "pop/popreply.h"
#include "smtp/smtpreply.h"

#include <QTest>

namespace {
enum class Parser { Smtp, Pop, Capa };

QByteArray Line(const char *start, qsizetype size)
{
    return start + QByteArray(size - qstrlen(start), 'x');
}

net::ParseResult Parse(Parser parser, const QByteArray &data)
{
    qsizetype consumed = 0;
    switch (parser) {
    case Parser::Smtp: {
        smtp::Reply reply;
        QString error;
        return smtp::ParseReply(data, &reply, &consumed, &error);
    }
    case Parser::Pop: {
        pop::StatusLine line;
        QByteArray error;
        return pop::ParseStatusLine(data, &line, &consumed, &error);
    }
    case Parser::Capa: {
        pop::CapaList list;
        QByteArray error;
        return list.Feed(data, &consumed, &error);
    }
    }
    return net::ParseResult::Invalid;
}
} // namespace

Q_DECLARE_METATYPE(Parser)

class TestLineLimits : public QObject {
    Q_OBJECT
private slots:
    void edges_data();
    void edges();
};

void TestLineLimits::edges_data()
{
    QTest::addColumn<Parser>("parser");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("result");
    const int C = int(net::ParseResult::Complete), M = int(net::ParseResult::NeedMore),
              I = int(net::ParseResult::Invalid);
    const struct {
        const char *name;
        Parser parser;
        const char *start;
        qsizetype limit;
    } counted[] = {{"SMTP reply", Parser::Smtp, "250 ", smtp::kMaxReplyLine},
                   {"POP status", Parser::Pop, "+OK ", pop::kMaxStatusLine}};
    for (const auto &p : counted) {
        auto row = [&](const char *what) -> QTestData & { return QTest::addRow("%s: %s", p.name, what) << p.parser; };
        row("at the limit, CRLF") << Line(p.start, p.limit) + "\r\n" << C;
        row("at the limit, LF") << Line(p.start, p.limit) + "\n" << C;
        row("at the limit, LF to come") << Line(p.start, p.limit) + "\r" << M;
        row("past the limit, CRLF") << Line(p.start, p.limit + 1) + "\r\n" << I;
        row("past the limit, no end") << Line(p.start, p.limit + 1) << I;
        row("at the limit, a CR inside") << Line(p.start, p.limit) + "\rx" << I;
    }
    const qsizetype capa = pop::kMaxCapaLine;
    QTest::newRow("CAPA: at the limit, LF") << Parser::Capa << Line("", capa) + "\n.\r\n" << C;
    QTest::newRow("CAPA: one short, CRLF") << Parser::Capa << Line("", capa - 1) + "\r\n.\r\n" << C;
    QTest::newRow("CAPA: one short, LF to come") << Parser::Capa << Line("", capa - 1) + "\r" << M;
    QTest::newRow("CAPA: at the limit, CRLF") << Parser::Capa << Line("", capa) + "\r\n" << I;
    QTest::newRow("CAPA: at the limit, LF to come") << Parser::Capa << Line("", capa) + "\r" << I;
    QTest::newRow("CAPA: past the limit, no end") << Parser::Capa << Line("", capa + 1) << I;
}

void TestLineLimits::edges()
{
    QFETCH(Parser, parser);
    QFETCH(QByteArray, data);
    QFETCH(int, result);
    QCOMPARE(int(Parse(parser, data)), result);
    // The same bytes cut short by a read: nothing the whole passes is refused.
    for (qsizetype cut = qMax<qsizetype>(0, data.size() - 5); cut < data.size(); ++cut) {
        const net::ParseResult part = Parse(parser, data.first(cut));
        if (result != int(net::ParseResult::Invalid))
            QCOMPARE(int(part), int(net::ParseResult::NeedMore));
    }
}

QTEST_GUILESS_MAIN(TestLineLimits)
#include "tst_linelimits.moc"
