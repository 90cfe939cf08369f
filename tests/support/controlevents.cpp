#include "controlevents.h"
#include "tpop.h"
#include "tsmtp.h"

ControlEvents::ControlEvents(TInternetControl *control, bool namedErrors)
{
    QObject::connect(control, &TInternetControl::OnStateChanged, &m_context,
                     [this](short s) { Add(QStringLiteral("state %1").arg(s)); });
    QObject::connect(control, &TInternetControl::OnError, &m_context,
                     [this, control, namedErrors](short n, const QString &d, bool &cancel) {
                         Add(namedErrors ? QStringLiteral("error %1 %2").arg(n).arg(toString(InetError(n)))
                                         : QStringLiteral("error %1").arg(n));
                         errors << n;
                         description = d;
                         errorLines.clear();
                         for (qint32 i = 1; i <= control->Errors().Count(); ++i)
                             errorLines << control->Errors().Item(i).Description();
                         if (auto *pop = qobject_cast<TPOP *>(control))
                             protocolAtError = pop->ProtocolState();
                         cancel = true;
                     });
    if (auto *smtp = qobject_cast<TSMTP *>(control)) {
        QObject::connect(smtp, &TSMTP::OnDocInput, &m_context, [this](TDocInput *doc) {
            Add(QStringLiteral("doc %1").arg(doc->State()));
            transferred = doc->BytesTransferred();
            documentsEnded += doc->State() == short(DocState::End);
        });
    }
    if (auto *pop = qobject_cast<TPOP *>(control)) {
        QObject::connect(pop, &TPOP::OnProtocolStateChanged, &m_context,
                         [this](short s) { Add(QStringLiteral("protocol %1").arg(s)); });
        QObject::connect(pop, &TPOP::OnRefreshMessageCount, &m_context, [this](qint32 n) {
            Add(QStringLiteral("count %1").arg(n));
            counts << n;
        });
        QObject::connect(pop, &TPOP::OnDocOutput, &m_context, [this](TDocOutput *doc) {
            Add(QStringLiteral("doc %1").arg(doc->State()));
            transferred = doc->BytesTransferred();
            switch (DocState(doc->State())) {
            case DocState::Begin:
                headers.clear();
                body.clear();
                chunks.clear();
                transferredAt.clear();
                break;
            case DocState::Headers:
                for (qint32 i = 1; i <= doc->Headers().Count(); ++i)
                    headers << doc->Headers().Item(i).Name() + QStringLiteral(": ") + doc->Headers().Item(i).Value();
                break;
            case DocState::Data:
                body += doc->GetData();
                chunks << doc->GetData();
                transferredAt << doc->BytesTransferred();
                break;
            case DocState::End:
                ++documentsEnded;
                break;
            }
        });
    }
}

void ControlEvents::Add(const QString &event)
{
    if (event.startsWith(QLatin1String("doc ")) && !events.isEmpty() && events.last() == event)
        return;
    events << event;
}
