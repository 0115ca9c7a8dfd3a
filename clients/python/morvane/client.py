"""The client: one method per kind of history, each returning a pandas frame,
and an ``iter_`` twin that yields frames of a chosen number of rows while
the answer arrives."""
import datetime as _dt
import re
import urllib.parse

import numpy as np
import pandas as pd

from . import columns, transport
from .answer import COUNTED, FAST_BARS, QUOTE, Answer
from .errors import NoData

DEFAULT_URL = "http://127.0.0.1:8080"
DEFAULT_ROWS = 100_000


class Client:
    """A Morvane server at ``url`` (``http://host:port``, optionally with a
    path prefix when the server sits behind a proxy).

    Every method takes the product code first. Days (``start``, ``end``)
    are ``datetime.date``, ``datetime.datetime``, pandas or NumPy time
    stamps, or text such as "2026-12-01" or "2026/12/1"; times of day
    (``time_from``, ``time_to``) are ``datetime.time`` or text "hh:mm" or
    "hh:mm:ss". The server wants days and times in pairs: leaving out one
    of a pair raises InvalidRequest (a ValueError). Without days a request
    asks for the server's today.

    Frames carry ``attrs`` "symbol", "ename" and "cname" (the names are None
    when the server has none). Prices are float64, sizes and volumes Int64
    (missing values are <NA>), and the day and time of a record one
    datetime64 column.

    With ``allow_empty=True`` a method returns an empty frame (an ``iter_``
    method yields nothing) where it would raise NoData.

    Each call makes its own connection: a Client may be shared by threads.
    """

    def __init__(self, url=DEFAULT_URL, timeout=60.0, text_encoding="utf-8"):
        transport.split_url(url)  # refuses a malformed address now
        self.url = url
        self.timeout = timeout
        self.text_encoding = text_encoding

    # Mode "0".
    def ticks(self, symbol, start=None, end=None, *, time_from=None, time_to=None,
              allow_empty=False):
        """Every tick of ``symbol`` from ``start`` to ``end`` within
        ``time_from`` to ``time_to`` each day: time, bid, offer, price,
        bid_size, offer_size, volume (the day's running total)."""
        return self._frame(self._ticks(symbol, start, end, time_from, time_to), allow_empty)

    def iter_ticks(self, symbol, start=None, end=None, *, time_from=None, time_to=None,
                   rows=DEFAULT_ROWS, allow_empty=False):
        """ticks() as frames of ``rows`` rows (the last may be shorter)."""
        return self._iter(self._ticks(symbol, start, end, time_from, time_to), rows, allow_empty)

    # Mode "3".
    def price_changes(self, symbol, start=None, end=None, *, time_from=None, time_to=None,
                      days=None, allow_empty=False):
        """The ticks at which the price changed, in ticks()' columns;
        ``days`` limits the answer to the last so many trading days of the
        range."""
        return self._frame(self._changes(symbol, start, end, time_from, time_to, days), allow_empty)

    def iter_price_changes(self, symbol, start=None, end=None, *, time_from=None, time_to=None,
                           days=None, rows=DEFAULT_ROWS, allow_empty=False):
        return self._iter(self._changes(symbol, start, end, time_from, time_to, days), rows,
                          allow_empty)

    # Mode "1".
    def daily(self, symbol, start=None, end=None, *, allow_empty=False):
        """One row per trading day: date, high, low, close, shares_traded,
        turnover."""
        return self._frame(self._daily(symbol, start, end), allow_empty)

    def iter_daily(self, symbol, start=None, end=None, *, rows=DEFAULT_ROWS, allow_empty=False):
        return self._iter(self._daily(symbol, start, end), rows, allow_empty)

    # Mode "2".
    def delayed_quote(self, symbol, *, allow_empty=False):
        """The latest tick at least an hour old, from today or the nearest
        earlier day with ticks, as a frame of one row in ticks()' columns."""
        req = self._request(columns.TICKS, QUOTE, symbol=symbol, mode="2")
        return self._frame(req, allow_empty)

    # Mode "4".
    def bars(self, symbol, seconds, start=None, end=None, *, time_from=None, time_to=None,
             days=None, allow_empty=False):
        """Bars of ``seconds`` computed from the ticks: time (the bar's
        start), open, high, low, close, volume. A bar without ticks is not
        written."""
        return self._frame(self._bars(symbol, seconds, start, end, time_from, time_to, days),
                           allow_empty)

    def iter_bars(self, symbol, seconds, start=None, end=None, *, time_from=None, time_to=None,
                  days=None, rows=DEFAULT_ROWS, allow_empty=False):
        return self._iter(self._bars(symbol, seconds, start, end, time_from, time_to, days), rows,
                          allow_empty)

    # Mode "5".
    def minute_bars(self, symbol, minutes=1, start=None, end=None, *, time_from=None,
                    time_to=None, back=None, allow_empty=False):
        """Bars of ``minutes`` merged from the stored one-minute bars inside
        the product's market sessions, in bars()' columns; ``back`` bars
        from before the start come first. An answer without bars raises
        NoData."""
        return self._frame(self._minutes(symbol, minutes, start, end, time_from, time_to, back),
                           allow_empty)

    def iter_minute_bars(self, symbol, minutes=1, start=None, end=None, *, time_from=None,
                         time_to=None, back=None, rows=DEFAULT_ROWS, allow_empty=False):
        return self._iter(self._minutes(symbol, minutes, start, end, time_from, time_to, back),
                          rows, allow_empty)

    # Mode "6".
    def bar_grid(self, symbol, seconds=300, start=None, end=None, *, time_from=None,
                 time_to=None, days=None, allow_empty=False):
        """A full grid of bars of ``seconds`` (the server reads the stored
        60, 180 and 300 second bars when it is so set up), in bars()'
        columns. A bar without ticks is a row of missing values; a bar with
        prices but no new volume has volume 0."""
        return self._frame(self._grid(symbol, seconds, start, end, time_from, time_to, days),
                           allow_empty)

    def iter_bar_grid(self, symbol, seconds=300, start=None, end=None, *, time_from=None,
                      time_to=None, days=None, rows=DEFAULT_ROWS, allow_empty=False):
        return self._iter(self._grid(symbol, seconds, start, end, time_from, time_to, days),
                          rows, allow_empty)

    # ------------------------------------------------------------------
    def _ticks(self, symbol, start, end, time_from, time_to):
        return self._request(columns.TICKS, COUNTED, symbol=symbol, mode="0",
                             **_span(start, end, time_from, time_to))

    def _changes(self, symbol, start, end, time_from, time_to, days):
        return self._request(columns.TICKS, COUNTED, symbol=symbol, mode="3", DayCount=days,
                             **_span(start, end, time_from, time_to))

    def _daily(self, symbol, start, end):
        return self._request(columns.DAILY, COUNTED, symbol=symbol, mode="1",
                             **_span(start, end, None, None))

    def _bars(self, symbol, seconds, start, end, time_from, time_to, days):
        return self._request(columns.BARS, COUNTED, symbol=symbol, mode="4", interval=seconds,
                             DayCount=days, **_span(start, end, time_from, time_to))

    def _minutes(self, symbol, minutes, start, end, time_from, time_to, back):
        # A length under one minute is handed to the bars computed from
        # ticks, whose answer ends with a count note or error records like
        # bars(); the reader judges those whenever they come.
        return self._request(columns.BARS, FAST_BARS, symbol=symbol, mode="5", interval=minutes,
                             iunit=1, BackCount=back, **_span(start, end, time_from, time_to))

    def _grid(self, symbol, seconds, start, end, time_from, time_to, days):
        return self._request(columns.GRID, COUNTED, symbol=symbol, mode="6", interval=seconds,
                             DayCount=days, **_span(start, end, time_from, time_to))

    def _request(self, layout, ending, **fields):
        query = urllib.parse.urlencode({k: v for k, v in fields.items() if v is not None})
        return _Request(self, layout, ending, str(fields["symbol"]), query)

    def _frame(self, req, allow_empty):
        answer = req.answer()
        try:
            parts = list(answer.batches())
        except NoData:
            if not allow_empty:
                raise
            parts = []
        rows = columns.Rows.join(parts) if parts else columns.Rows.empty(req.layout)
        return req.label(rows.frame(), answer)

    def _iter(self, req, rows, allow_empty):
        if int(rows) < 1:
            raise ValueError("rows must be at least 1")
        return _exact_frames(req, int(rows), allow_empty)


class _Request:
    def __init__(self, client, layout, ending, symbol, query):
        self.client = client
        self.layout = layout
        self.ending = ending
        self.symbol = symbol
        self.query = query

    def answer(self, lines_per_batch=None):
        blocks = transport.get(self.client.url, self.query, self.client.timeout)
        return Answer(blocks, self.layout, self.ending, self.client.text_encoding, lines_per_batch)

    def label(self, frame, answer):
        frame.attrs = {"symbol": self.symbol, **answer.names}
        return frame


def _exact_frames(req, rows, allow_empty):
    answer = req.answer(lines_per_batch=rows)
    pending, have, offset = [], 0, 0
    try:
        for part in answer.batches():
            pending.append(part)
            have += len(part)
            while have >= rows:
                head, rest = columns.Rows.join(pending).cut(rows)
                yield req.label(head.frame(offset), answer)
                offset += rows
                pending, have = [rest], len(rest)
    except NoData:
        if not allow_empty:
            raise
    # Rows that wait for a full frame are let out only once the answer has
    # been judged whole.
    if have:
        yield req.label(columns.Rows.join(pending).frame(offset), answer)


# Forms of the request's days and times -------------------------------------

_ISO_DAY = re.compile(r"(\d{4})[-/](\d{1,2})[-/](\d{1,2})")


def _span(start, end, time_from, time_to):
    return {"dateStart": _day(start), "dateOver": _day(end),
            "timeStart": _time(time_from), "timeOver": _time(time_to)}


def _day(value):
    """A day as the server reads it, "yyyy/m/d". Text that is not a day is
    sent as it is, for the server to judge."""
    if value is None:
        return None
    if isinstance(value, str):
        m = _ISO_DAY.fullmatch(value.strip())
        if not m:
            return value
        return f"{int(m[1])}/{int(m[2])}/{int(m[3])}"
    if isinstance(value, np.datetime64):
        value = pd.Timestamp(value)
    if isinstance(value, (_dt.date, pd.Timestamp)):
        return f"{value.year}/{value.month}/{value.day}"
    raise TypeError(f"a day cannot be a {type(value).__name__}")


def _time(value):
    if value is None:
        return None
    if isinstance(value, str):
        return value
    if isinstance(value, _dt.time):
        return f"{value.hour:02d}:{value.minute:02d}:{value.second:02d}"
    raise TypeError(f"a time of day cannot be a {type(value).__name__}")
