#!/usr/bin/env bash
# Builds the Debian package from the release build and checks it: its files against the
# expected list, lintian, and (as root) an install with apt, a run and a purge.
# The package is build/release/brimwell_<version>_<arch>.deb.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target package_contents
rm -f build/release/brimwell_*.deb
(cd build/release && cpack -G DEB)
deb=$(echo build/release/brimwell_*.deb)
echo "Package: $deb"
dpkg-deb --field "$deb"

passed=0 failed=0 skipped=0
check() {
  local name=$1 status=0
  shift
  echo "--- $name"
  "$@" || status=$?
  case $status in
    0) passed=$((passed + 1)) ;;
    77) skipped=$((skipped + 1)) ;;
    *) failed=$((failed + 1)); echo "--- $name FAILED" ;;
  esac
}
# Paths inside /usr relative to it, as the list has them; anything elsewhere stays absolute
# and so unexpected.
package_files() {
  dpkg-deb --fsys-tarfile "$1" | tar -t | grep -v '/$' | sed 's|^\./usr/||; s|^\./|/|'
}
check "file list" tests/packaging/check_files.sh <(package_files "$deb") \
  build/release/package-files.txt
check lintian tests/packaging/lintian_test.sh "$deb"
check "install, run, purge" tests/packaging/package_install_test.sh "$deb"
echo "packaging: $passed passed, $failed failed, $skipped skipped"
[ $failed -eq 0 ]
