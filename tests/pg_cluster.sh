#!/usr/bin/env bash
# Starts or stops the throwaway PostgreSQL cluster that the tests share.
#   pg_cluster.sh start STATE_DIR   initdb into a fresh temporary directory, start
#                                   it on a unix socket there, and write its libpq
#                                   connection string to STATE_DIR/conninfo
#   pg_cluster.sh stop STATE_DIR    stop it and remove its directory
#   pg_cluster.sh pause STATE_DIR [fast|immediate]
#                                   stop the server, keeping its data (fast by
#                                   default; immediate stops it as a crash would)
#   pg_cluster.sh resume STATE_DIR  start a paused server again on its port
#   pg_cluster.sh restart STATE_DIR pg_ctl restart (fast shutdown, then start)
#   pg_cluster.sh standby STATE_DIR PRIMARY_STATE_DIR
#                                   a hot standby of a running cluster: a base
#                                   backup taken with pg_basebackup -R, streaming
#                                   from the primary, readable while it replays
# PostgreSQL refuses to run as root; as root the cluster runs as "nobody".
set -euo pipefail
action=$1
state=$2
bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[[ -x $bindir/initdb ]] || { echo "pg_cluster: no PostgreSQL server binaries" >&2; exit 1; }

as_owner() {
  if [[ $(id -u) -eq 0 ]]; then runuser -u nobody -- "$@"; else "$@"; fi
}

# A fresh directory the cluster's owner may write, on the state's record.
new_dir() {
  if [[ -f $state/dir ]]; then "$0" stop "$state" || true; fi
  mkdir -p "$state"
  dir=$(mktemp -d /tmp/morvane-pg.XXXXXX)
  chmod 755 "$dir"
  if [[ $(id -u) -eq 0 ]]; then chown nobody "$dir"; fi
}

case $action in
start)
  new_dir
  as_owner "$bindir/initdb" -D "$dir/data" -A trust -U morvane -E UTF8 --locale=C.UTF-8 >"$state/initdb.log" 2>&1
  port=$((20000 + RANDOM % 20000))
  echo "$dir" >"$state/dir"
  echo "$port" >"$state/port"
  "$0" resume "$state"
  echo "host=$dir port=$port user=morvane dbname=postgres" >"$state/conninfo"
  echo "pg_cluster: running in $dir"
  ;;
resume)
  dir=$(cat "$state/dir")
  port=$(cat "$state/port")
  as_owner "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
    -o "-k $dir -p $port -c listen_addresses='' -c fsync=off -c synchronous_commit=off -c full_page_writes=off -c max_connections=200" start >/dev/null
  ;;
standby)
  primary=${3:?"standby needs the STATE_DIR of the primary"}
  new_dir
  # initdb's pg_hba.conf lets local users connect for replication; the
  # backup streams the WAL written meanwhile (-X stream) and leaves
  # standby.signal and primary_conninfo behind (-R).
  as_owner "$bindir/pg_basebackup" -D "$dir/data" -R -X stream -c fast \
    -h "$(cat "$primary/dir")" -p "$(cat "$primary/port")" -U morvane >"$state/basebackup.log" 2>&1
  # Readers on the standby hold back the primary's cleanup rather than being
  # cancelled when replay would remove rows they still see.
  printf '%s\n' "hot_standby_feedback = on" "max_standby_streaming_delay = 30s" |
    as_owner tee -a "$dir/data/postgresql.auto.conf" >/dev/null
  port=$(($(cat "$primary/port") + 1 + RANDOM % 1000))
  echo "$dir" >"$state/dir"
  echo "$port" >"$state/port"
  "$0" resume "$state"
  echo "host=$dir port=$port user=morvane dbname=postgres" >"$state/conninfo"
  echo "pg_cluster: standby running in $dir"
  ;;
restart)
  dir=$(cat "$state/dir")
  # Without -o, pg_ctl starts the server again with the options it last had.
  as_owner "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -m fast -w -t 60 restart >/dev/null
  ;;
pause)
  dir=$(cat "$state/dir")
  as_owner "$bindir/pg_ctl" -D "$dir/data" -m "${3:-fast}" -w stop >/dev/null
  ;;
stop)
  [[ -f $state/dir ]] || exit 0
  dir=$(cat "$state/dir")
  as_owner "$bindir/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1 || true
  rm -rf "$dir" "$state/dir" "$state/port" "$state/conninfo"
  ;;
*)
  echo "usage: $0 start|stop|pause|resume|restart STATE_DIR | standby STATE_DIR PRIMARY_STATE_DIR" >&2
  exit 2
  ;;
esac
