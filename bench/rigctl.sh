#!/usr/bin/env bash
# What --rigctl costs the monitor: bench/monitor.sh at 115200 baud without
# options and with --rigctl while 8 clients each poll f and l STRENGTH at
# 10 Hz (as a logger would), in turns; the clients' answers a second and
# their answer times beside each row.
#   bench/rigctl.sh [SECONDS a run, default 30] [BUILD DIR, default build] [ROUNDS, default 2]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
build=${2:-build}
rounds=${3:-2}
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
stats=$(mktemp)
trap 'rm -f "$stats"' EXIT
clients() {  # until killed: 8 pollers, then their summary into $stats
    python3 -c 'import socket, statistics, sys, threading, time, signal
port, out = int(sys.argv[1]), sys.argv[2]
times, stop, began = [], threading.Event(), []
def poll():
    while not stop.is_set():
        try: s = socket.create_connection(("127.0.0.1", port), timeout=2)
        except OSError: time.sleep(0.05); continue
        f = s.makefile("rb")
        if not began: began.append(time.monotonic())
        tick = time.monotonic()
        try:
            while not stop.is_set():
                t = time.monotonic(); s.sendall(b"f\nl STRENGTH\n"); f.readline(); f.readline()
                times.append(time.monotonic() - t)
                tick += 0.1; time.sleep(max(0, tick - time.monotonic()))
        except OSError: pass
def end(*_):
    stop.set(); span = time.monotonic() - began[0] if began else 1
    ms = sorted(t * 1000 for t in times) or [0]
    open(out, "w").write("%.0f answers/s, median %.2f ms, 99%% %.2f ms, worst %.2f ms" % (
        len(ms) / span, statistics.median(ms), ms[int(len(ms) * 0.99) - 1], ms[-1]))
    sys.exit(0)
signal.signal(signal.SIGTERM, end)
for _ in range(8): threading.Thread(target=poll, daemon=True).start()
while True: time.sleep(1)' "$port" "$stats" &
    client_pid=$!
}
cmake --build "$build" -j2 --target rxmon rxmon-sim >/dev/null
echo "| run | passes/s | ms/pass | wire ms/pass | ratio | CPU % of a core | RSS MiB | terminal bytes/pass | terminal bytes/s |"
echo "|---|---|---|---|---|---|---|---|---|"
for round in $(seq "$rounds"); do
    echo "| no options |$(bash bench/monitor.sh "$seconds" "$build" 115200 "" | tail -n 1 | cut -d'|' -f3-)"
    clients
    row=$(bash bench/monitor.sh "$seconds" "$build" 115200 "--rigctl $port" | tail -n 1 | cut -d'|' -f3-)
    kill -TERM "$client_pid"; wait "$client_pid" || true
    echo "| --rigctl, 8 clients |$row"
    echo "  clients: $(cat "$stats")"
done
