#!/usr/bin/env bash
# Fails unless the library exports exactly the Java entry points that javac generated
# headers for: none missing (an UnsatisfiedLinkError waiting for its first call) and none
# extra (a native method the host classes no longer declare).
set -euo pipefail
library=$1
header_dir=$2

declared=$(grep -ho 'Java_quarn_[A-Za-z0-9_]*' "$header_dir"/*.h | sort -u)
exported=$(nm -D --defined-only "$library" | awk '{print $NF}' | grep '^Java_quarn_' | sort -u || true)

missing=$(comm -23 <(echo "$declared") <(echo "$exported"))
extra=$(comm -13 <(echo "$declared") <(echo "$exported"))
status=0
if [ -n "$missing" ]; then
    echo "Declared by the host classes but not exported:"
    echo "$missing"
    status=1
fi
if [ -n "$extra" ]; then
    echo "Exported but not declared by the host classes:"
    echo "$extra"
    status=1
fi
echo "$(echo "$declared" | grep -c .) entry points declared, $(echo "$exported" | grep -c . || true) exported"
exit $status
