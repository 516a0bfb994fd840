# The crash report of the x86_64 Windows program under wine64: a probe that
# faults as asked must write the framed report on error output, the same
# report into the report file, and end with exit code 1.
#
# Not checked here: a stack overflow. wine 8 ends a program whose stack has
# overflowed itself, without calling its filter ("stack overflow ... bytes"
# in its log), so there is nothing of ours to watch.
set -eu
. "$(dirname "$0")/wine-env"
probe=$1/tests/crash_probe.exe
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"

fail() { echo "crash report ($mode): $*"; cat err; exit 1; }
field() { sed -n "s/^  $1 *\(.*\)\r\$/\1/p" err; }
register() { grep -o " $1=[0-9A-F]*" err | cut -d= -f2; }

for mode in write divide thread; do
    rm -f crash-report.txt err
    set +e
    wine_run "$probe" "$mode" >out 2>err
    code=$?
    set -e
    [ "$code" = 1 ] || fail "exit code $code"
    [ -s crash-report.txt ] || fail "no report file"
    { printf '\r\n\r\n'; cat crash-report.txt
      printf 'The crash report was also written to crash-report.txt.\r\n\r\n\r\n'; } | cmp -s - err ||
        fail "error output is not the framed report of the file"
    [ "$(field 'At address:')" = "$(register RIP)" ] || fail "address and RIP differ"
    case $mode in
    write)
        [ "$(field 'Exception code:')" = C0000005 ] || fail "code"
        [ "$(field 'Exception:')" = "access violation" ] || fail "name"
        [ "$(field 'Faulting access:')" = "writing at address 0000000000000010 (16)" ] || fail "access" ;;
    divide)
        [ "$(field 'Exception code:')" = C0000094 ] || fail "code"
        [ "$(field 'Exception:')" = "integer divide by zero" ] || fail "name"
        ! grep -q "Faulting access" err || fail "an access line" ;;
    thread)
        [ "$(field 'Exception:')" = "access violation" ] || fail "name"
        [ "$(field 'Faulting access:')" = "reading at address 0000000000000020 (32)" ] || fail "access" ;;
    esac
done
echo "crash report under wine: ok"
