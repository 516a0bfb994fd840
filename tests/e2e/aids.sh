# The alignment aids against rxmon-sim's sweep, which falls silent and then
# changes model; the log against what the simulator sent, and its chart.
set -u
. "$(dirname "$0")/monitor_lib.sh"
# The reading and the peak from row 15 ("Sig:  600/1023 ^ 712").
peak_above() {
    [[ $(screen_row 15) =~ Sig:\ +([0-9]+)/1023\ \^\ *([0-9]+) ]] && reading=${BASH_REMATCH[1]} peak=${BASH_REMATCH[2]}
    [ -n "${peak:-}" ] && [ "$peak" -gt "$reading" ] && screen_row 17 | grep -q "│"
}
peak_below() { peak=; peak_above; [ -n "$peak" ] && [ "$peak" -lt "$1" ]; }

head=time,port,model,frequency_hz,level,tuning,signal,event
# Logs that cannot be written (even while the port is waited for) or opened.
RXMON_COM1=$work/scanner start_rxmon --reconnect --log /dev/full 1 0
check "a failed write shows before the port is there" wait_for 10 "Log stopped: No space left on device"
start_sim --baud 115200 --link "$work/scanner"
check "and the monitor goes on" wait_for 5 "115200 baud"
check "ESC ends with 0" esc_ends 5
mkfifo "$work/fifo"
python3 -c 'import fcntl, os, sys, time; fcntl.fcntl(os.open(sys.argv[1], os.O_RDWR), 1031, 4096)
open(sys.argv[2], "w").close(); time.sleep(60)' "$work/fifo" "$work/reading" &
reader=$! pids+=($!)
until_true 5 [ -e "$work/reading" ]
start_rxmon --log "$work/fifo" 1 0
check "a pipe whose reader stalls stops the log" wait_for 10 "Log stopped: the reader has stalled."
check "ESC ends with 0" esc_ends 5
kill $reader
for log in "$work/none/x.csv:" "$work/fifo: no program reads this pipe." "$work/s.csv: it is not an rxmon log."; do
    echo hello >"$work/s.csv"
    start_in_terminal "env RXMON_COM1=$RXMON_COM1 $rxmon --log ${log%%:*} 1 2>$work/err"
    check "an unopenable log ends with 1: $log" [ "$(wait_exit 5)" = 1 ]
    check "saying why" grep -qF "rxmon cannot open the log $log" "$work/err"
done
log=$work/again.csv
log_again() { [ "$(head -n 1 "$log")" = "$head" ] && [ "$(grep -c ^time, "$log")" = 1 ] && grep -q ',$' "$log"; }
start_rxmon --log "$log" 1 0
for how in deleted replaced; do
    until_true 5 grep -q ',$' "$log"
    if [ $how = deleted ]; then rm "$log"; else echo "$head" >"$log.new" && mv "$log.new" "$log"; fi
    check "a $how log is noticed" wait_for 5 "Log reopened: the file was $how"
    check "... and goes on under one header" until_true 5 log_again
done
check "ESC ends with 0" esc_ends 5
stop_sim
# From 512 up, by 8 a reading: the sweep turns after 64 readings, well
# before the silent spell even where a loaded machine reads slowly.
start_sim --baud 115200 --model B --signal sweep:512:1023:8 --silent 11:3 --switch-model 18 --log-file "$work/sim.log"
# Names with a blank, quotes and backslashes reach rxmon whole: the port as a
# link to the simulator's line, the log.
port="$work/p q\\" log="$work/s \\\"q\".csv"
ln -s "$RXMON_COM1" "$port"
start_rxmon --peak --history --log "$(printf %q "$log")" "$(printf %q "$port")" 0
check "the peak holds above a falling reading, marked on the bar" until_true 10 peak_above
held=$peak
check "then falls" until_true 5 peak_below "$held"
keys p
check "P drops it to the reading" until_true 1 peak_below "$((reading + 20))"
check "the strip moves within a second" until_true 1.5 strip_moved "$(screen_row 18 | cut -c13-32)"
check "the silent spell" wait_for 8 "[no communication with scanner]"
check "clears the peak" bash -c "[ \"\$(cut -c17-22 <<<\"\$1\")\" = '      ' ]" _ "$(screen_row 15)"
check "the strip shows seconds without readings" until_true 3 eval 'screen_row 18 | grep -q "··"'
check "the other model" wait_for 15 "SR-A10"
# Beeps without a sound device ring the terminal's bell, at most 4 a second:
# counted over the 2 s from the first one that the pipe caught.
keys s
bells() { tr -cd '\a' <"$work/tty.out" | wc -c; }
tmux -L "$socket" pipe-pane -o -t 0 "cat >$work/tty.out"
until_true 5 eval '[ "$(bells)" -gt 0 ]' && first=$(bells) && sleep 2 && tmux -L "$socket" pipe-pane -t 0
bells=$(($(bells) - first + 1))
check "beeps ring the bell, 4 to 9 times in 2 s: $bells" [ "$bells" -ge 4 -a "$bells" -le 9 ]
check "ESC ends with 0" esc_ends 5
stop_sim

check "the log and the port by their names" [ "$(sed -n 2p "$log" | cut -d, -f2)" = "$port" ]
check "the header" [ "$(head -n 1 "$log")" = "$head" ]
check "the events in order" [ "$(cut -d, -f8 "$log" | grep . | tail -n +2 | paste -sd/)" = \
    "started/found at 115200 baud/communication lost/found at 115200 baud/model changed/ended" ]
check "a row for every reading the simulator sent, in order" \
    [ "$(grep -o 'SIG,[0-9]*' "$work/sim.log" | cut -c5- | paste -sd' ')" = "$(awk -F, '$8 == "" {print $7}' "$log" | paste -sd' ')" ]
check "the simulator's frequency, tuning and each model's level" \
    [ "$(awk -F, '$8 == "" {print $3, $4, $5, $6}' "$log" | uniq | paste -sd/)" = "SR-B20 146250000 392 100/SR-A10 146250000 256 100" ]
readings=$(awk -F, '$8 == ""' "$log" | wc -l)
summary=$("$build/plot/rxmon-plot" "$log" -o "$work/chart.png")
check "the chart: $summary" grep -qE "^$work/chart.png: $readings readings from .* peak 1023 at .*, 1 span without communication$" <<<"$summary"
check "... a PNG of 1000 x 560" grep -qF "PNG image data, 1000 x 560" <<<"$(file "$work/chart.png")"
finish
