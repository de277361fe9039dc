#!/usr/bin/env bash
# Opens the camera check's report in a real browser, Debian's headless Chromium: the test
# program writes a report of real checks, Chromium photographs the page, and the test program
# reads the photograph back. Skipped (exit 77) only where Chromium is not installed.
# check_report_browser.sh BUILD TESTS_EXE
set -u
build=$1
exe=$2
root=$(cd "$(dirname "$0")/.." && pwd)
if ! command -v chromium >/dev/null; then
    echo "Chromium is not installed (scripts/setup --tests installs the package chromium): skipped"
    exit 77
fi
dir=$build/report-browser
rm -rf "$dir"
mkdir -p "$dir"
export LOOKWELL_REPORT_DIR="Z:${dir//\//\\}"
"$root/scripts/wine-exec" --prefix "$build/lookwell-prefix" "$exe" \
    --gtest_filter='ReportInBrowser.WritesAReportOfRealChecks' || exit 1
# As root, on a closed network: no sandbox, nothing fetched, a profile of its own.
profile=$(mktemp -d)
timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$profile" --hide-scrollbars --force-device-scale-factor=1 \
    --window-size=1400,3000 --screenshot="$dir/page.png" "file://$dir/report.html" \
    >"$dir/chromium.log" 2>&1
status=$?
rm -rf "$profile"
if [ ! -s "$dir/page.png" ]; then
    echo "Chromium made no screenshot (exit $status):"
    tail -n 20 "$dir/chromium.log"
    exit 1
fi
"$root/scripts/wine-exec" --prefix "$build/lookwell-prefix" "$exe" \
    --gtest_filter='ReportInBrowser.ShowsEveryPictureAndEveryPlotWithItsNominalLineAndTheStop'
