#!/usr/bin/env bash
# Reads each hostile model file in a process of its own (a Release build of
# bench/hostile_files_bench) and prints its result, the time of the read and the peak memory
# of the process (which also made the file, for the generated ones). Every case must stay
# within 2 seconds and 200 MB; the script exits with 1 when one does not.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-bench"

if [[ ! -x "$build/bench/hostile_files_bench" ]]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUARN_BENCH=ON \
          -DQUARN_TESTS=OFF >/dev/null
    cmake --build "$build" -j"$(nproc)" --target hostile_files_bench >/dev/null
fi
bench="$build/bench/hostile_files_bench"

status=0
printf '%-32s %8s %10s %10s\n' case result "read (s)" "peak (MB)"
while read -r name; do
    case_name="${name%%/*}"
    filter="^${case_name//./\\.}/"
    stats=$(mktemp)
    out=$(/usr/bin/time -f '%M' -o "$stats" "$bench" --benchmark_filter="$filter" \
          --benchmark_format=csv 2>/dev/null)
    read -r kilobytes <"$stats"
    rm -f "$stats"
    # The CSV row: name, iterations, real time (ms), ..., the counters file_kB and result.
    row=$(grep iterations <<<"$out" | tail -n 1)
    seconds=$(awk -F, '{ printf "%.3f", $3 / 1000 }' <<<"$row")
    result=$(awk -F, '{ print $NF }' <<<"$row")
    megabytes=$((kilobytes / 1024))
    printf '%-32s %8s %10s %10s\n' "$case_name" "${result:-?}" "$seconds" "$megabytes"
    if awk -v s="$seconds" -v m="$megabytes" 'BEGIN { exit !(s > 2 || m > 200) }'; then
        echo "  over 2 s or 200 MB" >&2
        status=1
    fi
done < <("$bench" --benchmark_list_tests)
exit $status
