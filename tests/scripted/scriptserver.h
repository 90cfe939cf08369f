#pragma once
#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

// A misbehaving server that plays one transcript on loopback. Steps:
//   "S:text"  send text and CRLF          "R:bytes" send bytes as they are
//   "L:text"  send text as Latin-1 octets (for 8-bit and split sequences)
//   "C:text"  expect a client line that starts with text (case-insensitive)
//   "D"       expect a DATA stream up to CRLF.CRLF (kept in Data())
//   "X"       close the connection (later steps play on the client's next
//             connection)                 "Z"       stay silent for good
//   "BIG"     send 1 MiB without a line end
//   "SLOW"    stop reading (the client's writes back up)
//   "W:n"     wait until n unread bytes have come (the client is mid-stream)
//   "DRIP:n/ms:text"  send text and CRLF n bytes every ms milliseconds (a
//             server that trickles to keep a command open)
// A script without a "C:CAPA" step plays a POP3 server that predates CAPA:
// the client's CAPA is answered "-ERR" and is not recorded or matched.
class ScriptServer : public QObject {
    Q_OBJECT
public:
    explicit ScriptServer(const QStringList &script, QObject *parent = nullptr,
                          const QHostAddress &address = QHostAddress(QHostAddress::LocalHost), quint16 port = 0);
    bool Listening() const { return m_server.isListening(); }
    quint16 Port() const { return m_server.serverPort(); }
    QString Host() const { return QStringLiteral("127.0.0.1:%1").arg(Port()); }
    bool Finished() const { return m_pos >= m_script.size(); }
    QString Failure() const { return m_failure; }
    QByteArray Data() const { return m_data; }
    QStringList ClientLines() const { return m_lines; }
    // What the client sent that no step has taken yet.
    QByteArray Unread() const { return m_in; }
    int Connections() const { return m_connections; }
    // Bytes sent so far by "DRIP" steps.
    int Dripped() const { return m_dripped; }
    // Extends the script, e.g. with the next transaction once a test has
    // seen how the last one ended.
    void Append(const QStringList &steps);

private:
    void Run();
    bool TakeLine(QByteArray *line);
    void AnswerUnscriptedCapa();
    void Drip();

    QTcpServer m_server;
    QPointer<QTcpSocket> m_client;
    QStringList m_script;
    qsizetype m_pos = 0;
    QByteArray m_in;
    QByteArray m_data;
    QStringList m_lines;
    QString m_failure;
    bool m_reading = true;
    bool m_closed = false; // "X" ended the current connection
    int m_connections = 0;
    QByteArray m_drip; // what a "DRIP" step still has to send
    int m_dripSize = 1; // bytes a tick
    int m_dripped = 0;
    QTimer m_dripTimer;
};

// Whether the recorded events end with these.
inline bool EndsWith(const QStringList &events, const QStringList &tail)
{
    return events.size() >= tail.size() && events.mid(events.size() - tail.size()) == tail;
}
