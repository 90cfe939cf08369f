#include "scriptserver.h"

ScriptServer::ScriptServer(const QStringList &script, QObject *parent, const QHostAddress &address, quint16 port)
    : QObject(parent), m_script(script)
{
    m_server.listen(address, port);
    connect(&m_dripTimer, &QTimer::timeout, this, &ScriptServer::Drip);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        QTcpSocket *socket = m_server.nextPendingConnection();
        ++m_connections;
        // One session at a time; after "X" the script goes on with the
        // client's next connection.
        if (m_client && !m_closed) {
            socket->abort();
            socket->deleteLater();
            return;
        }
        m_client = socket;
        m_closed = false;
        m_in.clear();
        connect(socket, &QTcpSocket::readyRead, this, [this] {
            if (!m_reading)
                return;
            m_in += m_client->readAll();
            Run();
        });
        Run();
    });
}

void ScriptServer::Drip()
{
    if (!m_client || m_closed || m_drip.isEmpty() || m_client->state() != QAbstractSocket::ConnectedState) {
        m_dripTimer.stop(); // the client has gone: the rest stays unsent
        return;
    }
    const qsizetype size = qMin<qsizetype>(m_dripSize, m_drip.size());
    m_client->write(m_drip.first(size));
    m_drip.remove(0, size);
    m_dripped += int(size);
    if (m_drip.isEmpty()) {
        m_dripTimer.stop();
        ++m_pos;
        Run();
    }
}

void ScriptServer::Append(const QStringList &steps)
{
    m_script += steps;
    Run();
}

bool ScriptServer::TakeLine(QByteArray *line)
{
    const qsizetype nl = m_in.indexOf('\n');
    if (nl < 0)
        return false;
    *line = m_in.left(nl + 1);
    m_in.remove(0, nl + 1);
    m_lines.append(QString::fromUtf8(line->trimmed()));
    return true;
}

void ScriptServer::AnswerUnscriptedCapa()
{
    if (m_script.contains(QLatin1String("C:CAPA"), Qt::CaseInsensitive))
        return;
    while (m_client) {
        const qsizetype nl = m_in.indexOf('\n');
        if (nl < 0 || m_in.left(nl).trimmed().toUpper() != "CAPA")
            return;
        m_in.remove(0, nl + 1);
        m_client->write("-ERR unknown command\r\n");
    }
}

void ScriptServer::Run()
{
    AnswerUnscriptedCapa();
    while (m_client && m_pos < m_script.size()) {
        const QString step = m_script[m_pos];
        if (step.startsWith(QLatin1String("S:"))) {
            m_client->write(step.mid(2).toUtf8() + "\r\n");
        } else if (step.startsWith(QLatin1String("R:"))) {
            m_client->write(step.mid(2).toUtf8());
        } else if (step.startsWith(QLatin1String("L:"))) {
            m_client->write(step.mid(2).toLatin1());
        } else if (step == QLatin1String("BIG")) {
            m_client->write(QByteArray(1 << 20, 'x'));
        } else if (step.startsWith(QLatin1String("C:"))) {
            QByteArray line;
            if (!TakeLine(&line))
                return;
            if (!QString::fromUtf8(line).startsWith(step.mid(2), Qt::CaseInsensitive) && m_failure.isEmpty())
                m_failure = QStringLiteral("step %1: expected \"%2\", got \"%3\"")
                                .arg(m_pos)
                                .arg(step.mid(2), QString::fromUtf8(line.trimmed()));
        } else if (step == QLatin1String("D")) {
            const qsizetype end = m_in.indexOf("\r\n.\r\n");
            const bool atStart = m_in.startsWith(".\r\n");
            if (end < 0 && !atStart)
                return;
            const qsizetype cut = atStart ? 0 : end + 2;
            m_data = m_in.left(cut);
            m_in.remove(0, cut + 3);
        } else if (step.startsWith(QLatin1String("W:"))) {
            if (m_in.size() < step.mid(2).toLongLong())
                return;
        } else if (step == QLatin1String("X")) {
            m_client->flush();
            m_client->disconnectFromHost();
            m_closed = true;
            ++m_pos;
            return;
        } else if (step.startsWith(QLatin1String("DRIP:"))) {
            if (!m_dripTimer.isActive()) {
                const QString rest = step.mid(5);
                const qsizetype slash = rest.indexOf(QLatin1Char('/'));
                const qsizetype colon = rest.indexOf(QLatin1Char(':'));
                m_drip = rest.mid(colon + 1).toUtf8() + "\r\n";
                m_dripSize = qMax(1, rest.left(slash).toInt());
                m_dripTimer.start(rest.mid(slash + 1, colon - slash - 1).toInt());
            }
            return; // Drip goes on with the script once all is sent
        } else if (step == QLatin1String("Z")) {
            return; // silent for good
        } else if (step == QLatin1String("SLOW")) {
            m_reading = false;
            m_client->setReadBufferSize(1);
            ++m_pos;
            return;
        }
        ++m_pos;
    }
}

#include "moc_scriptserver.cpp"
