#!/usr/bin/env bash
# Runs the recording's full-disk test on a small file system made here: 72 MiB, a few more than
# the 64 MiB the recorder keeps free. Mounting needs root (as CI and the set-up run); elsewhere
# the test is skipped (exit 77).
# check_record_disk.sh BUILD E2E_EXE
set -u
build=$1
exe=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
fs=$build/small-fs/recdisk
cleanup() {
    umount "$fs" 2>/dev/null
}
trap cleanup EXIT
cleanup
mkdir -p "$fs"
if ! mount -t tmpfs -o size=72m tmpfs "$fs" 2>/dev/null; then
    echo "no file system could be mounted here (needs root): skipped"
    exit 77
fi
LOOKWELL_SMALL_FS="Z:${fs//\//\\}" \
    "$root/scripts/own-display" "$build/e2e-prefix" "$exe" --gtest_filter='E2eRecordSmallDisk*'
