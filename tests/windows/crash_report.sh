# The crash report of the Windows program under wine, checked as on Linux;
# the 32-bit program shows the 32-bit registers. Not a stack overflow: wine 8
# ends such a program itself, without calling its filter; nor running data.
. "$(dirname "$0")/wine_lib.sh"
RUN=wine_run EXE=.exe MODES="write divide thread"
DIGITS=$([ "$RXMON_WIN_ARCH" = win32 ] && echo 8 || echo 16)
. "$(dirname "$0")/../e2e/runtime.sh"
