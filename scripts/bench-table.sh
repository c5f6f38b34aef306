#!/usr/bin/env bash
# The project's speed and memory goals, measured and printed as one table (docs/performance.md):
# quantity, measured, goal, met. Builds the release preset, runs bench/tarn_bench (the simulator), times the
# start-up of `tarnserialport --list-tests` and takes the peak memory and wall time of a full `--sim` run.
#
#   scripts/bench-table.sh [--qemu] [--build-dir DIR] [--out DIR]
#
# --qemu       also the QEMU figures (bench/qemu/run-qemu-bench.sh: one guest boot, about a minute): the
#              cost of a register access through /dev/port and each test's wall time against its fixed waits.
# --build-dir  use this already configured Release build tree instead of the release preset (build/release).
# --out DIR    where the raw results go (default: <build dir>/bench-results).
# Tools: hyperfine (Debian package hyperfine; without it a loop of 50 runs timed with date +%s%N) and
# GNU time (package time) for the peak memory; libbenchmark-dev for tarn_bench.
# Exit status: 0 the table was printed (whether or not every goal is met), 2 a build or tool failure.
#
# Nothing here touches a serial port or an I/O port of this machine: tarn_bench and `--sim` run on the
# simulator, `--list-tests` touches no device, and register access happens only inside the QEMU guest.
set -euo pipefail
export LC_ALL=C
cd "$(dirname "$0")/.."
ROOT=$PWD

QEMU=0 BUILD='' OUT=''
while [ $# -gt 0 ]; do
    case $1 in
    --qemu) QEMU=1; shift ;;
    --build-dir) BUILD=$2; shift 2 ;;
    --out) OUT=$2; shift 2 ;;
    -h | --help) sed -n '2,17p' "$0"; exit 0 ;;
    *) echo "bench-table.sh: unknown argument '$1'" >&2; exit 2 ;;
    esac
done
die() { echo "bench-table.sh: $*" >&2; exit 2; }

# --- Build -------------------------------------------------------------------------------------------------
if [ -z "$BUILD" ]; then
    BUILD=$ROOT/build/release
    cmake --preset release >/dev/null || die "cmake --preset release failed"
else
    grep -q '^CMAKE_BUILD_TYPE:STRING=Release$' "$BUILD/CMakeCache.txt" 2>/dev/null ||
        die "--build-dir $BUILD is not a configured Release build"
fi
BUILD=$(cd "$BUILD" && pwd)
cmake --build "$BUILD" --target tarn_bench tarnserialport >/dev/null || die "the build in $BUILD failed"
if [ $QEMU = 1 ] && ! cmake --build "$BUILD" --target tarnserialport_static tarn_qemu_bench tarn_qemu_jail \
    >/dev/null 2>&1; then
    die "the QEMU targets do not build in $BUILD: are they configured? (cmake prints 'QEMU test (label qemu)
skipped: <why>' when its tools are missing; tests/qemu/install-deps.sh installs them)"
fi
OUT=${OUT:-$BUILD/bench-results}
mkdir -p "$OUT"
PROGRAM=$BUILD/tarnserialport
ROWS=$OUT/rows.tsv
: >"$ROWS"
row() { printf '%s\t%s\t%s\t%s\n' "$1" "$2" "$3" "$4" >>"$ROWS"; }

LOAD_BEFORE=$(cut -d' ' -f1-3 /proc/loadavg)
echo "bench-table.sh: build $BUILD, raw results in $OUT, load average before: $LOAD_BEFORE" >&2

# --- The simulator: tarn_bench ----------------------------------------------------------------------------
"$BUILD/bench/tarn_bench" --benchmark_out="$OUT/tarn_bench.json" --benchmark_out_format=json \
    --benchmark_repetitions=3 --benchmark_report_aggregates_only=true >"$OUT/tarn_bench.txt" 2>&1 ||
    die "tarn_bench failed (see $OUT/tarn_bench.txt)"
python3 - "$OUT/tarn_bench.json" >>"$ROWS" <<'EOF'
import json, sys
runs = {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("aggregate_name") == "median":
        runs[b["run_name"]] = b
    if b.get("error_occurred"):
        print(f"Simulator: {b['run_name']}\tERROR {b.get('error_message', '')}\t-\tNO")

def seconds(b):  # real time of one iteration, in seconds
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]]
    return b["real_time"] * scale

def speed(x):
    return f"{x:,.0f}x" if x >= 100 else f"{x:.1f}x"

full = runs.get("BM_FullRunOnBuiltInPort/real_time")
if full:
    wall, virtual = seconds(full), full["virtual_s"]
    print(f"Simulator: full five-test run on the built-in port, wall time\t{wall * 1000:.0f} ms for {virtual:.1f} s "
          f"of device time ({speed(full['virtual_s_per_wall_s'])})\t< 1 s\t{'yes' if wall < 1.0 else 'NO'}")
for test in ("ExternalRegisterTest", "ExternalLoopbackTest", "InternalRegisterTest", "InternalControlSignalsTest",
             "InternalSendAndReceiveTest"):
    b = runs.get(f"RunTestOnBuiltInPort/{test}/real_time")
    if b:
        wall, virtual = seconds(b), b["virtual_s"]
        shown = f"{wall * 1e6:.1f} us" if wall < 1e-3 else f"{wall * 1000:.1f} ms"
        print(f"Simulator: {test}, device s per wall s\t{speed(b['virtual_s_per_wall_s'])} "
              f"({virtual:.3f} s in {shown})\t-\t-")
b = runs.get("BM_ReadRegister")
if b:
    print(f"Simulator: one ReadRegister (DriverOpened + PortReadByte)\t{seconds(b) * 1e9:.1f} ns\t-\t-")
EOF

# --- Start-up: tarnserialport --list-tests ----------------------------------------------------------------
"$PROGRAM" --list-tests >/dev/null || die "$PROGRAM --list-tests failed"
if command -v hyperfine >/dev/null; then
    hyperfine -N --warmup 5 --runs 50 --export-json "$OUT/startup.json" "$PROGRAM --list-tests" \
        >"$OUT/startup.txt" 2>&1 || die "hyperfine failed (see $OUT/startup.txt)"
    read -r mean sd < <(python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))["results"][0]
print("%.2f %.2f" % (r["mean"] * 1000, r["stddev"] * 1000))' "$OUT/startup.json")
    how="hyperfine, 50 runs"
else
    t0=$(date +%s%N)
    for _ in $(seq 50); do "$PROGRAM" --list-tests >/dev/null; done
    mean=$(( ($(date +%s%N) - t0) / 50000 ))
    mean=$(awk -v us="$mean" 'BEGIN { printf "%.2f", us / 1000 }') sd='?'
    how="loop of 50 runs, date +%s%N; hyperfine not installed"
fi
met=$(awk -v m="$mean" 'BEGIN { print (m < 20) ? "yes" : "NO" }')
row "Start-up: tarnserialport --list-tests" "$mean ms ± $sd ($how)" "< 20 ms" "$met"

# --- A full --sim run: peak memory and wall time ----------------------------------------------------------
SIM=("$PROGRAM" --sim --answer ok --no-progress --report "$OUT/sim-report.json")
if [ -x /usr/bin/time ]; then
    /usr/bin/time -v "${SIM[@]}" >/dev/null 2>"$OUT/sim-time.txt" || die "the --sim run failed (see $OUT/sim-time.txt)"
    kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$OUT/sim-time.txt")
    met=$(awk -v kb="$kb" 'BEGIN { print (kb < 10240) ? "yes" : "NO" }')
    row "Peak memory: tarnserialport --sim (all five tests)" \
        "$(awk -v kb="$kb" 'BEGIN { printf "%.1f MiB (%d KiB max RSS, GNU time -v)", kb / 1024, kb }')" "< 10 MiB" "$met"
else
    row "Peak memory: tarnserialport --sim (all five tests)" "not measured: /usr/bin/time missing (package time)" \
        "< 10 MiB" "?"
fi
if command -v hyperfine >/dev/null; then
    hyperfine -N --warmup 1 --runs 10 --export-json "$OUT/sim-wall.json" \
        "$PROGRAM --sim --answer ok --no-progress --report /dev/null" >"$OUT/sim-wall.txt" 2>&1 ||
        die "hyperfine of the --sim run failed (see $OUT/sim-wall.txt)"
    ms=$(python3 -c 'import json,sys; print("%.0f" % (json.load(open(sys.argv[1]))["results"][0]["mean"] * 1000))' \
        "$OUT/sim-wall.json")
    row "Simulator: tarnserialport --sim (all five tests) as a process, wall time" "$ms ms (hyperfine, 10 runs)" \
        "< 1 s" "$(awk -v m="$ms" 'BEGIN { print (m < 1000) ? "yes" : "NO" }')"
fi

# --- QEMU (optional) ----------------------------------------------------------------------------------------
if [ $QEMU = 1 ]; then
    Q=$BUILD/tests/qemu
    # The kernel of the QEMU test in the same build tree, so that one download serves both.
    export TARN_QEMU_CACHE=${TARN_QEMU_CACHE:-$Q/work/kernel}
    bench/qemu/run-qemu-bench.sh "$BUILD/bench/tarn_qemu_bench" "$Q/tarnserialport_static" "$Q/tarn_qemu_jail" \
        "$OUT/qemu" --summary "$OUT/qemu-rows.tsv" >"$OUT/qemu.txt" 2>&1 ||
        { cat "$OUT/qemu.txt" >&2; die "the QEMU benchmark failed (see $OUT/qemu.txt)"; }
    cat "$OUT/qemu-rows.tsv" >>"$ROWS"
fi

# --- The table ---------------------------------------------------------------------------------------------
LOAD_AFTER=$(cut -d' ' -f1-3 /proc/loadavg)
echo "Measured $(date -u '+%Y-%m-%d %H:%M UTC') on $(nproc) cores ($(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)); load average before $LOAD_BEFORE, after $LOAD_AFTER; commit $(git rev-parse --short HEAD 2>/dev/null || echo '?')$(git diff --quiet 2>/dev/null || echo ' with local changes')."
echo
echo "| Quantity | Measured | Goal | Met? |"
echo "|---|---|---|---|"
while IFS=$'\t' read -r q m g k; do
    echo "| $q | $m | $g | $k |"
done <"$ROWS"
if [ $QEMU = 1 ]; then
    echo
    echo "QEMU details ($OUT/qemu.txt):"
    sed -n '/^witness /p; /^guest.sh: one boot/p; /^| Register access/,/^$/p; /^| A wait of 10 ms/,/^$/p; /^| Test |/,/^$/p' "$OUT/qemu.txt"
fi
