#!/usr/bin/env bash
# Runs a command in a private mount namespace with two small file systems mounted for it:
#   $BRIMWELL_TEST_NOXATTR_DIR  ramfs, which keeps no user extended attributes
#   $BRIMWELL_TEST_FULL_DIR     a 64 KiB tmpfs, to run out of space on purpose
# Needs no privileges: an unprivileged user namespace may mount both. The mounts end with it.
set -euo pipefail
if [ -z "${BRIMWELL_IN_SMALL_FS:-}" ]; then
  exec unshare --user --map-root-user --mount env BRIMWELL_IN_SMALL_FS=1 "$0" "$@"
fi
base=$(mktemp -d /tmp/brimwell-smallfs.XXXXXX)
mkdir -p "$base/noxattr" "$base/full"
mount -t ramfs ramfs "$base/noxattr"
mount -t tmpfs -o size=64k tmpfs "$base/full"
status=0
BRIMWELL_TEST_NOXATTR_DIR="$base/noxattr" BRIMWELL_TEST_FULL_DIR="$base/full" "$@" || status=$?
umount "$base/noxattr" "$base/full"
rm -rf "$base"
exit $status
