# Exit codes, the fatal frame and CR LF line ends of a real program, with
# standard output redirected to a file and error output to a pipe.
set -eu
probe=$1/tests/runtime_probe
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

"$probe" print >"$dir/out" 2>"$dir/err"
printf '3 texts, 123,456 bytes\r\n' | cmp - "$dir/out"
[ ! -s "$dir/err" ]  # both are files: written once
# A file and a pipe differ in type, so the console text is mirrored.
"$probe" print 2>&1 >"$dir/out" | cat >"$dir/err"
printf '3 texts, 123,456 bytes\r\n' | cmp - "$dir/out"
printf '3 texts, 123,456 bytes\r\n' | cmp - "$dir/err"

set +e
"$probe" fatal now >"$dir/out" 2>"$dir/err"; code=$?
set -e
[ "$code" = 1 ] || { echo "fatal exit code $code"; exit 1; }
grep -q "Asked to stop (fatal now)" "$dir/err"
[ "$(grep -c . "$dir/err")" -ge 3 ] || { echo "no frame around the message"; cat "$dir/err"; exit 1; }
[ ! -s "$dir/out" ]

set +e
"$probe" memory 2>"$dir/err"; code=$?
set -e
[ "$code" = 1 ] && grep -q "could not be given back" "$dir/err"
echo "runtime exits: ok"
