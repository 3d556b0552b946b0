#!/usr/bin/env bash
# Builds the library and runs every test twice: a plain optimised build, then the same
# suites under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

jobs=$(nproc)
status=0

run_suite() {
    local dir=$1
    shift
    cmake -S . -B "$dir" "$@" >/dev/null
    cmake --build "$dir" -j"$jobs"
    (cd "$dir" && ctest --output-on-failure -j"$jobs") || status=1
}

echo "== plain build =="
run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARN_TESTS=ON -DQUARN_BENCH=ON
echo "== sanitizer build (address, undefined) =="
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DQUARN_TESTS=ON -DQUARN_SANITIZE=ON

exit $status
