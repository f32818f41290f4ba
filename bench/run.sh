#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Throughput benchmark of volreport: the native build and the portable one
# side by side.
#
# Usage: bench/run.sh [VOLUMES [RUNS]]      (defaults: 500000 volumes, 7 runs)
#
# Builds the `bench` preset (vector kernels) and the `bench-portable` preset
# (portable kernel only), generates a listing of VOLUMES volumes once (fixed
# seed) into a temporary file and reads it once into the page cache. Then
# it runs RUNS alternating rounds of
#     wc -l, cat, the floor of each build, and with -rbf and with no option:
#     volreport native, volreport portable, stdio_filter
# on that file as standard input with the output to /dev/null, timing each
# by wall clock, and prints the medians in one table with every ratio taken
# within the run, each beside the two times it divides. The floor (bench/floor) only reads and classifies the
# input as its build's filter does; volreport's time as a multiple of it
# holds across machines. It also prints the peak resident memory of both
# builds, checks that both write the same bytes as stdio_filter (with -rbf
# and with no option), and times the start-up of volreport against cat on a
# 3-volume listing.
#
# Goals, each shown as met or MISSED: volreport -rbf at most 2.0 times the
# floor (native); at least 8 times the throughput of stdio_filter (native);
# peak RSS at most 4 MiB; start-up at most 1.5 times that of cat. The ratio
# to wc -l is shown for information only.
#
# Exit status: 0 when the reports agree, 1 when they differ, 2 on a usage
# error. Missed goals are shown but do not fail the run: timings on a
# shared machine are noisy.

# The run_* and loop_* functions are called through time_us, and time_us
# sets its result through a name reference.
# shellcheck disable=SC2317,SC2034
set -euo pipefail

usage() {
    echo "Usage: $0 [VOLUMES [RUNS]]" >&2
    exit 2
}

[[ $# -le 2 ]] || usage
volumes=${1:-500000}
runs=${2:-7}
[[ $volumes =~ ^[0-9]+$ && $volumes -gt 0 ]] || usage
[[ $runs =~ ^[0-9]+$ && $runs -gt 0 ]] || usage

seed=1
startup_runs=200   # processes per start-up timing loop
startup_rounds=5   # alternating start-up loops per program

source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/volreport-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# ---- machine ----
cpu_model=$(sed -n 's/^model name[[:space:]]*:[[:space:]]*//p' /proc/cpuinfo 2>/dev/null | head -n 1)
echo "machine: $(nproc) CPUs, ${cpu_model:-unknown CPU}, $(uname -sr)"
echo "load average at start: $(cut -d ' ' -f 1-3 /proc/loadavg 2>/dev/null || echo unknown)"

# ---- build ----
# shellcheck source=cmake/preset-dir.sh
source "$source_dir/cmake/preset-dir.sh"
build_log=$work/build.log
declare -A build_dir
for preset in bench bench-portable; do
    if ! { build_dir[$preset]=$(preset_dir "$preset") && [[ -n ${build_dir[$preset]} ]] &&
           (cd "$source_dir" && cmake --build --preset "$preset" --parallel "$(nproc)" \
                 --target volreport gen_listing stdio_filter floor); } >>"$build_log" 2>&1; then
        cat "$build_log" >&2
        echo "$0: build of preset $preset failed" >&2
        exit 1
    fi
done
native=${build_dir[bench]}/volreport
portable=${build_dir[bench-portable]}/volreport
floor_native=${build_dir[bench]}/bench/floor
floor_portable=${build_dir[bench-portable]}/bench/floor
stdio_filter=${build_dir[bench]}/bench/stdio_filter
gen_listing=${build_dir[bench]}/bench/gen_listing
echo "builds: Release, native in ${build_dir[bench]}, portable in ${build_dir[bench-portable]}"

# ---- timing helpers ----

# time_us VAR COMMAND...: runs COMMAND, sets VAR to its wall time in µs,
# read from the shell's own clock (EPOCHREALTIME), so no process is started
# for the timing itself.
time_us() {
    local -n result=$1
    shift
    local start end
    start=${EPOCHREALTIME/[.,]/}
    "$@"
    end=${EPOCHREALTIME/[.,]/}
    result=$((end - start))
}

# Median of the arguments (integers), as a decimal number.
median() {
    printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 }
        END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# Arithmetic on decimals: calc EXPRESSION (awk syntax).
calc() { awk "BEGIN { printf \"%.2f\", $1 }"; }

# goal VALUE OP LIMIT [UNIT]: "goal OP LIMIT UNIT: met", or MISSED.
goal() {
    local result=MISSED
    if awk "BEGIN { exit !($1 $2 $3) }"; then result=met; fi
    echo "goal $2 $3${4:+ $4}: $result"
}

# ---- the listing ----
listing=$work/listing.txt
"$gen_listing" --volumes "$volumes" --seed "$seed" >"$listing"
bytes=$(wc -c <"$listing")
cat "$listing" >/dev/null   # into the page cache
echo "listing: $volumes volumes, seed $seed, $bytes bytes ($(calc "$bytes / 1e6") MB)"
echo

# ---- throughput ----
run_wc()        { wc -l <"$listing" >/dev/null; }
run_cat()       { cat <"$listing" >/dev/null; }
run_floor_n()   { "$floor_native" <"$listing" >/dev/null; }
run_floor_p()   { "$floor_portable" <"$listing" >/dev/null; }
run_native()    { "$native" -rbf <"$listing" >/dev/null; }
run_portable()  { "$portable" -rbf <"$listing" >/dev/null; }
run_stdio()     { "$stdio_filter" -rbf <"$listing" >/dev/null; }
run_native_d()  { "$native" <"$listing" >/dev/null; }
run_portable_d() { "$portable" <"$listing" >/dev/null; }
run_stdio_d()   { "$stdio_filter" <"$listing" >/dev/null; }

programs=(wc cat floor_n floor_p native portable stdio native_d portable_d stdio_d)
declare -A times
for ((round = 0; round < runs; round++)); do
    for program in "${programs[@]}"; do
        time_us t "run_$program"
        times[$program]+=" $t"
    done
done
declare -A m
for program in "${programs[@]}"; do
    # shellcheck disable=SC2086
    m[$program]=$(median ${times[$program]})
done

echo "throughput: median of $runs alternating runs, input from the file, output to /dev/null;"
echo "each ratio is followed by the two times it divides"
echo "  wc -l: $(calc "${m[wc]} / 1000") ms   cat: $(calc "${m[cat]} / 1000") ms"
row() { printf '  %-30s %-44s %s\n' "$@" | sed 's/ *$//'; }
# ratio A B: A / B, then both times in ms.
ratio() { echo "$(calc "$1 / $2") ($(calc "$1 / 1000") / $(calc "$2 / 1000") ms)"; }
row "" "native" "portable"
fn=${m[floor_n]} fp=${m[floor_p]} w=${m[wc]}
row "floor (read, classify): ms" "$(calc "$fn / 1000")" "$(calc "$fp / 1000")"
for selection in -rbf "(no option)"; do
    if [[ $selection == -rbf ]]; then
        n=${m[native]} p=${m[portable]} s=${m[stdio]}
    else
        n=${m[native_d]} p=${m[portable_d]} s=${m[stdio_d]}
    fi
    floor_n=$(calc "$n / $fn") stdio_n=$(calc "$s / $n")
    row "volreport $selection: ms" "$(calc "$n / 1000")" "$(calc "$p / 1000")"
    row "  MB/s" "$(calc "$bytes / $n")" "$(calc "$bytes / $p")"
    if [[ $selection == -rbf ]]; then
        row "  time / floor" "$(ratio "$n" "$fn")  $(goal "$floor_n" '<=' 2.0)" "$(ratio "$p" "$fp")"
    else
        row "  time / floor" "$(ratio "$n" "$fn")" "$(ratio "$p" "$fp")"
    fi
    row "  time / wc -l" "$(ratio "$n" "$w")" "$(ratio "$p" "$w")"
    row "stdio_filter $selection: ms" "$(calc "$s / 1000")"
    row "  stdio_filter time / this" "$(ratio "$s" "$n")  $(goal "$stdio_n" '>=' 8.0)" "$(ratio "$s" "$p")"
done
echo

# ---- peak resident memory ----
# Kilobytes, from GNU time when it is there, else from the rusage of a child
# of python3.
peak_rss_kb() {  # peak_rss_kb PROGRAM
    if /usr/bin/time -f %M true >/dev/null 2>&1; then
        /usr/bin/time -o "$work/rss" -f %M "$1" -rbf <"$listing" >/dev/null
        tail -n 1 "$work/rss"
    elif command -v python3 >/dev/null 2>&1; then
        python3 - "$1" "$listing" <<'EOF'
import resource, subprocess, sys
with open(sys.argv[2], "rb") as listing:
    subprocess.run([sys.argv[1], "-rbf"], stdin=listing,
                   stdout=subprocess.DEVNULL, check=True)
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)
EOF
    else
        echo unknown
    fi
}
for build in native portable; do
    rss=$(peak_rss_kb "${!build}")
    if [[ $rss =~ ^[0-9]+$ ]]; then
        echo "peak RSS of $build volreport -rbf on the listing: $rss KiB ($(goal "$rss" '<=' 4096 KiB))"
    else
        echo "peak RSS of $build volreport -rbf on the listing: unknown (no GNU time, no python3)"
    fi
done
echo

# ---- same report as the baseline ----
status=0
for options in -rbf ""; do
    label=${options:-"(no option)"}
    "$stdio_filter" ${options:+"$options"} <"$listing" >"$work/stdio.out"
    for build in native portable; do
        "${!build}" ${options:+"$options"} <"$listing" >"$work/volreport.out"
        lines=$(wc -l <"$work/volreport.out")
        if cmp -s "$work/volreport.out" "$work/stdio.out"; then
            echo "report of $build ${label}: identical to stdio_filter ($lines lines)"
        else
            echo "report of $build ${label}: DIFFERS from stdio_filter:"
            cmp "$work/volreport.out" "$work/stdio.out" || true
            status=1
        fi
    done
    rm -f "$work/volreport.out" "$work/stdio.out"
done
echo

# ---- start-up ----
small=$work/small.txt
"$gen_listing" --volumes 3 --seed "$seed" >"$small"
loop_vr()  { local i; for ((i = 0; i < startup_runs; i++)); do "$native" <"$small" >/dev/null; done; }
loop_cat() { local i; for ((i = 0; i < startup_runs; i++)); do cat <"$small" >/dev/null; done; }
s_vr=() s_cat=()
for ((round = 0; round < startup_rounds; round++)); do
    time_us t loop_cat; s_cat+=("$t")
    time_us t loop_vr;  s_vr+=("$t")
done
per_vr=$(calc "$(median "${s_vr[@]}") / $startup_runs")
per_cat=$(calc "$(median "${s_cat[@]}") / $startup_runs")
ratio_start=$(calc "$per_vr / $per_cat")
echo "start-up: 3-volume listing ($(wc -c <"$small") bytes), $startup_runs runs per loop, median of $startup_rounds loops"
echo "  volreport / cat: $ratio_start ($per_vr / $per_cat µs per run)  $(goal "$ratio_start" '<=' 1.5)"

exit "$status"
