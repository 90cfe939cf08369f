#include "internetcontrol.h"
#include "ineterrors.h"

#include <QDebug>
#include <QStringList>

#include <algorithm>
#include <limits>

namespace {
TInternetControl::HandlerErrorSink &Sink()
{
    static TInternetControl::HandlerErrorSink sink;
    return sink;
}
// Automation errors of this control carry the facility of user-defined
// errors with the error number in the low word.
constexpr quint32 kErrorFacility = 0x800A0000u;
} // namespace


void TInternetControl::SetHandlerErrorSink(HandlerErrorSink sink)
{
    Sink() = std::move(sink);
}

void TInternetControl::ReportHandlerError(const std::exception &error)
{
    if (Sink()) {
        try {
            Sink()(error);
            return;
        } catch (...) {
        }
    }
    qWarning("Error in an event handler: %s", error.what());
}

void TInternetControl::RaiseError(InetError number, const QString &description,
                                  const QStringList &serverLines, const QString &source)
{
    m_errors->Clear();
    for (const QString &line : serverLines)
        m_errors->Add(line);
    QString text = description;
    bool cancelDisplay = false;
    const short code = short(number);
    RaiseEvent([&] {
        emit OnError(code, text, qint32(kErrorFacility | quint16(code)), source, QString(), 0, cancelDisplay);
    });
    // The controls have no display of their own: CancelDisplay changes nothing.
}

qint32 TInternetControl::ClampCount(qint64 count)
{
    return qint32(std::clamp<qint64>(count, 0, std::numeric_limits<qint32>::max()));
}


TInternetControl::TInternetControl(int defaultPort, QWidget *parent)
    : QWidget(parent), m_errors(new TErrors(this)), m_remotePort(defaultPort)
{
    // Invisible at run time: the window shows nothing of it and it never
    // takes the focus.
    setFocusPolicy(Qt::NoFocus);
    setMaximumSize(32, 32);
    hide();
}

TInternetControl::~TInternetControl() = default;
