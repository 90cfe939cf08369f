"""Drives the real program as a user does: a private X display, a settings
file in a working folder of its own, mouse and keys through xdotool, and
what the window shows read back through the clipboard.

Every wait polls for a condition; a fixed pause alone proves nothing on a
loaded machine. Everything started here is ended here, by its PID.
"""

import ctypes
import ctypes.util
import os
import select
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import threading
import time
import xml.etree.ElementTree as ET

WINDOW_TITLE = "Orvanta Mail"
PAGE_FRAME = 2  # the page frame's thickness in the default style


class Failure(Exception):
    """One clear reason a case failed."""


class MessageBoxShown(Failure):
    """The program put up a message box where none was expected."""


def fail(message):
    raise Failure(message)


def wait_for(condition, timeout, what, interval=0.1):
    """Polls condition until it returns something true; fails naming what."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            fail(f"timed out after {timeout:g} s waiting for {what}")
        time.sleep(interval)


_START = time.monotonic()


def step(text):
    """Progress on the test's output, with the time since start."""
    print(f"[{time.monotonic() - _START:6.2f}] {text}", flush=True)


def normalise(data):
    """Line ends as LF, whatever the sender or server used."""
    return data.replace(b"\r\n", b"\n").replace(b"\r", b"\n")


# ---------------------------------------------------------------- servers

class Servers:
    """The suite's real Postfix and Dovecot, as servers.env describes them."""

    def __init__(self, env_path, script):
        if not env_path or not os.path.exists(env_path):
            fail(f"no servers.env at {env_path!r}: run under the mailservers fixture")
        self.env_path = env_path
        self.dir = os.path.dirname(env_path)
        self.script = script
        self.values = {}
        with open(env_path, encoding="utf-8") as f:
            for line in f:
                key, sep, value = line.strip().partition("=")
                if sep:
                    self.values[key] = value
        self.smtp = (self.values["SMTP_HOST"], int(self.values["SMTP_PORT"]))
        self.pop = (self.values["POP_HOST"], int(self.values["POP_PORT"]))
        self.domain = self.values["DOMAIN"]
        self.maildir_base = self.values["MAILDIR_BASE"]

    def password(self, user):
        for i in range(1, 10):
            if self.values.get(f"USER{i}") == user:
                return self.values[f"PASS{i}"]
        fail(f"no user {user} in {self.env_path}")

    def _script(self, *args):
        done = subprocess.run([self.script, *args], capture_output=True, text=True, timeout=120)
        if done.returncode != 0:
            fail(f"testservers.sh {' '.join(args)} failed: {done.stderr.strip()}")

    def empty(self, user):
        self._script("empty", self.dir, user)

    def seed(self, user, paths):
        self._script("seed", self.dir, user, *paths)

    def maildir_files(self, user):
        files = []
        for sub in ("new", "cur"):
            folder = os.path.join(self.maildir_base, user, sub)
            if os.path.isdir(folder):
                files += [os.path.join(folder, n) for n in sorted(os.listdir(folder))]
        return files

    def find_delivered(self, user, marker, timeout):
        """The one stored message that holds marker, polled for: delivery
        follows the server's 250 by a little."""
        def found():
            hits = []
            for path in self.maildir_files(user):
                try:
                    with open(path, "rb") as f:
                        if marker in f.read():
                            hits.append(path)
                except FileNotFoundError:  # moved from new/ to cur/ meanwhile
                    pass
            return hits
        hits = wait_for(found, timeout, f"a message holding {marker!r} in {user}'s Maildir")
        if len(hits) != 1:
            fail(f"{len(hits)} messages in {user}'s Maildir hold {marker!r}, expected one")
        with open(hits[0], "rb") as f:
            return f.read()


def split_message(data):
    """(list of (name, value) with folded lines joined, body) of a stored
    message, line ends as LF."""
    data = normalise(data)
    head, sep, body = data.partition(b"\n\n")
    if not sep:
        head, body = data, b""
    headers = []
    for line in head.split(b"\n"):
        if line[:1] in (b" ", b"\t") and headers:
            name, value = headers[-1]
            headers[-1] = (name, value + b" " + line.strip())
        elif line:
            name, _, value = line.partition(b":")
            headers.append((name.decode("latin-1"), value.strip()))
    return headers, body


def header(headers, name):
    values = [v for n, v in headers if n.lower() == name.lower()]
    return values[0] if values else None


# ---------------------------------------------------------------- relay

# Linux's SO_TIMESTAMPNS (also its control message type); Python does not
# name it. Each received chunk then carries the kernel's arrival time, which
# orders two sessions' writes even when one wake-up of select() finds both.
SO_TIMESTAMPNS = 35


class Relay:
    """A TCP relay between the program and one real server that records each
    line passing either way with the time the kernel received it."""

    def __init__(self, hub, name, upstream):
        self.hub = hub
        self.name = name
        self.upstream = upstream
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(8)
        self.listener.setblocking(False)
        self.port = self.listener.getsockname()[1]
        self.connections = 0

    def lines(self, direction=None):
        """[(sequence, direction, line, arrival ns)] of this relay; direction
        'C' is from the program, 'S' from the server."""
        with self.hub.lock:
            return [(seq, d, line, ns) for seq, name, d, line, ns in self.hub.events
                    if name == self.name and (direction is None or d == direction)]

    def client_commands(self, verb):
        """[(sequence, line, arrival ns)] of the program's commands verb."""
        return [(seq, line, ns) for seq, d, line, ns in self.lines("C")
                if line.split(b" ", 1)[0].upper() == verb.encode()]


class RelayHub:
    """One thread serving every relay with select()."""

    def __init__(self):
        self.lock = threading.Lock()
        # (sequence, relay name, 'C' | 'S' | 'closed-C' | 'closed-S', line, arrival ns)
        self.events = []
        self.relays = []
        self.stamped = 0  # chunks that came with the kernel's arrival time
        self._pairs = {}  # socket -> (peer socket, relay, direction, partial line)
        self._stop = False
        self._thread = None
        self._wake_r, self._wake_w = socket.socketpair()

    def add(self, name, upstream):
        relay = Relay(self, name, upstream)
        self.relays.append(relay)
        return relay

    def start(self):
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _record(self, relay, direction, line, ns):
        with self.lock:
            self.events.append((len(self.events), relay.name, direction, line, ns))

    def _run(self):
        listeners = {r.listener: r for r in self.relays}
        while not self._stop:
            sockets = list(listeners) + list(self._pairs) + [self._wake_r]
            readable, _, _ = select.select(sockets, [], [], 0.5)
            for s in readable:
                if s is self._wake_r:
                    continue
                if s in listeners:
                    relay = listeners[s]
                    try:
                        client, _ = s.accept()
                    except BlockingIOError:
                        continue
                    server = socket.create_connection(relay.upstream, timeout=10)
                    for one in (client, server):
                        one.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
                    relay.connections += 1
                    self._pairs[client] = [server, relay, "C", b""]
                    self._pairs[server] = [client, relay, "S", b""]
                    continue
                if s not in self._pairs:
                    continue
                peer, relay, direction, partial = self._pairs[s]
                ns = time.time_ns()
                try:
                    data, ancillary, _, _ = s.recvmsg(65536, socket.CMSG_SPACE(16))
                except OSError:
                    data, ancillary = b"", []
                for level, kind, payload in ancillary:
                    if level == socket.SOL_SOCKET and kind == SO_TIMESTAMPNS and len(payload) >= 16:
                        seconds, nanoseconds = struct.unpack("qq", payload[:16])
                        ns = seconds * 1_000_000_000 + nanoseconds
                        self.stamped += 1
                if not data:
                    self._record(relay, "closed-" + direction, b"", ns)
                    self._drop(s, peer)
                    continue
                partial += data
                *complete, partial = partial.split(b"\n")
                for line in complete:
                    self._record(relay, direction, line.rstrip(b"\r"), ns)
                self._pairs[s][3] = partial
                try:
                    peer.sendall(data)
                except OSError:
                    self._drop(s, peer)

    def _drop(self, s, peer):
        for one in (s, peer):
            if one in self._pairs:
                del self._pairs[one]
            try:
                one.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            one.close()

    def stop(self):
        self._stop = True
        self._wake_w.send(b"x")
        if self._thread:
            self._thread.join(5)
        for s in list(self._pairs):
            s.close()
        for r in self.relays:
            r.listener.close()
        self._wake_r.close()
        self._wake_w.close()


# ---------------------------------------------------------------- layout

class Layout:
    """Widget rectangles from the window description, relative to the page
    (or the window) that holds them."""

    PAGES = ("SendPage", "RecvPage", "ConPage")

    def __init__(self, ui_path):
        root = ET.parse(ui_path).getroot()
        form = root.find("widget")
        self.rects = {}
        self.form_size = self._rect(form)[2:]
        self._walk(form, (0, 0), None)
        # At start the window moves these buttons to its right edge.
        for name in ("SendBtn", "ClearBtn", "QuitBtn"):
            x, y, w, h, page = self.rects[name]
            panel_x = self.rects["Panel1"][0]
            self.rects[name] = (self.form_size[0] - w - 10 + panel_x, y, w, h, page)

    @staticmethod
    def _rect(widget):
        for prop in widget.findall("property"):
            if prop.get("name") == "geometry":
                r = prop.find("rect")
                return tuple(int(r.find(k).text) for k in ("x", "y", "width", "height"))
        return None

    def _walk(self, widget, origin, page):
        for child in widget.findall("widget"):
            name = child.get("name")
            if name in self.PAGES:
                self._walk(child, (0, 0), name)
                continue
            rect = self._rect(child)
            if rect is None:
                continue
            x, y = origin[0] + rect[0], origin[1] + rect[1]
            self.rects[name] = (x, y, rect[2], rect[3], page)
            self._walk(child, (x, y), page)

    def rect(self, name):
        return self.rects[name]


# ---------------------------------------------------------------- X side

class _XClientMessageEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("data", ctypes.c_long * 5)]


class _XEvent(ctypes.Union):
    _fields_ = [("xclient", _XClientMessageEvent), ("pad", ctypes.c_long * 24)]


def send_close_request(display, window):
    """What a window manager sends when the user closes a window: a
    WM_DELETE_WINDOW client message (there is no window manager here)."""
    name = ctypes.util.find_library("X11") or "libX11.so.6"
    x11 = ctypes.CDLL(name)
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.POINTER(_XEvent)]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    dpy = x11.XOpenDisplay(display.encode())
    if not dpy:
        fail(f"cannot open display {display} to send the close request")
    try:
        event = _XEvent()
        event.xclient.type = 33  # ClientMessage
        event.xclient.window = window
        event.xclient.message_type = x11.XInternAtom(dpy, b"WM_PROTOCOLS", 0)
        event.xclient.format = 32
        event.xclient.data[0] = x11.XInternAtom(dpy, b"WM_DELETE_WINDOW", 0)
        event.xclient.data[1] = 0  # CurrentTime
        x11.XSendEvent(dpy, window, 0, 0, ctypes.byref(event))
        x11.XFlush(dpy)
    finally:
        x11.XCloseDisplay(dpy)


class Desktop:
    """A private X display with the program on it."""

    def __init__(self, program, ui_path, artifacts):
        for tool in ("Xvfb", "xdotool", "xclip", "import", "identify"):
            if not shutil.which(tool):
                fail(f"{tool} is missing: run scripts/deps.sh test")
        self.program = program
        self.layout = Layout(ui_path)
        self.artifacts = artifacts
        self.tmp = tempfile.mkdtemp(prefix="orv-e2e-")
        self.workdir = os.path.join(self.tmp, "work")
        os.mkdir(self.workdir)
        self.xvfb = None
        self.app = None
        self.display = None
        self.window = None
        self.origin = None      # the window's top left on the screen
        self.page_offset = None  # a page's top left within the window
        self.page = 0
        self._app_log = None
        self._xvfb_log = None

    # -- lifetime

    def start_display(self):
        read_fd, write_fd = os.pipe()
        self._xvfb_log = open(os.path.join(self.tmp, "xvfb.log"), "wb")
        # -displayfd: Xvfb picks a free display and writes its number once
        # it accepts clients.
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24", "-dpi", "96",
             "-nolisten", "tcp", "-noreset"],
            pass_fds=[write_fd], stdout=self._xvfb_log, stderr=subprocess.STDOUT)
        os.close(write_fd)
        number = b""
        deadline = time.monotonic() + 30
        try:
            while not number.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or not select.select([read_fd], [], [], left)[0]:
                    fail("Xvfb did not report its display within 30 s")
                chunk = os.read(read_fd, 64)
                if not chunk:
                    fail(f"Xvfb ended at start (exit {self.xvfb.wait(5)})")
                number += chunk
        finally:
            os.close(read_fd)
        self.display = ":" + number.decode().strip()

    def write_settings(self, smtp, return_address, pop, user):
        # Two lines ended by CR LF, as the program writes them itself.
        text = f"{smtp[0]}:{smtp[1]},{return_address}\r\n{pop[0]}:{pop[1]},{user}\r\n"
        with open(os.path.join(self.workdir, "Orvmail.cfg"), "wb") as f:
            f.write(text.encode())

    def env(self):
        env = dict(os.environ)
        xdg = os.path.join(self.tmp, "xdg")
        os.makedirs(xdg, mode=0o700, exist_ok=True)
        env.update(DISPLAY=self.display, QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=xdg,
                   LC_ALL="C.UTF-8", NO_AT_BRIDGE="1")
        env.pop("QT_FONT_DPI", None)
        return env

    def start_program(self, argument):
        self._app_log = open(os.path.join(self.tmp, "orvmail.log"), "wb")
        args = [self.program] + ([argument] if argument is not None else [])
        self.app = subprocess.Popen(args, cwd=self.workdir, env=self.env(),
                                    stdout=self._app_log, stderr=subprocess.STDOUT)
        self.window = wait_for(self._main_window, 60, "the program's window to appear")
        geometry = self._geometry(self.window)
        self.origin = geometry[:2]
        if tuple(geometry[2:]) != tuple(self.layout.form_size):
            fail(f"window is {geometry[2]}x{geometry[3]}, expected "
                 f"{self.layout.form_size[0]}x{self.layout.form_size[1]}")
        self.xdo("windowfocus", "--sync", str(self.window))
        # Mapped is not painted: the first frame may still be on its way.
        self.page_offset = wait_for(self._find_page_offset, 20,
                                    "the page frame below the tabs to be drawn", 0.2)

    def program_log(self):
        if self._app_log:
            self._app_log.flush()
            with open(self._app_log.name, "rb") as f:
                return f.read().decode("utf-8", "replace")
        return ""

    def wait_exit(self, timeout):
        try:
            return self.app.wait(timeout)
        except subprocess.TimeoutExpired:
            fail(f"the program did not exit within {timeout} s")

    def close(self):
        """Ends what was started here, by PID, and removes the folder."""
        for proc in (self.app, self.xvfb):
            if proc and proc.poll() is None:
                proc.send_signal(signal.SIGTERM)
                try:
                    proc.wait(10)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait(10)
        for log in (self._app_log, self._xvfb_log):
            if log:
                log.close()
        shutil.rmtree(self.tmp, ignore_errors=True)

    # -- X helpers

    def run(self, *args, timeout=20, check=True):
        done = subprocess.run(args, env=self.env(), capture_output=True, timeout=timeout)
        if check and done.returncode != 0:
            fail(f"{' '.join(args)} failed: {done.stderr.decode(errors='replace').strip()}")
        return done

    def xdo(self, *args, check=True):
        return self.run("xdotool", *args, check=check).stdout.decode().strip()

    def _geometry(self, window):
        out = self.xdo("getwindowgeometry", "--shell", str(window))
        values = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    def windows(self):
        """Visible top-level windows of the program."""
        if self.app.poll() is not None:
            return []
        out = self.run("xdotool", "search", "--onlyvisible", "--pid", str(self.app.pid),
                       "--name", f"^{WINDOW_TITLE}$", check=False).stdout.decode()
        return [int(w) for w in out.split()]

    def _main_window(self):
        if self.app.poll() is not None:
            fail(f"the program ended (exit {self.app.returncode}) before its window appeared:\n"
                 + self.program_log())
        for w in self.windows():
            if tuple(self._geometry(w)[2:]) == tuple(self.layout.form_size):
                return w
        return None

    def message_boxes(self):
        return [w for w in self.windows() if w != self.window]

    def check_no_message_box(self):
        boxes = self.message_boxes()
        if boxes:
            raise MessageBoxShown(f"the program shows a message box: {self.box_text(boxes[0])}")

    def box_text(self, box):
        """A message box's text if it can be copied (Ctrl+C); otherwise
        where a picture of the screen was saved."""
        x, y, w, h = self._geometry(box)
        self.click_at(x + w // 2, y + 10)
        # Without a window manager a click does not move the keyboard focus.
        self.xdo("windowfocus", str(box), check=False)
        self.key("ctrl+c")
        deadline = time.monotonic() + 3
        while time.monotonic() < deadline:
            text = self.clipboard()
            if text:
                return text
            time.sleep(0.2)
        path = os.path.join(self.artifacts, f"message-box-{self.app.pid}.png")
        os.makedirs(self.artifacts, exist_ok=True)
        self.run("import", "-window", "root", path, check=False)
        return f"(not copyable; picture in {path})"

    def clipboard(self):
        done = self.run("xclip", "-o", "-selection", "clipboard", timeout=10, check=False)
        return done.stdout.decode("utf-8", "replace") if done.returncode == 0 else ""

    def screenshot(self, path=None):
        """The window's pixels as (width, height, RGB bytes), optionally also
        saved as a PNG."""
        if path:
            # Cases run in any order: the first to keep a picture makes the folder.
            os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
            self.run("import", "-window", str(self.window), path, timeout=60)
        raw = self.run("import", "-window", str(self.window), "-depth", "8", "rgb:-",
                       timeout=60).stdout
        w, h = self.layout.form_size
        if len(raw) != w * h * 3:
            fail(f"screen grab has {len(raw)} bytes, expected {w}x{h}x3")
        return w, h, raw

    # -- where things are

    def _find_page_offset(self):
        """Where a page's top left lies in the window. The tab bar's height
        follows the style and font, so the top of the page frame is found in
        the pixels: right of the tabs, the first row below the tab widget's
        top that differs from the window's background. None while the
        window has not been painted."""
        tabs_x, tabs_y, tabs_w, tabs_h, _ = self.layout.rect("PageControl1")
        w, h, raw = self.screenshot()
        x = tabs_x + tabs_w - 4

        def pixel(y):
            i = (y * w + x) * 3
            return raw[i:i + 3]
        background = pixel(tabs_y + 1)
        for y in range(tabs_y + 1, tabs_y + tabs_h // 2):
            if pixel(y) != background:
                # The frame around a page is two pixels thick.
                return (tabs_x + PAGE_FRAME, y + PAGE_FRAME)
        return None

    def point(self, name, fx=0.5, fy=0.5):
        x, y, w, h, page = self.layout.rect(name)
        ox, oy = self.origin
        if page:
            ox += self.page_offset[0]
            oy += self.page_offset[1]
        return ox + x + int(w * fx), oy + y + int(h * fy)

    # -- doing things

    def click(self, name, fx=0.5, fy=0.5):
        self.click_at(*self.point(name, fx, fy))

    def click_at(self, x, y):
        # "mousemove --sync" waits for a motion that never comes when the
        # pointer is already there: move, then poll where it is.
        self.xdo("mousemove", str(x), str(y))

        def arrived():
            where = dict(line.split("=", 1) for line in
                         self.xdo("getmouselocation", "--shell").splitlines() if "=" in line)
            return int(where["X"]) == x and int(where["Y"]) == y
        wait_for(arrived, 10, f"the pointer at {x},{y}", interval=0.02)
        self.xdo("click", "1")

    def key(self, *keys):
        self.xdo("key", "--clearmodifiers", "--delay", "30", *keys)

    def type(self, text):
        self.xdo("type", "--clearmodifiers", "--delay", "20", text)

    def copy_text(self, name):
        """What the widget shows, selected and copied as a user would."""
        self.click(name)
        self.key("ctrl+a", "ctrl+c")
        return self.clipboard()

    def wait_for_text(self, name, condition, timeout, what):
        seen = {"text": None}

        def check():
            self.check_no_message_box()
            seen["text"] = self.copy_text(name)
            return condition(seen["text"])
        try:
            return wait_for(lambda: check() and seen["text"], timeout, what, interval=0.3)
        except MessageBoxShown:
            raise
        except Failure as e:
            fail(f"{e}; it shows:\n{seen['text']}")

    def show_page(self, index):
        """Pages follow each other under Ctrl+Tab; the window starts on the
        first."""
        for _ in range((index - self.page) % 3):
            self.key("ctrl+Tab")
        self.page = index

    def led_lit(self):
        """Whether the Send Mail page shows the connected light (the page
        must be showing)."""
        w, h, raw = self.screenshot()
        x, y, lw, lh, _ = self.layout.rect("LedImage")
        x += self.page_offset[0]
        y += self.page_offset[1]
        colours = set()
        for yy in range(y, y + lh):
            for xx in range(x, x + lw):
                i = (yy * w + xx) * 3
                colours.add(raw[i:i + 3])
        return len(colours) > 2
