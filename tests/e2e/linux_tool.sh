# rxmon as a Linux tool: --help and --version, the options, scripts/run, the
# manual pages, the Debian package and the light set of packages to run it.
set -u
. "$(dirname "$0")/monitor_lib.sh"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")

out=$(timeout 5 "$rxmon" --help </dev/null)
check "--help ends with 0" [ $? = 0 ]
for text in "rfc2217://HOST:PORT" /dev/ttyUSB0 "RXMON_COM<n>" SOUND ESC "Exit status"; do
    check "--help names $text" grep -qF -- "$text" <<<"$out"
done
check "--help: no terminal control" [ -z "$(tr -dc '\033' <<<"$out")" ]
check "-h is --help" [ "$(timeout 5 "$rxmon" -h </dev/null; echo "exit $?")" = "$out"$'\n'"exit 0" ]
# A reader gone before the usage is written (rxmon --help | head -1) is no
# internal failure: exit 1, nothing on error output.
check "--help to a closed pipe" python3 -c 'import os, subprocess, sys
r, w = os.pipe(); os.close(r)
p = subprocess.run([sys.argv[1], "--help"], stdout=w, stderr=subprocess.PIPE)
sys.exit(p.returncode != 1 or p.stderr != b"")' "$rxmon"
check "the version" [ "$(timeout 5 "$rxmon" --version </dev/null | tr -d '\r')" = "rxmon $version" ]
# Options stand anywhere before "--", a value as the next word or after "=".
while IFS='|' read -r arguments code text; do
    status=0
    err=$(timeout 5 "$rxmon" $arguments </dev/null 2>&1 >/dev/null) || status=$?
    check "rxmon ${arguments:0:40}: $code, $text" [ "$status" = "$code" ] && check "says $text" grep -qF -- "$text" <<<"$err"
done <<CASES
--peak 1 --frobnicate|2|unknown option --frobnicate
1 --log|2|--log needs a file name
-x|2|Usage: rxmon [OPTION...]
--reconnect -3|1|COM-3? Use 1 to 9.
--log --peak 1|2|--log needs a file name
--log a --log b 1|2|--log is given twice
--bogus --help|0|
--log= 1|2|--log needs a file name
--log=$work/x.csv --peak -- -x|1|no screen to draw on
--log=$(printf %0260d 0) 1|1|too long: 260 characters, where 259
CASES
# scripts/run with options alone runs them on the simulator, as it does
# without any; an option's value (a file name, a port number) is not taken
# for rxmon's port.
start_in_terminal "RXMON_BUILD=$build $(dirname "$0")/../../scripts/run --rigctl $(free_port) --log $work/run.csv"
# (The simulator's own "at 38400 baud" shows first, before rxmon's screen.)
check "scripts/run --rigctl PORT --log FILE: on the simulator" wait_for 20 "38400 baud, scanner answers"
keys Escape
check "ESC ends both" [ "$(wait_exit 5)" = 0 ]
check "... the log written" grep -q ',found at 38400 baud$' "$work/run.csv"
check "--help after other arguments" [ "$(timeout 5 "$rxmon" 3 --peak --help </dev/null)" = "$out" ]

for page in rxmon rxmon-sim rxmon-plot; do
    warnings=$(LC_ALL=C MANWIDTH=80 man --warnings -l "$build/man/$page.1" 2>&1 >"$work/$page.txt")
    check "man $page: no warnings${warnings:+: $warnings}" [ -z "$warnings" ]
    check "man $page: rendered" grep -q "^NAME" "$work/$page.txt"
done

# The package (cmake --install's files), unpacked, runs; its dependencies were read from the binaries.
(cd "$build" && cpack -G DEB -B "$work/package" >/dev/null 2>&1)
deb=$(ls "$work"/package/rxmon_"$version"_*.deb)
dpkg-deb -x "$deb" "$work/root"
check "rxmon runs from the package" [ "$("$work/root/usr/bin/rxmon" --version | tr -d '\r')" = "rxmon $version" ]
check "the package holds the other programs and the manual pages" bash -c 'cd "$1/usr" && ls bin/rxmon-sim bin/rxmon-plot share/man/man1/rxmon{,-sim,-plot}.1.gz >/dev/null' _ "$work/root"
check "the package's copyright: the MIT licence of LICENSE" bash -c "grep -qx 'License: Expat' \"\$1\" && grep -q '^MIT License' \"\$2\"" _ "$work/root/usr/share/doc/rxmon/copyright" "$(dirname "$0")/../../LICENSE"
check "lintian finds no error in the package" lintian --fail-on error "$deb"
check "the package recommends gnuplot-nox for rxmon-plot" [ "$(dpkg-deb -f "$deb" Recommends)" = gnuplot-nox ]
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libasound2 libtinfo6 libmicrohttpd12; do
    check "the package depends on $library" grep -q "$library (>=" <<<"$depends"
done

run_set=$(bash "$(dirname "$0")/../../scripts/install-deps" --list run)
check "the run set builds" grep -qx libasound2-dev <<<"$run_set"
check "the run set holds no test tool" bash -c "! grep -E 'gtest|googletest|mingw|wine|tmux|clang|ser2net|man-db' <<<\"\$1\"" _ "$run_set"
finish
