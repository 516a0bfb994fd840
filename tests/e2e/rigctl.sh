# --rigctl against rxmon-sim: hamlib's rigctl and raw clients, the limits,
# and ESC with every client connected (bind failures: serve.sh).
set -u
. "$(dirname "$0")/monitor_lib.sh"
port=$(free_port)
# ask TEXT: rxmon's answers to the lines of TEXT, to the close that q asks.
ask() {
    printf '%b' "$1" | python3 -c 'import socket, sys
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=5)
s.sendall(sys.stdin.buffer.read() + b"q\n")
try:
    while chunk := s.recv(65536): sys.stdout.write(chunk.decode())
except TimeoutError: print("(still open after q)")' "$port"
}
rigctl_says() { rigctl -m 2 -r "127.0.0.1:$port" "$@" 2>/dev/null | paste -sd' '; }

start_sim --baud 115200 --freq 1234567 --signal fixed:700 --silent 6:6 --log-file "$work/sim.log"
start_rxmon --rigctl "$port" 1 0
check "rxmon answers the simulator" wait_for 10 "115200 baud"
sent="$(grep -o 'TUN,[0-9]*,[0-9]*' "$work/sim.log" | tail -1 | cut -d, -f3)00 $(grep -o 'SIG,[0-9]*' "$work/sim.log" | tail -1 | cut -c5-)"
check "rigctl -m 2 reads f, STRENGTH (S9+24 for 700) and RAWSTR as sent: $sent" [ "$sent" = "123456700 700" -a "$(rigctl_says f l STRENGTH l RAWSTR)" = "123456700 24 700" ]
said=$(rigctl_says F 145000000 f) && check "F is refused as hamlib's Feature not available, then f answered" [ "$(grep -o 'Feature not available' <<<"$said" | tail -1) ${said##* }" = "Feature not available 123456700" ]
check "the extended forms and the refusals, a line over 1 KiB dropped" [ "$(ask "+f\n;l VFOA RAWSTR\nL AF 1\nfrob\n$(printf 'x%.0s' {1..1030})\nv\n")" = \
    "$(printf 'get_freq:\nFrequency: 123456700\nRPRT 0\nget_level: VFOA RAWSTR;700;RPRT 0\nRPRT -11\nRPRT -11\nRPRT -1\nVFOA\nRPRT 0\n')" ]
check "the silent spell" wait_for 10 "[no communication with scanner]"
check "has no readings: RPRT -5 (Command timed out)" [ "$(ask 'f\nl RAWSTR\nv\n')" = "$(printf 'RPRT -5\nRPRT -5\nVFOA\nRPRT 0')" ]
check "the scanner back, the readings are" until_true 10 bash -c '[ "$(rigctl -m 2 -r 127.0.0.1:'"$port"' f 2>/dev/null)" = 123456700 ]'

python3 -c 'import socket, sys, time
held = [socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=5) for _ in range(16)]
for c in held: c.sendall(b"v\n")
with open(sys.argv[2], "w") as f: f.write(" ".join(c.recv(100).decode().strip() for c in held))
time.sleep(60)' "$port" "$work/held" &
holder=$! pids+=($!)
check "16 clients are answered at once" until_true 5 grep -sqx "$(printf 'VFOA %.0s' {1..15})VFOA" "$work/held"
check "the 17th is closed" [ -z "$(ask 'v\n' 2>/dev/null)" ]
read -r code ms <<<"$(press_esc)"
check "ESC ends with 0 in $ms ms with 16 clients connected" [ "$code" = 0 -a "$ms" -le 1500 ]
check "the next run binds the port at once" grep -q "no screen to draw on" <<<"$("$rxmon" --rigctl "$port" 1 2>&1 </dev/null)"
kill "$holder" 2>/dev/null
finish
