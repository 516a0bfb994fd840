# The runtime in a real program (runtime_probe): exit codes, the fatal
# frame and CR LF line ends with standard output redirected to a file and
# error output to a pipe; and the program's texts reach the built programs
# only in stored form (strings(1) must find none of them plain).
set -eu
probe=$1/tests/runtime_probe
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAILED: $*"; exit 1; }

"$probe" print >"$dir/out" 2>"$dir/err"
printf '3 texts, 123,456 bytes\r\n' | cmp - "$dir/out"
[ ! -s "$dir/err" ] || fail "both are files: written once"
# A file and a pipe differ in type, so the console text is mirrored.
"$probe" print 2>&1 >"$dir/out" | cat >"$dir/err"
printf '3 texts, 123,456 bytes\r\n' | cmp - "$dir/out"
printf '3 texts, 123,456 bytes\r\n' | cmp - "$dir/err"

code=0
"$probe" fatal now >"$dir/out" 2>"$dir/err" || code=$?
[ "$code" = 1 ] && grep -q "Asked to stop (fatal now)" "$dir/err" || fail "fatal exit code $code"
[ "$(grep -c . "$dir/err")" -ge 3 ] && [ ! -s "$dir/out" ] || fail "no frame around the message"
code=0
"$probe" memory 2>"$dir/err" || code=$?
[ "$code" = 1 ] && grep -q "could not be given back" "$dir/err" || fail "a second release: exit code $code"

# The check can see a plain text: a C library name stays plain.
strings -n 5 "$probe" | grep -qF "libc.so" || fail "strings found nothing it should have found"
plain() {  # plain PROGRAM TEXT...: fails if any TEXT is plain in PROGRAM
    local found
    found=$(strings -n 5 "$1")
    shift
    for text in "$@"; do ! grep -qF -- "$text" <<<"$found" || fail "plain text: $text"; done
}
plain "$probe" "texts, %" "internal failure" "Short write" "cannot be created or replaced" \
    "<closed handle>" "Out of memory" "0123456789ABCDEF" "usage: runtime_probe" "Asked to stop"
plain "$1/rxmon" "[Autobaud]" "no communication with scanner" "internal failure" "Short write"
echo "runtime: ok"
