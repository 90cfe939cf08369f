#include "tsmtp.h"
#include "eoleexception.h"
#include "smtp/smtpaddress.h"

#include <QPointer>
#include <QTimer>

TSMTP::TSMTP(QWidget *parent)
    : TInternetControl(25, parent), m_docInput(new TDocInput(this)), m_session(new SmtpSession(this, this))
{
}

TSMTP::~TSMTP()
{
    // The engine must not call back into a control that is half destroyed.
    delete m_session;
    m_session = nullptr;
}

short TSMTP::State() const
{
    return short(m_session->State());
}

bool TSMTP::Busy() const
{
    return m_verifying > 0 || m_session->DocumentRunning();
}

void TSMTP::Connect(const OleVariant &remoteHost, const OleVariant &remotePort)
{
    if (m_session->State() != ConnState::Disconnected)
        throw EOleException(EOleException::E_Fail, QStringLiteral("The SMTP session is already open"));
    if (!remoteHost.IsOmitted())
        SetRemoteHost(remoteHost.ToString());
    const int port = remotePort.IsOmitted() ? 0 : remotePort.ToInt();
    if (!remotePort.IsOmitted() && (port < 1 || port > 65535))
        throw EOleException(EOleException::E_InvalidArg, QStringLiteral("Port %1 is not valid").arg(port));
    m_errors->Clear();
    m_session->SetTimeoutSeconds(Timeout());
    m_session->Open(RemoteHost(), RemotePort(), port);
}

void TSMTP::Quit()
{
    m_session->Quit();
}

void TSMTP::Verify(const OleVariant &recipients)
{
    const QString list = recipients.ToString();
    // The result arrives as an event, like every other answer of the control;
    // Busy covers the wait so that the caller can pump events until then.
    ++m_verifying;
    QTimer::singleShot(0, this, [this, list] { RunVerify(list); });
}

void TSMTP::RunVerify(const QString &recipients)
{
    const QPointer<TSMTP> self(this);
    if (smtp::ParseAddressList(recipients).ok)
        RaiseEvent([&] { emit OnVerify(); });
    if (self)
        --m_verifying;
}

void TSMTP::SendDoc(const OleVariant &, const OleVariant &headers, const OleVariant &inputData,
                    const OleVariant &inputFile, const OleVariant &)
{
    if (m_session->State() != ConnState::Connected)
        throw EOleException(EOleException::E_Fail, QStringLiteral("Not connected to an SMTP server"));
    if (m_session->DocumentRunning())
        throw EOleException(EOleException::E_Fail, QStringLiteral("A document is already being sent"));

    TDocHeaders *collection = m_docInput->Headers();
    if (!headers.IsOmitted() && !headers.IsEmpty()) {
        collection = qobject_cast<TDocHeaders *>(headers.ToObject());
        if (!collection)
            throw EOleException(EOleException::DispE_TypeMismatch);
    }
    smtp::HeaderList list;
    for (qint32 i = 1; i <= collection->Count(); ++i) {
        const TDocHeader *item = collection->Item(OleVariant(i));
        list.append({item->Name(), item->Value()});
    }

    const bool fromFile = inputData.IsOmitted() || inputData.IsEmpty();
    QByteArray text;
    QString fileName;
    if (fromFile) {
        fileName = (inputFile.IsOmitted() || inputFile.IsEmpty()) ? m_docInput->FileName() : inputFile.ToString();
        m_docInput->SetFileName(fileName);
    } else {
        text = inputData.ToString().toUtf8();
    }
    m_errors->Clear();
    m_session->SetTimeoutSeconds(Timeout());
    m_session->SendDocument(list, text, fromFile, fileName);
}

void TSMTP::SessionStateChanged(ConnState state)
{
    RaiseEvent([&] { emit OnStateChanged(short(state)); });
}

void TSMTP::SessionError(InetError number, const QString &description, const QStringList &serverLines)
{
    RaiseError(number, description, serverLines, QStringLiteral("TSMTP"));
}

void TSMTP::SmtpDocProgress(DocState state, qint64 total, qint64 transferred)
{
    m_docInput->SetProgress(short(state), ClampCount(total), ClampCount(transferred));
    RaiseEvent([&] { emit OnDocInput(m_docInput); });
}
