# The crash report of a real program: runtime_probe faults as asked and must
# write the framed report on error output, the same report into the report
# file, and end with exit code 1. Sourced by tests/windows/crash_report.sh
# too, which sets RUN, EXE and MODES for the Windows build under wine.
set -eu
probe=$(realpath "$1")/tests/runtime_probe${EXE-}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
fail() { echo "crash report ($mode): $*"; cat err; exit 1; }
field() { sed -n "s/^  $1 *\(.*\)\r\$/\1/p" err; }

# The probe's mode, and the report's code, name and access line (empty:
# none; a pattern, where @ stands for the exception's address).
checked=
while IFS='|' read -r mode code name access <&3; do
    [[ " ${MODES-write divide thread execute overflow stack} " == *" $mode "* ]] || continue
    # The main stack may grow without a near limit here.
    [ "$mode" != stack ] || [ "$(ulimit -s)" != unlimited ] || continue
    rm -f crash-report.txt err
    status=0
    ${RUN-} "$probe" "$mode" >out 2>err || status=$?
    [ "$status" = 1 ] && [ -s crash-report.txt ] || fail "exit code $status, or no report file"
    { printf '\r\n\r\n'; cat crash-report.txt; printf 'The crash report was also written to crash-report.txt.\r\n\r\n\r\n'; } |
        cmp -s - err || fail "error output is not the framed report of the file"
    at=$(field 'At address:')
    [ "$at" = "$(grep -o ' [RE]IP=[0-9A-F]*' err | cut -d= -f2)" ] && [ "${at//0/}" ] || fail "address $at, or not the instruction pointer"
    [[ "$(field 'Exception code:')|$(field 'Exception:')|$(field 'Faulting access:')" == $code\|$name\|${access//@/$at} ]] ||
        fail "code, name or access"
    [ "$(grep -c 'Further detail:' err)" = "$([[ $access == executing* ]] && echo 1 || echo 0)" ] || fail "further detail"
    checked="$checked $mode"
done 3<<'CASES'
write|C0000005|access violation|writing at address 0000000000000010 (16)
divide|C0000094|integer divide by zero|
thread|C0000005|access violation|reading at address 0000000000000020 (32)
execute|C0000005|access violation|executing in non-executable memory at address @ (*
overflow|C00000FD|stack overflow|
stack|C00000FD|stack overflow|
CASES
[ -n "$checked" ] || { echo "crash report: nothing checked"; exit 1; }
echo "crash report:$checked"
