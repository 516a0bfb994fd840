# The crash report of the x86_64 Windows program under wine64, checked as
# on Linux. Not a stack overflow: wine 8 ends such a program itself, without
# calling its filter; nor running data.
. "$(dirname "$0")/wine-env"
RUN=wine_run EXE=.exe MODES="write divide thread"
. "$(dirname "$0")/../e2e/runtime.sh"
