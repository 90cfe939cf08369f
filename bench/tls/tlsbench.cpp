// Times what encryption costs the controls: connecting (Connect until state
// 4), signing in to send, and one POP retrieval, as the window drives them.
//
//   orv_tlsbench connect smtp|pop HOST:PORT CAFILE RUNS
//       prints one "seconds=S" line per connection
//   orv_tlsbench signin HOST:PORT CAFILE USER PASSWORD RUNS [paced]
//       per run a fresh TSMTP sends one short message to bench@orvanta.test,
//       signed in as USER; prints one "seconds=S" line per run, from Connect
//       until the server has accepted the message. With "paced" each run
//       waits for a line on stdin, so that a peer can be timed in between.
//   orv_tlsbench retr HOST:PORT USER PASSWORD NUMBER CAFILE [source]
//       prints "seconds=S bytes=B maxrss_kb=K"; with "source" the message
//       comes as sent (DecodeMime false), without it decoded as by default
//
// CAFILE (or "-") is the test authority, trusted by this process only.
// Exit code 1 on any error event.
#include "docobjects.h"
#include "tpop.h"
#include "tsmtp.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSslConfiguration>

#include <cstdio>
#include <sys/resource.h>

namespace {
bool Trust(const QString &caFile)
{
    if (caFile == QLatin1String("-"))
        return true;
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    if (!config.addCaCertificates(caFile))
        return false;
    QSslConfiguration::setDefaultConfiguration(config);
    return true;
}

template <class Control>
void WatchErrors(Control *control, bool *failed)
{
    QObject::connect(control, &Control::OnError, control,
                     [failed](short n, const QString &d, bool &) {
                         *failed = true;
                         std::fprintf(stderr, "error %d: %s\n", n, qPrintable(d));
                         QCoreApplication::exit(1);
                     });
}

// One connection: Connect until state 4, then Quit until state 6 (not timed).
template <class Control>
bool ConnectOnce(const QString &host, double *seconds)
{
    Control control;
    control.SetTimeout(30);
    bool failed = false;
    WatchErrors(&control, &failed);
    QElapsedTimer timer;
    QObject::connect(&control, &Control::OnStateChanged, &control, [&](short state) {
        if (state == 4) {
            *seconds = timer.nsecsElapsed() / 1e9;
            control.Quit();
        } else if (state == 6) {
            QCoreApplication::exit(0);
        }
    });
    timer.start();
    control.SetRemoteHost(host);
    control.Connect();
    QApplication::exec();
    return !failed;
}

int Connects(const QStringList &args)
{
    const int runs = args[4].toInt();
    for (int i = 0; i < runs; ++i) {
        double seconds = 0;
        const bool ok = args[1] == QLatin1String("smtp") ? ConnectOnce<TSMTP>(args[2], &seconds)
                                                         : ConnectOnce<TPOP>(args[2], &seconds);
        if (!ok)
            return 1;
        std::printf("seconds=%.4f\n", seconds);
    }
    return 0;
}

// One session: Connect, then at state 4 a short message, which signs in
// first; timed until the document has ended, then Quit until state 6 (not
// timed). A document that ends after an error is a failure, not a time.
bool SignInOnce(const QString &host, const QString &user, const QString &password, double *seconds)
{
    TSMTP control;
    control.SetTimeout(30);
    control.SetUserId(user);
    control.SetPassword(password);
    bool failed = false;
    bool sent = false;
    WatchErrors(&control, &failed);
    TDocHeaders headers;
    headers.Add(QStringLiteral("From"), user + QStringLiteral("@orvanta.test"));
    headers.Add(QStringLiteral("To"), QStringLiteral("bench@orvanta.test"));
    headers.Add(QStringLiteral("Subject"), QStringLiteral("sign-in bench"));
    QElapsedTimer timer;
    QObject::connect(&control, &TSMTP::OnStateChanged, &control, [&](short state) {
        if (state == 4 && !sent) {
            sent = true;
            control.SendDoc(headers, QStringLiteral("One line.\r\n"), std::nullopt);
        } else if (state == 6) {
            QCoreApplication::exit(failed ? 1 : 0);
        }
    });
    QObject::connect(&control, &TSMTP::OnDocInput, &control, [&](TDocInput *doc) {
        if (doc->State() != 5)
            return;
        *seconds = timer.nsecsElapsed() / 1e9;
        control.Quit();
    });
    timer.start();
    control.SetRemoteHost(host);
    control.Connect();
    QApplication::exec();
    return !failed && sent && *seconds > 0;
}

int SignIns(const QStringList &args)
{
    const int runs = args[5].toInt();
    const bool paced = args.value(6) == QLatin1String("paced");
    for (int i = 0; i < runs; ++i) {
        char go[16];
        if (paced && !std::fgets(go, sizeof go, stdin))
            return 0;
        double seconds = 0;
        if (!SignInOnce(args[1], args[3], args[4], &seconds)) {
            std::fprintf(stderr, "run %d: the message was not sent\n", i + 1);
            return 1;
        }
        std::printf("seconds=%.4f\n", seconds);
        std::fflush(stdout);
    }
    return 0;
}

int Retrieve(const QStringList &args)
{
    TPOP pop;
    pop.SetTimeout(60);
    pop.SetDecodeMime(args.value(6) != QLatin1String("source"));
    bool failed = false;
    WatchErrors(&pop, &failed);
    qint64 bytes = 0;
    qint64 chars = 0;
    QElapsedTimer timer;
    QObject::connect(&pop, &TPOP::OnProtocolStateChanged, &pop, [&](short state) {
        if (state == 1)
            pop.Authenticate(args[2], args[3]);
    });
    QObject::connect(&pop, &TPOP::OnRefreshMessageCount, &pop,
                     [&](qint32) { pop.RetrieveMessage(short(args[4].toInt())); });
    QObject::connect(&pop, &TPOP::OnDocOutput, &pop, [&](TDocOutput *doc) {
        if (doc->State() == 3)
            chars += doc->GetData().size(); // the text is made, as the window would get it
        if (doc->State() == 5) {
            bytes = doc->BytesTransferred();
            QCoreApplication::exit(0);
        }
    });
    timer.start();
    pop.SetRemoteHost(args[1]);
    pop.Connect();
    QApplication::exec();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("seconds=%.3f bytes=%lld maxrss_kb=%ld\n", timer.nsecsElapsed() / 1e9,
                static_cast<long long>(bytes), usage.ru_maxrss);
    pop.Quit();
    return failed || chars == 0 ? 1 : 0;
}
} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.size() == 5 && args[0] == QLatin1String("connect") && Trust(args[3]))
        return Connects(args);
    if ((args.size() == 6 || args.size() == 7) && args[0] == QLatin1String("signin") && Trust(args[2]))
        return SignIns(args);
    if ((args.size() == 6 || args.size() == 7) && args[0] == QLatin1String("retr") && Trust(args[5]))
        return Retrieve(args);
    std::fprintf(stderr, "usage: orv_tlsbench connect smtp|pop HOST:PORT CAFILE RUNS\n"
                         "       orv_tlsbench signin HOST:PORT CAFILE USER PASSWORD RUNS [paced]\n"
                         "       orv_tlsbench retr HOST:PORT USER PASSWORD NUMBER CAFILE [source]\n");
    return 2;
}
