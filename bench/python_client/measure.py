"""Times the Python client (clients/python) on one mode "0" request, for
bench/run's section F. Run with Debian's interpreter, which has pandas:

    /usr/bin/python3 bench/python_client/measure.py URL SYMBOL DAY FROM TO [ROWS]

Without ROWS the answer becomes one frame (Client.ticks); with ROWS it is
streamed in frames of that many rows (Client.iter_ticks), each dropped once
counted. Prints: records, seconds from the request to the last frame, the
peak resident memory in KiB before the request (the interpreter with pandas
loaded) and after it.
"""
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__)))), "clients", "python"))
import morvane  # noqa: E402


def peak_kib():
    # The process's own high-water mark: getrusage's ru_maxrss would also
    # count the parent's, which it inherits across fork and exec.
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def main():
    url, symbol, day, time_from, time_to = sys.argv[1:6]
    rows = int(sys.argv[6]) if len(sys.argv) > 6 else None
    client = morvane.Client(url, timeout=600)
    before = peak_kib()
    start = time.perf_counter()
    if rows:
        n = 0
        for frame in client.iter_ticks(symbol, day, day, time_from=time_from, time_to=time_to,
                                       rows=rows):
            n += len(frame)
    else:
        n = len(client.ticks(symbol, day, day, time_from=time_from, time_to=time_to))
    seconds = time.perf_counter() - start
    after = peak_kib()
    print(n, seconds, before, after)


if __name__ == "__main__":
    main()
