"""One GET to the server, its body handed on as decoded byte blocks while it
arrives. The only module that speaks HTTP: the record reader above it sees
bytes, so it can be fed from anything.

The server streams its answers (chunked, never a length up front), so a
connection cut before the terminating chunk is the one sign that an answer
without a count note is short; it raises IncompleteAnswer here.
"""
import http.client
import urllib.parse
import zlib

from .errors import IncompleteAnswer, MorvaneError, ServerBusy, ServerError

try:
    import zstandard
except ImportError:  # zstd is asked for only when it can be decoded
    zstandard = None

ACCEPT_ENCODING = "zstd, gzip" if zstandard is not None else "gzip"
USER_AGENT = "morvane-python/0.1"
BLOCK_SIZE = 1 << 20

# The text of the server's page for a request beyond its limit of requests
# in progress (status 500, text/html).
_LIMIT_TEXT = "Maximum number of concurrent connections exceeded"


def split_url(url):
    """``http://host:port/prefix`` to (scheme, host, port, path prefix)."""
    parts = urllib.parse.urlsplit(url if "//" in url else "http://" + url)
    if parts.scheme not in ("http", "https"):
        raise ValueError(f"not an http or https address: {url!r}")
    if not parts.hostname:
        raise ValueError(f"no host in {url!r}")
    return parts.scheme, parts.hostname, parts.port, parts.path or "/"


def get(url, query, timeout):
    """Sends GET ``url?query`` and yields the body's decoded bytes as they
    arrive. Raises ServerBusy for the server's limit page (and 503),
    ServerError for any other status than 200, IncompleteAnswer when the
    connection is cut or a compressed body ends early, and OSError when no
    connection can be made. The connection is closed when the generator
    ends or is closed."""
    scheme, host, port, path = split_url(url)
    cls = http.client.HTTPSConnection if scheme == "https" else http.client.HTTPConnection
    conn = cls(host, port, timeout=timeout)
    try:
        conn.request("GET", f"{path}?{query}", headers={
            "Accept-Encoding": ACCEPT_ENCODING, "User-Agent": USER_AGENT})
        resp = conn.getresponse()
        if resp.status != 200:
            _refuse(resp)
        yield from decode(_raw_blocks(resp), resp.getheader("Content-Encoding"))
    finally:
        conn.close()


def _refuse(resp):
    try:
        body = resp.read(4096).decode("latin1", "replace")
    except (OSError, http.client.HTTPException):
        body = ""
    reason = resp.reason or ""
    at_limit = resp.status == 500 and (_LIMIT_TEXT in reason or _LIMIT_TEXT in body)
    if at_limit or resp.status == 503:
        raise ServerBusy(f"HTTP {resp.status} {reason}".strip())
    raise ServerError(resp.status, reason, body)


def _raw_blocks(resp):
    received = 0
    while True:
        try:
            block = resp.read1(BLOCK_SIZE)
        except (OSError, http.client.HTTPException) as e:
            raise IncompleteAnswer(f"the connection was cut after {received} bytes ({e!r})") from e
        if not block:
            break
        received += len(block)
        yield block
    if resp.length:  # a Content-Length that was not reached
        raise IncompleteAnswer(f"the connection was cut after {received} bytes, "
                               f"{resp.length} short of the announced length")


def decode(blocks, content_encoding):
    """Undoes ``content_encoding`` (identity, gzip, deflate or zstd) on a
    stream of byte blocks, block by block, so memory stays bounded.
    Concatenated gzip members or zstd frames are all decoded."""
    codings = [c.strip().lower() for c in (content_encoding or "").split(",")]
    codings = [c for c in codings if c and c != "identity"]
    if not codings:
        yield from blocks
        return
    if len(codings) > 1:
        raise MorvaneError(f"unsupported Content-Encoding {content_encoding!r}")
    make = _decoder_factory(codings[0])
    decoder = None
    for block in blocks:
        while block:
            if decoder is None:
                decoder = make()
            try:
                out = decoder.decompress(block)
            except Exception as e:  # zlib.error, zstandard.ZstdError
                raise MorvaneError(f"the {codings[0]} body cannot be decoded: {e}") from e
            if out:
                yield out
            if decoder.eof:
                block = decoder.unused_data
                decoder = None
            else:
                block = b""
    if decoder is not None:
        raise IncompleteAnswer(f"the {codings[0]} body ends inside its compressed data")


def _decoder_factory(coding):
    if coding in ("gzip", "x-gzip"):
        return lambda: zlib.decompressobj(16 + zlib.MAX_WBITS)
    if coding == "deflate":
        return zlib.decompressobj
    if coding == "zstd" and zstandard is not None:
        return lambda: zstandard.ZstdDecompressor().decompressobj()
    raise MorvaneError(f"unsupported Content-Encoding {coding!r}")
