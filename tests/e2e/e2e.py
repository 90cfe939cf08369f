#!/usr/bin/env python3
"""End-to-end cases: the real program, started as a host program starts it,
driven by mouse and keys on a private X display, against the suite's real
Postfix and Dovecot.

  e2e.py CASE --program BIN --ui mailform.ui --servers-script testservers.sh
         --artifacts DIR

Each case fails for one reason, named on the last line it prints.
"""

import argparse
import os
import quopri
import re
import signal
import subprocess
import sys
import time
import uuid

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from orvdrive import (Desktop, Failure, RelayHub, Servers, fail, header, normalise,  # noqa: E402
                      send_close_request, split_message, step, wait_for)

SEND, GET, CONNECT = 0, 1, 2
# The headers the program writes on every message it sends.
PROGRAM_HEADERS = ("To", "From", "CC", "Subject", "Message-Id", "Content-Type")


def tricky_body(marker, latin1):
    """Lines a mail road gets wrong: dot lines, blank runs, a long line,
    trailing blanks, text beyond ASCII (within Latin-1 if asked)."""
    # Over SMTP's 998-octet line limit: the program must encode it.
    long_line = " ".join(f"word{i:03d}" for i in range(200))
    return "\n".join([
        f"First line {marker}",
        "",
        ".",
        "..two dots lead this line",
        "...",
        ". a dot and a space",
        long_line,
        "",
        "",
        "Grüße aus Köln, naïve café, ½ × ¾" if latin1 else "Grüße aus Köln, naïve café, ☃ 東京",
        "tab\tin the middle and blanks at the end   ",
        "last line",
    ]) + "\n"


def view_parts(text, names):
    """Splits the Get Mail view's text into its header lines (as many as the
    message has headers) and the body after them."""
    lines = text.split("\n")
    return lines[:len(names)], "\n".join(lines[len(names):])


def connect_pop(desk, password):
    step("POP: password and Connect")
    desk.show_page(CONNECT)
    desk.click("ePassword")
    desk.type(password)
    desk.click("POPConnectBtn")


def wait_smtp_connected(desk):
    """The light on Send Mail comes on when the session is ready."""
    step("waiting for the SMTP light")
    desk.show_page(SEND)
    wait_for(lambda: desk.check_no_message_box() or desk.led_lit(), 60,
             "the SMTP connection (the light on Send Mail)", interval=0.3)


def stored_body(data):
    headers, body = split_message(data)
    encoding = (header(headers, "Content-Transfer-Encoding") or b"").lower()
    if encoding == b"quoted-printable":
        body = normalise(quopri.decodestring(body.replace(b"\n", b"\r\n")))
    return headers, body


# ---------------------------------------------------------------- cases

def case_one_message(ctx, encoding):
    """Argument and settings file in, one message out through Postfix, and
    read back over POP in the Get Mail view with every header intact. The
    file is UTF-8 or Latin-1; what is sent is UTF-8 either way."""
    servers, desk = ctx.servers, ctx.desk
    user = "alice"
    address = f"{user}@{servers.domain}"
    servers.empty(user)
    marker = f"e2e-{uuid.uuid4()}"
    text = tricky_body(marker, encoding == "latin-1")
    message_file = os.path.join(desk.workdir, "message.txt")
    with open(message_file, "wb") as f:
        f.write(text.encode(encoding))

    desk.write_settings(servers.smtp, address, servers.pop, user)
    desk.start_program(f"{address},{message_file}")
    wait_smtp_connected(desk)

    step("Send")
    desk.click("SendBtn")
    stored = servers.find_delivered(user, marker.encode(), 60)
    desk.check_no_message_box()
    headers, body = stored_body(stored)
    missing = [n for n in PROGRAM_HEADERS if header(headers, n) is None]
    if missing:
        fail(f"the delivered message lacks {missing}; it has {[n for n, _ in headers]}")
    expect = {"To": address.encode(), "From": address.encode(), "CC": b"",
              "Subject": b"Via Orvanta"}
    for name, value in expect.items():
        if header(headers, name).rstrip() != value:
            fail(f"delivered {name} is {header(headers, name)!r}, expected {value!r}")
    if not re.fullmatch(rb"<Orvanta_Mail_\d{8}T\d{6}\.\d{3}_[0-9a-f]{8}_" + re.escape(address.encode()) + b">",
                        header(headers, "Message-Id")):
        fail(f"delivered Message-Id {header(headers, 'Message-Id')!r} is not the program's form")
    if not header(headers, "Content-Type").upper().startswith(b"TEXT/PLAIN"):
        fail(f"delivered Content-Type is {header(headers, 'Content-Type')!r}")
    if body != text.encode("utf-8"):
        fail(f"delivered body differs from the file:\n{body!r}\nexpected\n{text.encode()!r}")

    step(f"delivered intact ({(header(headers, 'Content-Transfer-Encoding') or b'7bit').decode()})")
    connect_pop(desk, servers.password(user))
    desk.show_page(GET)
    shown = desk.wait_for_text("mReadMessage", lambda t: "last line" in t, 60,
                               "the message in the Get Mail view")
    names = [n for n, _ in headers]
    head_lines, view_body = view_parts(shown, names)
    for name in PROGRAM_HEADERS:
        line = f"{name}: {header(headers, name).decode('utf-8')}"
        if not any(l.rstrip() == line.rstrip() for l in head_lines):
            fail(f"the view lacks the header line {line!r}; its header lines are {head_lines}")
    if view_body != text:
        fail(f"the view's body differs from the file:\n{view_body!r}\nexpected\n{text!r}")


def seeded_message(i, marker):
    """(file content, what the view shows: header lines, then the body
    directly after the last of them)."""
    head = (f"From: sender{i}@orvanta.test\nTo: carol@orvanta.test\n"
            f"Subject: Seeded {i} {marker}\n")
    body = f"Message number {i}.\n\n.\n..two dots\nEnd of message {i}.\n"
    return head + "\n" + body, head + body


def case_mailbox_steps(ctx):
    """A mailbox of several messages read one by one with the arrows, and
    the arrow past the last asking the server for nothing."""
    servers, desk = ctx.servers, ctx.desk
    user = "carol"
    count = 3
    marker = f"e2e-{uuid.uuid4()}"
    servers.empty(user)
    messages = []
    paths = []
    for i in range(1, count + 1):
        content, shown = seeded_message(i, marker)
        path = os.path.join(desk.tmp, f"seed{i}.eml")
        with open(path, "w", encoding="utf-8") as f:
            f.write(content)
        paths.append(path)
        messages.append(shown)
    servers.seed(user, paths)

    hub = RelayHub()
    ctx.hubs.append(hub)
    pop = hub.add("pop", servers.pop)
    hub.start()
    # Read without a hand-off: the program still reads mail.
    desk.write_settings(servers.smtp, f"{user}@{servers.domain}", ("127.0.0.1", pop.port), user)
    desk.start_program(None)
    connect_pop(desk, servers.password(user))
    desk.show_page(GET)

    def expect_message(n):
        step(f"expecting message {n}")
        want = messages[n - 1]
        desk.wait_for_text("mReadMessage", lambda t: t == want, 60, f"message {n} in the view")
        number = desk.copy_text("eCurMessage")
        if number != str(n):
            fail(f"the message number shows {number!r} with message {n} in the view")

    expect_message(1)
    for n in range(2, count + 1):
        desk.click("udCurMessage", fy=0.25)  # the up arrow
        expect_message(n)

    step("the arrow past the last message")
    retrieved = len(pop.client_commands("RETR"))
    desk.click("udCurMessage", fy=0.25)
    # The click is handled before the keys of the copy that follows; give a
    # request it might have sent time to reach the relay.
    number = desk.copy_text("eCurMessage")
    time.sleep(1.5)
    if number != str(count) or desk.copy_text("eCurMessage") != str(count):
        fail(f"the arrow past the last message moved the number to {number!r}")
    if len(pop.client_commands("RETR")) != retrieved:
        fail(f"the arrow past the last message sent {pop.client_commands('RETR')[retrieved:]}")
    desk.wait_for_text("mReadMessage", lambda t: t == messages[-1], 10, "the last message still shown")

    # The keyboard steps too: Down in the message number goes back one.
    desk.click("eCurMessage")
    desk.key("Down")
    expect_message(count - 1)
    desk.check_no_message_box()


def case_close_order(ctx, by_request):
    """With both sessions connected, closing ends the POP session before the
    SMTP session's QUIT, and the program exits with status 0."""
    servers, desk = ctx.servers, ctx.desk
    user = "bob"
    servers.empty(user)
    hub = RelayHub()
    ctx.hubs.append(hub)
    smtp = hub.add("smtp", servers.smtp)
    pop = hub.add("pop", servers.pop)
    hub.start()
    message_file = os.path.join(desk.workdir, "note.txt")
    with open(message_file, "w", encoding="utf-8") as f:
        f.write("A note.\n")
    address = f"{user}@{servers.domain}"
    desk.write_settings(("127.0.0.1", smtp.port), address, ("127.0.0.1", pop.port), user)
    desk.start_program(f"{address},{message_file}")
    wait_smtp_connected(desk)
    connect_pop(desk, servers.password(user))

    def pop_idle():
        # Logged in and the message count answered: nothing more is asked of
        # an empty mailbox.
        stat = pop.client_commands("STAT")
        return stat and any(seq > stat[0][0] for seq, _, _, _ in pop.lines("S"))
    wait_for(pop_idle, 60, "the POP login and message count")
    desk.check_no_message_box()

    step("closing by " + ("the close request" if by_request else "the Quit button"))
    if by_request:
        send_close_request(desk.display, desk.window)
    else:
        desk.click("BitBtn1")  # Quit on Connect To
    status = desk.wait_exit(60)
    if status != 0:
        fail(f"the program exited with status {status}:\n{desk.program_log()}")

    pop_quit = pop.client_commands("QUIT")
    smtp_quit = smtp.client_commands("QUIT")
    if len(pop_quit) != 1 or len(smtp_quit) != 1:
        fail(f"expected one QUIT on each session, saw POP {len(pop_quit)} and SMTP {len(smtp_quit)}")
    if not hub.stamped:
        fail("the relay got no kernel arrival times: cannot order the two QUITs")
    # The controls do not block: both QUITs leave at once, POP's first.
    gap_us = (smtp_quit[0][2] - pop_quit[0][2]) / 1000
    if gap_us <= 0:
        fail(f"the SMTP session's QUIT arrived {-gap_us:.0f} us before the POP session's")
    print(f"POP QUIT arrived {gap_us:.0f} us before SMTP QUIT")


def image_stats(desk, path):
    done = desk.run("identify", "-format", "%w %h %k", path)
    w, h, colours = (int(v) for v in done.stdout.decode().split())
    return w, h, colours


def case_screenshots(ctx):
    """Each page in a connected state, kept as PNGs under the build folder."""
    servers, desk = ctx.servers, ctx.desk
    user = "bob"
    address = f"{user}@{servers.domain}"
    servers.empty(user)
    seed = os.path.join(desk.tmp, "seed.eml")
    with open(seed, "w", encoding="utf-8") as f:
        f.write(f"From: carol@{servers.domain}\nTo: {address}\nSubject: Lunch on Friday\n\n"
                "Shall we meet at noon?\n\nCarol\n")
    servers.seed(user, [seed])
    message_file = os.path.join(desk.workdir, "note.txt")
    with open(message_file, "w", encoding="utf-8") as f:
        f.write("Hello Bob,\n\nthe report is attached as promised.\n\nAlice\n")
    desk.write_settings(servers.smtp, f"alice@{servers.domain}", servers.pop, user)
    desk.start_program(f"{address},{message_file}")
    wait_smtp_connected(desk)
    connect_pop(desk, servers.password(user))
    desk.show_page(GET)
    desk.wait_for_text("mReadMessage", lambda t: "Carol" in t, 60, "the seeded message in the view")
    desk.check_no_message_box()
    # Undo the copy's selection, and take the focus from the view.
    desk.click("mReadMessage", fy=0.9)
    desk.click("eCurMessage")

    out = os.path.join(ctx.artifacts, "screenshots")
    os.makedirs(out, exist_ok=True)
    width, height = desk.layout.form_size
    grabs = {}
    for index, name in ((SEND, "1-send-mail"), (GET, "2-get-mail"), (CONNECT, "3-connect-to")):
        desk.show_page(index)
        if index == SEND and not desk.led_lit():
            fail("the SMTP light is out on Send Mail")
        path = os.path.join(out, f"{name}.png")
        # Wait until the page has painted: two grabs in a row alike.
        previous = [None]

        def settled():
            grab = desk.screenshot()[2]
            same = grab == previous[0]
            previous[0] = grab
            return same
        wait_for(settled, 20, f"the {name} page to settle", interval=0.3)
        desk.screenshot(path)
        w, h, colours = image_stats(desk, path)
        if (w, h) != (width, height):
            fail(f"{path} is {w}x{h}, expected the window's {width}x{height}")
        if colours < 16:
            fail(f"{path} has only {colours} colours: blank")
        grabs[name] = previous[0]
        print(f"saved {path}")
    if len(set(grabs.values())) != len(grabs):
        fail("two pages look the same: a page change did not happen")

def case_sign_in(ctx):
    """Sending through a server that requires sign-in, as a provider's
    submission service does: without the password a box says to type it on
    the Connect To page and the message stays; with it the message goes."""
    servers, desk = ctx.servers, ctx.desk
    user = "carol"
    address = f"{user}@{servers.domain}"
    marker = f"e2e-{uuid.uuid4()}"
    message_file = os.path.join(desk.workdir, "message.txt")
    with open(message_file, "wb") as f:
        f.write(f"signed in {marker}\nsecond line\n".encode())
    submit = (servers.values["SMTP_HOST"], int(servers.values["SUBMIT_CLEAR_PORT"]))
    desk.write_settings(submit, address, servers.pop, user)
    desk.start_program(f"{address},{message_file}")
    wait_smtp_connected(desk)

    step("Send without the password")
    desk.click("SendBtn")
    wait_for(lambda: desk.message_boxes(), 30, "the error box")
    # Its words are checked by the road tests of the control; here, that
    # the box comes, and that nothing is lost behind it.
    box = desk.message_boxes()[0]
    time.sleep(0.5)
    desk.screenshot(os.path.join(ctx.artifacts, "sign-in-required.png"))
    x, y, w, h = desk._geometry(box)
    desk.click_at(x + w - 52, y + h - 22)  # OK
    wait_for(lambda: not desk.message_boxes(), 10, "the error box to close")

    step("password, then Send again")
    desk.show_page(CONNECT)
    desk.click("ePassword")
    desk.type(servers.password(user))
    desk.show_page(SEND)
    desk.click("SendBtn")
    stored = servers.find_delivered(user, marker.encode(), 60)
    desk.check_no_message_box()
    _, body = stored_body(stored)
    if body != f"signed in {marker}\nsecond line\n".encode():
        fail(f"delivered body is {body!r}")


CASES = {
    "sent_message_reads_back_intact": lambda ctx: case_one_message(ctx, "utf-8"),
    "latin1_file_reads_back_intact": lambda ctx: case_one_message(ctx, "latin-1"),
    "arrows_step_through_mailbox": case_mailbox_steps,
    "quit_button_ends_pop_before_smtp": lambda ctx: case_close_order(ctx, False),
    "close_request_ends_pop_before_smtp": lambda ctx: case_close_order(ctx, True),
    "screenshots_of_connected_pages": case_screenshots,
    "sign_in_then_send": case_sign_in,
}


class Context:
    pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("case", choices=sorted(CASES))
    parser.add_argument("--program", required=True)
    parser.add_argument("--ui", required=True)
    parser.add_argument("--servers-script", required=True)
    parser.add_argument("--artifacts", required=True)
    args = parser.parse_args()
    # A test runner's SIGTERM still ends what was started here.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))

    ctx = Context()
    ctx.artifacts = args.artifacts
    ctx.hubs = []
    ctx.desk = None
    started = time.monotonic()
    try:
        ctx.servers = Servers(os.environ.get("ORV_SERVERS_ENV"), args.servers_script)
        ctx.desk = Desktop(os.path.abspath(args.program), args.ui, args.artifacts)
        ctx.desk.start_display()
        CASES[args.case](ctx)
    except Failure as e:
        if ctx.desk and ctx.desk.app:
            log = ctx.desk.program_log().strip()
            if log:
                print(f"program output:\n{log}")
        print(f"FAIL {args.case}: {e}")
        return 1
    except subprocess.TimeoutExpired as e:
        print(f"FAIL {args.case}: a tool did not finish: {e}")
        return 1
    finally:
        if ctx.desk:
            ctx.desk.close()
        for hub in ctx.hubs:
            hub.stop()
    print(f"PASS {args.case} ({time.monotonic() - started:.1f} s)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
