#!/usr/bin/env python3
"""The nginx front of deploy/nginx/morvane.conf, for real.

    tests/deploy/nginx_front_test.py BUILD_DIR

Debian's nginx runs as a plain process with its own prefix, its
configuration rendered from deploy/nginx/morvane.conf with loopback high
ports, the test's two servers as the upstream and a throwaway certificate
made with openssl. In front of two morvane-server processes on one store:

  - every mode's answer through nginx, over HTTP/1.1 and HTTP/2, equals the
    answer the server gives directly;
  - 8 clients keep asking through nginx while one server is stopped with
    SIGTERM and started again on its port: not one request fails (the other
    server has room: MaxConnection above the load);
  - a server's 503 "shutting down" page (what a stopping server answers a
    request that reached it as it stopped) is retried on the other server;
  - plain HTTP is redirected to HTTPS.

Exit 77 (skipped) when nginx or openssl is not installed.
"""
import http.client
import os
import re
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from demo_store import free_port, make_demo_store  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CLOCK = "2003-07-07 17:30:00"
MODES = ["/?symbol=0001&mode=%d" % m for m in range(7)] + [
    "/?symbol=0001&mode=2&dateStart=bad", "/?symbol=0005&mode=1&dateStart=2003/7/1&dateOver=2003/7/7"]
# What a stopping morvane-server answers a request that reached it as it
# stopped (host/request_rules.cc, HostPage).
SHUTTING_DOWN = (b"HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain\r\n"
                 b"Content-Length: 29\r\nConnection: close\r\n\r\nThe server is shutting down.\n")


def log(*a):
    print("nginx-front:", *a, file=sys.stderr, flush=True)



def wait_port(port, seconds=10):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=0.2).close()
            return True
        except OSError:
            time.sleep(0.02)
    return False


class Server:
    """One morvane-server on a fixed loopback port, so that it can be
    started again where nginx expects it."""

    def __init__(self, build, store, port):
        self.build, self.store, self.port = build, store, port
        self.proc = None

    def start(self):
        self.proc = subprocess.Popen(
            [os.path.join(self.build, "morvane-server"), "--listen", "127.0.0.1:%d" % self.port,
             "--clock", CLOCK, "--max-per-address", "10000", "--max-active-per-address", "16",
             "--drain-timeout", "5"],
            cwd=self.store, stdout=subprocess.PIPE,
            env=dict(os.environ, MORVANE_LOG=os.path.join(self.store, "KMDL-%d.log" % self.port)))
        line = self.proc.stdout.readline().decode()
        if "listening on" not in line:
            raise SystemExit("morvane-server did not start: %r" % line)

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            self.proc.wait(timeout=30)
        return self.proc.returncode if self.proc else 0


def direct(port, target):
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    c.request("GET", target)
    r = c.getresponse()
    body = r.read()
    c.close()
    return r.status, body


def curl(args):
    out = subprocess.run(["curl", "-sk", "--max-time", "30", "-o", "-", "-w", "\n%{http_code} %{http_version}"]
                         + args, stdout=subprocess.PIPE, check=True).stdout
    body, _, tail = out.rpartition(b"\n")
    code, version = tail.decode().split()
    return int(code), version, body


def render(conf, upstreams, tls_port, http_port, work, cert, key):
    """deploy/nginx/morvane.conf with the test's addresses. Every pattern
    must be found: a change to the file that this misses fails here."""
    def sub(pattern, repl, text, count=0):
        new, n = re.subn(pattern, repl, text, flags=re.M)
        if n == 0 or (count and n != count):
            raise SystemExit("nginx-front: pattern %r matched %d times in morvane.conf" % (pattern, n))
        return new
    servers = "".join("    server 127.0.0.1:%d max_fails=3 fail_timeout=10s;\n" % p for p in upstreams)
    conf = sub(r"^    server 10\.0\.0\.\d+:8080 .*\n(    server 10\.0\.0\.\d+:8080 .*\n)*", servers, conf, 1)
    conf = sub(r"^\s*listen \[::\]:.*\n", "", conf)
    conf = sub(r"listen 443 ssl http2;", "listen 127.0.0.1:%d ssl http2;" % tls_port, conf, 1)
    conf = sub(r"listen 80;", "listen 127.0.0.1:%d;" % http_port, conf, 1)
    conf = sub(r"ssl_certificate\s+\S+;", "ssl_certificate %s;" % cert, conf, 1)
    conf = sub(r"ssl_certificate_key\s+\S+;", "ssl_certificate_key %s;" % key, conf, 1)
    conf = sub(r"return 301 https://\$host\$request_uri;",
               "return 301 https://$host:%d$request_uri;" % tls_port, conf, 1)
    temp = "".join("    %s_temp_path %s/%s;\n" % (t, work, t)
                   for t in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
    for t in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"):
        os.makedirs(os.path.join(work, t), exist_ok=True)
        os.chmod(os.path.join(work, t), 0o777)  # workers run as nobody under root
    return ("daemon off;\nworker_processes 1;\npid %s/nginx.pid;\nerror_log %s/error.log;\n"
            "events { worker_connections 1024; }\nhttp {\n    access_log %s/access.log;\n%s%s}\n"
            % (work, work, work, temp, conf))


class Nginx:
    def __init__(self, work, text):
        os.makedirs(work, exist_ok=True)
        os.chmod(work, 0o755)
        self.conf = os.path.join(work, "nginx.conf")
        with open(self.conf, "w") as f:
            f.write(text)
        check = subprocess.run(["nginx", "-t", "-p", work, "-c", self.conf, "-e", os.path.join(work, "error.log")],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if check.returncode != 0:
            raise SystemExit("nginx -t refuses the rendered configuration:\n" + check.stdout)
        self.proc = subprocess.Popen(["nginx", "-p", work, "-c", self.conf, "-e", os.path.join(work, "error.log")])

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGQUIT)  # graceful
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


class Stub503:
    """Answers every connection with the stopping server's 503 page."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(64)
        self.port = self.sock.getsockname()[1]
        self.answered = 0
        threading.Thread(target=self.run, daemon=True).start()

    def run(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            with conn:
                conn.settimeout(2)
                got = b""
                while b"\r\n\r\n" not in got:
                    part = conn.recv(4096)
                    if not part:
                        break
                    got += part
                if got:
                    conn.sendall(SHUTTING_DOWN)
                    self.answered += 1


def make_store(build, store):
    make_demo_store(build, store, 32, ["--days", "3", "--symbols", "3", "--ticks-per-day", "300",
                                       "--end", "2003-07-07"])


def main():
    if len(sys.argv) != 2:
        raise SystemExit(__doc__)
    build = os.path.abspath(sys.argv[1])
    for tool in ("nginx", "openssl", "curl"):
        if shutil.which(tool) is None and not os.path.exists("/usr/sbin/" + tool):
            print("%s is not installed (scripts/bootstrap installs it): skipped" % tool)
            return 77
    os.environ["PATH"] += ":/usr/sbin"
    work = tempfile.mkdtemp(prefix="morvane-nginx-")
    os.chmod(work, 0o755)
    servers, fronts = [], []
    failures = []
    try:
        store = os.path.join(work, "store")
        make_store(build, store)
        cert, key = os.path.join(work, "cert.pem"), os.path.join(work, "key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                        "-nodes", "-days", "1", "-subj", "/CN=localhost", "-keyout", key, "-out", cert],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.chmod(key, 0o644)
        a, b = Server(build, store, free_port()), Server(build, store, free_port())
        servers += [a, b]
        a.start()
        b.start()
        conf = open(os.path.join(ROOT, "deploy", "nginx", "morvane.conf")).read()
        tls, plain = free_port(), free_port()
        fronts.append(Nginx(os.path.join(work, "nginx"), render(conf, [a.port, b.port], tls, plain,
                                                                 os.path.join(work, "nginx"), cert, key)))
        if not wait_port(tls):
            raise SystemExit("nginx did not listen")

        # 1. Every mode, directly and through nginx over HTTP/1.1 and HTTP/2.
        url = "https://127.0.0.1:%d" % tls
        for target in MODES:
            status, body = direct(a.port, target)
            for flag, version in (("--http1.1", "1.1"), ("--http2", "2")):
                code, got_version, got = curl([flag, url + target])
                if (code, got_version, got) != (status, version, body):
                    failures.append("%s over HTTP/%s: %s %s, %d bytes; direct %s, %d bytes"
                                    % (target, version, code, got_version, len(got), status, len(body)))
        log("%d targets compared over HTTP/1.1 and HTTP/2" % len(MODES))
        code, _, _ = curl(["http://127.0.0.1:%d/?mode=2" % plain])
        if code != 301:
            failures.append("plain HTTP answered %d, not 301" % code)

        # 2. A rolling restart of b under load through nginx.
        expected = {t: direct(a.port, t)[1] for t in MODES[:3]}
        stop_load = threading.Event()
        counts = {"ok": 0, "failed": 0}
        lock = threading.Lock()
        errors = []

        def client(n):
            context = ssl._create_unverified_context()
            conn = None
            i = n
            while not stop_load.is_set():
                target = MODES[i % 3]
                i += 1
                try:
                    if conn is None:
                        conn = http.client.HTTPSConnection("127.0.0.1", tls, timeout=30, context=context)
                    conn.request("GET", target)
                    r = conn.getresponse()
                    body = r.read()
                    good = r.status == 200 and body == expected[target]
                    if r.getheader("Connection", "").lower() == "close":
                        conn.close()
                        conn = None
                except (OSError, http.client.HTTPException) as e:
                    good = False
                    body = repr(e).encode()
                    conn = None
                with lock:
                    counts["ok" if good else "failed"] += 1
                    if not good and len(errors) < 5:
                        errors.append("%s: %r" % (target, body[:200]))

        threads = [threading.Thread(target=client, args=(n,)) for n in range(8)]
        for t in threads:
            t.start()
        time.sleep(1.5)
        rc = b.stop()
        stopped_at = counts["ok"]
        time.sleep(1.0)
        b.start()
        time.sleep(2.0)
        stop_load.set()
        for t in threads:
            t.join()
        log("rolling restart: %d answers (%d before the stop ended), %d failed; b exited %s"
            % (counts["ok"], stopped_at, counts["failed"], rc))
        if counts["failed"] or rc != 0 or counts["ok"] < 100:
            failures.append("rolling restart: %d failed of %d, exit %s: %s"
                            % (counts["failed"], counts["ok"] + counts["failed"], rc, errors))

        # 3. A 503 from a stopping server is tried again on the other.
        stub = Stub503()
        tls2, plain2 = free_port(), free_port()
        fronts.append(Nginx(os.path.join(work, "nginx2"), render(conf, [stub.port, a.port], tls2, plain2,
                                                                  os.path.join(work, "nginx2"), cert, key)))
        if not wait_port(tls2):
            raise SystemExit("the second nginx did not listen")
        target = MODES[2]
        for _ in range(6):
            code, _, got = curl(["--http1.1", "https://127.0.0.1:%d%s" % (tls2, target)])
            if code != 200 or got != expected[target]:
                failures.append("503 retry: got %d, %d bytes" % (code, len(got)))
        if stub.answered == 0:
            failures.append("503 retry: nginx never asked the stopping server")
        log("503 retry: the stopping server answered %d requests with 503, clients got 6 answers"
            % stub.answered)
    finally:
        for f in fronts:
            f.stop()
        for s in servers:
            s.stop()
        shutil.rmtree(work, ignore_errors=True)
    for f in failures:
        print("FAIL:", f)
    print("nginx front: %s" % ("FAILED" if failures else "passed"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
