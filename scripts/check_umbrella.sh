#!/usr/bin/env bash
# Fails when a public header under src/ is not included by the umbrella header src/quarn.h.
# Headers marked "Internal: not part of the public interface." are left out on purpose.
set -euo pipefail
cd "$(dirname "$0")/../src"
missing=0
while IFS= read -r header; do
    header=${header#./}
    [ "$header" = "quarn.h" ] && continue
    case "$header" in jni/*) continue ;; esac
    grep -q "Internal: not part of the public interface" "$header" && continue
    if ! grep -q "^#include \"$header\"" quarn.h; then
        echo "src/quarn.h does not include $header"
        missing=1
    fi
done < <(find . -name '*.h' | sort)
exit $missing
