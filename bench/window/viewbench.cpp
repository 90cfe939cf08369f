// The window's share of reading mail, without a server: the POP control's
// document events are raised by hand, in the shapes and turns the control
// uses, and the real window shows them. Repeatable enough to run under
// callgrind or heaptrack, which windowbench against a live server is not.
//
//   viewbench [--shape lines|oneline] [--mib N] [--chunk KIB] [--turn N] [--qt-view | --storage]
//   viewbench --step [--messages N]
//
// Without --step one message of about N MiB (default 20) arrives in chunks
// of KIB KiB (default 256), TURN chunks (default 8) in each turn of the
// event loop, as the control hands them over on loopback; one line:
//   mode=single chars=C total_ms=T stall_ms=S rss_before_kib=K maxrss_kib=M
// With --step N messages of 2-7 kB (default 1000) are shown in turn, each
// in its own turn of the event loop after the view was cleared, as the
// up-down does:
//   mode=step messages=N total_ms=T per_message_ms=P stall_ms=S ...
// stall_ms is the longest turn of the event loop, the paint included; a
// message counts as shown once the view has painted it.
// --qt-view hands the same chunks in the same turns to a plain QPlainTextEdit
// of the view's size and font instead, each inserted at the end through a
// cursor: what Qt's own text view costs for the text, the floor of any
// window built on it.
// --storage appends the same chunks in the same turns to one bare QString:
// what holding the text as UTF-16 costs by itself (mostly the first touch
// of each fresh page), which any view on Qt's text document pays, and any
// view keeping the control's QString chunks pays in the control instead.
#include "apphandler.h"
#include "docobjects.h"
#include "mailform.h"
#include "tpop.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

// Tells when the view has painted all the text it holds: a message counts
// as shown then.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(QPlainTextEdit *view) : m_view(view) { view->viewport()->installEventFilter(this); }
    long paints = 0;
    void WhenPainted(std::function<void()> then)
    {
        if (m_paintedChars == Chars())
            then();
        else
            m_then = std::move(then);
    }
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() != QEvent::Paint)
            return false;
        ++paints;
        m_paintedChars = Chars();
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

struct Options {
    bool oneLine = false;
    bool step = false;
    bool qtView = false;
    bool storage = false;
    int mib = 20;
    int chunkKib = 256;
    int turn = 8;
    int messages = 1000;
};

[[noreturn]] void Usage()
{
    std::fprintf(stderr, "usage: viewbench [--shape lines|oneline] [--mib N] [--chunk KIB] [--turn N] [--qt-view | --storage] | "
                         "--step [--messages N]\n");
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
        if (opt == "--step") {
            o.step = true;
            continue;
        }
        if (opt == "--qt-view" || opt == "--storage") {
            (opt == "--qt-view" ? o.qtView : o.storage) = true;
            if (o.qtView && o.storage)
                Usage();
            continue;
        }
        if (i + 1 >= argc)
            Usage();
        const char *value = argv[++i];
        if (opt == "--shape" && (std::strcmp(value, "lines") == 0 || std::strcmp(value, "oneline") == 0))
            o.oneLine = std::strcmp(value, "oneline") == 0;
        else if (opt == "--mib")
            o.mib = WholeNumber(value, 1, 1024);
        else if (opt == "--chunk")
            o.chunkKib = WholeNumber(value, 1, 65536);
        else if (opt == "--turn")
            o.turn = WholeNumber(value, 1, 1000);
        else if (opt == "--messages")
            o.messages = WholeNumber(value, 1, 100000);
        else
            Usage();
    }
    return o;
}

long StatusKib(const char *field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(status, line))
        if (line.compare(0, key.size(), key) == 0)
            return std::strtol(line.c_str() + key.size(), nullptr, 10);
    return -1;
}

// Words of a fixed list from a seeded generator, as bench/window/makemail.awk
// writes them: lines of at most 70 characters, or one line.
QString Body(qsizetype chars, bool oneLine, unsigned seed)
{
    static const char *const words[] = {"the",     "of",       "and",    "to",      "in",        "message",
                                        "mailbox", "server",   "window", "answer",  "paragraph", "Tuesday",
                                        "invoice", "meeting",  "naïve",  "café",    "résumé",    "Zürich",
                                        "would",   "question", "letter", "regards", "quarterly", "schedule"};
    QString text;
    text.reserve(chars + 80);
    qsizetype line = 0;
    while (text.size() < chars) {
        seed = seed * 1103515245u + 12345u;
        const QString w = QString::fromUtf8(words[(seed >> 16) % std::size(words)]);
        if (line > 0 && !oneLine && line + 1 + w.size() > 70) {
            text += QLatin1Char('\n');
            line = 0;
        } else if (line > 0) {
            text += QLatin1Char(' ');
            ++line;
        }
        text += w;
        line += w.size();
    }
    text += QLatin1Char('\n');
    return text;
}

} // namespace

int main(int argc, char **argv)
{
    const Options opt = Parse(argc, argv);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    char *qtArgv[] = {argv[0], nullptr};
    QApplication app(qtArgc, qtArgv);
    InitApplication(app);

    TMailForm form;
    form.show();
    auto *pop = form.findChild<TPOP *>(QStringLiteral("POP1"));
    auto *view = form.findChild<QPlainTextEdit *>(QStringLiteral("mReadMessage"));
    auto *pages = form.findChild<QTabWidget *>(QStringLiteral("PageControl1"));
    auto *readPage = form.findChild<QWidget *>(QStringLiteral("RecvPage"));
    if (!pop || !view || !pages || !readPage) {
        std::fprintf(stderr, "viewbench: the window lacks the Get Mail page\n");
        return 1;
    }
    pages->setCurrentWidget(readPage);
    QPlainTextEdit plainView;
    if (opt.qtView) {
        if (opt.step)
            Usage();
        plainView.setFont(view->font());
        plainView.setReadOnly(true);
        plainView.setLineWrapMode(view->lineWrapMode());
        plainView.resize(view->size());
        form.hide();
        plainView.show();
    }
    if (opt.storage && opt.step)
        Usage();
    QString storage;
    PaintWatch counter(opt.qtView ? &plainView : view);
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 200)
        QApplication::processEvents(QEventLoop::AllEvents, 20);

    TDocOutput doc;
    const auto raise = [&](DocState state, qint64 transferred, const QString &text = QString()) {
        if (opt.storage) {
            if (state == DocState::Data)
                storage.append(text);
            return;
        }
        if (opt.qtView) {
            if (state == DocState::Data) {
                QTextCursor end(plainView.document());
                end.movePosition(QTextCursor::End);
                end.insertText(text);
            }
            return;
        }
        doc.SetProgress(state, transferred, text);
        emit pop->OnDocOutput(&doc);
    };
    const auto headers = [&](int n) {
        doc.EditHeaders().Clear();
        doc.EditHeaders().Add(QStringLiteral("From"), QStringLiteral("Alice Example <alice@orvanta.test>"));
        doc.EditHeaders().Add(QStringLiteral("To"), QStringLiteral("Alice Example <alice@orvanta.test>"));
        doc.EditHeaders().Add(QStringLiteral("Subject"), QStringLiteral("Message %1").arg(n));
        doc.EditHeaders().Add(QStringLiteral("Date"), QStringLiteral("Tue, 08 Dec 2026 12:00:00 +0000"));
        raise(DocState::Begin, 0);
        raise(DocState::Headers, 200);
    };

    // The text is made before the clock runs: it stands for the engine's,
    // which is not the window's cost. A message of many chunks hands over
    // a few distinct ones in turn, so that the process holds only what the
    // window keeps.
    std::vector<QString> bodies;
    size_t count = 0;
    if (opt.step) {
        for (int i = 1; i <= opt.messages; ++i)
            bodies.push_back(Body(2000 + (i * 7919) % 5000, false, unsigned(100 + i)));
        count = bodies.size();
    } else {
        constexpr int kDistinct = 4;
        const qsizetype chunk = qsizetype(opt.chunkKib) * 1024;
        const QString body = Body(kDistinct * chunk, opt.oneLine, 1);
        for (int i = 0; i < kDistinct; ++i)
            bodies.push_back(body.mid(i * chunk, chunk));
        count = size_t(qsizetype(opt.mib) * 1024 * 1024 / chunk);
    }
    const long rssBefore = StatusKib("VmRSS");
    counter.paints = 0;
    QElapsedTimer clock;
    clock.start();
    double longest = 0, turnStart = 0;
    const auto now = [&clock] { return double(clock.nsecsElapsed()) / 1e6; };
    // A turn ends when the next one starts: what the event loop did in
    // between (layout, paint) counts with it.
    const auto turnEnds = [&] {
        const double t = now();
        longest = std::max(longest, t - turnStart);
        turnStart = t;
    };

    size_t next = 0;
    qint64 transferred = 0;
    std::function<void()> turn = [&] {
        turnEnds();
        if (next == count) {
            QApplication::quit();
            return;
        }
        if (opt.step) {
            view->clear(); // as a step of the up-down does
            headers(int(next) + 1);
            transferred += bodies[next].size();
            raise(DocState::Data, transferred, bodies[next]);
            raise(DocState::End, transferred);
            ++next;
            // The next step once this message is on screen.
            counter.WhenPainted([&] { QTimer::singleShot(0, &app, turn); });
            return;
        } else {
            if (next == 0)
                headers(1);
            for (int i = 0; i < opt.turn && next < count; ++i, ++next) {
                const QString &text = bodies[next % bodies.size()];
                transferred += text.size();
                raise(DocState::Data, transferred, text);
            }
            if (next == count)
                raise(DocState::End, transferred);
        }
        QTimer::singleShot(0, &app, turn);
    };
    QTimer::singleShot(0, &app, turn);
    app.exec();
    const double total = now();

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const long maxRss = std::max<long>(usage.ru_maxrss, StatusKib("VmHWM"));
    if (opt.step)
        std::printf("mode=step messages=%d total_ms=%.1f per_message_ms=%.3f stall_ms=%.1f rss_before_kib=%ld "
                    "maxrss_kib=%ld paints=%ld\n",
                    opt.messages, total, total / opt.messages, longest, rssBefore, maxRss, counter.paints);
    else
        std::printf("mode=single chars=%lld total_ms=%.1f stall_ms=%.1f rss_before_kib=%ld maxrss_kib=%ld paints=%ld\n",
                    static_cast<long long>(opt.storage ? storage.size()
                                           : (opt.qtView ? plainView.document() : view->document())->characterCount()),
                    total, longest, rssBefore, maxRss,
                    counter.paints);
    return 0;
}
