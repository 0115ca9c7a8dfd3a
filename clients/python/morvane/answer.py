"""One answer's records, read from its byte blocks into frames.

An answer is a run of records, one per line: the product's name notes,
the data records, then a count note or error records. Data records are
gathered into batches of complete lines and converted together
(columns.to_rows); the other records are read one by one. At the end the
answer is judged: the count note must match the records received, error
records mean no data or a refused parameter, and an answer that stops where
its kind of history cannot stop is incomplete.
"""
from dataclasses import dataclass

from . import columns
from .errors import IncompleteAnswer, InvalidRequest, MorvaneError, NoData

BATCH_BYTES = 1 << 20


@dataclass(frozen=True)
class Ending:
    """How an answer of one kind of history ends. ``counted``: it closes
    with a count note, so an answer without one (and without error records)
    was cut. Otherwise ``names_only_is_no_data``: an answer of names alone
    means nothing was found; when false, an answer with no record at all
    was cut (the delayed quote always sends its record or an error)."""

    counted: bool
    names_only_is_no_data: bool = False


COUNTED = Ending(counted=True)
QUOTE = Ending(counted=False)
FAST_BARS = Ending(counted=False, names_only_is_no_data=True)

_ENAME = b"NOTE|ENAME|"
_CNAME = b"NOTE|CNAME|"
_COUNT = b"NOTE|RECORDCOUNT|"
_NOTE = b"NOTE|"
_ERROR = b"ERROR|"
# The server's parameter errors all begin so; the others mean no data.
_PARAMETER_ERROR = "Invalid "


class Answer:
    """Reads one answer. ``batches()`` yields the typed columns
    (columns.Rows) of each batch of data records as they arrive, then judges
    the ending (raising NoData, InvalidRequest or IncompleteAnswer);
    ``names`` holds the product names once the first batch is out.

    ``lines_per_batch`` bounds how many records wait before they are
    converted (a batch is also converted once it holds BATCH_BYTES)."""

    def __init__(self, blocks, layout, ending, text_encoding="utf-8", lines_per_batch=None):
        self._blocks = blocks
        self._layout = layout
        self._ending = ending
        self._text_encoding = text_encoding
        self._lines_per_batch = lines_per_batch or float("inf")
        self.names = {"ename": None, "cname": None}
        self.notes = []
        self.errors = []
        self.count = None
        self.received = 0

    def batches(self):
        parts, size, lines = [], 0, 0
        count_lines = self._lines_per_batch != float("inf")
        try:
            for block in self._blocks:
                parts.append(block)
                size += len(block)
                if count_lines:
                    lines += block.count(b"\n")
                if size >= BATCH_BYTES or lines >= self._lines_per_batch:
                    joined = b"".join(parts)
                    cut = joined.rfind(b"\n") + 1
                    parts = [joined[cut:]]
                    size = len(parts[0])
                    lines = 0
                    rows = self._batch(joined[:cut])
                    if rows is not None:
                        yield rows
        except IncompleteAnswer as e:  # cut under the reader: say how far it got
            e.received, e.expected = self.received, self.count
            raise
        tail = b"".join(parts)
        cut = tail.rfind(b"\n") + 1
        rows = self._batch(tail[:cut])
        if rows is not None:
            yield rows
        self._finish(tail[cut:])

    def _batch(self, batch):
        if not batch:
            return None
        kind = self._layout.kind
        # Notes and errors stand before and after the data records: they
        # are peeled off both ends, and the records between are converted
        # together. Should others stand among them after all, the records
        # do not fit the layout and the batch is sorted line by line.
        start = 0
        while start < len(batch) and not batch.startswith(kind, start):
            end = batch.index(b"\n", start) + 1
            self._other(batch[start:end].rstrip(b"\r\n"))
            start = end
        tail = []
        stop = len(batch)
        while stop > start:
            line = batch.rfind(b"\n", start, stop - 1) + 1 or start
            if batch.startswith(kind, line):
                break
            tail.append(batch[line:stop].rstrip(b"\r\n"))
            stop = line
        rows = None
        if stop > start:
            middle = batch[start:stop]
            rows = columns.to_rows(middle, self._layout, strict=False)
            if rows is None:
                rows = self._sorted_batch(middle)
            self.received += len(rows)
        for line in reversed(tail):
            self._other(line)
        return rows

    def _sorted_batch(self, batch):
        kind = self._layout.kind
        data = []
        for line in batch.split(b"\n")[:-1]:
            if line.startswith(kind):
                data.append(line)
            else:
                self._other(line.rstrip(b"\r"))
        return columns.to_rows(b"\n".join(data) + b"\n", self._layout)

    def _other(self, line):
        if line.startswith(_ENAME):
            self.names["ename"] = self._text(line[len(_ENAME):])
        elif line.startswith(_CNAME):
            self.names["cname"] = self._text(line[len(_CNAME):])
        elif line.startswith(_COUNT):
            try:
                self.count = int(line[len(_COUNT):].rstrip(b"|"))
            except ValueError:
                raise MorvaneError(f"unreadable count note {line!r}") from None
        elif line.startswith(_ERROR):
            self.errors.append(self._text(line[len(_ERROR):]))
        elif line.startswith(_NOTE):
            self.notes.append(self._text(line[len(_NOTE):]))
        else:
            raise MorvaneError(f"unexpected record {line[:200]!r}")

    def _text(self, field):
        # The closing "|" goes; one inside a product name stays.
        if field.endswith(b"|"):
            field = field[:-1]
        return field.decode(self._text_encoding, "replace")

    def _finish(self, tail):
        if tail:
            # The daily history and the delayed quote end their no-data
            # answer with an error record that has no line end; anything
            # else without one was cut in the middle.
            if tail.startswith(_ERROR) and tail.endswith(b"|"):
                self._other(tail)
            else:
                raise IncompleteAnswer("the answer ends inside a record after "
                                       f"{self.received} records", self.received, self.count)
        for text in self.errors:
            if text.startswith(_PARAMETER_ERROR):
                raise InvalidRequest(text)
        if self.count is not None:
            if self.count != self.received:
                raise IncompleteAnswer(f"the server announced {self.count} records, "
                                       f"{self.received} arrived", self.received, self.count)
            return
        if self.received == 0 and (self.errors or self._ending.names_only_is_no_data):
            raise NoData(self.errors, self.names)
        if self._ending.counted:
            raise IncompleteAnswer(f"the answer ended after {self.received} records without its "
                                   "count note", self.received)
        if self.received == 0:
            raise IncompleteAnswer("the answer ended without a record", 0)
