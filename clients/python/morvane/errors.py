"""The exceptions the client raises. Every one derives from MorvaneError, so
``except morvane.MorvaneError`` catches all of them; InvalidRequest is also
a ValueError."""


class MorvaneError(Exception):
    """An answer the client could not turn into a frame."""


class NoData(MorvaneError):
    """The server answered with its no-data records (for example
    "Record not found."): the product has nothing in the range asked for.

    ``records`` holds the error texts in the order received; ``names`` the
    product names the answer carried (possibly empty)."""

    def __init__(self, records, names=None):
        self.records = list(records)
        self.names = dict(names or {})
        super().__init__(" ".join(self.records) or "no data")


class InvalidRequest(MorvaneError, ValueError):
    """The server refused a parameter of the request (a date or time it could
    not read, or a date or time given without its partner); the message is
    the server's text, for example "Invalid number of parameters."."""


class ServerBusy(MorvaneError):
    """The server is at its limit of concurrent requests (or shutting down):
    nothing was answered, and the same request may be sent again later."""


class IncompleteAnswer(MorvaneError):
    """The answer ended early: the connection was cut, a record was cut in
    the middle, or the count of records the server announced differs from
    the records received. Frames built from such an answer are never
    returned.

    ``received`` is the number of data records read; ``expected`` the count
    the server announced, or None when it announced none."""

    def __init__(self, message, received=0, expected=None):
        self.received = received
        self.expected = expected
        super().__init__(message)


class ServerError(MorvaneError):
    """Any other answer than 200: ``status`` and ``reason`` of the status
    line, ``body`` the first kilobytes of the body as text."""

    def __init__(self, status, reason, body=""):
        self.status = status
        self.reason = reason
        self.body = body
        super().__init__(f"HTTP {status} {reason}".strip())
