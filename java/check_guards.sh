#!/usr/bin/env bash
# Fails unless every entry point that javac generated a header for is defined in the binding
# with a body that starts by running through Guarded, which holds the process-wide lock of a
# native call: one entry that skips it lets two host threads into the library's unguarded
# state at once. The sources are read after the preprocessor, so entries that a macro
# defines are checked like the others.
#
# Usage: check_guards.sh HEADER_DIR COMPILER SOURCE... -- INCLUDE_DIR...
set -euo pipefail
header_dir=$1
compiler=$2
shift 2
sources=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    sources+=("$1")
    shift
done
[ $# -gt 0 ] && shift
includes=()
for dir in "$@"; do includes+=("-I$dir"); done

declared=$(grep -ho 'Java_quarn_[A-Za-z0-9_]*' "$header_dir"/*.h | sort -u)

# Prints "name guarded" or "name unguarded" for each definition of an entry in the text of
# the source itself (line markers tell it from the headers it includes).
list_definitions() {
    awk -v main="$1" '
        /^# [0-9]+ "/ { split($0, marker, "\""); own = (marker[2] == main); next }
        !own { next }
        {
            line = $0
            for (i = 1; i <= length(line); i++) {
                c = substr(line, i, 1)
                if (quote != "") {
                    if (c == "\\") i++
                    else if (c == quote) quote = ""
                    continue
                }
                if (c == "\"" || c == "\047") { quote = c; continue }
                if (state == "body") {
                    if (c !~ /[ \t]/) body = body c
                    if (c == "{") depth++
                    else if (c == "}" && --depth == 0) {
                        guarded = (body ~ /^\{(return)?Guarded\(env,/)
                        print name, (guarded ? "guarded" : "unguarded")
                        state = ""
                    }
                    continue
                }
                if (state == "arguments") {
                    if (c == "(") parens++
                    else if (c == ")" && --parens == 0) state = "after"
                    continue
                }
                if (state == "after") {
                    if (c ~ /[ \t]/) continue
                    if (c == "{") { state = "body"; depth = 1; body = "{" }
                    else state = ""
                    continue
                }
                if (substr(line, i, 11) == "Java_quarn_" && (i == 1 || substr(line, i - 1, 1) !~ /[A-Za-z0-9_]/)) {
                    rest = substr(line, i)
                    match(rest, /^[A-Za-z0-9_]+/)
                    name = substr(rest, 1, RLENGTH)
                    i += RLENGTH - 1
                    state = "name"
                    continue
                }
                if (state == "name") {
                    if (c ~ /[ \t]/) continue
                    if (c == "(") { state = "arguments"; parens = 1 } else state = ""
                }
            }
        }'
}

definitions=$(for source in "${sources[@]}"; do
    "$compiler" -std=c++17 -E "${includes[@]}" "$source" | list_definitions "$source"
done | sort -u)

guarded=$(echo "$definitions" | awk '$2 == "guarded" { print $1 }' | sort -u)
unguarded=$(comm -23 <(echo "$declared") <(echo "$guarded"))
if [ -n "$unguarded" ]; then
    echo "Entry points whose definition does not start by running through Guarded (or was not"
    echo "found in the sources):"
    echo "$unguarded"
    exit 1
fi
echo "$(echo "$declared" | grep -c .) entry points, each guarded"
