# The crash report of the x86_64 Windows program under wine64: a probe that
# faults as asked must write the framed report on error output, the same
# report into the report file, and end with exit code 1.
#
# Not checked here: a stack overflow. wine 8 ends a program whose stack has
# overflowed itself, without calling its filter ("stack overflow ... bytes"
# in its log), so there is nothing of ours to watch.
set -eu
. "$(dirname "$0")/wine-env"
probe=$(realpath "$1")/tests/crash_probe.exe
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"

fail() { echo "crash report ($mode): $*"; cat err; exit 1; }
field() { sed -n "s/^  $1 *\(.*\)\r\$/\1/p" err; }

checked=
# The probe's mode, and the report's code, name and access line (empty: none).
while IFS='|' read -r mode code name access <&3; do
    rm -f crash-report.txt err
    status=0
    wine_run "$probe" "$mode" >out 2>err || status=$?
    [ "$status" = 1 ] || fail "exit code $status"
    [ -s crash-report.txt ] || fail "no report file"
    { printf '\r\n\r\n'; cat crash-report.txt
      printf 'The crash report was also written to crash-report.txt.\r\n\r\n\r\n'; } | cmp -s - err ||
        fail "error output is not the framed report of the file"
    [ "$(field 'At address:')" = "$(grep -o ' RIP=[0-9A-F]*' err | cut -d= -f2)" ] || fail "address and RIP differ"
    [ "$(field 'Exception code:')" = "$code" ] || fail "code"
    [ "$(field 'Exception:')" = "$name" ] || fail "name"
    [ "$(field 'Faulting access:')" = "$access" ] || fail "access"
    checked="$checked $mode"
done 3<<'CASES'
write|C0000005|access violation|writing at address 0000000000000010 (16)
divide|C0000094|integer divide by zero|
thread|C0000005|access violation|reading at address 0000000000000020 (32)
CASES
[ "$checked" = " write divide thread" ] || { echo "crash report: checked only$checked"; exit 1; }
echo "crash report under wine: ok"
