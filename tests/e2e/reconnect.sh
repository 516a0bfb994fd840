# --reconnect: a port absent at the start is waited for; the simulator pulled
# out and brought back at the same link path 20 times is found again within
# 5 s each time, with memory, descriptors and threads as after the first;
# ESC ends the wait. (ser2net stopped and started: network_port.sh.)
set -u
. "$(dirname "$0")/monitor_lib.sh"
link=$work/scanner
usage() {  # resident KiB, descriptors, threads
    echo "$(awk '/^VmRSS/ {print $2}' /proc/$pid/status) $(ls /proc/$pid/fd | wc -l) $(awk '/^Threads/ {print $2}' /proc/$pid/status)"
}
start_in_terminal "$rxmon --reconnect $link 0"
pid=$(pgrep -P "$(tmux -L "$socket" display -p -t 0 "#{pane_pid}")" | head -1)
check "absent at the start: waited for" wait_for 5 "[waiting for the port]"
worst=0
for cycle in $(seq 0 20); do
    start_sim --baud 115200 --link "$link"
    start=$(now_ms)
    wait_for 10 "115200 baud, scanner answers" >/dev/null
    took=$(($(now_ms) - start))
    [ $took -gt $worst ] && worst=$took
    [ $cycle = 1 ] && after_one=$(usage)
    [ $cycle = 20 ] && after_twenty=$(usage)
    stop_sim
    wait_for 10 "[waiting for the port]" >/dev/null || break
done
echo "found again within $worst ms at worst; KiB, descriptors, threads after 1 cycle: $after_one, after 20: $after_twenty"
check "20 cycles: found again within 5 s each time ($worst ms at worst)" [ "$cycle" = 20 -a "$worst" -le 5000 ]
check "the same descriptors and threads" [ "${after_one#* }" = "${after_twenty#* }" ]
check "the same memory, within 64 KiB" [ $((${after_twenty%% *} - ${after_one%% *})) -le 64 ]
set -- $(press_esc)
check "ESC while waiting ends with 0 within 1.5 s ($2 ms)" [ "$1" = 0 -a "$2" -le 1500 ]
finish
