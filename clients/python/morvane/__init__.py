"""Morvane's Python client: the server's histories as pandas frames.

    >>> import morvane
    >>> m = morvane.Client("http://127.0.0.1:8080")
    >>> m.ticks("0005", "2026-12-01", "2026-12-10")

See clients/python/README.md.
"""
from .client import DEFAULT_URL, Client
from .errors import (IncompleteAnswer, InvalidRequest, MorvaneError, NoData, ServerBusy,
                     ServerError)

__version__ = "0.1.0"

__all__ = ["Client", "DEFAULT_URL", "MorvaneError", "NoData", "InvalidRequest", "ServerBusy",
           "IncompleteAnswer", "ServerError", "__version__"]
