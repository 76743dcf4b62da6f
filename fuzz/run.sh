#!/usr/bin/env bash
# Replays the seed corpus and any crash regressions, then fuzzes for about <seconds>.
#   fuzz/run.sh <fuzz build tree> <seconds>
# Exits non-zero when an input crashes; the crashing input is kept in
# <tree>/fuzz/work/artifacts and belongs in fuzz/regressions/load_image/ once fixed.
set -u
tree=$1; seconds=${2:-60}
here=$(cd "$(dirname "$0")" && pwd)
fuzzer=$tree/fuzz/load_image_fuzzer
if [ ! -x "$fuzzer" ]; then
    echo "fuzz: $fuzzer is not built"
    exit 1
fi
work=$tree/fuzz/work
mkdir -p "$work/corpus" "$work/artifacts"
export TMPDIR=${TMPDIR:-/tmp}

seeds=("$here"/corpus/load_image/*)
if [ -d "$here/regressions/load_image" ]; then
    seeds+=("$here"/regressions/load_image/*)
fi
if ! "$fuzzer" -artifact_prefix="$work/artifacts/" "${seeds[@]}" >"$work/replay.log" 2>&1; then
    tail -30 "$work/replay.log"
    echo "fuzz: replay of the seeds FAILED (log: $work/replay.log)"
    exit 1
fi

# New inputs go to the work corpus, never into the repository's seeds.
"$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
    -dict="$here/load_image.dict" -artifact_prefix="$work/artifacts/" -print_final_stats=1 \
    "$work/corpus" "$here/corpus/load_image" >"$work/campaign.log" 2>&1
status=$?
execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$work/campaign.log" | grep -o '[0-9]*$')
units=$(ls "$work/corpus" | wc -l)
if [ $status -ne 0 ]; then
    tail -40 "$work/campaign.log"
    echo "fuzz: campaign FAILED after ${execs:-?} runs; crashing input in $work/artifacts"
    exit 1
fi
echo "fuzz: replayed ${#seeds[@]} seeds, fuzzed ${seconds}s: ${execs:-?} runs, work corpus $units inputs, no crash"
