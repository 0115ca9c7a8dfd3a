#!/usr/bin/env python3
"""Servers reading a streaming hot standby answer as the primary does.

    tests/replica/replica_test.py [--build DIR]          the short form (ctest)
    tests/replica/replica_test.py --long                 more rounds, bigger
                                                         batches, more readers

Makes a PostgreSQL primary and a hot standby of it (pg_basebackup -R, with
tests/pg_cluster.sh), fills the primary with `morvane-load init` and `demo`,
and starts morvane-servers with their clock fixed at the data's last day: A
and B read the standby, P and Q the primary. A and P run with the default
settings; B and Q with CalcMode=UW and DBMode=SQL, which read the order
database through each data module's private connection. Then, round after
round:

  - readers ask A and B for every kind of history while `morvane-load ticks`
    appends a file of ticks to that day on the primary;
  - once the standby has replayed the primary's WAL (pg_last_wal_replay_lsn
    at or past the primary's pg_current_wal_lsn), every request is asked of
    every server, and A's answers must equal P's byte for byte, B's Q's;
  - every answer A or B gave while the file was loading must equal its
    primary server's answer from before the file or from after it (a file is one transaction, and a
    standby only ever shows committed states of the primary).

Last, the standby is restarted (pg_ctl restart) under the readers, without
touching the servers: requests may fail while it is down, but once it is
back every answer must again equal the primary's, and one more round must
pass. Restarting the standby cuts every link the servers hold to it: the
idle links in their pools and each data module's private connection.

Prints the figures (rows appended, requests, replay lag, the restart's
failures) at the end; exit status 0 when every check held.
"""
import argparse
import http.client
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PG_CLUSTER = os.path.join(ROOT, "tests", "pg_cluster.sh")
DAY = "2003-07-07"  # a Monday: the demo market's last trading day
CLOCK = DAY + " 17:30:00"
ALIASES = ("HISTDATA", "Historical", "plrdata", "omsdata")


def log(*a):
    print("replica:", *a, file=sys.stderr, flush=True)


class Failure(Exception):
    pass


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, **kw)


def psql(conninfo, sql):
    return run(["psql", "-X", "-At", "-v", "ON_ERROR_STOP=1", conninfo, "-c", sql],
               stdout=subprocess.PIPE, text=True).stdout.strip()


def lsn(text):
    high, low = text.split("/")
    return (int(high, 16) << 32) | int(low, 16)


class Cluster:
    """One throwaway PostgreSQL server of tests/pg_cluster.sh."""

    def __init__(self, state, primary=None):
        self.state = state
        if primary is None:
            run([PG_CLUSTER, "start", state], stdout=subprocess.DEVNULL)
        else:
            run([PG_CLUSTER, "standby", state, primary.state], stdout=subprocess.DEVNULL)
        with open(os.path.join(state, "conninfo")) as f:
            self.conninfo = f.read().strip()

    def restart(self):
        run([PG_CLUSTER, "restart", self.state])

    def stop(self):
        subprocess.run([PG_CLUSTER, "stop", self.state])


def wait_for_replay(primary, standby, timeout=60):
    """Waits until the standby has replayed everything the primary has
    committed so far; returns the seconds it took. The clusters commit
    asynchronously, so a committed transaction's WAL may not be written yet,
    and pg_current_wal_lsn (what the primary has written) can lag behind it.
    A synchronous commit flushes all WAL before its own commit record, but
    only for a transaction that wrote WAL: this one writes a message that
    nothing reads (wal_level replica keeps it and ignores it)."""
    start = time.monotonic()
    target = lsn(psql(primary.conninfo, "SET synchronous_commit = on; BEGIN; "
                      "SELECT pg_logical_emit_message(true, 'morvane-replica-test', ''); "
                      "COMMIT; SELECT pg_current_wal_lsn()").split("\n")[-1])
    while True:
        replayed = psql(standby.conninfo, "SELECT pg_last_wal_replay_lsn()")
        if replayed and lsn(replayed) >= target:
            return time.monotonic() - start
        if time.monotonic() - start > timeout:
            raise Failure(f"the standby did not replay up to the primary within {timeout} s")
        time.sleep(0.01)


# The settings the servers run with: the defaults, and the tick calculation
# and stored bar tables that read the order database through each data
# module's private connection (mode "3" checks the product there, mode "6"
# reads its bars there).
SETTINGS = {"default": "", "uw": "CalcMode=UW\nDBMode=SQL\n"}


def write_view(directory, conninfo, settings=""):
    """A working directory for servers (or the loader) on one cluster: its
    settings file, alias file and log."""
    os.makedirs(os.path.join(directory, "etc"), exist_ok=True)
    with open(os.path.join(directory, "oms.ini"), "w") as f:
        # The cluster's only role is the login of the PostgreSQL stores.
        f.write("[MORVANE]\nDBUSER=morvane\nMaxConnection=32\n" + settings +
                "\n[OMS_DATABASE]\nDSN_source=omsdata\n")
    with open(os.path.join(directory, "aliases.ini"), "w") as f:
        f.write("".join(f"[{a}]\nDRIVER=POSTGRES\nCONNINFO={conninfo}\n\n" for a in ALIASES))


def view_env(directory):
    return dict(os.environ, MORVANE_SYSCONFDIR=os.path.join(directory, "etc"),
                MORVANE_ALIASES=os.path.join(directory, "aliases.ini"))


class Server:
    def __init__(self, build, directory, name):
        self.name = name
        env = view_env(directory)
        env["MORVANE_LOG"] = os.path.join(directory, f"server-{name}.log")
        self.proc = subprocess.Popen(
            [os.path.join(build, "morvane-server"), "--listen", "127.0.0.1:0", "--clock", CLOCK],
            cwd=directory, env=env, stdout=subprocess.PIPE)
        line = self.proc.stdout.readline().decode()
        m = re.search(r":(\d+)\s*$", line)
        if not m:
            raise Failure(f"morvane-server {name} did not start: {line!r}")
        self.port = int(m.group(1))

    def get(self, query):
        """(status, body), or (None, error text) when no answer came."""
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=60)
        try:
            conn.request("GET", "/?" + query)
            r = conn.getresponse()
            return r.status, r.read()
        except (OSError, http.client.HTTPException) as e:
            return None, str(e).encode()
        finally:
            conn.close()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            self.proc.wait(timeout=30)
        if self.proc.returncode != 0:
            raise Failure(f"morvane-server {self.name} exited with {self.proc.returncode}")


def requests_for(symbols, invalid):
    """Every kind of history over the products that ticks are appended to,
    and a product listed as not valid."""
    slash = "2003/7/7"
    out = []
    for s in symbols:
        out += [
            f"symbol={s}&mode=0",
            f"symbol={s}&mode=0&dateStart=2003/7/1&dateOver={slash}&timeStart=15:00&timeOver=17:00",
            f"symbol={s}&mode=1&dateStart=2003/6/1&dateOver={slash}",
            f"symbol={s}&mode=2",
            f"symbol={s}&mode=3&timeStart=10:00&timeOver=17:00",
            f"symbol={s}&mode=4&interval=60",
            f"symbol={s}&mode=4&interval=300&dateStart=2003/7/3&dateOver={slash}",
            f"symbol={s}&mode=5&interval=5&iunit=1&timeStart=10:00&timeOver=16:00",
            f"symbol={s}&mode=6&interval=300&timeStart=09:30&timeOver=17:00",
        ]
    out += [f"symbol={invalid}&mode=3", f"symbol={invalid}&mode=0",
            f"symbol={symbols[0]}&dateStart={slash}"]
    return out


class Appender:
    """Tick files for the last day, continuing after the demo's close at
    16:00: each file holds `rows` ticks, 10 ms apart, dealt round the
    products, with a running day volume."""

    def __init__(self, directory, symbols, rows):
        self.directory = directory
        self.symbols = symbols
        self.rows = rows
        self.ms = 16 * 3600 * 1000
        self.volume = {s: 10_000_000 for s in symbols}
        self.price = {s: 50.0 for s in symbols}
        self.rng = random.Random(20030707)
        self.files = 0
        self.appended = 0

    def next_file(self):
        self.files += 1
        path = os.path.join(self.directory, f"append{self.files}.csv")
        lines = ["Date,Time,Symbol,Bid,Offer,Price,BidSize,Volume,OfferSize\n"]
        for i in range(self.rows):
            s = self.symbols[i % len(self.symbols)]
            self.ms += 10
            t = self.ms
            p = max(1.0, round(self.price[s] + self.rng.choice((-0.05, 0, 0.05)), 2))
            self.price[s] = p
            self.volume[s] += 100 * self.rng.randint(1, 20)
            lines.append(f"{DAY},{t // 3600000:02d}:{t // 60000 % 60:02d}:{t // 1000 % 60:02d}."
                         f"{t % 1000:03d},{s},{p - 0.05:.2f},{p + 0.05:.2f},{p:.2f},400,"
                         f"{self.volume[s]},800\n")
        with open(path, "w") as f:
            f.write("".join(lines))
        self.appended += self.rows
        return path


class Readers:
    """Threads asking the standby's servers random requests until stopped;
    every answer is kept with the request and the server."""

    def __init__(self, servers, requests, per_server, seed):
        self.answers = []
        self.lock = threading.Lock()
        self.stop_event = threading.Event()
        self.threads = []
        for n, server in enumerate(servers):
            for k in range(per_server):
                rng = random.Random(seed * 100 + n * 10 + k)
                t = threading.Thread(target=self.loop, args=(server, requests, rng))
                t.start()
                self.threads.append(t)

    def loop(self, server, requests, rng):
        while not self.stop_event.is_set():
            q = rng.choice(requests)
            at = time.monotonic()
            status, body = server.get(q)
            with self.lock:
                self.answers.append((server.name, q, status, body, at))

    def stop(self):
        self.stop_event.set()
        for t in self.threads:
            t.join()
        return self.answers


def answers_of(server, requests):
    out = {}
    for q in requests:
        status, body = server.get(q)
        if status != 200:
            raise Failure(f"{server.name} ?{q}: status {status}: {body[:200]!r}")
        out[q] = body
    return out


def first_difference(a, b):
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return i
    return min(len(a), len(b))


COMPARED = [0]  # answers of the standby's servers compared with the primary's


def check_equal(name, got, want):
    COMPARED[0] += len(got)
    for q, body in got.items():
        if body != want[q]:
            i = first_difference(body, want[q])
            raise Failure(f"{name} ?{q} differs from the primary's answer at byte {i}: "
                          f"{body[max(0, i - 60):i + 60]!r} where the primary has "
                          f"{want[q][max(0, i - 60):i + 60]!r}")


def main():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.path.join(ROOT, "build", "release"))
    ap.add_argument("--long", action="store_true")
    ap.add_argument("--keep", action="store_true", help="leave the working directory behind")
    a = ap.parse_args()
    rounds, rows, readers, demo_ticks = (3, 600, 2, 150) if not a.long else (12, 20000, 3, 2000)
    build = os.path.abspath(a.build)
    for program in ("morvane-server", "morvane-load", "libmorvane.so"):
        if not os.path.exists(os.path.join(build, program)):
            raise SystemExit(f"replica: no {program} in {build}")

    work = tempfile.mkdtemp(prefix="morvane-replica.")
    clusters = []
    servers = []
    figures = {}
    started = time.monotonic()
    try:
        primary = Cluster(os.path.join(work, "pg-primary"))
        clusters.append(primary)
        standby = Cluster(os.path.join(work, "pg-standby"), primary)
        clusters.append(standby)
        on_primary = os.path.join(work, "primary")
        write_view(on_primary, primary.conninfo)
        for name, text in SETTINGS.items():
            write_view(os.path.join(work, "primary-" + name), primary.conninfo, text)
            write_view(os.path.join(work, "standby-" + name), standby.conninfo, text)

        loader = [os.path.join(build, "morvane-load"), "--aliases",
                  os.path.join(on_primary, "aliases.ini")]
        load_env = view_env(on_primary)
        run(loader + ["init"], cwd=on_primary, env=load_env, stdout=subprocess.DEVNULL)
        run(loader + ["demo", "--days", "5", "--symbols", "6", "--ticks-per-day", str(demo_ticks),
                      "--end", DAY], cwd=on_primary, env=load_env, stdout=subprocess.DEVNULL)
        names = psql(primary.conninfo, "SELECT symbol, isvalid FROM symboltable ORDER BY symbol")
        listed = [line.split("|") for line in names.splitlines()]
        symbols = [s for s, valid in listed if valid == "1"][:3]
        invalid = [s for s, valid in listed if valid != "1"][0]
        requests = requests_for(symbols, invalid)
        lag = [wait_for_replay(primary, standby)]

        # A and B on the standby; each is compared with a server of the same
        # settings on the primary (P, Q).
        pairs = []
        for (name, ref), settings in zip((("A", "P"), ("B", "Q")), SETTINGS):
            reader = Server(build, os.path.join(work, "standby-" + settings), name)
            servers.append(reader)
            servers.append(Server(build, os.path.join(work, "primary-" + settings), ref))
            pairs.append((reader, servers[-1]))
        readers_of = [reader for reader, _ in pairs]
        before = {reader.name: answers_of(ref, requests) for reader, ref in pairs}
        for reader, _ in pairs:
            check_equal(reader.name, answers_of(reader, requests), before[reader.name])
        # The checks below mean something only if the answers hold records.
        for name, answers in before.items():
            if sum(body.count(b"TICK|") + body.count(b"INTERVAL|") for body in answers.values()) < 100:
                raise Failure(f"the primary's answers for {name} hold almost no records")

        appender = Appender(on_primary, symbols, rows)
        in_flight = 0
        load_seconds = []
        watched = f"symbol={symbols[0]}&mode=0"
        for n in range(rounds + 1):
            if n == rounds:
                # The last round follows the standby's restart.
                # One reader per server: a server then always has an idle data
                # module to lend, and makes none while the standby is down (a
                # module made then has no private connection for its whole
                # life, by design).
                restart_answers, restart_seconds = restart_under_readers(
                    standby, readers_of, requests, 1)
                lag.append(wait_for_replay(primary, standby))
                summarize_restart(restart_answers, before, restart_seconds, figures)
                # The first requests after the restart, on links the restart
                # cut: the servers drop those and connect afresh.
                for reader, _ in pairs:
                    check_equal(reader.name + " after the restart", answers_of(reader, requests),
                                before[reader.name])
            csv = appender.next_file()
            pool = Readers(readers_of, requests, readers, n)
            t0 = time.monotonic()
            run(loader + ["ticks", csv], cwd=on_primary, env=load_env, stdout=subprocess.DEVNULL)
            load_seconds.append(time.monotonic() - t0)
            lag.append(wait_for_replay(primary, standby))
            during = pool.stop()
            after = {reader.name: answers_of(ref, requests) for reader, ref in pairs}
            for reader, _ in pairs:
                if after[reader.name][watched] == before[reader.name][watched]:
                    raise Failure(f"round {n}: the appended ticks did not change ?{watched}")
                check_equal(reader.name, answers_of(reader, requests), after[reader.name])
            for name, q, status, body, _ in during:
                old, new = before[name][q], after[name][q]
                if status != 200 or (body != old and body != new):
                    raise Failure(f"round {n}: {name} ?{q} answered while ticks were loading with "
                                  f"status {status}, {len(body)} bytes, matching neither the "
                                  f"primary's answer before the file ({len(old)} bytes) nor "
                                  f"after it ({len(new)} bytes): {body[:200]!r}")
            in_flight += len(during)
            before = after
            log(f"round {n + 1}/{rounds + 1}: {rows} ticks appended, {len(during)} answers "
                f"during the load, standby caught up in {lag[-1] * 1000:.0f} ms")

        figures["ticks appended (files)"] = f"{appender.appended} ({appender.files})"
        figures["answers checked while loading"] = in_flight
        figures["answers compared after catch-up"] = COMPARED[0]
        figures["load seconds per file (max)"] = f"{max(load_seconds):.2f}"
        figures["replay wait ms (median / max)"] = (
            f"{sorted(lag)[len(lag) // 2] * 1000:.0f} / {max(lag) * 1000:.0f}")
        for s in servers:
            s.stop()
        servers = []
        figures["seconds in all"] = f"{time.monotonic() - started:.1f}"
        for k, v in figures.items():
            print(f"  {k:40} {v}")
        print("replica: every answer from the standby's servers matched the primary's")
        return 0
    except (Failure, subprocess.CalledProcessError) as e:
        print(f"replica: FAILED: {e}", file=sys.stderr)
        print(f"replica: logs under {work}", file=sys.stderr)
        a.keep = True
        return 1
    finally:
        for s in servers:
            try:
                s.stop()
            except Failure as e:
                print(f"replica: {e}", file=sys.stderr)
        for c in reversed(clusters):
            c.stop()
        if not a.keep:
            shutil.rmtree(work, ignore_errors=True)


def summarize_restart(answers, want, seconds, figures):
    """The restart's figures: requests without an answer or with an error
    status, answers that differ from the primary's, and the span from the
    first to the last of those."""
    failed = [(at, q, status, body) for _, q, status, body, at in answers if status != 200]
    wrong = [(at, q, status, body) for name, q, status, body, at in answers
             if status == 200 and body != want[name][q]]
    bad = sorted(failed + wrong)
    figures["restart seconds (pg_ctl restart)"] = f"{seconds:.2f}"
    figures["requests during the restart"] = len(answers)
    figures["  no answer or error status"] = len(failed)
    figures["  200 with a different body"] = len(wrong)
    figures["  seconds from first to last of those"] = (
        f"{bad[-1][0] - bad[0][0]:.2f}" if bad else "0")
    if os.environ.get("REPLICA_SHOW_FAILURES"):
        shown = set()
        for _, q, status, body in bad:
            key = (status, body[:60])
            if key not in shown:
                shown.add(key)
                log(f"during the restart: ?{q}: {status} {body[:300]!r}")


def restart_under_readers(standby, servers, requests, per_server):
    """Restarts the standby while readers keep asking the servers; returns
    their answers and the restart's seconds."""
    pool = Readers(servers, requests, per_server, 999)
    time.sleep(0.3)
    t0 = time.monotonic()
    standby.restart()
    seconds = time.monotonic() - t0
    time.sleep(0.3)
    return pool.stop(), seconds


if __name__ == "__main__":
    sys.exit(main())
