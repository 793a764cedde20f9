#!/usr/bin/env bash
# lintian, Debian's package checker, finds no error and no warning in the package. Its full
# report (informational tags too) is printed.
# Usage: lintian_test.sh PACKAGE.deb
set -euo pipefail
command -v lintian >/dev/null || { echo "SKIP: lintian is not installed"; exit 77; }
status=0
lintian --info --display-level '>=pedantic' --fail-on error,warning "$1" 2>&1 |
  grep -v 'running with root privileges is not recommended' || status=${PIPESTATUS[0]}
if [ "$status" -ne 0 ]; then
  echo "FAIL: lintian reports errors or warnings (status $status)" >&2
  exit 1
fi
echo "ok: lintian reports no error and no warning"
