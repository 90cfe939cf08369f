// Starts a program and measures the time until its first top-level window is
// mapped, then its peak resident memory.
//
//   startmap [--linger MS] [--timeout MS] [--env NAME=VALUE]... PROGRAM [ARGS...]
//
// Prints one line:  map_ms=12.345 maxrss_kib=23456 width=418 height=405
// The program finds the start time in STARTMAP_T0_NS (CLOCK_MONOTONIC, ns).
// Exit status: 0 measured, 1 the program ended or timed out before mapping a
// window, 2 usage or set-up error.
//
// The clock starts just before fork and stops when the server's MapNotify is
// read; no polling of the window tree, so the figure has no sampling error.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <vector>
#include <unistd.h>

namespace {

int sigchldPipe[2] = {-1, -1};

void onSigchld(int)
{
    const int saved = errno;
    const char byte = 0;
    // Full pipe means a wake-up is already pending; nothing is lost.
    [[maybe_unused]] ssize_t n = write(sigchldPipe[1], &byte, 1);
    errno = saved;
}

double nowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

bool parseMs(const char *text, long &out)
{
    char *end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < 0 || value > 3600 * 1000)
        return false;
    out = value;
    return true;
}

[[noreturn]] void usage()
{
    std::fprintf(stderr, "usage: startmap [--linger MS] [--timeout MS] [--env NAME=VALUE]... "
                         "PROGRAM [ARGS...]\n");
    std::exit(2);
}

// The pid a window's owner advertises, or 0 when it does not say.
long windowPid(Display *dpy, Window w, Atom pidAtom)
{
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    long pid = 0;
    if (XGetWindowProperty(dpy, w, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &count,
                           &after, &data) == Success
        && type == XA_CARDINAL && format == 32 && count == 1)
        pid = static_cast<long>(*reinterpret_cast<unsigned long *>(data));
    if (data)
        XFree(data);
    return pid;
}

// A window can vanish between its MapNotify and our questions about it.
int ignoreXErrors(Display *, XErrorEvent *) { return 0; }

void removeTree(const std::string &dir)
{
    // The program was started in an empty folder; it may have left files.
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

} // namespace

int main(int argc, char *argv[])
{
    long lingerMs = 300;
    long timeoutMs = 20000;
    std::vector<std::string> extraEnv;
    int first = 1;
    while (first < argc && argv[first][0] == '-') {
        const std::string opt = argv[first];
        if (opt == "--") {
            ++first;
            break;
        }
        if (first + 1 >= argc)
            usage();
        if (opt == "--env") {
            const std::string setting = argv[first + 1];
            const auto eq = setting.find('=');
            if (eq == 0 || eq == std::string::npos)
                usage();
            extraEnv.push_back(setting);
            first += 2;
            continue;
        }
        long *target = opt == "--linger" ? &lingerMs : opt == "--timeout" ? &timeoutMs : nullptr;
        if (!target || !parseMs(argv[first + 1], *target))
            usage();
        first += 2;
    }
    if (first >= argc)
        usage();

    Display *dpy = XOpenDisplay(nullptr);
    if (!dpy) {
        std::fprintf(stderr, "startmap: cannot open display %s\n",
                     std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "(DISPLAY unset)");
        return 2;
    }
    XSetErrorHandler(ignoreXErrors);
    const Window root = DefaultRootWindow(dpy);
    const Atom pidAtom = XInternAtom(dpy, "_NET_WM_PID", False);
    XSelectInput(dpy, root, SubstructureNotifyMask);
    // The selection must be in force at the server before the child starts.
    XSync(dpy, True);
    const int xfd = ConnectionNumber(dpy);
    fcntl(xfd, F_SETFD, FD_CLOEXEC);

    if (pipe2(sigchldPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("startmap: pipe");
        return 2;
    }
    struct sigaction sa {};
    sa.sa_handler = onSigchld;
    sa.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    sigaction(SIGCHLD, &sa, nullptr);

    char dirTemplate[] = "/tmp/startmap.XXXXXX";
    if (!mkdtemp(dirTemplate)) {
        std::perror("startmap: mkdtemp");
        return 2;
    }
    const std::string workDir = dirTemplate;
    // The child runs elsewhere, so a relative program path must be made
    // absolute first; a bare name is still looked up in PATH.
    std::string program = argv[first];
    if (program.find('/') != std::string::npos) {
        std::error_code ec;
        const auto absolute = std::filesystem::absolute(program, ec);
        if (!ec)
            program = absolute.string();
    }

    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    const long long t0Ns = start.tv_sec * 1000000000LL + start.tv_nsec;
    const double t0 = t0Ns / 1e6;
    const pid_t child = fork();
    if (child > 0)
        setpgid(child, child); // also here: no race with the kill below
    if (child < 0) {
        std::perror("startmap: fork");
        removeTree(workDir);
        return 2;
    }
    if (child == 0) {
        // Its own process group, so that whatever it starts is ended with it.
        setpgid(0, 0);
        // An empty working folder: no settings file from an earlier run.
        if (chdir(workDir.c_str()) != 0)
            _exit(127);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        // The start on CLOCK_MONOTONIC, for programs that time their own
        // start-up steps against the same origin.
        setenv("STARTMAP_T0_NS", std::to_string(t0Ns).c_str(), 1);
        for (const std::string &setting : extraEnv) {
            const auto eq = setting.find('=');
            setenv(setting.substr(0, eq).c_str(), setting.substr(eq + 1).c_str(), 1);
        }
        argv[first] = program.data();
        execvp(argv[first], argv + first);
        std::fprintf(stderr, "startmap: cannot run %s: %s\n", argv[first], std::strerror(errno));
        _exit(127);
    }

    double mappedAt = -1;
    int width = 0, height = 0;
    bool childGone = false;
    int status = 0;
    rusage usage{};
    const double deadline = t0 + timeoutMs;

    while (mappedAt < 0 && !childGone) {
        while (XPending(dpy) > 0) {
            XEvent ev;
            XNextEvent(dpy, &ev);
            if (ev.type != MapNotify || ev.xmap.event != root || ev.xmap.override_redirect)
                continue;
            const double t = nowMs();
            const long pid = windowPid(dpy, ev.xmap.window, pidAtom);
            if (pid != 0 && pid != child)
                continue; // someone else's window on a shared display
            XWindowAttributes attrs;
            if (XGetWindowAttributes(dpy, ev.xmap.window, &attrs)) {
                width = attrs.width;
                height = attrs.height;
            }
            mappedAt = t;
            break;
        }
        if (mappedAt >= 0)
            break;
        const double left = deadline - nowMs();
        if (left <= 0)
            break;
        pollfd fds[2] = {{xfd, POLLIN, 0}, {sigchldPipe[0], POLLIN, 0}};
        const int rc = poll(fds, 2, static_cast<int>(left) + 1);
        if (rc < 0 && errno != EINTR) {
            std::perror("startmap: poll");
            break;
        }
        if (fds[1].revents & POLLIN) {
            char drain[64];
            while (read(sigchldPipe[0], drain, sizeof drain) > 0) {
            }
            if (wait4(child, &status, WNOHANG, &usage) == child)
                childGone = true;
        }
        if ((fds[0].revents & (POLLHUP | POLLERR)) && XPending(dpy) == 0) {
            std::fprintf(stderr, "startmap: lost the X connection\n");
            break;
        }
    }

    if (mappedAt >= 0 && lingerMs > 0 && !childGone) {
        // Let the first paint and whatever follows it settle before reading
        // the peak memory; stop early if the program ends by itself.
        const double until = nowMs() + lingerMs;
        for (double left = lingerMs; left > 0 && !childGone; left = until - nowMs()) {
            pollfd fd = {sigchldPipe[0], POLLIN, 0};
            poll(&fd, 1, static_cast<int>(left) + 1);
            char drain[64];
            while (read(sigchldPipe[0], drain, sizeof drain) > 0) {
            }
            if (wait4(child, &status, WNOHANG, &usage) == child)
                childGone = true;
        }
    }
    if (!childGone) {
        kill(-child, SIGTERM);
        // A program that ignores SIGTERM must not stall the whole series.
        const double until = nowMs() + 2000;
        while (wait4(child, &status, WNOHANG, &usage) == 0) {
            if (nowMs() > until) {
                kill(-child, SIGKILL);
                wait4(child, &status, 0, &usage);
                break;
            }
            pollfd fd = {sigchldPipe[0], POLLIN, 0};
            poll(&fd, 1, 50);
            char drain[64];
            while (read(sigchldPipe[0], drain, sizeof drain) > 0) {
            }
        }
    }
    XCloseDisplay(dpy);
    removeTree(workDir);

    if (mappedAt < 0) {
        if (childGone && WIFEXITED(status))
            std::fprintf(stderr, "startmap: %s exited with status %d before mapping a window\n",
                         argv[first], WEXITSTATUS(status));
        else if (childGone && WIFSIGNALED(status))
            std::fprintf(stderr, "startmap: %s died of signal %d before mapping a window\n",
                         argv[first], WTERMSIG(status));
        else
            std::fprintf(stderr, "startmap: %s mapped no window within %ld ms\n", argv[first],
                         timeoutMs);
        return 1;
    }
    std::printf("map_ms=%.3f maxrss_kib=%ld width=%d height=%d\n", mappedAt - t0,
                usage.ru_maxrss, width, height);
    return 0;
}
