#pragma once
#include "internetcontrol.h"
#include "pop/popsession.h"

#include <memory>


// The POP client control (interface IPopControl).
//
// A retrieved message arrives through OnDocOutput readable as mail is meant
// to be read: with DecodeMime true (the default) the header values come with
// their RFC 2047 encoded words decoded, and the body as text: transfer
// encodings undone, the declared charset converted, of a multipart message
// its text part (or the text of its HTML) and one line per attachment naming
// it and its size. A single-part body streams chunk by chunk; a multipart
// body is held until it is complete (data events meanwhile carry empty text
// and the growing byte count) and then delivered in chunks; one larger than
// 64 MiB shows as it came instead. What does not decode shows as it came.
// With DecodeMime false the control delivers the message's source: header
// values only unfolded and the body's octets as sent, both read as UTF-8
// line by line, else Latin-1. The value is read when a retrieval begins.
class TPOP : public TInternetControl, private PopEvents {
    Q_OBJECT
    Q_PROPERTY(QString UserId READ UserId WRITE SetUserId)
    Q_PROPERTY(QString Password READ Password WRITE SetPassword)
    Q_PROPERTY(int TopLines READ TopLines WRITE SetTopLines)
    Q_PROPERTY(bool DecodeMime READ DecodeMime WRITE SetDecodeMime)
public:
    explicit TPOP(QWidget *parent = nullptr);
    ~TPOP() override;

    QString UserId() const { return m_userId; }
    void SetUserId(const QString &id) { m_userId = id; }
    QString Password() const { return m_password; }
    void SetPassword(const QString &password) { m_password = password; }
    int TopLines() const { return m_topLines; }
    void SetTopLines(int lines) { m_topLines = lines; }
    bool DecodeMime() const { return m_decodeMime; }
    void SetDecodeMime(bool on) { m_decodeMime = on; }

    short State() const override;
    bool Busy() const override;
    // 1 authorization, 2 transaction; 0 outside a connected session.
    virtual short ProtocolState() const;

    void Connect(const OleVariant &remoteHost, const OleVariant &remotePort) override;
    void Quit() override;
    void Authenticate(const OleVariant &userId, const OleVariant &password);
    void RetrieveMessage(short messageNumber);
    TDocOutput *DocOutput() const { return m_docOutput; }

signals:
    void OnProtocolStateChanged(short ProtocolState);
    void OnDocOutput(TDocOutput *DocOutput);
    void OnRefreshMessageCount(qint32 Number);
    // Raised by the design's interface but not used by the engine.
    void OnTimeout();
    void OnCancel();
    void OnBusy(bool Busy);
    void OnLog();
    void OnMessageSize(qint32 msgSize);
    void OnDelete();
    void OnReset();
    void OnLast(qint32 Number);
    void OnNoop();

private:
    void SessionStateChanged(ConnState state) override;
    void SessionError(InetError number, const QString &description, const QStringList &serverLines) override;
    void PopProtocolStateChanged(short state) override;
    void PopDocProgress(DocState state, qint64 transferred, const QList<pop::RawHeader> &headers,
                        const QByteArray &body) override;
    void PopMessageCount(qint32 count) override;
    bool RaiseDocData(qint64 transferred, const QString &text, bool split);

    class BodyText;

    QString m_userId;
    QString m_password;
    int m_topLines = 0;
    bool m_decodeMime = true;
    bool m_docDecodesMime = true; // DecodeMime as the current retrieval began
    quint64 m_docSerial = 0;      // tells a retrieval started from inside a handler
    std::unique_ptr<BodyText> m_bodyText;
    TDocOutput *m_docOutput;
    PopSession *m_session;
};

using IPopControl = TPOP;
