// Times one SMTP send of a file document, or one POP retrieval, through the
// controls exactly as the window drives them, and reports the peak memory.
//
//   orv_enginebench send HOST:PORT FROM TO FILE
//   orv_enginebench retr HOST:PORT USER PASSWORD NUMBER
//
// Prints "seconds=S bytes=B maxrss_kb=K"; exit code 1 on any error event.
#include "docobjects.h"
#include "engineloader.h"
#include "tpop.h"
#include "tsmtp.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <sys/resource.h>

namespace {
long MaxRssKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

int Report(const QElapsedTimer &timer, qint64 bytes, bool failed)
{
    std::printf("seconds=%.3f bytes=%lld maxrss_kb=%ld\n", timer.nsecsElapsed() / 1e9, static_cast<long long>(bytes),
                MaxRssKb());
    return failed ? 1 : 0;
}

// The engines' module is opened before the clock starts, as the network
// libraries were loaded before it when the program linked them: the figure
// stays the engine's own. The window pays the opening once, at its first
// Connect (docs/PERFORMANCE.md, start-up).
void OpenEngines()
{
    Engines();
}

void OnErrorPrint(short number, const QString &description, bool &)
{
    std::fprintf(stderr, "error %d: %s\n", number, qPrintable(description));
}

int Send(const QStringList &args)
{
    TSMTP smtp;
    smtp.SetTimeout(60);
    bool failed = false;
    qint64 bytes = 0;
    QElapsedTimer timer;
    QObject::connect(&smtp, &TSMTP::OnError, &smtp, [&](short n, const QString &d, bool &x) {
        failed = true;
        OnErrorPrint(n, d, x);
    });
    QObject::connect(&smtp, &TSMTP::OnStateChanged, &smtp, [&](short state) {
        if (state == 4) {
            TDocHeaders &h = smtp.DocInput()->Headers();
            h.Clear();
            h.Add("To", args[3]);
            h.Add("From", args[2]);
            h.Add("Subject", "bench");
            smtp.SendDoc(h, std::nullopt, args[4]);
        } else if (state == 6) {
            QCoreApplication::exit(0);
        }
    });
    QObject::connect(&smtp, &TSMTP::OnDocInput, &smtp, [&](TDocInput *doc) {
        if (doc->State() == 5) {
            bytes = doc->BytesTransferred();
            QCoreApplication::exit(0);
        }
    });
    OpenEngines();
    timer.start();
    smtp.SetRemoteHost(args[1]);
    smtp.Connect();
    QApplication::exec();
    const int rc = Report(timer, bytes, failed);
    smtp.Quit();
    return rc;
}

int Retrieve(const QStringList &args)
{
    TPOP pop;
    pop.SetTimeout(60);
    bool failed = false;
    qint64 bytes = 0;
    qint64 chars = 0;
    QElapsedTimer timer;
    QObject::connect(&pop, &TPOP::OnError, &pop, [&](short n, const QString &d, bool &x) {
        failed = true;
        OnErrorPrint(n, d, x);
        QCoreApplication::exit(1);
    });
    QObject::connect(&pop, &TPOP::OnProtocolStateChanged, &pop, [&](short state) {
        if (state == 1)
            pop.Authenticate(args[2], args[3]);
    });
    QObject::connect(&pop, &TPOP::OnRefreshMessageCount, &pop, [&](qint32) { pop.RetrieveMessage(short(args[4].toInt())); });
    QObject::connect(&pop, &TPOP::OnDocOutput, &pop, [&](TDocOutput *doc) {
        if (doc->State() == 3)
            chars += doc->GetData().size(); // the text is made, as the window would get it
        if (doc->State() == 5) {
            bytes = doc->BytesTransferred();
            QCoreApplication::exit(0);
        }
    });
    OpenEngines();
    timer.start();
    pop.SetRemoteHost(args[1]);
    pop.Connect();
    QApplication::exec();
    const int rc = Report(timer, bytes, failed || chars == 0);
    pop.Quit();
    return rc;
}
} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.size() == 5 && args[0] == QLatin1String("send"))
        return Send(args);
    if (args.size() == 5 && args[0] == QLatin1String("retr"))
        return Retrieve(args);
    std::fprintf(stderr, "usage: orv_enginebench send HOST:PORT FROM TO FILE\n"
                         "       orv_enginebench retr HOST:PORT USER PASSWORD NUMBER\n");
    return 2;
}
