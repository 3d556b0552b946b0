#!/usr/bin/env bash
# Builds the library and runs the main job.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target quarn
echo "Built $(pwd)/build/libquarn.so."
echo "The library cannot read or evaluate a model yet, so there is no main job to run."
