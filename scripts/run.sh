#!/usr/bin/env bash
# Builds the library, its Java binding and the example, then runs the main job: posteriors of
# a model. Arguments go to the example: [model-file] [node=outcome ...]; with none it runs on
# the chest-clinic model that ships with it. Model paths are taken from where you call it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"

"$root/scripts/setup.sh"

# The build's own chatter goes to a log, shown only when the build fails.
mkdir -p "$build"
log="$build/run-build.log"
echo "Building quarn (log: $log) ..." >&2
if ! { cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
       cmake --build "$build" -j"$(nproc)" --target quarn quarn_jar quarn_examples; } >"$log" 2>&1
then
    tail -n 40 "$log" >&2
    echo "The build failed; the whole log is in $log." >&2
    exit 1
fi

exec java -Dquarn.library="$build/libquarn.so" \
    -cp "$build/java/quarn.jar:$build/examples/quarn-examples.jar" \
    quarn.examples.Posteriors "$@"
