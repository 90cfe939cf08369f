// Sends mail through the real mail window and measures it: from the press
// of Send to "Mail sent to ..." for the attached file, and the longest stall
// of the UI thread meanwhile.
//
//   sendbench --server HOST:PORT --from ADDR --to ADDR --message FILE
//             --attach FILE [--engine] [--tick MS] [--settle MS] [--timeout S]
//             [--trace]
//
// The window is started as the host program starts it, with "TO,FILE" (the
// message text) on its command line; it connects to the server from the
// Connect To page, the file is chosen in the open dialog, and Send is
// pressed: the text goes as the first document, the file as the second.
// One line is printed:
//   mode=window documents=2 bytes=B send_ms=T cpu_ms=C stall_ms=S
//   stall_at_ms=A ticks=N maxrss_kib=M
// (cpu_ms: processor time of the process, all threads, from press to end)
// With --engine the same two documents go through the SMTP control alone,
// without the window (mode=engine): the floor for the window's figure.
// --trace lists on stderr every stall over 20 ms and when each document
// began, sent its headers, its first data and ended.
//
// Run it in an empty folder: the window reads and writes its settings file in
// the working folder. Exit status 0 measured, 1 the road failed (error box,
// aborted transfer, timeout), 2 usage.
#include "apphandler.h"
#include "docobjects.h"
#include "mailform.h"
#include "stallmeter.h"
#include "statusbar.h"
#include "tsmtp.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Options {
    QString server, from, to, message, attach;
    bool engine = false;
    bool trace = false;
    int tickMs = 1;
    int settleMs = 300;
    int timeoutS = 600;
};

[[noreturn]] void Usage()
{
    std::fprintf(stderr, "usage: sendbench --server HOST:PORT --from ADDR --to ADDR --message FILE --attach FILE "
                         "[--engine] [--trace] [--tick MS] [--settle MS] [--timeout S]\n");
    std::exit(2);
}

int WholeNumber(const char *text, int low, int high)
{
    char *end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < low || value > high)
        Usage();
    return int(value);
}

Options Parse(int argc, char **argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string opt = argv[i];
        if (opt == "--engine" || opt == "--trace") {
            (opt == "--engine" ? o.engine : o.trace) = true;
            continue;
        }
        if (i + 1 >= argc)
            Usage();
        const char *value = argv[++i];
        if (opt == "--server")
            o.server = QString::fromLocal8Bit(value);
        else if (opt == "--from")
            o.from = QString::fromLocal8Bit(value);
        else if (opt == "--to")
            o.to = QString::fromLocal8Bit(value);
        else if (opt == "--message")
            o.message = QString::fromLocal8Bit(value);
        else if (opt == "--attach")
            o.attach = QString::fromLocal8Bit(value);
        else if (opt == "--tick")
            o.tickMs = WholeNumber(value, 1, 100);
        else if (opt == "--settle")
            o.settleMs = WholeNumber(value, 0, 60000);
        else if (opt == "--timeout")
            o.timeoutS = WholeNumber(value, 1, 86400);
        else
            Usage();
    }
    if (o.server.isEmpty() || o.from.isEmpty() || o.to.isEmpty() || o.message.isEmpty() || o.attach.isEmpty())
        Usage();
    return o;
}

// Processor time of the whole process (every thread), user and system.
double CpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3
           + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

long MaxRssKib()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    long kib = usage.ru_maxrss;
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 6, "VmHWM:") == 0)
            kib = std::max(kib, std::strtol(line.c_str() + 6, nullptr, 10));
    return kib;
}

[[noreturn]] void Fail(const QString &why)
{
    std::fprintf(stderr, "sendbench: %s\n", qPrintable(why));
    std::fflush(stderr);
    // No orderly shutdown: a modal box or a transfer may still be running.
    std::_Exit(1);
}

template <typename T>
T *Find(QObject *root, const char *name)
{
    T *child = root->findChild<T *>(QString::fromLatin1(name));
    if (!child)
        Fail(QStringLiteral("the window has no %1").arg(QLatin1String(name)));
    return child;
}

// Runs the event loop until `done` holds; false after `ms` without it.
bool WaitFor(const std::function<bool()> &done, int ms)
{
    QElapsedTimer waited;
    waited.start();
    while (!done()) {
        if (waited.elapsed() > ms)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    const Options opt = Parse(argc, argv);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // As the host program starts the window: the recipient and the message
    // file, which the window needs before it sends anything.
    QByteArray handOff = (opt.to + QLatin1Char(',') + opt.message).toLocal8Bit();
    int qtArgc = opt.engine ? 1 : 2;
    char *qtArgv[] = {argv[0], handOff.data(), nullptr};
    QApplication app(qtArgc, qtArgv);
    InitApplication(app);

    std::unique_ptr<TMailForm> form;
    std::unique_ptr<TSMTP> bare;
    TSMTP *smtp = nullptr;
    TStatusBar *status = nullptr;
    std::function<void()> press;        // the user's press of Send
    std::function<void()> nextDocument; // the control alone: the file after the text
    if (!opt.engine) {
        form = std::make_unique<TMailForm>();
        form->show();
        smtp = Find<TSMTP>(form.get(), "SMTP1");
        status = Find<TStatusBar>(form.get(), "SMTPStatus");
        Find<QLineEdit>(form.get(), "eSMTPServer")->setText(opt.server);
        Find<QLineEdit>(form.get(), "eHomeAddr")->setText(opt.from);
        Find<QLineEdit>(form.get(), "eSubject")->setText(QStringLiteral("Send bench"));
        Find<QAbstractButton>(form.get(), "SMTPConnectBtn")->click();
        // The open dialog is modal: answer it from the event loop it runs,
        // as a user types the path and presses Open.
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&opt] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            if (!name)
                Fail(QStringLiteral("the open dialog has no file name field"));
            name->setText(opt.attach);
            static_cast<QDialog *>(dialog)->done(QDialog::Accepted);
        });
        answer.start(10);
        Find<QCheckBox>(form.get(), "cbSendFile")->click();
        answer.stop();
        if (!Find<QCheckBox>(form.get(), "cbSendFile")->isChecked())
            Fail(QStringLiteral("the file was not attached"));
        auto *sendBtn = Find<QAbstractButton>(form.get(), "SendBtn");
        press = [sendBtn] { sendBtn->click(); };
    } else {
        bare = std::make_unique<TSMTP>();
        smtp = bare.get();
        smtp->SetRemoteHost(opt.server);
        smtp->Connect();
        // The header fields the window gives each document.
        auto headers = [smtp, &opt](int n) {
            TDocHeaders &h = smtp->DocInput()->Headers();
            h.Clear();
            h.Add(QStringLiteral("To"), opt.to);
            h.Add(QStringLiteral("From"), opt.from);
            h.Add(QStringLiteral("CC"), QString());
            h.Add(QStringLiteral("Subject"), QStringLiteral("Send bench"));
            h.Add(QStringLiteral("Message-Id"), QStringLiteral("<sendbench.%1.%2@orvanta.test>")
                                                    .arg(QCoreApplication::applicationPid())
                                                    .arg(n));
            h.Add(QStringLiteral("Content-Type"), QStringLiteral("TEXT/PLAIN; charset=US-ASCII"));
            return h;
        };
        QFile message(opt.message);
        if (!message.open(QIODevice::ReadOnly))
            Fail(QStringLiteral("cannot read %1").arg(opt.message));
        const QString text = QString::fromUtf8(message.readAll());
        press = [smtp, headers, text] { smtp->SendDoc(headers(1), text, std::nullopt); };
        nextDocument = [smtp, headers, &opt] { smtp->SendDoc(headers(2), std::nullopt, opt.attach); };
        QObject::connect(smtp, &TInternetControl::OnError, &app, [](short number, const QString &description, bool &) {
            Fail(QStringLiteral("error %1: %2").arg(number).arg(description));
        });
    }
    if (!WaitFor([smtp] { return smtp->State() == short(ConnState::Connected); }, 10000))
        Fail(QStringLiteral("could not connect to %1").arg(opt.server));

    // An error box would wait for a user: report it instead.
    QTimer modalWatch;
    QObject::connect(&modalWatch, &QTimer::timeout, [] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
            Fail(QStringLiteral("error box: ") + box->text());
        if (QApplication::activeModalWidget())
            Fail(QStringLiteral("an unexpected dialog opened"));
    });
    modalWatch.start(100);

    // Let the first paint and start-up work finish before the clock runs.
    (void)WaitFor([] { return false; }, 200);

    QElapsedTimer clock;
    clock.start();
    StallMeter meter(clock, opt.tickMs);
    const auto now = [&clock] { return double(clock.nsecsElapsed()) / 1e6; };
    double clickAt = 0, doneAt = -1, cpuAtClick = 0, cpuAtDone = 0;
    qint64 bytes = 0;
    int ended = 0;
    bool finished = false;
    std::vector<std::pair<const char *, double>> marks;

    // Connected after the window's own handler, so the status bar already
    // shows what the step wrote.
    QObject::connect(smtp, &TSMTP::OnDocInput, &app, [&](TDocInput *doc) {
        const short state = doc->State();
        const char *name = state == short(DocState::Begin)     ? "begin"
                           : state == short(DocState::Headers) ? "headers"
                           : state == short(DocState::Data)    ? "data"
                                                               : "end";
        // Of the data events, the first of each document.
        if (opt.trace && (marks.empty() || marks.back().first != name))
            marks.push_back({name, now()});
        if (state != short(DocState::End))
            return;
        if (status && !status->text().startsWith(QStringLiteral("Mail sent to ")))
            Fail(QStringLiteral("document %1 ended with \"%2\"").arg(ended + 1).arg(status->text()));
        bytes += doc->BytesTransferred();
        if (++ended == 1 && nextDocument) {
            // As the window does: the file once the text's send has ended.
            QTimer::singleShot(0, &app, [&] { nextDocument(); });
            return;
        }
        if (ended < 2)
            return;
        doneAt = now();
        cpuAtDone = CpuMs();
        // Whatever the window still does after the last event also keeps
        // the user waiting: go on ticking a while.
        QTimer::singleShot(opt.settleMs, &app, [&] {
            meter.Stop();
            finished = true;
            QApplication::quit();
        });
    });

    QTimer::singleShot(qint64(opt.timeoutS) * 1000, &app, [&] {
        Fail(QStringLiteral("timed out after %1 s, %2 documents sent").arg(opt.timeoutS).arg(ended));
    });
    QTimer::singleShot(0, &app, [&] {
        meter.Start();
        cpuAtClick = CpuMs();
        clickAt = now();
        press();
    });
    app.exec();
    if (!finished)
        Fail(QStringLiteral("the event loop ended early"));

    if (opt.trace) {
        for (const auto &[what, at] : marks)
            std::fprintf(stderr, "%s at %.1f ms\n", what, at - clickAt);
        for (const auto &gap : meter.LongGaps())
            std::fprintf(stderr, "stall %.1f ms at %.1f..%.1f\n", gap.to - gap.from, gap.from - clickAt,
                         gap.to - clickAt);
    }
    std::printf("mode=%s documents=%d bytes=%lld send_ms=%.1f cpu_ms=%.1f stall_ms=%.1f stall_at_ms=%.1f "
                "ticks=%ld maxrss_kib=%ld\n",
                opt.engine ? "engine" : "window", ended, static_cast<long long>(bytes), doneAt - clickAt,
                cpuAtDone - cpuAtClick, meter.Longest(), meter.LongestEndedAt() - clickAt, meter.Ticks(),
                MaxRssKib());
    std::fflush(stdout);
    // The window and the control close their connection on the way out.
    form.reset();
    bare.reset();
    return 0;
}
