#!/usr/bin/env bash
# The systemd unit of deploy/systemd: systemd-analyze verify finds nothing
# wrong with it, morvane-server accepts its command line, and systemd waits
# longer for a stop than the server's drain.
#   tests/deploy/systemd_unit_test.sh BUILD_DIR
# Exit 77 (skipped) without systemd-analyze.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?usage: systemd_unit_test.sh BUILD_DIR}" && pwd)
unit=$root/deploy/systemd/morvane-server.service

command -v systemd-analyze >/dev/null || { echo "systemd-analyze is not installed: skipped"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# ExecStart with its continuation lines joined.
exec_start=$(sed -e ':a' -e '/\\$/N; s/\\\n//; ta' "$unit" | sed -n 's/^ExecStart=//p')
program=${exec_start%% *}
args=${exec_start#"$program"}

# verify checks that the program exists: point it at the built one.
sed -e ':a' -e '/\\$/N; s/\\\n//; ta' "$unit" |
  sed "s|^ExecStart=$program|ExecStart=$build/morvane-server|" >"$work/morvane-server.service"
if ! out=$(cd "$work" && systemd-analyze verify "$work/morvane-server.service" 2>&1) || [[ -n $out ]]; then
  echo "systemd-analyze verify:"
  echo "$out"
  exit 1
fi

# Every option parsed (and refused when wrong) before --help answers.
# shellcheck disable=SC2086
"$build/morvane-server" $args --help >/dev/null || { echo "morvane-server refuses:$args"; exit 1; }

drain=$(sed -n 's/.*--drain-timeout \([0-9.]*\).*/\1/p' <<<"$exec_start")
stop=$(sed -n 's/^TimeoutStopSec=\([0-9]*\)s\?$/\1/p' "$unit")
[[ -n $drain && -n $stop ]] || { echo "no --drain-timeout or TimeoutStopSec in the unit"; exit 1; }
awk -v d="$drain" -v s="$stop" 'BEGIN { exit !(s >= d + 10) }' ||
  { echo "TimeoutStopSec=$stop leaves too little beyond --drain-timeout $drain"; exit 1; }
grep -q '^KillSignal=SIGTERM$' "$unit" || { echo "the unit does not stop with SIGTERM"; exit 1; }
echo "morvane-server.service: verified"
