#!/usr/bin/env bash
# Times `morvane-load ticks` on a generated CSV of tick rows into a SQLite
# directory store (the embedded default) and prints rows per second.
#   bench/load_ticks.sh [BUILD_DIR] [ROWS]     defaults: build/release, 1000000
# The file spreads its rows over five days and 40 products, as a day's feed
# interleaves them.
set -euo pipefail
build=${1:-build/release}
rows=${2:-1000000}
bin=$(cd "$build" && pwd)/morvane-load
[[ -x $bin ]] || { echo "load_ticks: no morvane-load in $build" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/aliases.ini" <<'INI'
[HISTDATA]
DRIVER=SQLITE
PATH=ticks/
INI

python3 - "$rows" >"$work/ticks.csv" <<'PY'
import sys
rows = int(sys.argv[1])
out = sys.stdout
out.write("Date,Time,Symbol,Bid,Offer,Price,BidSize,Volume,OfferSize\n")
per_day = max(1, rows // 5)
vol = {}
lines = []
for i in range(rows):
    day = 3 + i // per_day
    s = i % per_day * 19800 // per_day
    sec = 34200 + s if s < 9000 else 46800 + s - 9000
    sym = "%04d" % (i % 40 + 1)
    v = vol.get((day, sym), 0) + 100 * (i % 7 + 1)
    vol[(day, sym)] = v
    p = 50 + (i % 13) * 0.05
    lines.append("2003-07-%02d,%02d:%02d:%02d,%s,%.2f,%.2f,%.2f,%d,%d,%d\n" %
                 (day, sec // 3600, sec // 60 % 60, sec % 60, sym, p - 0.05, p, p, 400, v, 800))
    if len(lines) == 10000:
        out.write("".join(lines))
        lines = []
out.write("".join(lines))
PY

cd "$work"
start=$(date +%s.%N)
"$bin" --aliases aliases.ini ticks ticks.csv
end=$(date +%s.%N)
python3 -c "import sys; r=int(sys.argv[1]); t=float(sys.argv[3])-float(sys.argv[2]); print(f'{r} rows in {t:.2f} s: {r/t:,.0f} rows/s')" "$rows" "$start" "$end"
