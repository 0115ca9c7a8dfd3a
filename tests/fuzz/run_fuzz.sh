#!/usr/bin/env bash
# Runs one fuzz target for a bounded time, as ctest does:
#   run_fuzz.sh TARGET CORPUS WORKDIR SECONDS [libFuzzer options...]
# The seeds in CORPUS are read but never written: the inputs the run finds
# go to WORKDIR/corpus (made afresh), a crashing input to WORKDIR/ as
# crash-<hash> (or leak-, timeout-, oom-). The target's dictionary, when
# CORPUS/../../<name>.dict exists, is passed along.
set -euo pipefail
target=$1 corpus=$2 work=$3 seconds=$4
shift 4
name=$(basename "$corpus")
dict=$(dirname "$(dirname "$corpus")")/$name.dict
rm -rf "$work"
mkdir -p "$work/corpus"
args=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
      -artifact_prefix="$work/")
[[ -f $dict ]] && args+=(-dict="$dict")
# The targets' scratch files, on a memory file system when there is one;
# removed here too, since a target that crashes leaves its own behind.
scratch_base=/tmp
[[ -d /dev/shm && -w /dev/shm ]] && scratch_base=/dev/shm
scratch=$(mktemp -d "$scratch_base/morvane-fuzz-run-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
TMPDIR=$scratch "$target" "${args[@]}" "$@" "$work/corpus" "$corpus"
