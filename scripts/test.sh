#!/usr/bin/env bash
# Builds the library and runs every test twice: a plain optimised build, then the same
# suites under AddressSanitizer and UndefinedBehaviorSanitizer; then compiles the library and
# the fuzz programs with clang, where it is installed.
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

# The library and the fuzz programs of the readers compiled by clang as well, where it is
# installed, so that code only one compiler accepts fails here; nothing is run, and without
# debug information or optimisation the step stays short.
echo "== clang build (library and fuzz programs, not run) =="
if ! command -v clang++ >/dev/null 2>&1; then
    echo "clang++ not found: the clang build is skipped"
else
    clang_options=(-DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug
                   -DCMAKE_CXX_FLAGS_DEBUG=-O0 -DQUARN_TESTS=OFF)
    clang_targets=(quarn)
    mkdir -p build-clang
    # libFuzzer comes with clang's runtime package, which a machine may lack.
    if printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' |
        clang++ -x c++ -fsanitize=fuzzer - -o build-clang/fuzzer_probe >/dev/null 2>&1; then
        clang_options+=(-DQUARN_FUZZ=ON)
        clang_targets+=(quarn_fuzz)
    else
        clang_options+=(-DQUARN_FUZZ=OFF)
        echo "clang has no libFuzzer here: only the library is built with clang"
    fi
    if ! { cmake -S . -B build-clang "${clang_options[@]}" >/dev/null &&
           cmake --build build-clang -j"$jobs" --target "${clang_targets[@]}"; }; then
        echo "the clang build failed"
        status=1
    fi
fi

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
