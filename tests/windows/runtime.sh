# The runtime of the Windows program under wine: the pure routines' tests,
# then the crash report, checked as on Linux; the 32-bit program shows the
# 32-bit registers. Not a stack overflow: wine 8 ends such a program itself,
# without calling its filter; nor running data.
. "$(dirname "$0")/wine_lib.sh"
pure=$(wine_run "$1/tests/unit_pure.exe") || { echo "$pure"; exit 1; }
RUN=wine_run EXE=.exe MODES="write divide thread"
DIGITS=$([ "$RXMON_WIN_ARCH" = win32 ] && echo 8 || echo 16)
. "$(dirname "$0")/../e2e/runtime.sh"
