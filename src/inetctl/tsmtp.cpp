#include "tsmtp.h"
#include "eoleexception.h"
#include "smtp/smtpaddress.h"

#include <QPointer>
#include <QTimer>

TSMTP::TSMTP(QWidget *parent) : TInternetControl(QStringLiteral("SMTP"), 25, parent) {}

TSMTP::~TSMTP()
{
    // The engine must not call back into a control that is half destroyed.
    m_session.reset();
}

Engine *TSMTP::CreateEngine(const EngineFactory &factory)
{
    m_session = factory.NewSmtp(this);
    return m_session.get();
}

bool TSMTP::Busy() const
{
    return m_verifying > 0 || (m_session && (m_session->DocumentRunning() || m_session->EventsWaiting()));
}

void TSMTP::Quit()
{
    if (m_session)
        m_session->Quit();
}

void TSMTP::Verify(const QString &recipients)
{
    // The result arrives as an event, like every other answer of the control;
    // Busy covers the wait so that the caller can pump events until then.
    ++m_verifying;
    QTimer::singleShot(0, this, [this, recipients] { RunVerify(recipients); });
}

void TSMTP::RunVerify(const QString &recipients)
{
    const QPointer<TSMTP> self(this);
    if (smtp::ParseAddressList(recipients).ok)
        RaiseEvent([&] { emit OnVerify(); });
    if (self)
        --m_verifying;
}

void TSMTP::SendDoc(const std::optional<TDocHeaders> &headers, const std::optional<QString> &inputData,
                    const std::optional<QString> &inputFile)
{
    if (!m_session || m_session->State() != ConnState::Connected)
        throw EOleException(EOleException::E_Fail, QStringLiteral("Not connected to an SMTP server"));
    if (m_session->DocumentRunning())
        throw EOleException(EOleException::E_Fail, QStringLiteral("A document is already being sent"));

    const TDocHeaders &fields = headers ? *headers : m_docInput.Headers();
    smtp::Document document;
    for (qint32 i = 1; i <= fields.Count(); ++i)
        document.headers.append({fields.Item(i).Name(), fields.Item(i).Value()});
    document.fromFile = !inputData;
    if (document.fromFile) {
        document.fileName = inputFile.value_or(m_docInput.FileName());
        m_docInput.SetFileName(document.fileName);
    } else {
        document.text = inputData->toUtf8();
    }
    PrepareCall();
    m_session->SetCredentials(m_userId.toUtf8(), m_password.toUtf8());
    m_session->SendDocument(std::move(document));
}

void TSMTP::DocProgress(DocState state, qint64 total, qint64 transferred)
{
    m_docInput.SetProgress(state, total, transferred);
    RaiseEvent([&] { emit OnDocInput(&m_docInput); });
}

#include "moc_tsmtp.cpp"
