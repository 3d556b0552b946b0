#!/usr/bin/env bash
# Builds the library and runs every test twice: a plain optimised build, then the same
# suites under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

jobs=$(nproc)
status=0
skipped=0
# The real network files some tests read; relative to the repository's root.
shared=$(realpath -m "${QUARN_SHARED_DIR:-../shared}")

run_suite() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -DQUARN_SHARED_DIR="$shared" "$@" >/dev/null
    cmake --build "$dir" -j"$jobs"
    (cd "$dir" && ctest --output-on-failure -j"$jobs") | tee "$dir/ctest.log" || status=1
    skipped=$((skipped + $(grep -cE '^\s*[0-9]+ - .* \(Skipped\)$' "$dir/ctest.log" || true)))
}

echo "== plain build =="
run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARN_TESTS=ON -DQUARN_BENCH=ON
echo "== sanitizer build (address, undefined) =="
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DQUARN_TESTS=ON -DQUARN_SANITIZE=ON

# Say what did not run, so that a clone without the real files is not taken for full coverage.
if [ "$skipped" -eq 0 ]; then
    echo "no tests skipped"
elif [ ! -d "$shared/data/networks" ]; then
    echo "$skipped tests skipped: real network files not found at $shared/data/networks;" \
        "set QUARN_SHARED_DIR"
else
    echo "$skipped tests skipped: see the lists of tests that did not run above"
fi
exit $status
