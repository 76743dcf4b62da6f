#!/usr/bin/env bash
# Replays each target's seed corpus and crash regressions, then fuzzes for about
# <seconds> in all: the image loader gets three quarters, the inquiry reply reader
# (small and fast) the rest.
#   fuzz/run.sh <fuzz build tree> <seconds>
# Exits non-zero when an input crashes; the crashing input is kept in
# <tree>/fuzz/work/<target>/artifacts and belongs in fuzz/regressions/<target>/ once fixed.
set -u
tree=$1; seconds=${2:-60}
here=$(cd "$(dirname "$0")" && pwd)
export TMPDIR=${TMPDIR:-/tmp}

# run_target <name> <seconds> <libFuzzer options...>
run_target() {
    local name=$1 budget=$2
    shift 2
    local fuzzer=$tree/fuzz/${name}_fuzzer work=$tree/fuzz/work/$name
    if [ ! -x "$fuzzer" ]; then
        echo "fuzz: $fuzzer is not built"
        return 1
    fi
    mkdir -p "$work/corpus" "$work/artifacts"

    local seeds=("$here"/corpus/$name/*)
    if [ -d "$here/regressions/$name" ]; then
        seeds+=("$here"/regressions/$name/*)
    fi
    if ! "$fuzzer" -timeout=10 -artifact_prefix="$work/artifacts/" "${seeds[@]}" >"$work/replay.log" 2>&1; then
        tail -30 "$work/replay.log"
        echo "fuzz: $name: replay of the seeds FAILED (log: $work/replay.log)"
        return 1
    fi

    # New inputs go to the work corpus, never into the repository's seeds.
    "$fuzzer" -max_total_time="$budget" -timeout=10 -rss_limit_mb=2048 "$@" \
        -artifact_prefix="$work/artifacts/" -print_final_stats=1 \
        "$work/corpus" "$here/corpus/$name" >"$work/campaign.log" 2>&1
    local status=$?
    local execs units
    execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$work/campaign.log" | grep -o '[0-9]*$')
    units=$(ls "$work/corpus" | wc -l)
    if [ $status -ne 0 ]; then
        tail -40 "$work/campaign.log"
        echo "fuzz: $name: campaign FAILED after ${execs:-?} runs; crashing input in $work/artifacts"
        return 1
    fi
    echo "fuzz: $name: replayed ${#seeds[@]} seeds, fuzzed ${budget}s: ${execs:-?} runs, work corpus $units inputs, no crash"
}

chain_seconds=$((seconds / 4))
[ "$chain_seconds" -lt 1 ] && chain_seconds=1
image_seconds=$((seconds - chain_seconds))
[ "$image_seconds" -lt 1 ] && image_seconds=1

status=0
run_target load_image "$image_seconds" -max_len=8192 -dict="$here/load_image.dict" || status=1
run_target inquiry_chain "$chain_seconds" -max_len=4096 || status=1
exit $status
