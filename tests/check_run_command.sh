#!/usr/bin/env bash
# The run command as a newcomer meets it on a machine with no display: it must return by itself
# with 0, leave a screenshot of a live picture, and leave no process of its own behind.
# check_run_command.sh BUILD_DIR
set -u
build=$1
root=$(cd "$(dirname "$0")/.." && pwd)
# Every process the run starts inherits this mark; none may carry it once the run returned.
mark="lookwell-run-check-$$-$RANDOM"
out=$(mktemp)
trap 'rm -f "$out"' EXIT

# Built already: the suite built before it ran, and the other tests run from the same folder
# meanwhile. A build here relinked the camera's DLL and Lookwell.exe under them whenever the
# sources had changed since (a link that failed left no Lookwell.exe at all).
env -u DISPLAY LOOKWELL_BUILD="$build" LOOKWELL_LOG="$build/run-check.log" LOOKWELL_BUILT=1 \
    LOOKWELL_RUN_MARK="$mark" timeout 240 "$root/scripts/run" >"$out" 2>&1 </dev/null
rc=$?
cat "$out"
if [ $rc -eq 124 ]; then
    echo "FAIL: the run command had not returned after 240 s"
    exit 1
fi
[ $rc -eq 0 ] || { echo "FAIL: the run command ended with $rc"; exit 1; }

shot=$(sed -n 's/^screenshot: //p' "$out")
[ -n "$shot" ] && [ -s "$shot" ] || { echo "FAIL: no screenshot"; exit 1; }
# The lower 60 % of the window lies inside the picture frame: the test camera's eight bars,
# its band and square give it a dozen colours, an empty black frame and the border three.
colours=$(convert "$shot" -gravity south -crop 100%x60%+0+0 +repage -format %k info:)
echo "colours in the picture: $colours"
[ "$colours" -ge 8 ] || { echo "FAIL: the screenshot shows no picture"; exit 1; }

left=$(grep -lsa "LOOKWELL_RUN_MARK=$mark" /proc/[0-9]*/environ | cut -d/ -f3)
if [ -n "$left" ]; then
    echo "FAIL: processes left behind:"
    for pid in $left; do
        tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null
        echo
    done
    exit 1
fi
echo "the run command returned with 0, its screenshot shows a picture, nothing was left behind"
