"""The client against a real morvane-server on the demo store.

Each kind of history is checked against the raw answer to the same query,
read here the plainest way (split on "|"), so the expectation never comes
from the client's own code. Faults the server does not make on request (a
cut connection, a lost record, compressed bodies) come from a small proxy
in front of it.
"""
import datetime as dt
import gzip
import http.server
import math
import os
import re
import subprocess
import threading
import urllib.request

import numpy as np
import pandas as pd
import pytest

import morvane
from conftest import SETTINGS

try:
    import zstandard
except ImportError:
    zstandard = None

PY = "/usr/bin/python3"
PACKAGE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

TICK_COLUMNS = {"time": "datetime64[ns]", "bid": "float64", "offer": "float64",
                "price": "float64", "bid_size": "Int64", "offer_size": "Int64", "volume": "Int64"}
DAILY_COLUMNS = {"date": "datetime64[ns]", "high": "float64", "low": "float64",
                 "close": "float64", "shares_traded": "Int64", "turnover": "float64"}
BAR_COLUMNS = {"time": "datetime64[ns]", "open": "float64", "high": "float64", "low": "float64",
               "close": "float64", "volume": "Int64"}


def raw_answer(url, query):
    with urllib.request.urlopen(f"{url}/?{query}") as r:
        return r.read().decode("utf-8")


def model_rows(raw, kind, columns):
    """The data records of a raw answer as columns of plain values: stamps
    from the date and time texts, floats and integers (None when missing;
    0 for the "-" volume of a bar with prices)."""
    out = {name: [] for name in columns}
    for line in raw.split("\r\n"):
        if not line.startswith(kind + "|"):
            continue
        f = line.split("|")[2:-1]
        if "time" in columns:
            stamp, values = dt.datetime.strptime(f[0] + " " + f[1], "%Y/%m/%d %H:%M:%S"), f[2:]
        else:
            stamp, values = dt.datetime.strptime(f[0], "%Y/%m/%d"), f[1:]
        out[next(iter(columns))].append(pd.Timestamp(stamp))
        for (name, dtype), text in zip(list(columns.items())[1:], values):
            if dtype == "float64":
                out[name].append(float(text) if text not in ("", "-") else None)
            elif text not in ("", "-"):
                out[name].append(int(float(text)))
            else:
                out[name].append(0 if text == "-" and values[0] != "-" else None)
    return out


def frame_rows(frame):
    out = {}
    for name in frame.columns:
        if str(frame[name].dtype) == "Int64":
            out[name] = [None if v is pd.NA else int(v) for v in frame[name]]
        elif str(frame[name].dtype) == "float64":
            out[name] = [None if math.isnan(v) else v for v in frame[name]]
        else:
            out[name] = list(frame[name])
    return out


# method, arguments, the same request as a query, record kind, columns,
# whether the answer closes with a count note.
HISTORIES = [
    ("ticks", ("0005", "2003-07-02", "2003-07-07"), {},
     "symbol=0005&mode=0&dateStart=2003/7/2&dateOver=2003/7/7", "TICK", TICK_COLUMNS, True),
    ("price_changes", ("0005", "2003-06-01", "2003-07-07"), {"days": 2},
     "symbol=0005&mode=3&dateStart=2003/6/1&dateOver=2003/7/7&DayCount=2", "TICK", TICK_COLUMNS,
     True),
    ("daily", ("0005", dt.date(2003, 6, 1), dt.date(2003, 7, 7)), {},
     "symbol=0005&mode=1&dateStart=2003/6/1&dateOver=2003/7/7", "TICK", DAILY_COLUMNS, True),
    ("delayed_quote", ("0005",), {}, "symbol=0005&mode=2", "TICK", TICK_COLUMNS, False),
    ("bars", ("0005", 60, "2003/7/4", "2003/7/7"), {},
     "symbol=0005&mode=4&interval=60&dateStart=2003/7/4&dateOver=2003/7/7", "TICK", BAR_COLUMNS,
     True),
    ("minute_bars", ("0005", 5, "2003-07-04", "2003-07-07"),
     {"time_from": "10:00", "time_to": dt.time(12, 0)},
     "symbol=0005&mode=5&interval=5&iunit=1&dateStart=2003/7/4&dateOver=2003/7/7"
     "&timeStart=10:00&timeOver=12:00:00", "TICK", BAR_COLUMNS, False),
    ("bar_grid", ("0005", 60, "2003-07-04", "2003-07-07"),
     {"time_from": "09:30", "time_to": "16:00"},
     "symbol=0005&mode=6&interval=60&dateStart=2003/7/4&dateOver=2003/7/7"
     "&timeStart=09:30&timeOver=16:00", "INTERVAL", BAR_COLUMNS, True),
]


@pytest.mark.parametrize("method,args,kwargs,query,kind,columns,counted", HISTORIES,
                         ids=[h[0] for h in HISTORIES])
def test_each_kind_of_history(server, method, args, kwargs, query, kind, columns, counted):
    frame = getattr(morvane.Client(server.url), method)(*args, **kwargs)
    raw = raw_answer(server.url, query)
    assert {c: str(t) for c, t in frame.dtypes.items()} == columns
    count = re.search(r"NOTE\|RECORDCOUNT\|(\d+)\|\r\n", raw)
    if counted:
        assert len(frame) == int(count.group(1))
    assert len(frame) > 0
    assert frame_rows(frame) == model_rows(raw, kind, columns)
    assert list(frame.index) == list(range(len(frame)))
    names = dict(re.findall(r"NOTE\|([EC])NAME\|(.*)\|\r\n", raw))
    assert frame.attrs == {"symbol": "0005", "ename": names["E"], "cname": names["C"]}
    if method == "bar_grid":  # empty bars are rows of missing values
        empty = frame["open"].isna()
        assert empty.any() and frame.loc[empty, "volume"].isna().all()


def test_streamed_frames_of_chosen_rows(server):
    client = morvane.Client(server.url)
    whole = client.ticks("0005", "2003-07-02", "2003-07-07")
    frames = list(client.iter_ticks("0005", "2003-07-02", "2003-07-07", rows=37))
    assert [len(f) for f in frames[:-1]] == [37] * (len(frames) - 1)
    assert 0 < len(frames[-1]) <= 37
    assert all(f.attrs == whole.attrs for f in frames)
    pd.testing.assert_frame_equal(pd.concat(frames), whole)


class FaultProxy:
    """Forwards each GET to the server and alters the answer by the first
    part of its path: /gzip, /gzip2 (two gzip members), /zstd compress it;
    /gzipcut sends all but the end of the compressed data; /drop leaves out
    the first data record; /blank empties the first record's bid and makes
    its offer size 2.5 (a store may hold both); /cut stops half-way without
    the closing chunk.
    The answer goes out chunked, 1000 bytes a chunk."""

    def __init__(self, upstream):
        self.accept_encoding = []
        proxy = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def do_GET(self):
                how, _, query = self.path[1:].partition("?")
                proxy.accept_encoding.append(self.headers.get("Accept-Encoding"))
                body = urllib.request.urlopen(f"{upstream}/?{query}").read()
                coding = None
                if how in ("gzip", "gzipcut"):
                    body, coding = gzip.compress(body), "gzip"
                elif how == "gzip2":
                    half = len(body) // 2
                    body, coding = gzip.compress(body[:half]) + gzip.compress(body[half:]), "gzip"
                elif how == "zstd":
                    body, coding = zstandard.ZstdCompressor().compress(body), "zstd"
                elif how == "drop":
                    first = re.search(rb"(TICK|INTERVAL)\|[^\n]*\n", body)
                    body = body[:first.start()] + body[first.end():]
                elif how == "blank":
                    first = re.search(rb"TICK\|[^\n]*\n", body)
                    f = first.group().split(b"|")
                    f[4], f[8] = b"", b"2.5"
                    body = body[:first.start()] + b"|".join(f) + body[first.end():]
                if how == "gzipcut":
                    body = body[:-12]
                self.send_response(200)
                self.send_header("Content-Type", "text/plain")
                if coding:
                    self.send_header("Content-Encoding", coding)
                self.send_header("Transfer-Encoding", "chunked")
                self.end_headers()
                end = len(body) // 2 if how == "cut" else len(body)
                for at in range(0, end, 1000):
                    piece = body[at:min(at + 1000, end)]
                    self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
                if how != "cut":
                    self.wfile.write(b"0\r\n\r\n")
                self.close_connection = True

            def log_message(self, *args):
                pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = f"http://127.0.0.1:{self.httpd.server_address[1]}"
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()


@pytest.fixture()
def proxy(server):
    p = FaultProxy(server.url)
    yield p
    p.close()


@pytest.mark.parametrize("coding", ["gzip", "gzip2", "zstd"])
def test_compressed_answers(server, proxy, coding):
    if coding == "zstd" and zstandard is None:
        pytest.skip("python3-zstandard is not installed")
    want = morvane.Client(server.url).ticks("0005", "2003-07-02", "2003-07-07")
    got = morvane.Client(f"{proxy.url}/{coding}").ticks("0005", "2003-07-02", "2003-07-07")
    pd.testing.assert_frame_equal(got, want)
    assert proxy.accept_encoding == ["zstd, gzip" if zstandard else "gzip"]


def test_missing_values_and_fractional_sizes(server, proxy):
    want = morvane.Client(server.url).ticks("0005", "2003-07-02", "2003-07-07")
    got = morvane.Client(f"{proxy.url}/blank").ticks("0005", "2003-07-02", "2003-07-07")
    assert math.isnan(got["bid"][0]) and got["offer_size"][0] == 2  # half to even
    want.loc[0, "bid"], want.loc[0, "offer_size"] = math.nan, 2
    pd.testing.assert_frame_equal(got, want)


def test_cut_answers_are_incomplete(proxy):
    cases = [("drop", "ticks", ("0005", "2003-07-02", "2003-07-07"), "announced"),
             ("drop", "bar_grid", ("0005", 60, "2003-07-07", "2003-07-07"), "announced"),
             # minute bars have no count note: only the missing last chunk tells
             ("cut", "minute_bars", ("0005", 1, "2003-07-02", "2003-07-07"), "cut"),
             ("gzipcut", "ticks", ("0005", "2003-07-02", "2003-07-07"), "compressed")]
    for how, method, args, says in cases:
        client = morvane.Client(f"{proxy.url}/{how}")
        with pytest.raises(morvane.IncompleteAnswer, match=says):
            getattr(client, method)(*args)
        with pytest.raises(morvane.IncompleteAnswer):
            for _ in getattr(client, "iter_" + method)(*args, rows=100):
                pass


def test_failed_generator_is_incomplete(store_copy, start_server):
    # A damaged day table ends the answer where it stands, without its
    # count note; the days before it were already sent.
    with open(os.path.join(store_copy, "ticks", "hist030704.db"), "wb") as f:
        f.write(b"x" * 4096)
    client = morvane.Client(start_server(store_copy).url)
    with pytest.raises(morvane.IncompleteAnswer, match="without its count note") as e:
        client.ticks("0005", "2003-07-02", "2003-07-07")
    assert e.value.received > 0 and e.value.expected is None
    seen = []
    with pytest.raises(morvane.IncompleteAnswer):
        for frame in client.iter_ticks("0005", "2003-07-02", "2003-07-07", rows=50):
            seen.append(len(frame))
    assert sum(seen) <= e.value.received


def test_no_data(server):
    client = morvane.Client(server.url)
    cases = [(lambda **k: client.ticks("9999", "2003-07-02", "2003-07-07", **k),
              ["No data for specified date", "Record not found."], TICK_COLUMNS),
             # the daily history and the quote end with an error without a line end
             (lambda **k: client.daily("9999", "2003-06-01", "2003-07-07", **k),
              ["Record not found."], DAILY_COLUMNS),
             (lambda **k: client.delayed_quote("9999", **k), ["Record not found."], TICK_COLUMNS),
             # minute bars answer a day without bars with the names alone
             (lambda **k: client.minute_bars("0005", 1, "2003-07-05", "2003-07-06", **k), [],
              BAR_COLUMNS)]
    for call, records, columns in cases:
        with pytest.raises(morvane.NoData) as e:
            call()
        assert e.value.records == records
        empty = call(allow_empty=True)
        assert len(empty) == 0
        assert {c: str(t) for c, t in empty.dtypes.items()} == columns
    assert list(client.iter_ticks("9999", "2003-07-02", "2003-07-07", allow_empty=True)) == []


def test_parameter_errors_raise_value_error(server):
    client = morvane.Client(server.url)
    cases = [(lambda: client.ticks("0005", "2003-07-02"), "Invalid number of parameters."),
             (lambda: client.ticks("0005", "2003/13/1", "2003/13/2"),
              "Invalid date format(yyyy/m/d)."),
             (lambda: client.bars("0005", 60, time_from="25:00", time_to="26:00"),
              "Invalid time format(yyyy/m/d).")]
    for call, text in cases:
        with pytest.raises(ValueError) as e:
            call()
        assert str(e.value) == text


class HeldSettings:
    """The settings page a server downloads when it has no settings file.
    The first download is answered at once; later ones wait for
    `release`, so the request making them holds its module meanwhile."""

    def __init__(self, page):
        self.held = threading.Event()
        self.release = threading.Event()
        held = self
        arrivals = []

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                arrivals.append(self.path)
                if len(arrivals) > 1:
                    held.held.set()
                    held.release.wait(30)
                body = page.encode()
                self.send_response(200)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.port = self.httpd.server_address[1]
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def close(self):
        self.release.set()
        self.httpd.shutdown()
        self.httpd.server_close()


def test_server_busy(store_copy, start_server):
    page = SETTINGS.format(limit=1)
    settings = HeldSettings(page)
    try:
        with open(os.path.join(store_copy, "oms.ini"), "w") as f:
            f.write(page)
        with open(os.path.join(store_copy, "etc", "registry.ini"), "w") as f:
            f.write(f"[Software\\Pellaro]\niniServer=127.0.0.1:{settings.port}\n")
        client = morvane.Client(start_server(store_copy).url)
        # The limit is read at start; from now on every request downloads
        # its settings.
        os.remove(os.path.join(store_copy, "oms.ini"))
        first = {}
        t = threading.Thread(target=lambda: first.update(frame=client.delayed_quote("0005")))
        t.start()
        try:
            assert settings.held.wait(30)
            with pytest.raises(morvane.ServerBusy):
                client.daily("0005", "2003-06-01", "2003-07-07")
        finally:
            settings.release.set()
            t.join(60)
        assert len(first["frame"]) == 1
    finally:
        settings.close()


def test_command_line(server, tmp_path):
    env = dict(os.environ, PYTHONPATH=PACKAGE_DIR, PYTHONDONTWRITEBYTECODE="1")
    out = tmp_path / "ticks.csv"
    run = subprocess.run([PY, "-m", "morvane", "ticks", "0005", "--from", "2003-07-02", "--to",
                          "2003-07-07", "--url", server.url, "--csv", str(out)], env=env)
    assert run.returncode == 0
    csv = pd.read_csv(out)
    want = morvane.Client(server.url).ticks("0005", "2003-07-02", "2003-07-07")
    assert list(csv.columns) == list(want.columns) and len(csv) == len(want)
    assert list(pd.to_datetime(csv["time"])) == list(want["time"])
    assert np.array_equal(csv["price"].to_numpy(), want["price"].to_numpy())
    shown = subprocess.run([PY, "-m", "morvane", "quote", "0005", "--url", server.url], env=env,
                           stdout=subprocess.PIPE, text=True)
    assert shown.returncode == 0 and "0005  HSBC HOLDINGS" in shown.stdout
    missing = subprocess.run([PY, "-m", "morvane", "daily", "9999", "--url", server.url], env=env,
                             stderr=subprocess.PIPE, text=True)
    assert missing.returncode == 1 and "no data: Record not found." in missing.stderr


def test_pip_installs_offline(tmp_path):
    # pip builds the package in an isolated environment with no index: it
    # must need nothing beyond the sources. (The system's pip installs into
    # a virtual environment without a pip of its own, which is quicker to
    # make.)
    venv = tmp_path / "venv"
    subprocess.run([PY, "-m", "venv", "--without-pip", "--system-site-packages", str(venv)],
                   check=True)
    env = dict(os.environ, PIP_NO_INDEX="1", PIP_DISABLE_PIP_VERSION_CHECK="1",
               PYTHONDONTWRITEBYTECODE="1")
    subprocess.run([PY, "-m", "pip", "--python", str(venv / "bin" / "python"), "install",
                    "--quiet", PACKAGE_DIR], env=env, check=True, cwd=tmp_path)
    where = subprocess.run([str(venv / "bin" / "python"), "-c",
                            "import morvane; print(morvane.__file__)"], cwd=tmp_path,
                           stdout=subprocess.PIPE, text=True, check=True).stdout
    assert where.startswith(str(venv))
    assert (venv / "bin" / "morvane").exists()
