#!/usr/bin/env bash
# Builds the library, its Java binding and the example, then runs the main job: posteriors of
# a model. Arguments go to the example: [model-file] [node=outcome ...]; with none it runs on
# the chest-clinic model that ships with it. Model paths are taken from where you call it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"

"$root/scripts/setup.sh" run

# The first configuration leaves the test suites out (their frameworks are scripts/test.sh's
# to install); later runs keep whatever the build folder was configured with, and the build
# tool redoes only what changed, which is nothing on a second run.
mkdir -p "$build"
log="$build/run-build.log"
configure=()
if [ ! -f "$build/CMakeCache.txt" ]; then
    configure=(cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARN_TESTS=OFF)
    echo "Building quarn (log: $log) ..." >&2
fi
# The build's own chatter goes to the log, shown only when the build fails.
if ! { if [ ${#configure[@]} -gt 0 ]; then "${configure[@]}"; fi &&
       cmake --build "$build" -j"$(nproc)" --target quarn quarn_jar quarn_examples; } >"$log" 2>&1
then
    tail -n 40 "$log" >&2
    echo "The build failed; the whole log is in $log." >&2
    exit 1
fi

exec java -Dquarn.library="$build/libquarn.so" \
    -cp "$build/java/quarn.jar:$build/examples/quarn-examples.jar" \
    quarn.examples.Posteriors "$@"
