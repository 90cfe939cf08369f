// Reads mail through the real mail window and measures it: time to
// "Retrieval complete", peak memory, and the longest stall of the UI thread.
//
//   windowbench --server HOST:PORT --user NAME --password WORD
//               [--step] [--engine] [--tick MS] [--settle MS] [--timeout S]
//               [--page read|connect] [--trace]
//
// Without --step the window logs in and shows message 1 (as it does by
// itself); one line is printed:
//   mode=single bytes=B view_chars=C click_ms=T retr_ms=R stall_ms=S
//   stall_at_ms=A ticks=N rss_before_kib=K maxrss_kib=M
// With --step every message of the mailbox is shown in turn, the up-down
// stepped after each "Retrieval complete":
//   mode=step messages=N total_ms=T median_ms=M p95_ms=P max_ms=X bytes=B
//   stall_ms=S ticks=N rss_before_kib=K maxrss_kib=M
// With --engine the same road runs through the POP control alone, without
// the window: what the engine costs, the floor for the window's figures
// (mode=engine-single, mode=engine-step; view_chars counts the text handed
// over).
//
// --trace lists on stderr every stall over 20 ms with the chunks handed to
// the window during it, to tell the view's share from the engine's.
//
// Run it in an empty folder: the window reads and writes its settings file in
// the working folder. Exit status 0 measured, 1 the road failed (error box,
// aborted transfer, timeout), 2 usage.
#include "apphandler.h"
#include "docobjects.h"
#include "mailform.h"
#include "stallmeter.h"
#include "statusbar.h"
#include "tpop.h"
#include "updown.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTextDocument>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Options {
    QString server, user, password;
    bool step = false;
    bool engine = false;
    int tickMs = 1;
    int settleMs = 300;
    int timeoutS = 600;
    bool readPage = true;
    bool trace = false;
};

[[noreturn]] void Usage()
{
    std::fprintf(stderr, "usage: windowbench --server HOST:PORT --user NAME --password WORD [--step] [--engine] [--trace] "
                         "[--tick MS] [--settle MS] [--timeout S] [--page read|connect]\n");
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
        if (opt == "--step" || opt == "--engine" || opt == "--trace") {
            (opt == "--step" ? o.step : opt == "--engine" ? o.engine : o.trace) = true;
            continue;
        }
        if (i + 1 >= argc)
            Usage();
        const char *value = argv[++i];
        if (opt == "--server")
            o.server = QString::fromLocal8Bit(value);
        else if (opt == "--user")
            o.user = QString::fromLocal8Bit(value);
        else if (opt == "--password")
            o.password = QString::fromLocal8Bit(value);
        else if (opt == "--tick")
            o.tickMs = WholeNumber(value, 1, 100);
        else if (opt == "--settle")
            o.settleMs = WholeNumber(value, 0, 60000);
        else if (opt == "--timeout")
            o.timeoutS = WholeNumber(value, 1, 86400);
        else if (opt == "--page" && (std::strcmp(value, "read") == 0 || std::strcmp(value, "connect") == 0))
            o.readPage = std::strcmp(value, "read") == 0;
        else
            Usage();
    }
    if (o.server.isEmpty() || o.user.isEmpty() || o.password.isEmpty())
        Usage();
    return o;
}

long ResidentKib(const char *field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(status, line))
        if (line.compare(0, key.size(), key) == 0)
            return std::strtol(line.c_str() + key.size(), nullptr, 10);
    return -1;
}

long MaxRssKib()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

template <typename T>
T *Find(QObject *root, const char *name)
{
    T *child = root->findChild<T *>(QString::fromLatin1(name));
    if (!child) {
        std::fprintf(stderr, "windowbench: the window has no %s\n", name);
        std::exit(1);
    }
    return child;
}

double Percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    // Nearest rank: a real sample, not an interpolation.
    const size_t rank = size_t(std::max(1.0, std::ceil(p * double(values.size()))));
    return values[std::min(rank, values.size()) - 1];
}

// Tells when the view has painted all the text it holds: a message counts
// as shown then, not at "Retrieval complete" alone.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(QPlainTextEdit *view) : m_view(view) { view->viewport()->installEventFilter(this); }
    void Stepped() { m_paintedChars = -1; }
    void WhenPainted(std::function<void()> then)
    {
        if (m_paintedChars == Chars() || !m_view->isVisible())
            then();
        else
            m_then = std::move(then);
    }
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() != QEvent::Paint)
            return false;
        m_paintedChars = Chars();
        // After the paint itself.
        if (m_then)
            QTimer::singleShot(0, this, std::exchange(m_then, nullptr));
        return false;
    }

private:
    qint64 Chars() const { return m_view->document()->characterCount(); }
    QPlainTextEdit *m_view;
    qint64 m_paintedChars = -1;
    std::function<void()> m_then;
};

[[noreturn]] void Fail(const QString &why)
{
    std::fprintf(stderr, "windowbench: %s\n", qPrintable(why));
    std::fflush(stderr);
    // No orderly shutdown: a modal box or a transfer may still be running.
    std::_Exit(1);
}

} // namespace

// What the measurement drives: the window, or the POP control alone.
struct Road {
    TPOP *pop = nullptr;
    std::function<void()> start;           // the user's press of Connect
    std::function<QString()> failure;      // why the message just ended badly, or empty
    std::function<bool()> atLast;          // the last message is shown
    std::function<bool()> next;            // the user's step to the next message
    std::function<short()> position;
    std::function<qint64()> viewChars;
    std::function<void(std::function<void()>)> whenPainted; // runs it once the view painted the message
    std::function<void()> stepped;                          // a new message is asked for
};

int main(int argc, char **argv)
{
    const Options opt = Parse(argc, argv);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The window takes its first argument as a message file: give it none.
    int qtArgc = 1;
    char *qtArgv[] = {argv[0], nullptr};
    QApplication app(qtArgc, qtArgv);
    InitApplication(app);

    std::unique_ptr<TMailForm> form;
    std::unique_ptr<TPOP> bare;
    Road road;
    short shown = 0, count = 0;
    qint64 handedOver = 0;
    if (!opt.engine) {
        form = std::make_unique<TMailForm>();
        form->show();
        road.pop = Find<TPOP>(form.get(), "POP1");
        auto *status = Find<TStatusBar>(form.get(), "POPStatus");
        auto *view = Find<QPlainTextEdit>(form.get(), "mReadMessage");
        auto *updown = Find<TUpDown>(form.get(), "udCurMessage");
        Find<QLineEdit>(form.get(), "ePOPServer")->setText(opt.server);
        Find<QLineEdit>(form.get(), "eUserName")->setText(opt.user);
        Find<QLineEdit>(form.get(), "ePassword")->setText(opt.password);
        auto *connectBtn = Find<QAbstractButton>(form.get(), "POPConnectBtn");
        if (!connectBtn->isEnabled())
            Fail(QStringLiteral("the Connect button stays disabled"));
        // The user reads the message as it arrives: its page is the one shown.
        if (opt.readPage)
            Find<QTabWidget>(form.get(), "PageControl1")->setCurrentWidget(Find<QWidget>(form.get(), "RecvPage"));
        road.start = [connectBtn] { connectBtn->click(); };
        road.failure = [status] {
            const QString text = status->text();
            return text.startsWith(QStringLiteral("Retrieval complete")) ? QString() : text;
        };
        road.atLast = [updown] { return updown->Position() >= updown->Max(); };
        road.next = [updown] { return updown->Step(TUDBtnType::btNext); };
        road.position = [updown] { return updown->Position(); };
        road.viewChars = [view] { return qint64(view->document()->characterCount()); };
        auto *watch = new PaintWatch(view);
        watch->setParent(view);
        road.whenPainted = [watch](std::function<void()> then) { watch->WhenPainted(std::move(then)); };
        road.stepped = [watch] { watch->Stepped(); };
    } else {
        bare = std::make_unique<TPOP>();
        TPOP *pop = bare.get();
        road.pop = pop;
        QObject::connect(pop, &TPOP::OnProtocolStateChanged, &app, [pop](short state) {
            if (state == short(PopProtocolState::Authorization))
                pop->Authenticate(std::nullopt, std::nullopt);
        });
        QObject::connect(pop, &TPOP::OnRefreshMessageCount, &app, [pop, &shown, &count](qint32 n) {
            count = short(std::min<qint32>(n, 32767));
            if (n > 0)
                pop->RetrieveMessage(shown = 1);
        });
        // What the window does with a chunk, short of showing it.
        QObject::connect(pop, &TPOP::OnDocOutput, &app, [&handedOver](TDocOutput *doc) {
            if (doc->State() == short(DocState::Data))
                handedOver += doc->GetData().size();
        });
        QObject::connect(pop, &TInternetControl::OnError, &app,
                         [](short number, const QString &description, bool &) {
                             Fail(QStringLiteral("error %1: %2").arg(number).arg(description));
                         });
        road.start = [pop, &opt] {
            pop->SetRemoteHost(opt.server);
            pop->SetUserId(opt.user);
            pop->SetPassword(opt.password);
            pop->Connect();
        };
        road.failure = [] { return QString(); };
        road.atLast = [&shown, &count] { return shown >= count; };
        road.next = [pop, &shown, &count] {
            if (shown >= count)
                return false;
            pop->RetrieveMessage(++shown);
            return true;
        };
        road.position = [&shown] { return shown; };
        road.viewChars = [&handedOver] { return handedOver; };
    }
    TPOP *pop = road.pop;

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
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 200)
        QApplication::processEvents(QEventLoop::AllEvents, 20);

    QElapsedTimer clock;
    clock.start();
    StallMeter meter(clock, opt.tickMs);
    const auto now = [&clock] { return double(clock.nsecsElapsed()) / 1e6; };

    double clickAt = 0, beginAt = -1, doneAt = -1, stepAt = 0;
    qint64 bytesTotal = 0;
    qint64 lastBytes = 0;
    std::vector<double> perMessage;
    int messages = 0;
    int expected = -1;
    bool finished = false;

    QObject::connect(pop, &TPOP::OnRefreshMessageCount, &app, [&](qint32 n) {
        expected = n;
        if (n == 0)
            Fail(QStringLiteral("the mailbox is empty"));
    });
    // Connected after the window's own handler, so the status bar already
    // shows what this step of the transfer wrote.
    struct Handed {
        double at;
        qint64 chars;
    };
    std::vector<Handed> handed;
    QObject::connect(pop, &TPOP::OnDocOutput, &app, [&](TDocOutput *doc) {
        const short state = doc->State();
        if (opt.trace && state == short(DocState::Data))
            handed.push_back({now(), qint64(doc->GetData().size())});
        if (state == short(DocState::Begin) && beginAt < 0)
            beginAt = now();
        if (state != short(DocState::End))
            return;
        const QString failure = road.failure();
        if (!failure.isEmpty())
            Fail(QStringLiteral("message %1 ended with \"%2\"").arg(road.position()).arg(failure));
        lastBytes = doc->BytesTransferred();
        bytesTotal += lastBytes;
        ++messages;
        const auto shown = [&] {
            const double t = now();
            perMessage.push_back(messages == 1 ? t - clickAt : t - stepAt);
            if (!opt.step || road.atLast()) {
                doneAt = t;
                // Whatever the view still does after the last chunk (layout,
                // paint) also keeps the user waiting: go on ticking a while.
                QTimer::singleShot(opt.settleMs, &app, [&] {
                    meter.Stop();
                    finished = true;
                    QApplication::quit();
                });
                return;
            }
            // The next press comes from the event loop, as a user's would.
            QTimer::singleShot(0, &app, [&] {
                stepAt = now();
                if (road.stepped)
                    road.stepped();
                if (!road.next())
                    Fail(QStringLiteral("could not step from message %1").arg(road.position()));
            });
        };
        // The message is shown once the view has painted it, which it may
        // do after "Retrieval complete".
        if (road.whenPainted)
            road.whenPainted(shown);
        else
            shown();
    });

    QTimer::singleShot(qint64(opt.timeoutS) * 1000, &app, [&] {
        Fail(QStringLiteral("timed out after %1 s, %2 messages shown").arg(opt.timeoutS).arg(messages));
    });

    const long rssBefore = ResidentKib("VmRSS");
    QTimer::singleShot(0, &app, [&] {
        meter.Start();
        clickAt = now();
        road.start();
    });
    app.exec();
    if (!finished)
        Fail(QStringLiteral("the event loop ended early"));

    if (opt.trace) {
        size_t k = 0;
        for (const auto &gap : meter.LongGaps()) {
            qint64 chars = 0;
            int chunks = 0;
            while (k < handed.size() && handed[k].at <= gap.to) {
                if (handed[k].at >= gap.from) {
                    chars += handed[k].chars;
                    ++chunks;
                }
                ++k;
            }
            std::fprintf(stderr, "stall %.1f ms at %.1f..%.1f: %d chunks, %lld characters\n", gap.to - gap.from,
                         gap.from - clickAt, gap.to - clickAt, chunks, static_cast<long long>(chars));
        }
    }
    const long maxRss = std::max(MaxRssKib(), ResidentKib("VmHWM"));
    const char *prefix = opt.engine ? "engine-" : "";
    if (!opt.step) {
        std::printf("mode=%ssingle bytes=%lld view_chars=%lld click_ms=%.1f retr_ms=%.1f stall_ms=%.1f "
                    "stall_at_ms=%.1f ticks=%ld rss_before_kib=%ld maxrss_kib=%ld\n",
                    prefix, static_cast<long long>(lastBytes), static_cast<long long>(road.viewChars()),
                    doneAt - clickAt, doneAt - (beginAt < 0 ? clickAt : beginAt), meter.Longest(),
                    meter.LongestEndedAt() - clickAt, meter.Ticks(), rssBefore, maxRss);
    } else {
        if (messages != expected)
            Fail(QStringLiteral("%1 of %2 messages shown").arg(messages).arg(expected));
        // The first figure includes the login: leave it out of the per-message ones.
        std::vector<double> steps(perMessage.begin() + (perMessage.size() > 1 ? 1 : 0), perMessage.end());
        std::printf("mode=%sstep messages=%d total_ms=%.1f median_ms=%.2f p95_ms=%.2f max_ms=%.2f "
                    "bytes=%lld stall_ms=%.1f ticks=%ld rss_before_kib=%ld maxrss_kib=%ld\n",
                    prefix, messages, doneAt - clickAt, Percentile(steps, 0.5), Percentile(steps, 0.95),
                    Percentile(steps, 1.0), static_cast<long long>(bytesTotal), meter.Longest(),
                    meter.Ticks(), rssBefore, maxRss);
    }
    std::fflush(stdout);
    // The window and the control close their connection on the way out.
    form.reset();
    bare.reset();
    return 0;
}
