#!/usr/bin/env bash
# The running monitor against rxmon-sim with no reply delay, in a real
# terminal (tmux), at each of the five rates: passes a second and the time
# of a pass beside the wire time of its bytes (10 bits a byte, counted from
# what the simulator heard and sent), the process's CPU use and resident
# memory, and the bytes it writes to the terminal a pass once the screen is
# steady. The signal sweeps (rxmon-sim's default course), so that every pass
# changes the screen as a live scanner's would. OPTIONS are rxmon's own
# (--peak, --history, --log FILE), to measure what they cost.
#   bench/monitor.sh [SECONDS per rate, default 30] [BUILD DIR, default build] [RATES] [OPTIONS]
set -euo pipefail
seconds=${1:-30}
build=${2:-build}
rates=${3:-115200 57600 38400 19200 9600}
options=${4:-}
work=$(mktemp -d)
socket=rxmon-bench-$$
sim_pid=
cleanup() {
    tmux -L "$socket" kill-server 2>/dev/null || true
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
hz=$(getconf CLK_TCK)
cpu_ticks() { cut -d' ' -f1-15 "/proc/$1/stat" | sed 's/([^)]*)/x/' | awk '{print $14 + $15}'; }
# Lines of the simulator's log from the Nth on: the bytes heard and sent
# (escapes such as \r and \x85 are one byte each), and the signal commands.
wire_bytes() {
    tail -n +"$1" "$work/sim.log" | awk '$2 == "<-" || $2 == "->" {
        t = $3; gsub(/\\x[0-9A-F][0-9A-F]/, "x", t); gsub(/\\./, "x", t); n += length(t) } END { print n + 0 }'
}
signal_commands() { tail -n +"$1" "$work/sim.log" | grep -c -- '<- SIG' || true; }

printf '| baud | passes/s | ms/pass | wire ms/pass | ratio | CPU %% of a core | RSS MiB | terminal bytes/pass | terminal bytes/s |\n'
printf '|---|---|---|---|---|---|---|---|---|\n'
for baud in $rates; do
    rm -f "$work/sim.path" "$work/sim.log" "$work/tty.out"
    "$build/sim/rxmon-sim" --baud "$baud" --model B --path-file "$work/sim.path" \
        --log-file "$work/sim.log" >/dev/null 2>&1 &
    sim_pid=$!
    for _ in $(seq 100); do [ -s "$work/sim.path" ] && break; sleep 0.05; done
    tmux -L "$socket" new-session -d -x 80 -y 25 "RXMON_COM1=$(cat "$work/sim.path") exec $build/rxmon $options 1 0"
    pid=$(tmux -L "$socket" display -p -t 0 '#{pane_pid}')
    # Found the scanner and drew the first screen: steady from here on.
    for _ in $(seq 200); do
        tmux -L "$socket" capture-pane -p -t 0 | grep -q "$baud baud" && break
        sleep 0.05
    done
    sleep 1
    tmux -L "$socket" pipe-pane -o -t 0 "cat >>$work/tty.out"
    from=$(($(wc -l <"$work/sim.log") + 1))
    cpu_before=$(cpu_ticks "$pid")
    sleep "$seconds"
    cpu_after=$(cpu_ticks "$pid")
    tmux -L "$socket" pipe-pane -t 0
    passes=$(signal_commands "$from")
    bytes=$(wire_bytes "$from")
    rss_kib=$(awk '/VmRSS/ {print $2}' "/proc/$pid/status")
    tty_bytes=$(stat -c %s "$work/tty.out" 2>/dev/null || echo 0)
    tmux -L "$socket" send-keys -t 0 Escape
    sleep 0.5
    tmux -L "$socket" kill-server 2>/dev/null || true
    kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null || true
    sim_pid=
    awk -v p="$passes" -v s="$seconds" -v b="$baud" -v bytes="$bytes" -v cpu=$((cpu_after - cpu_before)) \
        -v hz="$hz" -v rss="$rss_kib" -v tty="$tty_bytes" 'BEGIN {
        wire = p ? bytes / p * 10 * 1000 / b : 0; per = p ? s * 1000 / p : 0
        printf "| %d | %.1f | %.2f | %.2f | %.2f | %.1f | %.1f | %.1f | %.0f |\n", b, p / s, per, wire, wire ? per / wire : 0,
               cpu * 100 / hz / s, rss / 1024, p ? tty / p : 0, tty / s }'
done
