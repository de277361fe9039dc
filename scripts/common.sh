# Shared by the project's scripts: paths, one-line failures, the Wine prefix and the display.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${LOOKWELL_BUILD:-$root/build}
export WINEPREFIX=${LOOKWELL_WINEPREFIX:-$build/wineprefix}
export WINEDEBUG=${LOOKWELL_WINEDEBUG:--all}
# No Mono or Gecko: their install prompts would block a headless run.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
mkdir -p "$build"
log=${LOOKWELL_LOG:-$build/lookwell.log}

fail() {
    echo "$(basename "$0"): $*" >&2
    exit 1
}

# Runs a step quietly; on failure says what failed in one line and where the details are.
quietly() {
    local what=$1
    shift
    "$@" >>"$log" 2>&1 || fail "$what failed (details in $log)"
}

# ensure_build [tests]: installs what is missing and builds. Without "tests" only what running
# needs is installed and built; with it everything, the test suite included.
ensure_build() {
    # The suite's check of the run command: the suite has just built, and other tests run from
    # this build folder meanwhile, so a rebuild there must not replace files under them.
    [ "${LOOKWELL_BUILT:-}" = 1 ] && return 0
    local tests=${1:-}
    "$root/scripts/setup" ${tests:+--tests} || exit 1
    # A build folder first configured without the test packages has the tests switched off.
    if [ ! -f "$build/CMakeCache.txt" ] ||
        { [ -n "$tests" ] && ! grep -q '^LOOKWELL_TESTS:BOOL=ON$' "$build/CMakeCache.txt"; }; then
        quietly "configuring the build" cmake -S "$root" -B "$build" \
            -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release \
            ${tests:+-DLOOKWELL_TESTS=ON}
    fi
    local targets=()
    [ -z "$tests" ] && targets=(--target Lookwell lookwell_testcam testcam_list lookwell_press)
    cmake --build "$build" -j "$(nproc)" "${targets[@]}" >>"$log" 2>&1 ||
        { tail -n 40 "$log" >&2; fail "the build failed (details in $log)"; }
}

# The first start of a new prefix takes seconds: pay it once, under a lock so parallel
# starts do not race. With "unmanaged" (the tests' prefixes), no window manager is asked about
# the prefix's windows: with none on a virtual display, Wine waits 2 s for its answer every time
# a top-level window is hidden. The run command's prefix may meet a person's window manager.
ensure_prefix() {
    local managed=Y
    [ "${1:-}" = unmanaged ] && managed=N
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        if [ ! -f "$WINEPREFIX/system.reg" ]; then
            # Windows draw their own caption and frame: there is no window manager on a
            # virtual display, and screenshots should show the whole window.
            { wineboot -i &&
                wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f &&
                wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d $managed /f &&
                wineserver -w; } >>"$log" 2>&1 || exit 1
        fi
    ) 9>"$WINEPREFIX.lock" || {
        tail -n 20 "$log" >&2
        fail "creating the Wine prefix $WINEPREFIX failed (details in $log)"
    }
}

# A Wine prefix takes about 0.7 GB and the suite makes nine: a full disk shows up as a failed
# prefix or a failed test far from its cause, so say it first.
warn_if_disk_low() {
    local need_kb=$1 free_kb
    free_kb=$(df -Pk "$build" | awk 'NR == 2 { print $4 }')
    if [ -n "$free_kb" ] && [ "$free_kb" -lt "$need_kb" ]; then
        echo "$(basename "$0"): only $((free_kb / 1024)) MB free under $build;" \
            "the run needs about $((need_kb / 1024)) MB" >&2
    fi
}

# Starts a virtual X display when none is set; sets DISPLAY and xvfb_pid. Xvfb picks a free
# display number itself (-displayfd), so parallel starts never share one.
xvfb_pid=""
ensure_display() {
    [ -n "${DISPLAY:-}" ] && return 0
    local numfile
    numfile=$(mktemp)
    # Only Wine processes get what a run preloads into them.
    env -u LD_PRELOAD Xvfb -displayfd 1 -screen 0 1280x1024x24 -nolisten tcp >"$numfile" 2>>"$log" &
    xvfb_pid=$!
    for _ in $(seq 100); do
        if [ -s "$numfile" ]; then
            export DISPLAY=":$(head -n 1 "$numfile")"
            rm -f "$numfile"
            return 0
        fi
        kill -0 "$xvfb_pid" 2>/dev/null || break
        sleep 0.05
    done
    rm -f "$numfile"
    kill "$xvfb_pid" 2>/dev/null
    xvfb_pid=""
    fail "no X server could be started (details in $log)"
}

# Ends the virtual display and waits for it, so that nothing of ours outlives the script.
stop_display() {
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
    fi
    xvfb_pid=""
}
