# The scanner unplugged while rxmon watches it: the simulator closes its
# pseudo-terminal, whose path then vanishes. rxmon must give up within a
# few seconds, without spinning, on a terminal given back as it was, with
# the open-failure message and exit code 1.
set -u
. "$(dirname "$0")/monitor-lib"

ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null; }  # user + system CPU, in clock ticks
hz=$(getconf CLK_TCK)

for when in monitoring searching; do
    if [ $when = monitoring ]; then
        start_sim --baud 57600 --unplug 4 --log-file "$work/sim.log"
    else
        # Answering nothing at all: unplugged during the baud-rate search.
        start_sim --baud 57600 --drop 1 --unplug 4 --log-file "$work/sim.log"
    fi
    start_rxmon 1 0
    pane=$(tmux -L "$socket" display -p -t 0 '#{pane_pid}')
    pid=
    for _ in $(seq 50); do pid=$(pgrep -P "$pane" | head -1); [ -n "$pid" ] && break; sleep 0.05; done
    [ $when = monitoring ] && check "$when: found first" wait_for 4 "57600 baud"
    [ $when = searching ] && check "$when: searching first" wait_for 4 "[Autobaud]"

    # From the moment the line goes: the time and CPU rxmon takes to end.
    for _ in $(seq 100); do grep -q unplugged "$work/sim.log" 2>/dev/null && break; sleep 0.05; done
    check "$when: the simulator unplugged" grep -q unplugged "$work/sim.log"
    start=$(date +%s%N)
    cpu_start=$(ticks "$pid")
    cpu_last=$cpu_start
    while [ ! -s "$work/exit" ] && [ $(($(date +%s%N) - start)) -lt 10000000000 ]; do
        t=$(ticks "$pid")
        [ -n "$t" ] && cpu_last=$t
        sleep 0.05
    done
    took_ms=$((($(date +%s%N) - start) / 1000000))
    cpu_ms=$(((cpu_last - cpu_start) * 1000 / hz))
    echo "$when: ended $took_ms ms after the unplug, using $cpu_ms ms of CPU"
    check "$when: ends with 1" [ "$(wait_exit 1)" = 1 ]
    check "$when: within 4 s" [ "$took_ms" -le 4000 ]
    check "$when: without spinning" [ "$cpu_ms" -le 300 ]
    check "$when: the open-failure message" wait_for 1 "COM1 cannot be opened"
    check "$when: on the terminal given back" wait_for 1 "radio scanner monitor"
    check "$when: the alternate screen left" [ "$(tmux -L "$socket" display -p -t 0 '#{alternate_on}')" = 0 ]
    check "$when: the cursor shown again" [ "$(tmux -L "$socket" display -p -t 0 '#{cursor_flag}')" = 1 ]
    stop_sim
    rm -f "$work/sim.log"
done
finish
