#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Throughput benchmark of volreport.
#
# Usage: bench/run.sh [VOLUMES [RUNS]]      (defaults: 500000 volumes, 7 runs)
#
# Builds a Release build in its own directory (BUILD_DIR, default
# build-bench in the source tree), generates a listing of VOLUMES volumes
# once (fixed seed) into a temporary file and reads it once into the page
# cache. Then it runs RUNS alternating rounds of
#     wc -l, cat, volreport -rbf, stdio_filter -rbf
# on that file as standard input with the output to /dev/null, timing each
# by wall clock, and prints the medians, volreport's MB/s and the ratios
# against their targets. It also prints the peak resident memory of
# volreport on the file, checks that volreport and stdio_filter write the
# same bytes (with -rbf and with no option), and times the start-up of
# volreport against cat on a 3-volume listing.
#
# Exit status: 0 when the reports agree, 1 when they differ, 2 on a usage
# error. Missed targets are shown but do not fail the run: timings on a
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
build_dir=${BUILD_DIR:-$source_dir/build-bench}

work=$(mktemp -d "${TMPDIR:-/tmp}/volreport-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# ---- machine ----
cpu_model=$(sed -n 's/^model name[[:space:]]*:[[:space:]]*//p' /proc/cpuinfo 2>/dev/null | head -n 1)
echo "machine: $(nproc) CPUs, ${cpu_model:-unknown CPU}, $(uname -sr)"
echo "load average at start: $(cut -d ' ' -f 1-3 /proc/loadavg 2>/dev/null || echo unknown)"

# ---- build ----
build_log=$work/build.log
if ! { cmake -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release \
             -DVOLREPORT_BENCH=ON -DVOLREPORT_TESTS=OFF &&
       cmake --build "$build_dir" --parallel "$(nproc)" \
             --target volreport gen_listing stdio_filter; } >"$build_log" 2>&1; then
    cat "$build_log" >&2
    echo "$0: build failed" >&2
    exit 1
fi
volreport=$build_dir/volreport
stdio_filter=$build_dir/bench/stdio_filter
gen_listing=$build_dir/bench/gen_listing
echo "build: Release, $build_dir"

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

# ---- the listing ----
listing=$work/listing.txt
"$gen_listing" --volumes "$volumes" --seed "$seed" >"$listing"
bytes=$(wc -c <"$listing")
cat "$listing" >/dev/null   # into the page cache
echo "listing: $volumes volumes, seed $seed, $bytes bytes ($(calc "$bytes / 1e6") MB)"
echo

# ---- throughput ----
run_wc()      { wc -l <"$listing" >/dev/null; }
run_cat()     { cat <"$listing" >/dev/null; }
run_vr()      { "$volreport" -rbf <"$listing" >/dev/null; }
run_stdio()   { "$stdio_filter" -rbf <"$listing" >/dev/null; }

t_wc=() t_cat=() t_vr=() t_stdio=()
for ((round = 0; round < runs; round++)); do
    time_us t run_wc;    t_wc+=("$t")
    time_us t run_cat;   t_cat+=("$t")
    time_us t run_vr;    t_vr+=("$t")
    time_us t run_stdio; t_stdio+=("$t")
done
m_wc=$(median "${t_wc[@]}")
m_cat=$(median "${t_cat[@]}")
m_vr=$(median "${t_vr[@]}")
m_stdio=$(median "${t_stdio[@]}")

verdict() {  # verdict VALUE OP TARGET
    if awk "BEGIN { exit !($1 $2 $3) }"; then echo "met"; else echo "MISSED"; fi
}

echo "throughput: median of $runs alternating runs, input from the file, output to /dev/null"
printf '  %-26s %10s %10s\n' "" "ms" "MB/s"
for row in "wc -l:$m_wc" "cat:$m_cat" "volreport -rbf:$m_vr" "stdio_filter -rbf:$m_stdio"; do
    name=${row%%:*}
    us=${row##*:}
    printf '  %-26s %10s %10s\n' "$name" "$(calc "$us / 1000")" "$(calc "$bytes / $us")"
done
ratio_wc=$(calc "$m_vr / $m_wc")
ratio_stdio=$(calc "$m_stdio / $m_vr")
echo "  volreport MB/s:              $(calc "$bytes / $m_vr")"
echo "  volreport / wc -l:           $ratio_wc  (target <= 2.0: $(verdict "$ratio_wc" '<=' 2.0))"
echo "  stdio_filter / volreport:    $ratio_stdio  (target >= 5.0: $(verdict "$ratio_stdio" '>=' 5.0))"
echo

# ---- peak resident memory ----
# Kilobytes, from GNU time when it is there, else from the rusage of a child
# of python3.
peak_rss_kb() {
    if /usr/bin/time -f %M true >/dev/null 2>&1; then
        /usr/bin/time -o "$work/rss" -f %M "$volreport" -rbf <"$listing" >/dev/null
        tail -n 1 "$work/rss"
    elif command -v python3 >/dev/null 2>&1; then
        python3 - "$volreport" "$listing" <<'EOF'
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
rss=$(peak_rss_kb)
if [[ $rss =~ ^[0-9]+$ ]]; then
    echo "peak RSS of volreport -rbf on the listing: $rss KiB (target <= 4096 KiB: $(verdict "$rss" '<=' 4096))"
else
    echo "peak RSS of volreport -rbf on the listing: unknown (no GNU time, no python3)"
fi
echo

# ---- same report as the baseline ----
status=0
for options in -rbf ""; do
    "$volreport" ${options:+"$options"} <"$listing" >"$work/volreport.out"
    "$stdio_filter" ${options:+"$options"} <"$listing" >"$work/stdio.out"
    lines=$(wc -l <"$work/volreport.out")
    label=${options:-"(no option)"}
    if cmp -s "$work/volreport.out" "$work/stdio.out"; then
        echo "report ${label}: identical to stdio_filter ($lines lines)"
    else
        echo "report ${label}: DIFFERS from stdio_filter:"
        cmp "$work/volreport.out" "$work/stdio.out" || true
        status=1
    fi
    rm -f "$work/volreport.out" "$work/stdio.out"
done
echo

# ---- start-up ----
small=$work/small.txt
"$gen_listing" --volumes 3 --seed "$seed" >"$small"
loop_vr()  { local i; for ((i = 0; i < startup_runs; i++)); do "$volreport" <"$small" >/dev/null; done; }
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
echo "  volreport: $per_vr µs per run, cat: $per_cat µs per run"
echo "  volreport / cat:             $ratio_start  (target <= 1.5: $(verdict "$ratio_start" '<=' 1.5))"

exit "$status"
