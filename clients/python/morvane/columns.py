"""Data records to typed columns, a whole batch of lines at a time.

A batch is bytes holding complete data records of one layout, each ended by
LF (CR LF on the wire). Numbers go through NumPy's C reader (np.loadtxt) in
one call per batch; dates and times are converted from fixed-width byte
arrays without a Python object per row. That keeps the client ahead of the
server on a single core, so a long history arrives at the server's pace.
"""
import io
import re
from dataclasses import dataclass
from functools import lru_cache

import numpy as np
import pandas as pd

from .errors import MorvaneError

# Widths of the byte-string fields read for dates, times and (on the slow
# path) numbers. A value that fills its whole width may have been cut by
# the reader and is refused rather than misread.
_DATE_WIDTH = 32
_TIME_WIDTH = 16
_TEXT_WIDTH = 32
_NS_PER_SECOND = 1_000_000_000


@dataclass(frozen=True)
class Layout:
    """The columns of one kind of data record, after its running number.

    ``fields`` are (name, type) pairs in wire order; type is "date", "time",
    "float" (float64, NaN when empty or "-") or "int" (nullable Int64). A
    "date" and a "time" field become one datetime64 column named "time";
    a "date" alone is a datetime64 column named "date"."""

    kind: bytes
    fields: tuple
    # Bar grids write "-" as the volume of a bar that has prices but no new
    # volume; an empty bar has "-" everywhere.
    dash_volume_is_zero: bool = False

    @property
    def pipes_per_record(self):
        return len(self.fields) + 2

    @property
    def columns(self):
        names = [n for n, t in self.fields if t not in ("date", "time")]
        has_time = any(t == "time" for _, t in self.fields)
        return ["time" if has_time else "date"] + names


TICKS = Layout(b"TICK|", (("date", "date"), ("time", "time"), ("bid", "float"), ("offer", "float"),
                          ("price", "float"), ("bid_size", "int"), ("offer_size", "int"),
                          ("volume", "int")))
DAILY = Layout(b"TICK|", (("date", "date"), ("high", "float"), ("low", "float"), ("close", "float"),
                          ("shares_traded", "int"), ("turnover", "float")))
BARS = Layout(b"TICK|", (("date", "date"), ("time", "time"), ("open", "float"), ("high", "float"),
                         ("low", "float"), ("close", "float"), ("volume", "int")))
GRID = Layout(b"INTERVAL|", BARS.fields, dash_volume_is_zero=True)


class Rows:
    """Typed columns of consecutive data records of one layout, before they
    become a frame: a NumPy array per column, and for the integer columns a
    mask of the missing values. Joining and cutting these costs a copy of
    the arrays at most; joining frames costs much more."""

    __slots__ = ("layout", "arrays", "masks")

    def __init__(self, layout, arrays, masks):
        self.layout = layout
        self.arrays = arrays
        self.masks = masks

    def __len__(self):
        return len(self.arrays[self.layout.columns[0]])

    @classmethod
    def empty(cls, layout):
        arrays = {layout.columns[0]: np.array([], dtype="datetime64[ns]")}
        masks = {}
        for name, kind in layout.fields:
            if kind == "float":
                arrays[name] = np.array([], dtype=np.float64)
            elif kind == "int":
                arrays[name] = np.array([], dtype=np.int64)
                masks[name] = np.array([], dtype=bool)
        return cls(layout, arrays, masks)

    @classmethod
    def join(cls, parts):
        if len(parts) == 1:
            return parts[0]
        first = parts[0]
        return cls(first.layout,
                   {k: np.concatenate([p.arrays[k] for p in parts]) for k in first.arrays},
                   {k: np.concatenate([p.masks[k] for p in parts]) for k in first.masks})

    def cut(self, n):
        """The first n rows, and the rest (views, no copy)."""
        head = Rows(self.layout, {k: v[:n] for k, v in self.arrays.items()},
                    {k: v[:n] for k, v in self.masks.items()})
        rest = Rows(self.layout, {k: v[n:] for k, v in self.arrays.items()},
                    {k: v[n:] for k, v in self.masks.items()})
        return head, rest

    def frame(self, offset=0):
        """The rows as a frame whose index counts the answer's rows from
        ``offset``."""
        data = {}
        for name, array in self.arrays.items():
            mask = self.masks.get(name)
            data[name] = array if mask is None else pd.arrays.IntegerArray(array, mask)
        return pd.DataFrame(data, index=pd.RangeIndex(offset, offset + len(self)), copy=False)


def to_rows(batch, layout, strict=True):
    """Turns ``batch`` (complete data records of ``layout``, each ended by
    LF) into Rows. Raises MorvaneError naming the record when one is
    malformed; with ``strict`` false, returns None instead when the records
    do not hold the layout's number of fields (other records among them)."""
    if not (_fields_fit(batch, layout) and _fields_fit(batch[batch.rfind(b"\n", 0, -1) + 1:],
                                                        layout)):
        if not strict:
            return None
        _raise_malformed(batch, layout)
    usecols = tuple(range(2, 2 + len(layout.fields)))
    try:
        raw = _load(batch, usecols, _typed_dtype(layout))
        # The prices are copied out (the integers are made anew below), so
        # that a batch's rows do not keep its date and time texts alive.
        values = {n: np.array(raw[n]) if t == "float" else raw[n]
                  for n, t in layout.fields if t in ("float", "int")}
        missing = {}
    except ValueError:
        # Empty values, "-" and numbers NumPy will not read as such take
        # the slower road through byte strings.
        try:
            raw = _load(batch, usecols, _text_dtype(layout))
        except ValueError:
            if not strict:
                return None
            _raise_malformed(batch, layout)
        values, missing = _numbers_from_text(raw, layout)

    arrays = {layout.columns[0]: _stamps(raw, layout)}
    masks = {}
    for name, kind in layout.fields:
        if kind == "float":
            arrays[name] = values[name]
        elif kind == "int":
            arrays[name], masks[name] = _integers(name, values[name], missing.get(name))
    if layout.dash_volume_is_zero and "volume" in missing:
        fill = masks["volume"] & ~np.isnan(arrays["open"])
        arrays["volume"][fill] = 0
        masks["volume"][fill] = False
    return Rows(layout, arrays, masks)


def _fields_fit(line_start, layout):
    """Whether the record at the start of ``line_start`` has the layout's
    number of fields. Only a batch's first and last records are counted:
    the server writes every record of an answer by one format."""
    end = line_start.find(b"\n")
    return line_start.count(b"|", 0, end) == layout.pipes_per_record


def _load(batch, usecols, dtype):
    # latin-1 maps every byte to one character, so any store text passes
    # through the reader unchanged.
    return np.loadtxt(io.BytesIO(batch), delimiter="|", usecols=usecols, dtype=dtype,
                      comments=None, encoding="latin1", ndmin=1)


@lru_cache(maxsize=None)
def _typed_dtype(layout):
    # Integers are read as floats too: NumPy's integer reader quietly
    # truncates "12.5" to 12.
    width = {"date": f"S{_DATE_WIDTH}", "time": f"S{_TIME_WIDTH}", "float": "f8", "int": "f8"}
    return np.dtype([(n, width[t]) for n, t in layout.fields])


@lru_cache(maxsize=None)
def _text_dtype(layout):
    width = {"date": _DATE_WIDTH, "time": _TIME_WIDTH}
    return np.dtype([(n, f"S{width.get(t, _TEXT_WIDTH)}") for n, t in layout.fields])


def _numbers_from_text(raw, layout):
    values, masks = {}, {}
    for name, kind in layout.fields:
        if kind not in ("float", "int"):
            continue
        text = raw[name]
        _check_width(text, _TEXT_WIDTH, name)
        missing = (text == b"") | (text == b"-")
        out = np.full(len(text), np.nan)
        try:
            out[~missing] = text[~missing].astype(np.float64)
        except ValueError as e:
            raise MorvaneError(f"column {name}: {e}") from None
        values[name] = out
        masks[name] = missing
    return values, masks


def _integers(name, values, missing):
    """Sizes and volumes as int64 values and a mask of the missing ones. A
    stored value that is not a whole number is rounded half to even, as the
    server itself rounds the sizes and volumes it reads as integers."""
    if missing is None:
        missing = np.zeros(len(values), dtype=bool)
    finite = np.isfinite(values) | missing
    if not finite.all():
        raise MorvaneError(f"column {name}: {values[~finite][0]} is not a number of units")
    whole = np.rint(np.where(missing, 0.0, values))
    return whole.astype(np.int64), missing.copy()


def _stamps(raw, layout):
    names = [n for n, t in layout.fields if t == "date"]
    days = _days(raw[names[0]])
    times = [n for n, t in layout.fields if t == "time"]
    if not times:
        return days
    # A time column gives the time of day; a date text that carries one too
    # (a date-time column in the store) counts by its day.
    days = days.astype("datetime64[D]").astype("datetime64[ns]")
    return days + _time_of_day(raw[times[0]]).astype("timedelta64[ns]")


def _days(text):
    """Date texts to datetime64[ns]. Rows of an answer come in date order,
    so a batch holds few runs of equal dates: each run's text is read once."""
    text = np.ascontiguousarray(text)
    _check_width(text, _DATE_WIDTH, "date")
    bounds = np.flatnonzero(text[1:] != text[:-1]) + 1
    if len(bounds) < 256:
        starts = np.concatenate(([0], bounds))
        days = np.array([_read_date(text[s]) for s in starts], dtype="datetime64[ns]")
        return np.repeat(days, np.diff(np.append(starts, len(text))))
    uniq, where = np.unique(text, return_inverse=True)
    return np.array([_read_date(u) for u in uniq], dtype="datetime64[ns]")[where]


# The stored date forms: yyyy/m/d and yyyy/mm/dd (also with "-"), optionally
# followed by a time of day.
_DATE = re.compile(rb"(\d{4})[/-](\d{1,2})[/-](\d{1,2})"
                   rb"(?:[ T](\d{1,2}):(\d{1,2})(?::(\d{1,2})(?:\.(\d{1,9}))?)?)?")


@lru_cache(maxsize=4096)
def _read_date(text):
    m = _DATE.fullmatch(text.strip())
    if not m:
        raise MorvaneError(f"unreadable date {text.decode('latin1')!r}")
    y, mo, d, h, mi, s, frac = m.groups()
    try:
        day = np.datetime64(f"{int(y):04d}-{int(mo):02d}-{int(d):02d}", "ns")
    except ValueError:
        raise MorvaneError(f"unreadable date {text.decode('latin1')!r}") from None
    if h is None:
        return day
    secs = int(h) * 3600 + int(mi) * 60 + int(s or 0)
    ns = secs * _NS_PER_SECOND + int((frac or b"0").ljust(9, b"0"))
    return day + np.timedelta64(ns, "ns")


def _time_of_day(text):
    """hh:nn:ss texts to nanoseconds since midnight, vectorised; other forms
    of a time (h:nn, fractions of a second) one distinct text at a time."""
    text = np.ascontiguousarray(text)
    _check_width(text, _TIME_WIDTH, "time")
    b = text.view(np.uint8).reshape(-1, _TIME_WIDTH)
    digits = b[:, [0, 1, 3, 4, 6, 7]].astype(np.int64) - 48
    if ((b[:, 8:] == 0).all() and (b[:, 2] == 58).all() and (b[:, 5] == 58).all()
            and ((digits >= 0) & (digits <= 9)).all()):
        secs = ((digits[:, 0] * 10 + digits[:, 1]) * 3600 + (digits[:, 2] * 10 + digits[:, 3]) * 60
                + digits[:, 4] * 10 + digits[:, 5])
        return secs * _NS_PER_SECOND
    uniq, where = np.unique(text, return_inverse=True)
    return np.array([_read_time(u) for u in uniq], dtype=np.int64)[where]


_TIME = re.compile(rb"(\d{1,2}):(\d{1,2})(?::(\d{1,2})(?:\.(\d{1,9}))?)?")


def _read_time(text):
    m = _TIME.fullmatch(text.strip())
    if not m:
        raise MorvaneError(f"unreadable time {text.decode('latin1')!r}")
    h, mi, s, frac = m.groups()
    secs = int(h) * 3600 + int(mi) * 60 + int(s or 0)
    return secs * _NS_PER_SECOND + int((frac or b"0").ljust(9, b"0"))


def _check_width(text, width, name):
    b = np.ascontiguousarray(text).view(np.uint8).reshape(-1, width)
    if len(b) and (b[:, width - 1] != 0).any():
        raise MorvaneError(f"column {name}: a value longer than {width - 1} bytes")


def _raise_malformed(batch, layout):
    for line in batch.split(b"\n"):
        if line and line.count(b"|") != layout.pipes_per_record:
            text = line.rstrip(b"\r").decode("latin1")
            raise MorvaneError(f"malformed record {text!r}")
    raise MorvaneError("malformed records")
