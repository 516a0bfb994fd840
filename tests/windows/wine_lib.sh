# Sourced by the Windows test scripts: runs a program of one Windows build
# under wine's loader for its architecture, RXMON_WIN_ARCH: win32 (the i686
# program, wine32's loader) or win64 (the x86_64 one, wine64's). A kernel
# that cannot run i386 code skips the 32-bit tests (exit 77); anywhere else
# a missing loader is a failure of the install, not a reason to skip.
export WINEDEBUG=-all
WINE64=/usr/lib/wine/wine64
case ${RXMON_WIN_ARCH:?win32 or win64} in
    win64) WINE=$WINE64 ;;
    win32)
        WINE=${RXMON_WINE32:-/usr/lib/wine/wine}
        [ -x "$WINE" ] || { echo "FAILED: $WINE is missing: wine32 (i386) is not installed"; exit 1; }
        status=0
        why=$("$WINE" --version 2>&1 >/dev/null) || status=$?
        if [ "$status" = 126 ]; then
            echo "SKIPPED: this machine's kernel cannot run 32-bit (i386) programs: $why"
            exit 77
        fi
        ;;
esac

wine_run() { timeout "${WINE_TIMEOUT:-300}" "$WINE" "$@"; }

# wine_prefix DIR: makes DIR a wine prefix, unless it is one already for this
# wine. The first start in a new prefix writes wine's own messages to error
# output and takes some seconds; done here, quietly, no test sees either. A
# prefix that a stopped run left half made, or that an older wine made, is
# made again.
wine_prefix() {
    local dir=$1 version
    version=$("$WINE64" --version)
    (
        flock 9
        [ "$(cat "$dir/.rxmon-made" 2>/dev/null)" = "$version" ] && exit 0
        WINEPREFIX=$dir /usr/lib/wine/wineserver -k 2>/dev/null
        rm -rf "$dir"
        WINEPREFIX=$dir timeout 300 "$WINE64" wineboot -i >/dev/null 2>&1
        WINEPREFIX=$dir timeout 60 /usr/lib/wine/wineserver -w
        echo "$version" >"$dir/.rxmon-made"
    ) 9>"$dir.lock"
}

export WINEPREFIX="${RXMON_WINEPREFIX:-${TMPDIR:-/tmp}/rxmon-wineprefix}"
wine_prefix "$WINEPREFIX"
