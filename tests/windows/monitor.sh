# The Windows program as a user gets it, under wine in a terminal (tmux),
# against rxmon-sim on a pseudo-terminal: the zip that scripts/release makes
# from this build's rxmon.exe, unpacked into a new folder. The prefix is the
# test's own, and its COM ports are mapped in wine's registry
# (HKLM\Software\Wine\Ports): wine's mount manager re-creates
# dosdevices/com1 -> /dev/ttyS0 whenever its services start, but it keeps a
# mapping made there.
set -u
win_build=$1
export RXMON_LINUX_BUILD=$2
. "$(dirname "$0")/../e2e/monitor_lib.sh"
. "$(dirname "$0")/wine_lib.sh"
# Without its ALSA driver (which prints ALSA's complaints into the terminal)
# wine has no wave device: the monitor falls back to Beep output.
export WINEDLLOVERRIDES="winealsa.drv=d"
export WINEPREFIX=$work/wineprefix
wine_prefix "$WINEPREFIX"
wine_run reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$work/com1" /f >/dev/null
/usr/lib/wine/wineserver -w
trap '/usr/lib/wine/wineserver -k 2>/dev/null; cleanup' EXIT

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$2/CMakeCache.txt")
mkdir "$work/dist" "$work/user"
zip=$("$(dirname "$0")/../../scripts/release" --zip "$RXMON_WIN_ARCH" "$win_build/rxmon.exe" "$work/dist")
check "the zip: $zip" [ "$zip" = "$work/dist/rxmon-$version-$RXMON_WIN_ARCH.zip" ]
(cd "$work/user" && unzip -q "$zip")
dir=$work/user/rxmon-$version-$RXMON_WIN_ARCH exe=$dir/rxmon.exe
check "it holds rxmon.exe, README.txt, LICENSE.txt" [ "$(cd "$dir" && ls | paste -sd' ')" = "LICENSE.txt README.txt rxmon.exe" ]
check "README.txt: every line ends in CR LF" [ "$(grep -c $'\r$' "$dir/README.txt")" = "$(wc -l <"$dir/README.txt")" ]
check "README.txt: the options and the spreadsheet" grep -q -- "--log FILE.*Excel" <<<"$(tr -d '\r\n' <"$dir/README.txt")"
check "its rxmon.exe --version" [ "$(wine_run "$exe" --version </dev/null | tr -d '\r')" = "rxmon $version" ]
start_exe() { start_in_terminal "cd $work && WINEPREFIX=$WINEPREFIX WINEDEBUG=-all $WINE $exe $*"; }

# Ports that are not there (wine gives COM 9 a device only where a ninth
# serial port exists; a mapped port always opens), or out of range.
start_exe 9
check "missing port ends with 1" [ "$(wait_exit 60)" = 1 ]
check "missing port is named" wait_for 2 "COM9 cannot be opened"
wine_run "$exe" 12 >"$work/range.out" 2>"$work/range.err" </dev/null
check "out-of-range port ends with 1" [ $? = 1 ]
check "and says why" grep -q "COM12? Use 1 to 9." "$work/range.err"
start_exe abc
check "rxmon abc: the prompt" wait_for 60 "Press its number"
keys Escape
check "ESC at the prompt ends with 1" [ "$(wait_exit 10)" = 1 ]
wine_run "$exe" --serve 8080 1 >/dev/null 2>"$work/serve.err" </dev/null
check "--serve is refused in one line, with 2" [ $? = 2 -a "$(grep -c 'not available in the Windows programs' "$work/serve.err") $(wc -l <"$work/serve.err")" = "1 1" ]
start_exe "</dev/null"
check "no port and no keyboard ends with 1" [ "$(wait_exit 60)" = 1 ]
check "and asks for the port as an argument" wait_for 2 "give the COM port (1-9)"

start_sim --baud 38400 --model B --signal fixed:512 --link "$work/com1"
# Without a terminal wine gives the program no console: it must not poll blind.
wine_run "$exe" 1 </dev/null >"$work/blind.out" 2>"$work/blind.err"
check "no console ends with 1" [ $? = 1 ]
check "and says so" grep -q "no screen to draw on" "$work/blind.err"
# Wine cannot make a POSIX pipe's writes fail instead of waiting: refused.
mkfifo "$work/fifo"
start_exe --log fifo 1 0 "2>$work/fifo.err"
check "a log on a pipe that would wait ends with 1" [ "$(wait_exit 60)" = 1 ]
check "... saying why" grep -qF "rxmon cannot open the log fifo: a pipe that rxmon cannot write to without waiting." "$work/fifo.err"
rigctl_port=$(free_port)
start_exe --log win.csv --rigctl "$rigctl_port" 1 0
check "found at 38400" wait_for 60 "38400 baud"
for text in "SR-B20" "146.2500 MHz" " 512/1023" "██████████████████▌"; do check "shows $text" wait_for 5 "$text"; done
check "hamlib's rigctl reads it through Winsock" [ "$(rigctl -m 2 -r "127.0.0.1:$rigctl_port" f l RAWSTR 2>/dev/null | paste -sd' ')" = "146250000 512" ]
check "values in bright green" bash -c "tmux -L $socket capture-pane -e -p -t 0 | sed -n 9p | grep -q '\\[92m *146.2500'"
# Keys reach the program only because it peeks at its input before counting
# the events (wine hands keys over only then).
keys s
check "S steps the beep mode" wait_for 5 "Beeps: continuous"
check "ESC ends with 0" esc_ends 10
check "terminal given back" wait_for 5 "rxmon ended"
log=$work/win.csv
check "log: the header" [ "$(head -n 1 "$log")" = "time,port,model,frequency_hz,level,tuning,signal,event" ]
check "log: the events" [ "$(cut -d, -f8 "$log" | grep . | tail -n +2 | paste -sd/)" = "started/found at 38400 baud/ended" ]
check "log: the readings" [ "$(awk -F, '$8 == "" {print $2, $3, $4, $7}' "$log" | sort -u)" = "COM1 SR-B20 146250000 512" ]
check "log: local times" [ -z "$(tail -n +2 "$log" | grep -vE '^[0-9]{4}-..-..T..:..:..\.[0-9]{3}[+-]..:..,')" ]
check "log: no CR" [ -z "$(tr -dc '\r' <"$log")" ]
finish
