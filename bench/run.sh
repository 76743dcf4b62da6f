#!/usr/bin/env bash
# Benchmarks of the engine (Release tree) and of the program's start-up under Wine:
#   TELVIO_BUILD_DIR=<win64 tree> TELVIO_SGIO=<SG_IO library> bench/run.sh <bench build tree>
# Times bench/load_image as a whole process beside srec_cat on the same 1 MiB image,
# runs the Google Benchmark cases, times telvio.exe's start beside a minimal dialog
# program's and beside its main window's template shown alone (tests/e2e/bench-startup.sh),
# checks the targets, and ends with one line of figures.
set -u
tree=$1
: "${TELVIO_BUILD_DIR:?names the win64 tree (make bench sets it)}"
: "${TELVIO_SGIO:?names the SG_IO library (make bench sets it)}"
here=$(cd "$(dirname "$0")" && pwd)
bin=$tree/bench
work=$tree/bench/work
mkdir -p "$work"
rm -f "$work"/*.bin "$work"/*.hex "$work"/*.json

for exe in make_images load_image engine_bench; do
    if [ ! -x "$bin/$exe" ]; then echo "bench: $bin/$exe is not built"; exit 1; fi
done
command -v srec_cat >/dev/null || { echo "bench: srec_cat (Debian srecord) is missing"; exit 1; }

"$bin/make_images" "$work" || exit 1

# The loader and srec_cat must agree on the image before their times mean anything.
srec_cat "$work/image-standard.hex" -Intel -o "$work/srec.bin" -Binary || exit 1
cmp -s "$work/srec.bin" "$work/image.bin" || { echo "bench: srec_cat's image differs"; exit 1; }
hex_out=$("$bin/load_image" "$work/image.hex") || { echo "bench: load_image failed: $hex_out"; exit 1; }
raw_out=$("$bin/load_image" "$work/image.bin") || { echo "bench: load_image failed: $raw_out"; exit 1; }
echo "load_image image.hex: $hex_out"
echo "load_image image.bin: $raw_out"
hex_sum=${hex_out#*checksum=}; hex_sum=${hex_sum%% *}
raw_sum=${raw_out#*checksum=}; raw_sum=${raw_sum%% *}
[ "$hex_sum" = "$raw_sum" ] || { echo "bench: HEX and raw checksums differ"; exit 1; }
load_peak=${hex_out#*peak_kib=}

# Whole processes, alternated so that both meet the same load on the machine; the
# median of 21 runs each.
read -r hex_ms srec_ms < <(python3 - "$bin/load_image" "$work/image.hex" "$work/image-standard.hex" "$work/srec.bin" <<'PY'
import os, statistics, sys, time
load, hexfile, stdhex, out = sys.argv[1:5]
devnull = os.open(os.devnull, os.O_WRONLY)
def run(argv):
    fa = [(os.POSIX_SPAWN_DUP2, devnull, 1), (os.POSIX_SPAWN_DUP2, devnull, 2)]
    t0 = time.perf_counter()
    pid = os.posix_spawn(argv[0], argv, os.environ, file_actions=fa)
    _, status = os.waitpid(pid, 0)
    t1 = time.perf_counter()
    if status != 0:
        sys.exit("bench: %s failed" % argv[0])
    return (t1 - t0) * 1000
srec = "/usr/bin/srec_cat"
a, b = [], []
for i in range(21):
    a.append(run([load, hexfile]))
    b.append(run([srec, stdhex, "-Intel", "-o", out, "-Binary"]))
print("%.2f %.2f" % (statistics.median(a), statistics.median(b)))
PY
) || exit 1

TELVIO_BENCH_DIR=$work "$bin/engine_bench" --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true --benchmark_out="$work/engine.json" \
    --benchmark_out_format=json | tee "$work/engine.txt" || exit 1
run_peak=$(sed -n 's/^run_peak_kib=//p' "$work/engine.txt")

read -r gb_hex raw_ms download_ms floor_ms < <(python3 - "$work/engine.json" <<'PY'
import json, sys
d = json.load(open(sys.argv[1]))
med = {}
for b in d["benchmarks"]:
    if b.get("aggregate_name") == "median":
        scale = {"ms": 1.0, "us": 1e-3, "ns": 1e-6, "s": 1000.0}[b["time_unit"]]
        med[b["run_name"]] = b["real_time"] * scale
print("%.3f %.3f %.3f %.3f" % (med["BM_LoadHex16Banks"], med["BM_LoadRaw1MiB"],
                              med["BM_DownloadRaw1MiB"], med["BM_FloorFreshMegabyte"]))
PY
) || exit 1

startup_out=$(bash "$here/../tests/e2e/bench-startup.sh" 11) || { echo "$startup_out"; exit 1; }
echo "$startup_out"
startup=$(echo "$startup_out" | sed -n 's/^startup: //p')
startup_ms=$(echo "$startup" | sed -n 's/.*telvio_ms=\([^ ]*\).*/\1/p')
minimal_ms=$(echo "$startup" | sed -n 's/.*minimal_ms=\([^ ]*\).*/\1/p')
startup_ratio=$(echo "$startup" | sed -n 's/.* ratio=\([^ ]*\).*/\1/p')
template_ms=$(echo "$startup" | sed -n 's/.*template_ms=\([^ ]*\).*/\1/p')
template_ratio=$(echo "$startup" | sed -n 's/.*template_ratio=\([^ ]*\).*/\1/p')
[ -n "$startup_ratio" ] && [ -n "$template_ratio" ] || { echo "bench: no start-up figures"; exit 1; }

budget_kib=$((1024 + 256))
fail=0
check() {  # name, met (0/1), detail
    if [ "$2" = 1 ]; then echo "target $1: met ($3)"; else echo "target $1: MISSED ($3)"; fail=1; fi
}
check "HEX load (whole process) <= srec_cat / 5" \
    "$(python3 -c "print(int($hex_ms <= $srec_ms / 5))")" "$hex_ms ms vs $srec_ms / 5 ms; in-process $gb_hex ms"
check "raw load <= 2 ms" "$(python3 -c "print(int($raw_ms <= 2))")" \
    "$raw_ms ms; reading 1 MiB into fresh memory alone takes $floor_ms ms on this machine"
check "download host time <= 50 ms" "$(python3 -c "print(int($download_ms <= 50))")" "$download_ms ms"
check "peak memory <= 1 MiB + 256 KiB" \
    "$( [ "$load_peak" -ge 0 ] && [ "$load_peak" -le $budget_kib ] && [ "$run_peak" -ge 0 ] && [ "$run_peak" -le $budget_kib ] && echo 1 || echo 0)" \
    "load ${load_peak} KiB, whole run ${run_peak} KiB"

check "start-up <= minimal dialog x 1.15 (under Wine)" \
    "$(python3 -c "print(int($startup_ratio <= 1.15))")" \
    "$startup_ms ms vs $minimal_ms ms, ratio $startup_ratio"
# Against the window it must show in any case: what its own start-up work adds.
check "start-up <= main window template alone x 1.10 (under Wine)" \
    "$(python3 -c "print(int($template_ratio <= 1.10))")" \
    "$startup_ms ms vs $template_ms ms, ratio $template_ratio"

echo "bench: hex_load_ms=$hex_ms raw_load_ms=$raw_ms download_host_ms=$download_ms srec_cat_ms=$srec_ms startup_ratio=$startup_ratio startup_template_ratio=$template_ratio startup_ms=$startup_ms minimal_ms=$minimal_ms template_ms=$template_ms"
exit $fail
