"""The command line: one history, shown or written as CSV.

    python3 -m morvane ticks 0005 --from 2026-12-01 --to 2026-12-10 [--csv FILE]
    python3 -m morvane bars 0005 --seconds 60 --from 2026-12-09 --to 2026-12-09
    python3 -m morvane quote 0005

The server is --url, or $MORVANE_URL, or http://127.0.0.1:8080. Exit status:
0 answered, 1 no data or a failed answer, 2 a refused request.
"""
import argparse
import os
import sys

from .client import DEFAULT_URL, Client
from .errors import InvalidRequest, MorvaneError, NoData

# kind of history: (method, options beyond the common ones)
_KINDS = {
    "ticks": ("ticks", ()),
    "price-changes": ("price_changes", ("days",)),
    "daily": ("daily", ()),
    "quote": ("delayed_quote", ()),
    "bars": ("bars", ("seconds", "days")),
    "minute-bars": ("minute_bars", ("minutes", "back")),
    "bar-grid": ("bar_grid", ("seconds", "days")),
}

_HELP = {
    "ticks": "every tick (mode 0)",
    "price-changes": "the ticks at which the price changed (mode 3)",
    "daily": "one bar per trading day (mode 1)",
    "quote": "the latest tick at least an hour old (mode 2)",
    "bars": "bars of --seconds computed from ticks (mode 4)",
    "minute-bars": "bars of --minutes from the stored minute bars (mode 5)",
    "bar-grid": "a full grid of bars of --seconds, empty bars included (mode 6)",
}


def _parser():
    common = argparse.ArgumentParser(add_help=False)
    common.add_argument("symbol", help="product code, for example 0005")
    common.add_argument("--url", default=os.environ.get("MORVANE_URL", DEFAULT_URL),
                        help="the server (default $MORVANE_URL or %(default)s)")
    common.add_argument("--csv", metavar="FILE",
                        help="write the rows as CSV to FILE ('-' for standard output), "
                             "streamed as they arrive")
    common.add_argument("--timeout", type=float, default=60.0,
                        help="seconds to wait for the server (default %(default)s)")
    days = argparse.ArgumentParser(add_help=False)
    days.add_argument("--from", dest="start", metavar="DAY", help="first day, 2026-12-01")
    days.add_argument("--to", dest="end", metavar="DAY", help="last day (give both or neither)")
    times = argparse.ArgumentParser(add_help=False)
    times.add_argument("--time-from", metavar="HH:MM[:SS]", help="first time of each day")
    times.add_argument("--time-to", metavar="HH:MM[:SS]",
                       help="last time of each day (give both or neither)")

    ap = argparse.ArgumentParser(prog="python3 -m morvane", description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = ap.add_subparsers(dest="kind", required=True, metavar="KIND")
    for kind, (_, extra) in _KINDS.items():
        parents = [common]
        if kind != "quote":
            parents.append(days)
        if kind not in ("quote", "daily"):
            parents.append(times)
        p = sub.add_parser(kind, parents=parents, help=_HELP[kind], description=_HELP[kind])
        if "seconds" in extra:
            p.add_argument("--seconds", type=int, default=300 if kind == "bar-grid" else 60,
                           help="bar length (default %(default)s)")
        if "minutes" in extra:
            p.add_argument("--minutes", type=int, default=1, help="bar length (default 1)")
        if "back" in extra:
            p.add_argument("--back", type=int, help="bars from before the start to show first")
        if "days" in extra:
            p.add_argument("--days", type=int, help="only the last N trading days of the range")
        p.add_argument("--allow-empty", action="store_true",
                       help="no data is an empty answer (exit 0), not an error")
    return ap


def _call_args(a):
    method, extra = _KINDS[a.kind]
    args = [a.symbol]
    if "seconds" in extra:
        args.append(a.seconds)
    if "minutes" in extra:
        args.append(a.minutes)
    kw = {"allow_empty": a.allow_empty}
    if a.kind != "quote":
        kw.update(start=a.start, end=a.end)
    if a.kind not in ("quote", "daily"):
        kw.update(time_from=a.time_from, time_to=a.time_to)
    if "back" in extra:
        kw["back"] = a.back
    if "days" in extra:
        kw["days"] = a.days
    return method, args, kw


def _write_csv(client, method, args, kw, path):
    out = sys.stdout if path == "-" else open(path, "w", newline="")
    try:
        if method == "delayed_quote":
            frames = [client.delayed_quote(*args, **kw)]
        else:
            frames = getattr(client, "iter_" + method)(*args, **kw)
        first = True
        for frame in frames:
            stamp = "%Y-%m-%d %H:%M:%S" if "time" in frame.columns else None
            frame.to_csv(out, header=first, index=False, date_format=stamp)
            first = False
    finally:
        if out is not sys.stdout:
            out.close()


def main(argv=None):
    a = _parser().parse_args(argv)
    client = Client(a.url, timeout=a.timeout)
    method, args, kw = _call_args(a)
    try:
        if a.csv:
            _write_csv(client, method, args, kw, a.csv)
        else:
            frame = getattr(client, method)(*args, **kw)
            names = " / ".join(n for n in (frame.attrs.get("ename"), frame.attrs.get("cname")) if n)
            print(f"{a.symbol}{'  ' + names if names else ''}: {len(frame)} rows")
            print(frame.to_string(max_rows=40))
    except BrokenPipeError:
        # The reader of standard output went away (`| head`): not an error.
        # Python would complain again when it flushes at exit.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 0
    except InvalidRequest as e:
        print(f"morvane: the server refused the request: {e}", file=sys.stderr)
        return 2
    except NoData as e:
        print(f"morvane: no data: {e}", file=sys.stderr)
        return 1
    except (MorvaneError, OSError) as e:
        print(f"morvane: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
