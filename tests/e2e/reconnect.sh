# --reconnect: a port absent at the start is waited for, the strip moving on
# the clock meanwhile; the simulator pulled out and brought back at the same
# link path 20 times is found again at its rate within 2 s each time (its
# last rate is tried first), with memory, descriptors and threads as after
# the first; ESC ends the wait.
set -u
. "$(dirname "$0")/monitor_lib.sh"
link=$work/scanner
usage() {  # resident KiB, descriptors, threads
    echo "$(awk '/^VmRSS/ {print $2}' /proc/$pid/status) $(ls /proc/$pid/fd | wc -l) $(awk '/^Threads/ {print $2}' /proc/$pid/status)"
}
start_in_terminal "$rxmon --reconnect --peak --history $link 0"
pid=$(pgrep -P "$(tmux -L "$socket" display -p -t 0 "#{pane_pid}")" | head -1)
check "absent at the start: waited for" wait_for 5 "[waiting for the port]"
check "... the strip marking seconds without a reading" wait_for 5 "··"
worst=0 total=0 after_one= after_twenty=
for cycle in $(seq 0 20); do
    start_sim --baud 38400 --link "$link"
    start=$(now_ms)
    wait_for 10 "38400 baud, scanner answers" >/dev/null
    took=$(($(now_ms) - start))
    [ $cycle -gt 0 ] && total=$((total + took)) && [ $took -gt $worst ] && worst=$took
    [ $cycle = 1 ] && after_one=$(usage)
    [ $cycle = 20 ] && after_twenty=$(usage)
    stop_sim
    [ $worst -le 2000 ] && wait_for 10 "[waiting for the port]" >/dev/null || break
done
echo "found again in $((total / 20)) ms on average, $worst ms at worst; KiB, descriptors, threads after 1 cycle: $after_one, after 20: $after_twenty"
check "20 cycles: found again within 2 s each time ($worst ms at worst)" [ "$cycle" = 20 -a "$worst" -le 2000 ]
before=$(screen_row 18 | cut -c13-32)
check "while it is away the strip moves" until_true 3 strip_moved "$before"
check "... and the peak stays cleared" [ "$(screen_row 15 | cut -c17-22)" = "      " ]
check "the same descriptors and threads" [ "${after_one#* }" = "${after_twenty#* }" ]
check "the same memory, within 64 KiB" [ $((${after_twenty%% *} - ${after_one%% *})) -le 64 ]
set -- $(press_esc)
check "ESC while waiting ends with 0 within 1.5 s ($2 ms)" [ "$1" = 0 -a "$2" -le 1500 ]
finish
