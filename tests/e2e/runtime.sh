# The runtime in a real program, runtime_probe: exit codes, the fatal frame
# and CR LF line ends with output redirected; texts only stored in the built
# programs (strings(1) finds none plain); the crash report of each fault,
# framed on error output and in its file, and exit code 1 (also under wine:
# tests/windows/runtime.sh sources this with RUN, EXE and MODES set).
set -eu
build=$(realpath "$1")
probe=$build/tests/runtime_probe${EXE-}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
mode=
fail() { echo "FAILED ($mode): $*"; cat err 2>/dev/null; exit 1; }

if [ -z "${RUN-}" ]; then
    "$probe" print >out 2>err
    printf '3 texts, 123,456 bytes\r\n' | cmp - out
    [ ! -s err ] || fail "both are files: written once"
    "$probe" print 2>&1 >out | cat >err  # a file and a pipe differ in type: the console text is mirrored
    printf '3 texts, 123,456 bytes\r\n' | cmp - out
    printf '3 texts, 123,456 bytes\r\n' | cmp - err
    code=0
    "$probe" fatal now >out 2>err || code=$?
    [ "$code" = 1 ] && grep -q "Asked to stop (fatal now)" err || fail "fatal exit code $code"
    [ "$(grep -c . err)" -ge 3 ] && [ ! -s out ] || fail "no frame around the message"
    code=0
    "$probe" memory 2>err || code=$?
    [ "$code" = 1 ] && grep -q "could not be given back" err || fail "a second release: exit code $code"
    strings -n 5 "$probe" | grep -qF "libc.so" || fail "strings found nothing it should have found"
    for text in "texts, %" "internal failure" "Short write" "cannot be created or replaced" "<closed handle>" \
        "Out of memory" "0123456789ABCDEF" "usage: runtime_probe" "Asked to stop" "[Autobaud]" "no communication with scanner" \
        "rfc2217://HOST"; do
        ! strings -n 5 "$probe" "$build/rxmon" | grep -qF -- "$text" || fail "plain text: $text"
    done
fi

field() { sed -n "s/^  $1 *\(.*\)\r\$/\1/p" err; }
# The mode, and the report's code, name and access line (a pattern).
checked=
while IFS='|' read -r mode code name access <&3; do
    [[ " ${MODES-write divide thread execute overflow stack} " == *" $mode "* ]] || continue
    [ "$mode" != stack ] || [ "$(ulimit -s)" != unlimited ] || continue  # no near limit to the main stack here
    rm -f crash-report.txt err
    status=0
    ${RUN-} "$probe" "$mode" >out 2>err || status=$?
    [ "$status" = 1 ] && [ -s crash-report.txt ] || fail "exit code $status, or no report file"
    { printf '\r\n\r\n'; cat crash-report.txt; printf 'The crash report was also written to crash-report.txt.\r\n\r\n\r\n'; } |
        cmp -s - err || fail "error output is not the framed report of the file"
    at=$(field 'At address:')
    [ "$at" = "$(grep -o ' [RE]IP=[0-9A-F]*' err | cut -d= -f2)" ] && [ "${at//0/}" ] || fail "address $at, or not the instruction pointer"
    # @at is the faulting address, @16 and @32 those numbers, as wide as the build's registers.
    access=${access//@at/$at}
    access=${access//@16/$(printf '%0*X' "${DIGITS:-16}" 16)}
    access=${access//@32/$(printf '%0*X' "${DIGITS:-16}" 32)}
    [[ "$(field 'Exception code:')|$(field 'Exception:')|$(field 'Faulting access:')" == $code\|$name\|$access ]] ||
        fail "code, name or access"
    [ "$(grep -c 'Further detail:' err)" = "$([[ $access == executing* ]] && echo 1 || echo 0)" ] || fail "further detail"
    checked="$checked $mode"
done 3<<'CASES'
write|C0000005|access violation|writing at address @16 (16)
divide|C0000094|integer divide by zero|
thread|C0000005|access violation|reading at address @32 (32)
execute|C0000005|access violation|executing in non-executable memory at address @at (*
overflow|C00000FD|stack overflow|
stack|C00000FD|stack overflow|
CASES
[ -n "$checked" ] || fail "no crash report checked"
echo "runtime: ok; crash reports of$checked"
