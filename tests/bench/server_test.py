#!/usr/bin/python3
"""Checks of the bench's HTTPS server.

  server_test.py linux <case> --work DIR
      starts a server of its own on a free loopback port (certs, archive and
      logs under DIR/<case>) and talks to it with Python's HTTPS client;
  server_test.py winhttp <case> --probe EXE --wine-run SCRIPT --prefix DIR
      fetches from the bench's shared server ($PIVRA_SERVER_DIR, port 443)
      with winhttp_probe.exe under Wine, as the launcher would.

Every case checks all its rows and exits 1 when any failed.
"""

import argparse
import http.client
import json
import os
import re
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
DOWNLOAD_PATH = "/downloads/PivraSuite-Windows.zip"
AGENT = "PivraSuiteLauncher/1"
PERIOD = 251

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL: " + what)
    return condition


def pattern(offset, count):
    return bytes((offset + i) % PERIOD for i in range(count))


def read_log(folder, name):
    try:
        with open(os.path.join(folder, name), encoding="ascii") as handle:
            return [json.loads(line) for line in handle if line.strip()]
    except FileNotFoundError:
        return []


def write_mode(folder, line, encoding="utf-8"):
    data = line.encode(encoding) if isinstance(line, str) else line
    with open(os.path.join(folder, "mode.tmp"), "wb") as handle:
        handle.write(data)
    os.replace(os.path.join(folder, "mode.tmp"), os.path.join(folder, "mode"))


# --- a server of the case's own ------------------------------------------

class OwnServer:
    def __init__(self, work, archive_bytes=500_000, extra=()):
        self.dir = work
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        subprocess.run([os.path.join(HERE, "certs.sh"), os.path.join(work, "certs")], check=True)
        self.archive = os.path.join(work, "archive.zip")
        with open(self.archive, "wb") as handle:
            handle.write(os.urandom(archive_bytes))
        with open(self.archive, "rb") as handle:
            self.archive_data = handle.read()
        ready = os.path.join(work, "ready")
        self.started = time.monotonic()
        self.process = subprocess.Popen(
            ["/usr/bin/python3", os.path.join(HERE, "https_server.py"), "--port", "0",
             "--certs", os.path.join(work, "certs"), "--mode-file", os.path.join(work, "mode"),
             "--log-dir", work, "--archive", self.archive, "--ready-file", ready, *extra],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=open(os.path.join(work, "server.out"), "w"))
        deadline = time.monotonic() + 10
        while not os.path.exists(ready):
            if self.process.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError("the server did not start: " + open(os.path.join(work, "server.out")).read())
            time.sleep(0.02)
        self.startup = time.monotonic() - self.started
        with open(ready) as handle:
            pid, port = handle.read().split()
        assert int(pid) == self.process.pid
        self.port = int(port)
        self.trusted = ssl.create_default_context(cafile=os.path.join(work, "certs", "ca.pem"))
        self.untrusted = ssl.create_default_context(cafile=os.path.join(work, "certs", "untrusted-ca.pem"))

    def mode(self, line, encoding="utf-8"):
        write_mode(self.dir, line, encoding)

    def get(self, path=DOWNLOAD_PATH, method="GET", context=None, agent=AGENT, timeout=20):
        """(status, headers, body, complete) of one request on a new connection."""
        connection = http.client.HTTPSConnection("localhost", self.port, context=context or self.trusted,
                                                 timeout=timeout)
        try:
            connection.request(method, path, headers={"User-Agent": agent})
            response = connection.getresponse()
            headers = {name.lower(): value for name, value in response.getheaders()}
            try:
                body, complete = response.read(), True
            except http.client.IncompleteRead as cut:
                body, complete = cut.partial, False
            return response.status, headers, body, complete
        finally:
            connection.close()

    def logs(self, name):
        return read_log(self.dir, name)

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def wait_for(condition, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.02)
    return condition()


def case_modes(server):
    data = server.archive_data
    size = len(data)
    unix = server.archive
    rows = [
        # mode line, status, framing, body, complete
        ("ok", 200, str(size), data, True),
        ("chunked", 200, "chunked", data, True),
        ("404", 404, None, None, True),
        ("500", 500, None, None, True),
        ("503", 503, None, None, True),
        ("empty", 200, "0", b"", True),
        ("cut 1000", 200, str(size), data[:1000], False),
        ("cut 1KiB", 200, str(size), data[:1024], False),
        ("stall 1 500", 200, str(size), data[:500], False),
        ("stall 0.5", 200, str(size), b"", False),
        ("large 1000000", 200, "1000000", pattern(0, 1000000), True),
        ("large 1MiB chunked", 200, "chunked", pattern(0, 1 << 20), True),
        ("ok " + unix, 200, str(size), data, True),
        ("ok Z:" + unix.replace("/", "\\"), 200, str(size), data, True),
        ("ok Z:" + unix, 200, str(size), data, True),
        ("cut 7 Z:" + unix, 200, str(size), data[:7], False),
    ]
    for line, status, framing, body, complete in rows:
        server.mode(line)
        started = time.monotonic()
        got_status, headers, got_body, got_complete = server.get()
        took = time.monotonic() - started
        check(got_status == status, "%s: status %s, wanted %s" % (line, got_status, status))
        if framing == "chunked":
            check(headers.get("transfer-encoding") == "chunked" and "content-length" not in headers,
                  "%s: not chunked: %s" % (line, headers))
        elif framing is not None:
            check(headers.get("content-length") == framing and "transfer-encoding" not in headers,
                  "%s: Content-Length %s, wanted %s" % (line, headers.get("content-length"), framing))
        if body is not None:
            check(got_body == body, "%s: body of %d bytes differs from the %d wanted" %
                  (line, len(got_body), len(body)))
        else:
            check(0 < len(got_body) < 200 and str(status).encode() in got_body, "%s: error body %r" % (line, got_body))
        check(got_complete == complete, "%s: complete %s, wanted %s" % (line, got_complete, complete))
        if line.startswith("stall 1 "):
            check(1.0 <= took < 3.0, "%s: took %.2f s" % (line, took))
        requests = server.logs("requests.log")
        check(requests and requests[-1]["mode"] == line and requests[-1]["status"] == status,
              "%s: last logged request %s" % (line, requests[-1:]))
        if complete:
            check(requests and requests[-1]["body_bytes"] == len(got_body),
                  "%s: body_bytes %s for %d sent" % (line, requests[-1:], len(got_body)))
    check(len(server.logs("requests.log")) == len(rows), "one logged request per row")


def case_hang(server):
    server.mode("hang 1")
    started = time.monotonic()
    try:
        server.get()
        check(False, "hang 1: a response came")
    except (http.client.RemoteDisconnected, ConnectionError, ssl.SSLError):
        pass
    took = time.monotonic() - started
    check(0.9 <= took < 3.0, "hang 1: the connection ended after %.2f s" % took)
    responses = server.logs("responses.log")
    check(responses and responses[-1]["bytes_sent"] == 0 and responses[-1].get("dropped"),
          "hang 1: response record %s" % responses)


def case_mode_file(server):
    data = server.archive_data
    rows = [
        # raw bytes of the mode file, status, body (None: an error body)
        (b"\xff\xfe" + "cut 100\r\n".encode("utf-16-le"), 200, data[:100]),
        (b"\xef\xbb\xbfcut 200\r\n", 200, data[:200]),
        (b"\n# a comment\n  cut 300  \nok\n", 200, data[:300]),
        (b"", 200, data),  # empty file: the default mode
        (b"bogus", 500, None),
        (b"cut", 500, None),
        (b"cut many", 500, None),
        (b"cut %d" % len(data), 500, None),  # not a cut at all
        (b"large 5 gzip", 500, None),
        (b"stall 99999", 500, None),
        (b"empty now", 500, None),
        (b"200", 500, None),
        (b"ok /no/such/archive.zip", 500, None),
    ]
    for raw, status, body in rows:
        server.mode(raw)
        got_status, _, got_body, _ = server.get()
        check(got_status == status, "%r: status %s, wanted %s" % (raw, got_status, status))
        if body is not None:
            check(got_body == body, "%r: %d body bytes, wanted %d" % (raw, len(got_body), len(body)))
        last = server.logs("requests.log")[-1]
        check((last["mode_error"] is not None) == (status == 500),
              "%r: mode_error %r" % (raw, last["mode_error"]))
    os.remove(os.path.join(server.dir, "mode"))
    got_status, _, got_body, _ = server.get()
    check(got_status == 200 and got_body == data, "no mode file: the default mode serves the archive")


def case_log(server):
    server.mode("ok")
    rows = [
        # method, path, agent, status, body bytes
        ("GET", DOWNLOAD_PATH, AGENT, 200, len(server.archive_data)),
        ("HEAD", DOWNLOAD_PATH, AGENT, 200, 0),
        ("GET", "/downloads/Other.zip", AGENT, 404, None),
        ("GET", DOWNLOAD_PATH + "?x=1", AGENT, 404, None),
        ("POST", DOWNLOAD_PATH, AGENT, 405, None),
        ("GET", DOWNLOAD_PATH, "curl/8", 200, len(server.archive_data)),
    ]
    for method, path, agent, status, length in rows:
        before = len(server.logs("requests.log"))
        got_status, headers, body, _ = server.get(path=path, method=method, agent=agent)
        check(got_status == status, "%s %s: status %s" % (method, path, got_status))
        if method == "HEAD":
            check(body == b"" and headers.get("content-length") == str(len(server.archive_data)),
                  "HEAD: headers %s, body %d" % (headers, len(body)))
        requests = server.logs("requests.log")
        check(len(requests) == before + 1, "%s %s: %d new log lines" % (method, path, len(requests) - before))
        entry = requests[-1]
        check(entry["method"] == method and entry["path"] == path and entry["user_agent"] == agent and
              entry["headers"].get("User-Agent") == agent and entry["headers"].get("Host", "").startswith("localhost")
              and entry["status"] == status and entry["mode"] == "ok", "%s %s: log line %s" % (method, path, entry))
        if length is not None:
            check(entry["body_bytes"] == length, "%s %s: body_bytes %s" % (method, path, entry["body_bytes"]))
    # The text form tests search for.
    with open(os.path.join(server.dir, "requests.log")) as handle:
        first = handle.readline()
    for fragment in ('"method": "GET"', '"path": "%s"' % DOWNLOAD_PATH, '"User-Agent": "%s"' % AGENT):
        check(fragment in first, "the first log line has %s: %s" % (fragment, first))
    check(wait_for(lambda: len(server.logs("responses.log")) == len(rows), 2), "one response record per request")
    responses = server.logs("responses.log")
    check(responses and responses[0]["bytes_sent"] == len(server.archive_data) and responses[0]["complete"],
          "response record of the GET: %s" % responses[:1])
    connections = server.logs("connections.log")
    check(len(connections) == len(rows) and all(c["handshake"] == "ok" and c["sni"] == "localhost" and
                                                c["cert"] == "trusted" for c in connections),
          "connection records: %s" % connections)
    # Cleared by a test (as the e2e driver does): the next line starts it anew.
    os.remove(os.path.join(server.dir, "requests.log"))
    server.get()
    check(len(server.logs("requests.log")) == 1, "a removed request log is made anew")


def case_untrusted(server):
    server.mode("untrusted")
    try:
        server.get()
        check(False, "untrusted: the test CA accepted the untrusted certificate")
    except ssl.SSLCertVerificationError:
        pass
    status, _, body, _ = server.get(context=server.untrusted)
    check(status == 200 and body == server.archive_data, "untrusted: its own CA gets the archive")
    server.mode("ok")
    try:
        server.get(context=server.untrusted)
        check(False, "ok: the untrusted CA accepted the trusted certificate")
    except ssl.SSLCertVerificationError:
        pass
    connections = server.logs("connections.log")
    check([c["cert"] for c in connections] == ["untrusted", "untrusted", "trusted"], "certs used: %s" % connections)
    check(connections[0]["handshake"].startswith("failed") and connections[1]["handshake"] == "ok",
          "handshakes: %s" % connections)
    check(len(server.logs("requests.log")) == 1, "a refused handshake logs no request")


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as handle:
        return int(re.search(r"VmRSS:\s+(\d+)", handle.read()).group(1))


def case_large(server):
    size = 200 << 20
    for line in ("large 200MiB", "large 200MiB chunked"):
        server.mode(line)
        connection = http.client.HTTPSConnection("localhost", server.port, context=server.trusted, timeout=30)
        connection.request("GET", DOWNLOAD_PATH, headers={"User-Agent": AGENT})
        started = time.monotonic()
        response = connection.getresponse()
        check(response.status == 200, "%s: status %s" % (line, response.status))
        received = 0
        good = True
        peak = 0
        reference = pattern(0, (1 << 20) + PERIOD)
        while True:
            piece = response.read(1 << 20)
            if not piece:
                break
            start = received % PERIOD
            good = good and piece == reference[start:start + len(piece)]
            received += len(piece)
            if received % (32 << 20) < len(piece):
                peak = max(peak, rss_kib(server.process.pid))
        took = time.monotonic() - started
        connection.close()
        check(received == size and good, "%s: %d bytes, pattern %s" % (line, received, good))
        # The body is generated as it goes, never held whole.
        check(peak < 100 * 1024, "%s: the server grew to %d KiB" % (line, peak))
        print("%s: %.1f MiB/s (Python client), server at %d KiB" % (line, received / took / 1048576, peak))


def case_lifetime(work):
    # Ends by itself after --max-seconds, even with a client stalled on it.
    server = OwnServer(os.path.join(work, "max"), extra=("--max-seconds", "2"))
    print("startup: %.3f s" % server.startup)
    server.mode("stall 60 10")
    connection = socket.create_connection(("127.0.0.1", server.port))
    tls = server.trusted.wrap_socket(connection, server_hostname="localhost")
    tls.sendall(b"GET %s HTTP/1.1\r\nHost: localhost\r\n\r\n" % DOWNLOAD_PATH.encode())
    try:
        server.process.wait(6)
        check(True, "")
    except subprocess.TimeoutExpired:
        check(False, "--max-seconds 2: still running after 6 s")
    tls.close()
    server.stop()
    # SIGTERM ends it promptly, stalled client or not.
    server = OwnServer(os.path.join(work, "term"))
    server.mode("stall 60 10")
    connection = socket.create_connection(("127.0.0.1", server.port))
    tls = server.trusted.wrap_socket(connection, server_hostname="localhost")
    tls.sendall(b"GET %s HTTP/1.1\r\nHost: localhost\r\n\r\n" % DOWNLOAD_PATH.encode())
    time.sleep(0.3)
    started = time.monotonic()
    server.process.send_signal(signal.SIGTERM)
    try:
        server.process.wait(5)
        check(time.monotonic() - started < 3, "SIGTERM: took %.2f s" % (time.monotonic() - started))
    except subprocess.TimeoutExpired:
        check(False, "SIGTERM: still running after 5 s")
    tls.close()
    server.stop()
    # Ends once the watched process is gone.
    watched = subprocess.Popen(["sleep", "60"])
    server = OwnServer(os.path.join(work, "watch"), extra=("--watch-pid", str(watched.pid)))
    time.sleep(0.6)
    check(server.process.poll() is None, "--watch-pid: ended while the watched process lived")
    watched.kill()
    watched.wait()
    try:
        server.process.wait(5)
    except subprocess.TimeoutExpired:
        check(False, "--watch-pid: still running 5 s after the watched process ended")
    server.stop()


def case_server_sh(work):
    folder = os.path.join(work, "sh")
    shutil.rmtree(folder, ignore_errors=True)
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    archive = os.path.join(work, "sh-archive.zip")
    with open(archive, "wb") as handle:
        handle.write(b"PK" + os.urandom(1000))
    started = time.monotonic()
    subprocess.run([os.path.join(HERE, "server.sh"), "start", folder, "--port", str(port), "--archive", archive,
                    "--max-seconds", "60"], check=True)
    print("server.sh start (certs made): %.3f s" % (time.monotonic() - started))
    with open(os.path.join(folder, "server.pid")) as handle:
        pid = int(handle.read())
    check(os.path.exists("/proc/%d" % pid), "server.sh start: no process %d" % pid)
    for name in ("ca.pem", "ca.der", "ca.key", "server.pem", "server.key", "untrusted-ca.pem", "untrusted-server.pem"):
        check(os.path.getsize(os.path.join(folder, "certs", name)) > 0, "server.sh start: no certs/%s" % name)
    check(oct(os.stat(os.path.join(folder, "certs", "ca.key")).st_mode & 0o077) == "0o0", "ca.key readable by others")
    context = ssl.create_default_context(cafile=os.path.join(folder, "certs", "ca.pem"))
    connection = http.client.HTTPSConnection("localhost", port, context=context, timeout=10)
    connection.request("GET", DOWNLOAD_PATH)
    response = connection.getresponse()
    check(response.status == 200 and response.read() == open(archive, "rb").read(), "server.sh: default mode ok")
    connection.close()
    # Started again: the old one goes, the certificates stay.
    before = open(os.path.join(folder, "certs", "ca.der"), "rb").read()
    started = time.monotonic()
    subprocess.run([os.path.join(HERE, "server.sh"), "start", folder, "--port", str(port), "--archive", archive,
                    "--max-seconds", "60"], check=True)
    print("server.sh start (certs kept, old server stopped): %.3f s" % (time.monotonic() - started))
    check(not wait_for(lambda: os.path.exists("/proc/%d/cmdline" % pid) and
                       open("/proc/%d/cmdline" % pid).read(), 0), "the first server still runs")
    check(open(os.path.join(folder, "certs", "ca.der"), "rb").read() == before, "certificates made anew")
    with open(os.path.join(folder, "server.pid")) as handle:
        pid = int(handle.read())
    subprocess.run([os.path.join(HERE, "server.sh"), "stop", folder], check=True)
    check(not os.path.exists(os.path.join(folder, "server.pid")), "server.sh stop left the pid file")
    check(wait_for(lambda: not os.path.exists("/proc/%d/cmdline" % pid) or
                   not open("/proc/%d/cmdline" % pid).read(), 2), "server.sh stop: still running")
    try:
        socket.create_connection(("127.0.0.1", port), timeout=2).close()
        check(False, "server.sh stop: the port still accepts")
    except OSError:
        pass


def openssl(*args, data=None):
    return subprocess.run(["openssl", *args], input=data, capture_output=True, check=False)


def case_certs(work):
    folder = os.path.join(work, "certs")
    shutil.rmtree(folder, ignore_errors=True)
    subprocess.run([os.path.join(HERE, "certs.sh"), folder], check=True)
    path = lambda name: os.path.join(folder, name)  # noqa: E731
    for ca, server in (("ca.pem", "server.pem"), ("untrusted-ca.pem", "untrusted-server.pem")):
        check(openssl("verify", "-purpose", "sslserver", "-verify_hostname", "localhost", "-verify_ip", "127.0.0.1",
                      "-CAfile", path(ca), path(server)).returncode == 0, "%s does not vouch for %s" % (ca, server))
        text = openssl("x509", "-in", path(server), "-noout", "-text").stdout.decode()
        for wanted in ("DNS:localhost", "IP Address:127.0.0.1", "TLS Web Server Authentication",
                       "sha256WithRSAEncryption", "CA:FALSE", "Digital Signature"):
            check(wanted in text, "%s lacks %s" % (server, wanted))
        ca_text = openssl("x509", "-in", path(ca), "-noout", "-text").stdout.decode()
        check("CA:TRUE" in ca_text and "Certificate Sign" in ca_text, "%s is no CA" % ca)
        # Valid now and for the next two years.
        check(openssl("x509", "-in", path(server), "-noout", "-checkend", str(2 * 366 * 86400)).returncode == 0,
              "%s ends within two years" % server)
        start = openssl("x509", "-in", path(server), "-noout", "-startdate").stdout.decode()
        check(openssl("x509", "-in", path(server), "-noout", "-checkend", "0").returncode == 0 and "notBefore" in start,
              "%s: %s" % (server, start))
        der = open(path(ca.replace(".pem", ".der")), "rb").read()
        check(openssl("x509", "-in", path(ca), "-outform", "DER").stdout == der, "%s: DER copy differs" % ca)
    for ca, server in (("ca.pem", "untrusted-server.pem"), ("untrusted-ca.pem", "server.pem")):
        check(openssl("verify", "-CAfile", path(ca), path(server)).returncode != 0, "%s vouches for %s" % (ca, server))
    # Kept when run again; made anew once a file is lost.
    before = open(path("ca.der"), "rb").read()
    subprocess.run([os.path.join(HERE, "certs.sh"), folder], check=True)
    check(open(path("ca.der"), "rb").read() == before, "certs.sh replaced valid certificates")
    os.remove(path("server.key"))
    subprocess.run([os.path.join(HERE, "certs.sh"), folder], check=True)
    check(openssl("verify", "-CAfile", path("ca.pem"), path("server.pem")).returncode == 0 and
          os.path.getsize(path("server.key")) > 0, "certs.sh did not repair a lost key")


SERVED_CASES = {"modes": case_modes, "hang": case_hang, "mode-file": case_mode_file, "log": case_log,
                "untrusted": case_untrusted, "large": case_large}
OWN_CASES = {"lifetime": case_lifetime, "server-sh": case_server_sh, "certs": case_certs}


# --- WinHTTP under Wine against the shared server --------------------------

def probe(options, *args):
    started = time.monotonic()
    result = subprocess.run([options.wine_run, options.prefix, options.probe, *args], stdin=subprocess.DEVNULL,
                            capture_output=True, text=True, timeout=120)
    took = time.monotonic() - started
    line = result.stdout.strip().splitlines()[-1] if result.stdout.strip() else ""
    report = dict(pair.split("=", 1) for pair in line.split() if "=" in pair)
    print("  %s -> exit %d in %.2f s: %s" % (" ".join(args) or "(defaults)", result.returncode, took, line))
    return report, result.returncode, took


def winhttp_modes(options, folder, archive):
    size = os.path.getsize(archive)
    compare = "Z:" + archive
    rows = [
        # mode, probe arguments, wanted fields, exit code
        ("ok", ["--compare", compare],
         {"status": "200", "bytes": str(size), "content_length": str(size), "chunked": "no", "compare": "same",
          "stage": "done"}, 0),
        ("chunked", ["--compare", compare],
         {"status": "200", "bytes": str(size), "content_length": "none", "chunked": "yes", "compare": "same"}, 0),
        ("404", [], {"status": "404", "stage": "done"}, 0),
        ("500", [], {"status": "500", "stage": "done"}, 0),
        ("empty", [], {"status": "200", "bytes": "0", "content_length": "0"}, 0),
        # Wine ends the body without an error when the connection drops
        # early; only the count tells it from a whole archive.
        ("cut 1000", ["--compare", compare], {"status": "200", "bytes": "1000", "content_length": str(size),
                                              "compare": "differs@1000"}, None),
        ("large 3000000", ["--pattern"], {"status": "200", "bytes": "3000000", "pattern": "ok"}, 0),
        ("large 3000000 chunked", ["--pattern"], {"status": "200", "bytes": "3000000", "chunked": "yes",
                                                  "pattern": "ok"}, 0),
        # The handshake fails: no request ever reaches the server.
        ("untrusted", [], {"status": "-", "stage": "send", "bytes": "0"}, 1),
        # Silence past the receive timeout fails the read.
        ("stall 4 500", ["--receive-timeout", "1000"], {"status": "200", "stage": "read"}, 1),
    ]
    for line, args, wanted, code in rows:
        write_mode(folder, line)
        before = len(read_log(folder, "requests.log"))
        report, exit_code, took = probe(options, *args)
        for key, value in wanted.items():
            check(report.get(key) == value, "%s: %s=%s, wanted %s" % (line, key, report.get(key), value))
        if code is not None:
            check(exit_code == code, "%s: exit code %d, wanted %d" % (line, exit_code, code))
        requests = read_log(folder, "requests.log")[before:]
        if line == "untrusted":
            check(report.get("error") in ("12157", "12175"), "untrusted: error %s" % report.get("error"))
            check(requests == [], "untrusted: requests reached the server: %s" % requests)
            # The server logs the refused handshake as the probe hangs up.
            check(wait_for(lambda: read_log(folder, "connections.log")[-1]["cert"] == "untrusted", 2),
                  "untrusted: no connection record with the untrusted certificate")
        else:
            check(len(requests) == 1 and requests[0]["method"] == "GET" and requests[0]["user_agent"] == AGENT and
                  requests[0]["path"] == DOWNLOAD_PATH and requests[0]["mode"] == line,
                  "%s: requests logged: %s" % (line, requests))
        if line.startswith("stall"):
            check(report.get("error") not in (None, "0") and took < 4, "stall: error %s after %.2f s" %
                  (report.get("error"), took))


def winhttp_throughput(options, folder, _archive):
    size = 200 << 20
    for line in ("large 200MiB", "large 200MiB chunked"):
        write_mode(folder, line)
        report, exit_code, _ = probe(options)
        check(exit_code == 0 and report.get("bytes") == str(size), "%s: %s" % (line, report))
        print("%s: WinHTTP under Wine %s MiB/s in %s reads" % (line, report.get("mib_per_s"), report.get("reads")))
    write_mode(folder, "large 200MiB")
    report, exit_code, _ = probe(options, "--pattern")
    check(exit_code == 0 and report.get("pattern") == "ok", "large 200MiB: pattern %s" % report.get("pattern"))


WINHTTP_CASES = {"modes": winhttp_modes, "throughput": winhttp_throughput}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("side", choices=("linux", "winhttp"))
    parser.add_argument("case")
    parser.add_argument("--work", help="linux: folder for the case's own servers")
    parser.add_argument("--probe")
    parser.add_argument("--wine-run")
    parser.add_argument("--prefix")
    options = parser.parse_args()

    if options.side == "linux":
        work = os.path.join(options.work, options.case)
        if options.case in SERVED_CASES:
            server = OwnServer(work)
            try:
                SERVED_CASES[options.case](server)
            finally:
                server.stop()
        elif options.case in OWN_CASES:
            os.makedirs(work, exist_ok=True)
            OWN_CASES[options.case](work)
        else:
            parser.error("unknown case " + options.case)
    else:
        folder = os.environ.get("PIVRA_SERVER_DIR")
        build = os.environ.get("PIVRA_BUILD_DIR")
        if not folder or not build:
            print("run inside the bench (tests/bench/sandbox.sh): PIVRA_SERVER_DIR is not set")
            return 1
        archive = os.path.join(build, "tests", "PivraSuite-Windows.zip")
        try:
            WINHTTP_CASES[options.case](options, folder, archive)
        finally:
            # Back to the default mode for whoever comes next.
            try:
                os.remove(os.path.join(folder, "mode"))
            except FileNotFoundError:
                pass
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
