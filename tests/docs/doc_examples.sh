#!/usr/bin/env bash
# Runs the marked example of README.md and of every page under docs/, so the
# documents cannot drift from the programs: the fenced block after a line
# "<!-- runs -->", in a folder of its own, with the built programs first on
# PATH, in a network namespace of its own (its own loopback, so the fixed
# ports of the examples are free). A page without such a block fails too.
# Usage: doc_examples.sh PROGRAMS-FOLDER SOURCE-FOLDER
set -euo pipefail
usage="usage: doc_examples.sh PROGRAMS-FOLDER SOURCE-FOLDER"
programs=$(cd "${1:?$usage}" && pwd)
source=$(cd "${2:?$usage}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
isolate=()
for try in "unshare --net --map-root-user" "unshare --net"; do
    if $try ip link set lo up 2> /dev/null; then
        read -ra isolate <<< "$try"
        break
    fi
done
if [ ${#isolate[@]} -eq 0 ]; then
    echo "SKIP: no network namespace with its loopback up can be made here (unshare, ip)"
    exit 77
fi
passed=0 failed=0
for page in "$source"/README.md "$source"/docs/*.md; do
    name=${page#"$source"/}
    blocks=$work/blocks
    rm -rf "$blocks"
    mkdir "$blocks"
    # Each marked block to a file of its own.
    awk -v dir="$blocks" '
        /^<!-- runs -->$/ { marked = 1; next }
        marked && /^```/ && !inside { inside = 1; n++; next }
        inside && /^```/ { inside = 0; marked = 0; next }
        inside { print > (dir "/" n ".sh") }' "$page"
    if [ -z "$(ls -A "$blocks")" ]; then
        echo "FAIL: $name has no block marked <!-- runs -->"
        failed=$((failed + 1))
        continue
    fi
    for block in "$blocks"/*.sh; do
        folder=$work/run-$passed-$failed
        mkdir "$folder"
        script="ip link set lo up; cd '$folder'; export PATH='$programs':\$PATH HOME='$folder' XDG_CONFIG_HOME='$folder'
set -e
$(cat "$block")"
        status=0
        timeout -k 5 120 "${isolate[@]}" bash -c "$script" > "$folder.out" 2>&1 || status=$?
        if [ "$status" -eq 0 ]; then
            echo "PASS: $name, example $(basename "$block" .sh)"
            passed=$((passed + 1))
            continue
        fi
        echo "FAIL: $name, example $(basename "$block" .sh) ended with $status:"
        sed 's/^/    /' "$block"
        for output in "$folder.out" "$folder"/*.txt "$folder"/*.err; do
            [ -f "$output" ] || continue
            echo "  ${output#"$work"/}:"
            tail -n 30 "$output" | sed 's/^/    /'
        done
        failed=$((failed + 1))
    done
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
