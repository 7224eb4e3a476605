#!/usr/bin/env python3
"""The phone or PBX that the dial service's HTTP tests talk to: one threaded
http.server per listening port, each port with its own behaviour, and every
request recorded exactly as it came.

    http_test_server.py --record FILE [--cert PEM --key PEM] --listen [HOST:]PORT:MODE ...

Modes: basic (Basic authentication), digest (Digest, SHA-256 and MD5 offered,
qop=auth), digest-md5 (MD5 only, qop=auth), digest-2617 (MD5 without qop),
open (no authentication), status500, status-hostile (502 with a reason phrase
of 300 bytes and more that holds C1 and bidirectional controls),
slow (answers after 3 s), redirect (Basic, then 302 to
http://127.0.0.2:18602/first), digest-unanswerable (401 offering Digest
SHA-512-256 and Basic, whatever comes), endless-headers (a status line, then
header lines until the client goes away), drip (one byte every 2 s, forever),
digest-stale (Digest MD5 where a nonce serves two requests, then draws 401
with stale=true and a new nonce), digest-stale-always (where it serves
none), silent (reads the request, never answers), and each of them over
TLS as tls-MODE, or as tls-issued-MODE with the --issued-cert, whose issuer
the server does not send. The user is alice with the password "pa ss:w0rd";
MODE@USER names another user (basic@Polycom). Every path and GET, POST and
DELETE are accepted; a Poly phone's call status path answers with one call,
whose handle is CALL_HANDLE.

Each connection accepted is appended to FILE as "=== connection port=P",
each request as
    === port=P mode=M answer=STATUS auth=VERDICT length=N
    <request line, header lines as received, empty line, body: N bytes>
and "ready" goes to standard output once every port listens.
"""
import argparse
import base64
import hashlib
import http.server
import itertools
import os
import re
import ssl
import sys
import threading
import time

USER = "alice"
PASSWORD = "pa ss:w0rd"
REALM = "phone@example.org"

# http.server sends the phrase as Latin-1 bytes. WinHTTP reads them as
# Windows-1252, where 0x81 and 0x9D stay the C1 controls U+0081 and U+009D;
# a reader of UTF-8 would see U+0085 (a C1 line end) and U+202E (right-to-left
# override).
HOSTILE_REASON = "Bad Gateway \u0081\u009d \u00c2\u0085\u00e2\u0080\u00ae" + "x" * 300

CALL_HANDLE = "0x1c2d3e4f"
CALL_STATUS_PATH = "/api/v1/webCallControl/callStatus"
CALL_STATUS = ('{"data":{"Ringing":"0","LineId":"2","CallHandle":"%s","CallState":"Connected"},"Status":"2000"}' %
               CALL_HANDLE).encode()

record_lock = threading.Lock()
issued_nonces = set()
nonce_uses = {}


def record(path, port, mode, status, verdict, raw):
    with record_lock, open(path, "ab") as out:
        out.write(b"=== port=%d mode=%s answer=%d auth=%s length=%d\n" %
                  (port, mode.encode(), status, verdict.encode(), len(raw)))
        out.write(raw)
        out.write(b"\n")


def record_connection(path, port):
    with record_lock, open(path, "ab") as out:
        out.write(b"=== connection port=%d\n" % port)


def digest_params(header):
    return {m.group(1).lower(): m.group(2) if m.group(2) is not None else m.group(3)
            for m in re.finditer(r'(\w+)=(?:"((?:[^"\\]|\\.)*)"|([^,\s]*))', header)}


def check_digest(header, method, path):
    """'valid' or why not."""
    if not header.startswith("Digest "):
        return "not-digest"
    p = digest_params(header[7:])
    algorithm = p.get("algorithm", "MD5")
    h = {"MD5": hashlib.md5, "SHA-256": hashlib.sha256}.get(algorithm)
    if h is None:
        return "bad-algorithm"
    H = lambda text: h(text.encode()).hexdigest()
    if p.get("username") != USER or p.get("realm") != REALM:
        return "bad-user-or-realm"
    if p.get("nonce") not in issued_nonces:
        return "unknown-nonce"
    if p.get("uri") != path:
        return "bad-uri"
    ha1 = H("%s:%s:%s" % (USER, REALM, PASSWORD))
    ha2 = H("%s:%s" % (method, path))
    if "qop" in p:
        if p["qop"] != "auth" or not re.fullmatch(r"[0-9a-f]{8}", p.get("nc", "")) or not p.get("cnonce"):
            return "bad-qop-fields"
        expected = H(":".join([ha1, p["nonce"], p["nc"], p["cnonce"], "auth", ha2]))
    else:
        expected = H(":".join([ha1, p["nonce"], ha2]))
    if p.get("opaque") != "0paque":
        return "bad-opaque"
    return "valid" if p.get("response") == expected else "bad-response"


def make_handler(port, mode, record_path):
    plain_mode = mode[11:] if mode.startswith("tls-issued-") else mode[4:] if mode.startswith("tls-") else mode
    plain_mode, _, user = plain_mode.partition("@")
    user = user or USER

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *args):
            pass

        def setup(self):
            record_connection(record_path, port)
            super().setup()

        def handle_any(self):
            if plain_mode == "silent":
                while True:
                    time.sleep(60)
            length = int(self.headers.get("Content-Length") or 0)
            body = self.rfile.read(length) if length else b""
            raw = self.raw_requestline
            for name, value in self.headers.items():
                raw += ("%s: %s\r\n" % (name, value)).encode("latin-1")
            raw += b"\r\n" + body
            status, verdict, headers = self.decide()
            record(record_path, port, mode, status, verdict, raw)
            if plain_mode == "slow":
                time.sleep(3)
            answer = b"dialling\n" if status == 200 else b"no\n"
            if status == 200 and self.path == CALL_STATUS_PATH:
                answer = CALL_STATUS
            try:
                if plain_mode in ("endless-headers", "drip"):
                    self.answer_forever()
                self.send_response(status, HOSTILE_REASON if plain_mode == "status-hostile" else None)
                for name, value in headers:
                    self.send_header(name, value)
                self.send_header("Content-Type", "text/plain")
                self.send_header("Content-Length", str(len(answer)))
                self.end_headers()
                self.wfile.write(answer)
            except OSError:
                pass  # the client gave up (a time-out test)

        def answer_forever(self):
            """Until the client goes away: a status line and header lines, at
            full speed (endless-headers) or one byte every 2 s (drip)."""
            status, line = b"HTTP/1.1 200 OK\r\n", b"X-Filler: " + b"x" * 100 + b"\r\n"
            if plain_mode == "endless-headers":
                self.wfile.write(status)
                while True:
                    self.wfile.write(line)
            for byte in itertools.chain(status, itertools.cycle(line)):
                time.sleep(2)
                self.wfile.write(bytes([byte]))

        def decide(self):
            """The status, the verdict on the credentials and the headers to answer with."""
            authorization = self.headers.get("Authorization")
            if plain_mode in ("open", "slow", "endless-headers", "drip"):
                return 200, "none", []
            if plain_mode == "status500":
                return 500, "none", []
            if plain_mode == "status-hostile":
                return 502, "none", []
            if plain_mode in ("basic", "redirect"):
                if authorization is None:
                    return 401, "missing", [("WWW-Authenticate", 'Basic realm="%s"' % REALM)]
                expected = "Basic " + base64.b64encode(("%s:%s" % (user, PASSWORD)).encode()).decode()
                if authorization == expected and plain_mode == "redirect":
                    return 302, "valid", [("Location", "http://127.0.0.2:18602/first")]
                if authorization == expected:
                    return 200, "valid", []
                return 401, "bad-basic", [("WWW-Authenticate", 'Basic realm="%s"' % REALM)]
            nonce = base64.b64encode(os.urandom(18)).decode()
            issued_nonces.add(nonce)
            if plain_mode == "digest-unanswerable":
                verdict = authorization.split(" ")[0].lower() if authorization else "missing"
                return 401, verdict, [
                    ("WWW-Authenticate", 'Digest realm="%s", qop="auth", algorithm=SHA-512-256, nonce="%s", '
                                         'opaque="0paque"' % (REALM, nonce)),
                    ("WWW-Authenticate", 'Basic realm="%s"' % REALM)]
            stale = ""
            if authorization is not None:
                verdict = check_digest(authorization, self.command, self.path)
                if verdict == "valid" and plain_mode.startswith("digest-stale"):
                    used = digest_params(authorization[7:])["nonce"]
                    nonce_uses[used] = nonce_uses.get(used, 0) + 1
                    if nonce_uses[used] > (0 if plain_mode == "digest-stale-always" else 2):
                        verdict, stale = "stale", ", stale=true"
                if verdict == "valid":
                    return 200, verdict, []
            else:
                verdict = "missing"
            if plain_mode == "digest-2617":
                return 401, verdict, [("WWW-Authenticate", 'Digest realm="%s", nonce="%s", opaque="0paque"' %
                                       (REALM, nonce))]
            challenges = []
            if plain_mode == "digest":
                challenges.append('Digest realm="%s", qop="auth", algorithm=SHA-256, nonce="%s", opaque="0paque"' %
                                  (REALM, nonce))
            challenges.append('Digest realm="%s", qop="auth,auth-int", algorithm=MD5, nonce="%s", opaque="0paque"%s' %
                              (REALM, nonce, stale))
            # A Basic offer too, which a client must not prefer over Digest.
            challenges.append('Basic realm="%s"' % REALM)
            return 401, verdict, [("WWW-Authenticate", challenge) for challenge in challenges]

        do_GET = handle_any
        do_POST = handle_any
        do_DELETE = handle_any

    return Handler


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--record", required=True)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--issued-cert")
    parser.add_argument("--issued-key")
    parser.add_argument("--listen", action="append", default=[])
    args = parser.parse_args()
    servers = []
    for item in args.listen:
        host, port, mode = item.rsplit(":", 2) if item.count(":") == 2 else ["127.0.0.1"] + item.split(":", 1)
        server = http.server.ThreadingHTTPServer((host, int(port)), make_handler(int(port), mode, args.record))
        server.daemon_threads = True
        if mode.startswith("tls-"):
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            issued = mode.startswith("tls-issued-")
            context.load_cert_chain(args.issued_cert if issued else args.cert,
                                    args.issued_key if issued else args.key)
            server.socket = context.wrap_socket(server.socket, server_side=True)
        servers.append(server)
    for server in servers:
        threading.Thread(target=server.serve_forever, daemon=True).start()
    print("ready", flush=True)
    try:
        sys.stdin.read()  # runs until its standard input closes or it is killed
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
