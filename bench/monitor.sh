#!/usr/bin/env bash
# The running monitor against rxmon-sim with no reply delay, in a real
# terminal (tmux): passes a second and time a pass beside the wire time of
# its bytes, the process's CPU use and resident memory, and the bytes it
# writes to the terminal a pass once the screen is steady.
#   bench/monitor.sh [SECONDS per rate, default 30] [BUILD DIR, default build]
set -euo pipefail
seconds=${1:-30}
build=${2:-build}
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

# One pass: VER LVL VER IDN TUN TUN SIG, each 4 bytes out, and the replies
# of the simulator's defaults for model B.
pass_bytes=$((7 * 4 + 18 + 8 + 18 + 11 + 16 + 16 + 8))

printf '| baud | passes/s | ms/pass | wire ms/pass | ratio | CPU %% of a core | RSS MiB | terminal bytes/pass |\n'
printf '|---|---|---|---|---|---|---|---|\n'
for baud in 115200 9600; do
    rm -f "$work/sim.path" "$work/sim.log" "$work/tty.out"
    "$build/sim/rxmon-sim" --baud "$baud" --model B --signal fixed:512 --path-file "$work/sim.path" \
        --log-file "$work/sim.log" >/dev/null 2>&1 &
    sim_pid=$!
    for _ in $(seq 100); do [ -s "$work/sim.path" ] && break; sleep 0.05; done
    tmux -L "$socket" new-session -d -x 80 -y 25 "RXMON_COM1=$(cat "$work/sim.path") exec $build/rxmon 1 0"
    pid=$(tmux -L "$socket" display -p -t 0 '#{pane_pid}')
    # Found the scanner and drew the first screen: steady from here on.
    for _ in $(seq 200); do
        tmux -L "$socket" capture-pane -p -t 0 | grep -q "$baud baud" && break
        sleep 0.05
    done
    sleep 1
    tmux -L "$socket" pipe-pane -o -t 0 "cat >>$work/tty.out"
    sigs_before=$(grep -c -- '<- SIG' "$work/sim.log" || true)
    read -r _ _ _ _ _ _ _ _ _ _ _ _ _ ut st _ < <(cut -d' ' -f1-15 "/proc/$pid/stat" | sed 's/([^)]*)/x/')
    cpu_before=$((ut + st))
    sleep "$seconds"
    read -r _ _ _ _ _ _ _ _ _ _ _ _ _ ut st _ < <(cut -d' ' -f1-15 "/proc/$pid/stat" | sed 's/([^)]*)/x/')
    cpu_after=$((ut + st))
    sigs_after=$(grep -c -- '<- SIG' "$work/sim.log" || true)
    tmux -L "$socket" pipe-pane -t 0
    rss_kib=$(awk '/VmRSS/ {print $2}' "/proc/$pid/status")
    tty_bytes=$(stat -c %s "$work/tty.out" 2>/dev/null || echo 0)
    tmux -L "$socket" send-keys -t 0 Escape
    sleep 0.5
    tmux -L "$socket" kill-server 2>/dev/null || true
    kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null || true
    sim_pid=
    passes=$((sigs_after - sigs_before))
    awk -v p="$passes" -v s="$seconds" -v b="$baud" -v bytes="$pass_bytes" -v cpu=$((cpu_after - cpu_before)) \
        -v hz="$hz" -v rss="$rss_kib" -v tty="$tty_bytes" 'BEGIN {
        wire = bytes * 10 * 1000 / b; per = p ? s * 1000 / p : 0
        printf "| %d | %.1f | %.2f | %.2f | %.2f | %.2f | %.1f | %.1f |\n", b, p / s, per, wire, per / wire,
               cpu * 100 / hz / s, rss / 1024, p ? tty / p : 0 }'
done
