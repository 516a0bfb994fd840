# The Windows program under wine64 in a real terminal (tmux), against
# rxmon-sim on a pseudo-terminal that the wine prefix's dosdevices/com1
# points at. Wine's console draws colours and the block glyphs but cannot
# resize the terminal: the screen is checked in an 80 × 25 terminal, where
# the 20 × 40 display stands at the top left, as it does on Linux.
set -u
win_build=$1
export RXMON_LINUX_BUILD=$2
. "$(dirname "$0")/../e2e/monitor-lib"

# A prefix of the test's own, under its temporary directory.
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all
# Wine's ALSA driver prints ALSA's complaints about a machine without a sound
# card into the terminal; without the driver wine has no wave device, and
# the monitor falls back to Beep output as it would on such a Windows.
export WINEDLLOVERRIDES="winealsa.drv=d"
timeout 120 /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
timeout 60 /usr/lib/wine/wineserver -w
[ -d "$WINEPREFIX/dosdevices" ] || { echo "no wine prefix"; exit 1; }
cleanup_wine() { /usr/lib/wine/wineserver -k 2>/dev/null; cleanup; }
trap cleanup_wine EXIT

start_exe() {
    start_in_terminal "WINEPREFIX=$WINEPREFIX WINEDEBUG=-all /usr/lib/wine/wine64 $win_build/rxmon.exe $*"
}

# A COM port that is not there: exit code 1 and the message. Wine maps
# COM n to /dev/ttyS<n-1> unless told otherwise, and puts COM 1 back on
# /dev/ttyS0, which exists here; /dev/ttyS6 does not.
[ -e /dev/ttyS6 ] && echo "note: /dev/ttyS6 exists, COM7 may open"
start_exe 7
check "missing port ends with 1" [ "$(wait_exit 60)" = 1 ]
check "missing port is named" wait_for 2 "COM7 cannot be opened"
timeout 60 /usr/lib/wine/wine64 "$win_build/rxmon.exe" 12 >"$work/range.out" 2>"$work/range.err" </dev/null
check "out-of-range port ends with 1" [ $? = 1 ]
check "and says why" grep -q "COM12? Use 1 to 9." "$work/range.err"
start_exe "</dev/null"
check "no port and no keyboard ends with 1" [ "$(wait_exit 60)" = 1 ]
check "and asks for the port as an argument" wait_for 2 "give the COM port (1-9)"

# The baud-rate search finds the simulator at 38400 through wine's serial
# layer, and the readings, the title and the keys work as on Linux.
start_sim --baud 38400 --model B --signal fixed:512 --link "$WINEPREFIX/dosdevices/com1"
# Without a terminal wine gives the program no console: it must not poll blind.
timeout 60 /usr/lib/wine/wine64 "$win_build/rxmon.exe" 1 </dev/null >"$work/blind.out" 2>"$work/blind.err"
check "no console ends with 1" [ $? = 1 ]
check "and says so" grep -q "no screen to draw on" "$work/blind.err"
start_exe 1 0
check "found at 38400" wait_for 60 "38400 baud"
check "model" wait_for 5 "SR-B20"
check "frequency" wait_for 5 "146.2500 MHz"
check "signal" wait_for 5 " 512/1023"
check "signal bar in block glyphs" wait_for 5 "██████████████████▌"
check "title" bash -c "tmux -L $socket display -p -t 0 '#{pane_title}' | grep -q '146.2500'"
check "colours: values in bright green" bash -c "tmux -L $socket capture-pane -e -p -t 0 | sed -n 9p | grep -q '\\[92m *146.2500'"
# Keys reach the program only because it peeks at its input before counting
# the events (wine hands keys over only then).
keys s
check "S steps the beep mode" wait_for 5 "Beeps: continuous"
keys s
check "and again" wait_for 5 "Beeps: every one"
keys Escape
check "ESC ends with 0" [ "$(wait_exit 10)" = 0 ]
check "terminal given back" wait_for 5 "rxmon ended"
finish
