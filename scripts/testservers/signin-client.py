#!/usr/bin/env python3
"""A small SMTP client for checking the sign-in services by hand or from
check.sh: connects (clear, STARTTLS or TLS from the first byte, trusting
only the given authority), signs in with one mechanism (SCRAM done here,
as smtplib has none) and sends one message. Prints one line:

    mechs=PLAIN,LOGIN auth=235 mail=250 rcpt=250 data=250

a field per step reached, each the reply's code (mail and rcpt with the
reply's first line when it is not 250).

    signin-client.py HOST PORT clear|starttls|implicit CAFILE|- MECH|- USER PASS FROM TO

MECH - sends without signing in.
"""
import base64
import hashlib
import hmac
import os
import smtplib
import ssl
import sys


def b64(data):
    return base64.b64encode(data).decode()


def scram(conn, mech, user, password):
    """RFC 5802 without channel binding; checks the server's signature."""
    name = {"SCRAM-SHA-1": "sha1", "SCRAM-SHA-256": "sha256"}[mech]
    nonce = b64(os.urandom(18))
    first_bare = "n=%s,r=%s" % (user.replace("=", "=3D").replace(",", "=2C"), nonce)
    code, resp = conn.docmd("AUTH", "%s %s" % (mech, b64(("n,," + first_bare).encode())))
    if code != 334:
        return code
    server_first = base64.b64decode(resp).decode()
    attrs = dict(item.split("=", 1) for item in server_first.split(","))
    if not attrs["r"].startswith(nonce):
        raise SystemExit("server nonce does not extend ours")
    salted = hashlib.pbkdf2_hmac(name, password.encode(), base64.b64decode(attrs["s"]), int(attrs["i"]))
    final_bare = "c=biws,r=" + attrs["r"]
    message = ",".join((first_bare, server_first, final_bare)).encode()
    client_key = hmac.new(salted, b"Client Key", name).digest()
    signature = hmac.new(hashlib.new(name, client_key).digest(), message, name).digest()
    proof = bytes(a ^ b for a, b in zip(client_key, signature))
    code, resp = conn.docmd(b64((final_bare + ",p=" + b64(proof)).encode()))
    if code != 334:
        return code
    want = hmac.new(hmac.new(salted, b"Server Key", name).digest(), message, name).digest()
    if base64.b64decode(resp).decode() != "v=" + b64(want):
        raise SystemExit("wrong server signature")
    return conn.docmd("")[0]


def sign_in(conn, mech, user, password):
    if mech == "PLAIN":
        return conn.docmd("AUTH", "PLAIN " + b64(("\0%s\0%s" % (user, password)).encode()))[0]
    if mech == "LOGIN":
        code, _ = conn.docmd("AUTH", "LOGIN " + b64(user.encode()))
        return conn.docmd(b64(password.encode()))[0] if code == 334 else code
    return scram(conn, mech, user, password)


def main(host, port, mode, cafile, mech, user, password, sender, rcpt):
    context = ssl.create_default_context(cafile=cafile) if mode != "clear" else None
    fields = []
    if mode == "implicit":
        conn = smtplib.SMTP_SSL(host, int(port), timeout=10, context=context)
    else:
        conn = smtplib.SMTP(host, int(port), timeout=10)
    conn.ehlo("check.test")
    if mode == "starttls":
        conn.starttls(context=context)
        conn.ehlo("check.test")
    fields.append("mechs=" + ",".join(conn.esmtp_features.get("auth", "").split()))
    if mech != "-":
        code = sign_in(conn, mech, user, password)
        fields.append("auth=%d" % code)
    code, resp = conn.docmd("MAIL", "FROM:<%s>" % sender)
    fields.append("mail=%d" % code if code == 250 else "mail=%d %s" % (code, resp.decode().splitlines()[0]))
    if code == 250:
        code, resp = conn.docmd("RCPT", "TO:<%s>" % rcpt)
        fields.append("rcpt=%d" % code if code == 250 else "rcpt=%d %s" % (code, resp.decode().splitlines()[0]))
        if code == 250:
            code, _ = conn.data("Subject: signed in with %s\r\n\r\nbody\r\n" % mech)
            fields.append("data=%d" % code)
    conn.quit()
    print(" ".join(fields))


if __name__ == "__main__":
    if len(sys.argv) != 10:
        sys.exit(__doc__)
    main(*sys.argv[1:])
