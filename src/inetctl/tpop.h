#pragma once
#include "internetcontrol.h"

#include <memory>
#include <optional>

// The POP client control (interface IPopControl).
//
// A retrieved message arrives through OnDocOutput readable as mail is meant
// to be read: with DecodeMime true (the default) the header values come with
// their RFC 2047 encoded words decoded, and the body as text: transfer
// encodings undone, the declared charset converted, of a multipart message
// its text part (or the text of its HTML) and one line per attachment naming
// it and its size. A single-part body streams chunk by chunk; a multipart
// body is decoded part by part as it arrives. What does not decode shows as
// it came. The body's text stops at MaxMessageChars (default 16 million,
// pop::kMaxMessageChars; 0: no limit, for a caller that does not keep the
// text), whatever the size of the message: its last piece ends with a line saying
// the rest is not shown, MessageCut turns true, and the rest of the message
// is still read, only to be dropped (data events carry the growing byte
// count and no text), so that the session stays usable.
// With DecodeMime false the control delivers the message's source: header
// values only unfolded and the body's octets as sent, both read as UTF-8
// line by line, else Latin-1. Either way the text's lines end in '\n'. The
// value is read when a retrieval begins.
class TPOP : public TInternetControl, private PopListener {
    Q_OBJECT
    Q_PROPERTY(QString UserId READ UserId WRITE SetUserId)
    Q_PROPERTY(QString Password READ Password WRITE SetPassword)
    Q_PROPERTY(bool DecodeMime READ DecodeMime WRITE SetDecodeMime)
    Q_PROPERTY(qint64 MaxMessageChars READ MaxMessageChars WRITE SetMaxMessageChars)
    // Stored with the window as the control has always kept it; the engine
    // does not use it.
    Q_PROPERTY(int TopLines MEMBER m_topLines)
public:
    explicit TPOP(QWidget *parent = nullptr);
    ~TPOP() override;

    QString UserId() const { return m_userId; }
    void SetUserId(const QString &id) { m_userId = id; }
    QString Password() const { return m_password; }
    void SetPassword(const QString &password) { m_password = password; }
    bool DecodeMime() const { return m_decodeMime; }
    qint64 MaxMessageChars() const { return m_maxMessageChars; }
    void SetMaxMessageChars(qint64 chars) { m_maxMessageChars = qMax<qint64>(chars, 0); }
    void SetDecodeMime(bool on) { m_decodeMime = on; }

    bool Busy() const override;
    // 1 authorization, 2 transaction; 0 outside a connected session.
    short ProtocolState() const;

    void Quit() override;
    // Logs in; an omitted user id or password is the control's own.
    void Authenticate(const std::optional<QString> &userId = std::nullopt,
                      const std::optional<QString> &password = std::nullopt);
    void RetrieveMessage(short messageNumber);
    TDocOutput *DocOutput() { return &m_docOutput; }
    // Whether the text of the message being retrieved (or last retrieved)
    // was cut, as the document events raised so far have told.
    bool MessageCut() const { return m_messageCut; }

signals:
    void OnProtocolStateChanged(short ProtocolState);
    void OnDocOutput(TDocOutput *DocOutput);
    void OnRefreshMessageCount(qint32 Number);

private:
    Engine *CreateEngine(const EngineFactory &factory) override;
    void ProtocolStateChanged(PopProtocolState state) override;
    void MessageCount(qint32 count) override;
    void DocProgress(const pop::DocEvent &event) override;

    QString m_userId;
    QString m_password;
    int m_topLines = 0;
    bool m_decodeMime = true;
    qint64 m_maxMessageChars = pop::kMaxMessageChars;
    bool m_messageCut = false;
    TDocOutput m_docOutput;
    std::unique_ptr<PopEngine> m_session; // from the first Connect on
};

using IPopControl = TPOP;
