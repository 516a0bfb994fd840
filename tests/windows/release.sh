# The Windows zip as a user gets it: made by scripts/release from this
# build's rxmon.exe, unpacked into a new folder, its README.txt in Windows
# line ends, and its rxmon.exe run under wine: --version, and a session
# with --log against rxmon-sim on COM 1.
set -u
win_build=$1
export RXMON_LINUX_BUILD=$2
. "$(dirname "$0")/../e2e/monitor_lib.sh"
. "$(dirname "$0")/wine_lib.sh"
export WINEDLLOVERRIDES="winealsa.drv=d" WINEPREFIX=$work/wineprefix
wine_prefix "$WINEPREFIX"
wine_run reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$work/com1" /f >/dev/null
/usr/lib/wine/wineserver -w
trap '/usr/lib/wine/wineserver -k 2>/dev/null; cleanup' EXIT
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$2/CMakeCache.txt")
mkdir "$work/dist" "$work/user"
zip=$("$(dirname "$0")/../../scripts/release" --zip "$RXMON_WIN_ARCH" "$win_build/rxmon.exe" "$work/dist")
check "the zip: $zip" [ "$zip" = "$work/dist/rxmon-$version-$RXMON_WIN_ARCH.zip" ]
(cd "$work/user" && unzip -q "$zip")
dir=$work/user/rxmon-$version-$RXMON_WIN_ARCH
check "it holds rxmon.exe, README.txt, LICENSE.txt" [ "$(cd "$dir" && ls | paste -sd' ')" = "LICENSE.txt README.txt rxmon.exe" ]
check "README.txt: every line ends in CR LF" [ "$(grep -c $'\r$' "$dir/README.txt")" = "$(wc -l <"$dir/README.txt")" ]
check "README.txt: the options and the spreadsheet" grep -q -- "--log FILE.*Excel" <<<"$(tr -d '\r\n' <"$dir/README.txt")"
check "its rxmon.exe --version" [ "$(cd "$dir" && wine_run ./rxmon.exe --version </dev/null | tr -d '\r')" = "rxmon $version" ]
start_sim --baud 38400 --model B --signal fixed:300 --link "$work/com1"
start_in_terminal "cd '$dir' && $WINE ./rxmon.exe --log session.csv 1 0"
check "a session: found at 38400" wait_for 60 "38400 baud"
check "... a reading" wait_for 10 " 300/1023"
keys Escape
check "... ESC ends it with 0" [ "$(wait_exit 10)" = 0 ]
check "... its log beside it" [ "$(cut -d, -f8 "$dir/session.csv" | grep . | tail -n +2 | paste -sd/)" = "started/found at 38400 baud/ended" ]
finish
