#!/usr/bin/env bash
# A real Prometheus scraping a real morvane-server's admin listener:
#   - the alerting rules of deploy/prometheus pass `promtool check rules`
#     and their cases `promtool test rules`;
#   - /metrics passes `promtool check metrics`;
#   - after known requests, Prometheus's query API returns
#     morvane_requests_total equal to them, mode by mode;
#   - the logrotate snippet of deploy/logrotate parses.
# Prometheus runs as a plain process of this test, on a free loopback port,
# with its own configuration and storage directory.
#   tests/deploy/prometheus_test.sh BUILD_DIR
# Exit 77 (skipped) when Prometheus is not installed.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?usage: prometheus_test.sh BUILD_DIR}" && pwd)
for tool in prometheus promtool curl; do
  command -v "$tool" >/dev/null ||
    { echo "$tool is not installed (scripts/bootstrap installs it): skipped"; exit 77; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

(cd "$root/deploy/prometheus" && promtool check rules morvane-rules.yml &&
  promtool test rules morvane-rules.test.yml) || fail "the alerting rules"
if command -v logrotate >/dev/null || [[ -x /usr/sbin/logrotate ]]; then
  # The service's user is the deployment's; here, the test's own.
  sed "s/create 0640 morvane morvane/create 0640 $(id -un) $(id -gn)/" \
    "$root/deploy/logrotate/morvane-server" >"$work/logrotate.conf"
  PATH=$PATH:/usr/sbin logrotate -d -s "$work/logrotate.state" "$work/logrotate.conf" \
    >"$work/logrotate.out" 2>&1 || { cat "$work/logrotate.out"; fail "the logrotate snippet"; }
fi

# A small market, and a server on it with its admin listener.
store=$work/store
mkdir -p "$store/ticks"
printf '[MORVANE]\nMaxConnection=10\n\n[OMS_DATABASE]\nDSN_source=omsdata\n' >"$store/oms.ini"
for alias in Historical plrdata omsdata; do
  printf '[%s]\nDRIVER=SQLITE\nPATH=%s.db\n\n' "$alias" "${alias,,}"
done >"$store/aliases.ini"
printf '[HISTDATA]\nDRIVER=SQLITE\nPATH=ticks\n' >>"$store/aliases.ini"
(cd "$store" && "$build/morvane-load" init >/dev/null &&
  "$build/morvane-load" demo --days 2 --symbols 2 --ticks-per-day 100 --end 2003-07-07 >/dev/null)
(cd "$store" && exec env MORVANE_LOG="$store/KMDL.log" "$build/morvane-server" \
  --listen 127.0.0.1:0 --admin-listen 127.0.0.1:0 --clock "2003-07-07 17:30:00" \
  >"$work/server.out" 2>&1) &
pids+=($!)
for _ in $(seq 100); do grep -q "admin pages" "$work/server.out" 2>/dev/null && break; sleep 0.05; done
port=$(sed -n 's/.*listening on http:\/\/127.0.0.1:\([0-9]*\)$/\1/p' "$work/server.out")
admin=$(sed -n 's/.*admin pages on http:\/\/127.0.0.1:\([0-9]*\)$/\1/p' "$work/server.out")
[[ -n $port && -n $admin ]] || { cat "$work/server.out"; fail "morvane-server did not start"; }

# Known requests: 7 of mode 2, 3 of mode 0.
for _ in $(seq 7); do curl -sf -o /dev/null "http://127.0.0.1:$port/?symbol=0001&mode=2"; done
for _ in $(seq 3); do curl -sf -o /dev/null "http://127.0.0.1:$port/?symbol=0001&mode=0"; done

curl -sf "http://127.0.0.1:$admin/metrics" >"$work/metrics.txt"
promtool check metrics <"$work/metrics.txt" || fail "promtool check metrics"

# Prometheus on a free loopback port, scraping every second.
prom_port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cp "$root/deploy/prometheus/morvane-rules.yml" "$work/"
cat >"$work/prometheus.yml" <<YAML
global:
  scrape_interval: 1s
  evaluation_interval: 1s
rule_files:
  - $work/morvane-rules.yml
scrape_configs:
  - job_name: morvane
    static_configs:
      - targets: ['127.0.0.1:$admin']
YAML
prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/tsdb" \
  --web.listen-address="127.0.0.1:$prom_port" >"$work/prometheus.log" 2>&1 &
pids+=($!)

query() {
  curl -sf --get "http://127.0.0.1:$prom_port/api/v1/query" --data-urlencode "query=$1" |
    /usr/bin/python3 -c 'import json,sys; r=json.load(sys.stdin)["data"]["result"]; print(r[0]["value"][1] if r else "")'
}
deadline=$((SECONDS + 30))
while :; do
  got2=$(query 'sum(morvane_requests_total{job="morvane",mode="2"})' 2>/dev/null || true)
  [[ $got2 == 7 ]] && break
  ((SECONDS < deadline)) || { tail -20 "$work/prometheus.log"; fail "mode 2: Prometheus says '$got2', not 7"; }
  sleep 0.5
done
got0=$(query 'sum(morvane_requests_total{job="morvane",mode="0"})')
[[ $got0 == 3 ]] || fail "mode 0: Prometheus says '$got0', not 3"
up=$(query 'up{job="morvane"}')
[[ $up == 1 ]] || fail "up is '$up'"
rules=$(curl -sf "http://127.0.0.1:$prom_port/api/v1/rules")
for alert in MorvaneServerDown MorvaneNotReady MorvaneLimitPages MorvaneStoreErrors MorvaneSlowAnswers; do
  grep -q "\"$alert\"" <<<"$rules" || fail "Prometheus did not load the rule $alert"
done
echo "prometheus: 7 mode 2 and 3 mode 0 requests counted; rules loaded; /metrics passes promtool"
