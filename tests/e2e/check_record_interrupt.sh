#!/usr/bin/env bash
# Ctrl+C typed in a terminal ends a recording from the command line: the key goes into a
# terminal of the script's own (script(1)), whose console Wine lends the program; then the file
# is read back by the end-to-end program's reader.
# check_record_interrupt.sh BUILD E2E_EXE
set -u
build=$(cd "$1" && pwd)
exe=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
export WINEPREFIX=$build/e2e-prefix
windows() { echo "Z:${1//\//\\}"; }
dll=$(windows "$build/lookwell_testcam.dll")
name="Lookwell Interrupt Camera $$"
file=$build/record-interrupt.avi
log=$build/record-interrupt.log
fail() {
    echo "$*"
    [ -f "$log" ] && cat "$log"
    exit 1
}
rm -f "$file" "$log"
"$root/scripts/wine-exec" --prefix "$WINEPREFIX" regsvr32 /s /n \
    /i:"name=$name;formats=RGB24:320x240@30" "$dll" || fail "the test camera was not registered"
cleanup() {
    "$root/scripts/wine-exec" --prefix "$WINEPREFIX" regsvr32 /s /u /n /i:"$name" "$dll"
    rm -f "$file"
}
trap cleanup EXIT

# Two seconds recorded by the progress line, then ^C; the program then has its bound to end.
type_ctrl_c() {
    local i
    for ((i = 0; i < 600; ++i)); do
        grep -q "Recording 0:02" "$log" 2>/dev/null && break
        sleep 0.1
    done
    printf '\003'
    for ((i = 0; i < 300; ++i)); do
        grep -q "Stopped by Ctrl+C\|Recorded " "$log" 2>/dev/null && break
        sleep 0.1
    done
}
# Wine itself on the terminal: the program needs no display, and the key reaches it only with
# the terminal as its console. exec: a shell left waiting (dash, script's default when $SHELL is
# unset) takes the same SIGINT and dies of it with 130 after the program ended well.
command="exec $(printf '%q ' env -u DISPLAY wine "$build/Lookwell.exe" \
    "/record:$(windows "$file")" /seconds:60 /uncompressed "/device:$name")"
type_ctrl_c | timeout 120 script -qfec "$command" "$log" >/dev/null
rc=$?
[ $rc -eq 0 ] || fail "the recording ended with $rc, not 0"
grep -q "Stopped by Ctrl+C after 0:0[1-9] to " "$log" || fail "no line saying Ctrl+C stopped it"
LOOKWELL_INTERRUPTED_FILE=$(windows "$file") \
    "$root/scripts/own-display" "$WINEPREFIX" "$exe" --gtest_filter='E2eRecordInterrupted.*'
