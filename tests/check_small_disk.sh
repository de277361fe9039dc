#!/usr/bin/env bash
# Runs the save and recording tests on small file systems made here: one full, one read-only,
# one of 2 MiB that a recording fills. Mounting needs root (as CI and the set-up run); elsewhere
# the test is skipped (exit 77).
# check_small_disk.sh BUILD TESTS_EXE
set -u
build=$1
exe=$2
root=$(cd "$(dirname "$0")/.." && pwd)
fs=$build/small-fs
cleanup() {
    umount "$fs/full" 2>/dev/null
    umount "$fs/ro" 2>/dev/null
    umount "$fs/rec" 2>/dev/null
}
trap cleanup EXIT
cleanup
mkdir -p "$fs/full" "$fs/ro" "$fs/ok" "$fs/rec"
rm -f "$fs/ok"/*
if ! mount -t tmpfs -o size=64k tmpfs "$fs/full" 2>/dev/null ||
    ! mount -t tmpfs -o size=64k tmpfs "$fs/ro" 2>/dev/null ||
    ! mount -t tmpfs -o size=2m tmpfs "$fs/rec" 2>/dev/null; then
    echo "no file system could be mounted here (needs root): skipped"
    exit 77
fi
# The old picture the saves must keep: 3000 bytes of a pattern the test knows.
for dir in "$fs/full" "$fs/ro" "$fs/ok"; do
    head -c 3000 /dev/zero | tr '\0' 'P' >"$dir/old.png"
done
# Nothing left on the full one.
dd if=/dev/zero of="$fs/full/filler" bs=4096 2>/dev/null
mount -o remount,ro "$fs/ro" || exit 1
LOOKWELL_SMALL_FS="Z:${fs//\//\\}" \
    "$root/scripts/wine-exec" --prefix "$build/lookwell-prefix" "$exe" --gtest_filter='SmallDisk.*'
