#!/usr/bin/env bash
# Compares a list of installed files (paths relative to the prefix, one a line, from a file or
# "-" for standard input) with the expected list, and names every missing and unexpected file.
# Usage: check_files.sh ACTUAL EXPECTED
set -euo pipefail
actual=$(sort -u "${1/#-//dev/stdin}")
expected=$(grep -v '^#' "$2" | sed '/^$/d' | sort -u)
missing=$(comm -13 <(echo "$actual") <(echo "$expected"))
unexpected=$(comm -23 <(echo "$actual") <(echo "$expected"))
[ -z "$missing" ] || echo "FAIL: missing: $(echo $missing)" >&2
[ -z "$unexpected" ] || echo "FAIL: unexpected: $(echo $unexpected)" >&2
[ -z "$missing$unexpected" ] && echo "ok: $(wc -l <<<"$expected") files as expected"
