# The Windows program under wine64 in a terminal (tmux), against rxmon-sim
# on a pseudo-terminal that the wine prefix's dosdevices/com1 points at.
set -u
win_build=$1
export RXMON_LINUX_BUILD=$2
. "$(dirname "$0")/../e2e/monitor-lib"
. "$(dirname "$0")/wine-env"
# Without its ALSA driver (which prints ALSA's complaints into the terminal)
# wine has no wave device: the monitor falls back to Beep output.
export WINEDLLOVERRIDES="winealsa.drv=d"
export WINEPREFIX=$work/wineprefix  # its own: the link to the simulator must stay ours
wine_run wineboot -i >/dev/null 2>&1 && timeout 60 /usr/lib/wine/wineserver -w
trap '/usr/lib/wine/wineserver -k 2>/dev/null; cleanup' EXIT
start_exe() { start_in_terminal "WINEPREFIX=$WINEPREFIX WINEDEBUG=-all $WINE64 $win_build/rxmon.exe $*"; }

# Ports that are not there (COM 7 is /dev/ttyS6 to wine), or out of range.
start_exe 7
check "missing port ends with 1" [ "$(wait_exit 60)" = 1 ]
check "missing port is named" wait_for 2 "COM7 cannot be opened"
wine_run "$win_build/rxmon.exe" 12 >"$work/range.out" 2>"$work/range.err" </dev/null
check "out-of-range port ends with 1" [ $? = 1 ]
check "and says why" grep -q "COM12? Use 1 to 9." "$work/range.err"
start_exe "</dev/null"
check "no port and no keyboard ends with 1" [ "$(wait_exit 60)" = 1 ]
check "and asks for the port as an argument" wait_for 2 "give the COM port (1-9)"

start_sim --baud 38400 --model B --signal fixed:512 --link "$WINEPREFIX/dosdevices/com1"
# Without a terminal wine gives the program no console: it must not poll blind.
timeout 60 /usr/lib/wine/wine64 "$win_build/rxmon.exe" 1 </dev/null >"$work/blind.out" 2>"$work/blind.err"
check "no console ends with 1" [ $? = 1 ]
check "and says so" grep -q "no screen to draw on" "$work/blind.err"
start_exe 1 0
check "found at 38400" wait_for 60 "38400 baud"
for text in "SR-B20" "146.2500 MHz" " 512/1023" "██████████████████▌"; do check "shows $text" wait_for 5 "$text"; done
check "values in bright green" bash -c "tmux -L $socket capture-pane -e -p -t 0 | sed -n 9p | grep -q '\\[92m *146.2500'"
# Keys reach the program only because it peeks at its input before counting
# the events (wine hands keys over only then).
keys s
check "S steps the beep mode" wait_for 5 "Beeps: continuous"
keys Escape
check "ESC ends with 0" [ "$(wait_exit 10)" = 0 ]
check "terminal given back" wait_for 5 "rxmon ended"
finish
