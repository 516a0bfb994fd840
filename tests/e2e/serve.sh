# --serve against rxmon-sim, whose signal swaps between 100 and 900 and
# which falls silent at 14 s for 6 s: the readings against the simulator's,
# the event stream, the limits, a real Prometheus and a real browser, the
# bind failures (of --rigctl too), and ESC with clients connected.
set -u
. "$(dirname "$0")/monitor_lib.sh"
py=/usr/bin/python3
port=$(free_port) prom_port=$(free_port)
url=http://127.0.0.1:$port

# The port named by a path that JSON and Prometheus must escape.
link=$work/$'sim\x01\xff'
start_sim --baud 115200 --signal sweep:100:900:800 --silent 14:6 --link "$link"
start_rxmon --serve "$port" "'$link'" 0
check "the screen shows the page's address" wait_for 10 "Page: $url/"
check "/now reads as the simulator answers" until_true 5 $py -c 'import json, sys, urllib.request
r = json.load(urllib.request.urlopen(sys.argv[1] + "/now"))
port = sys.argv[2].encode("utf-8", "surrogateescape").decode("utf-8", "replace")
want = dict(state="answering", port=port, baud=115200, model="SR-A10", frequency_hz=146250000, tuning=100)
sys.exit(not ({k: r[k] for k in want} == want and (r["signal"], r["pitch_hz"]) in ((100, 180), (900, 21619))
              and r["peak"] >= r["signal"] and r["time"][:2] == "20"))' "$url" "$link"
check "an event reader gets the present object, then one a pass" $py - "$url" <<'EOF'
import json, sys, time, urllib.request
stream, seqs, start = urllib.request.urlopen(sys.argv[1] + "/events", timeout=3), [], time.monotonic()
for line in stream:
    if line.startswith(b"data: "): seqs.append(json.loads(line[6:])["seq"])
    if len(seqs) == 5: break
sys.exit(not (stream.headers["Content-Type"] == "text/event-stream" and seqs == list(range(seqs[0], seqs[0] + 5))
              and time.monotonic() - start < 2))
EOF
check "promtool accepts /metrics" bash -c "curl -s $url/metrics | promtool check metrics"
cat >"$work/prometheus.yml" <<EOF
global: {scrape_interval: 1s}
scrape_configs: [{job_name: rxmon, static_configs: [{targets: ["127.0.0.1:$port"]}]}]
EOF
prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/tsdb" \
    --web.listen-address="127.0.0.1:$prom_port" >"$work/prometheus.log" 2>&1 &
prom_pid=$! pids+=($!)
check "the page in a browser" $py "$(dirname "$0")/serve_page.py" "$url/" ${RXMON_SCREENSHOT:-}
check "silent: state lost, readings null" until_true 8 bash -c \
    "curl -s $url/now | grep -q '\"state\":\"lost\".*\"frequency_hz\":null,\"level\":null,\"tuning\":null,\"signal\":null,\"peak\":null,\"pitch_hz\":null'"
prom_signal() {
    curl -s "http://127.0.0.1:$prom_port/api/v1/query?query=rxmon_signal" |
        grep -qE '"value":\[[0-9.]+,"(100|900)"\]'
}
check "Prometheus scrapes rxmon and reads the signal back" until_true 20 prom_signal
kill "$prom_pid"; wait "$prom_pid"

check "limits" $py - "$port" <<'EOF'
import socket, sys, threading, time
port = int(sys.argv[1]); host = b"Host: 127.0.0.1:%d\r\n" % port
def ask(request, small=False):
    s = socket.socket()
    if small: s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    s.connect(("127.0.0.1", port)); s.sendall(request); return s
def status(request):
    s = ask(request); s.settimeout(5); return s.recv(200).split(b"\r\n")[0].decode()
cases = [(b"GET /now HTTP/1.1\r\n" + host + b"X: " + b"a" * 8300 + b"\r\n\r\n", "431"),
         (b"GET /now HTTP/1.1\r\n" + host + b"X: " + b"a" * 7000 + b"\r\n\r\n", "200"),
         (b"GET /now HTTP/1.1\r\nHost: rebound.example:%d\r\n\r\n" % port, "403"),
         (b"GET /now HTTP/1.1\r\nHost: 127.0.0.1:1%d\r\n\r\n" % port, "403"),
         (b"GET /now HTTP/1.1\r\nHost: localhost:%d\r\n\r\n" % port, "200"),
         (b"GET /nope HTTP/1.1\r\n" + host + b"\r\n", "404"),
         (b"POST /now HTTP/1.1\r\n" + host + b"Content-Length: 0\r\n\r\n", "405"),
         (b"HEAD /metrics HTTP/1.1\r\n" + host + b"\r\n", "200")]
bad = [(r[:24], want, got) for r, want in cases if want not in (got := status(r))]
readers = [ask(b"GET /events HTTP/1.1\r\n" + host + b"\r\n") for _ in range(32)]
for r in readers: r.recv(100)
if "503" not in status(b"GET /now HTTP/1.1\r\n" + host + b"\r\n"): bad.append("the 33rd client")
readers.pop().close(); time.sleep(0.5)
if "200" not in status(b"GET /now HTTP/1.1\r\n" + host + b"\r\n"): bad.append("a client after one left")
for r in readers: r.close()
def closed_within(seconds, s):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if s.getsockopt(socket.IPPROTO_TCP, socket.TCP_INFO, 1)[0] != 1: return True
        time.sleep(0.2)
stuck, slow = ask(b"GET /events HTTP/1.1\r\n" + host + b"\r\n", small=True), ask(b"GET /now HTTP/1.1\r\n")
def trickle():
    try:
        while True: slow.send(b"X"); time.sleep(0.5)
    except OSError: pass
threading.Thread(target=trickle, daemon=True).start()
if not closed_within(30, slow): bad.append("a request that never ends")
if not closed_within(15, stuck): bad.append("a reader that never reads")
print(bad or "", end="")
sys.exit(bool(bad))
EOF

# Bind failures of either server end rxmon before the screen, with one line
# naming the address.
refused() {  # refused OPTION VALUE CODE TEXT
    local code=0
    "$rxmon" "$1" "$2" 1 0 </dev/null >"$work/out" 2>"$work/err" || code=$?
    [ "$code" = "$3" ] && grep -qF -- "$4" "$work/err" && [ ! -s "$work/out" ] && { [ "$3" = 2 ] || [ "$(wc -l <"$work/err")" = 1 ]; }
}
for option in --serve --rigctl; do
    for failure in "$port|1|127.0.0.1:$port: Address already in use" \
        "192.0.2.1:$port|1|192.0.2.1:$port: Cannot assign requested address" \
        "no-such-host.invalid:$port|1|no-such-host.invalid:$port: " \
        "8080:|2|Usage:" "::1:8080|2|Usage:" "65536|2|Usage:" "host:|2|Usage:"; do
        IFS='|' read -r value code text <<<"$failure"
        check "$option $value: exit $code, $text" refused "$option" "$value" "$code" "$text"
    done
done

# ESC with every client connected, a reader that never reads among them.
$py - "$port" <<'EOF' &
import socket, sys, time
port = int(sys.argv[1])
readers = [socket.create_connection(("127.0.0.1", port)) for _ in range(32)]
for r in readers: r.sendall(b"GET /events HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n\r\n" % port)
time.sleep(20)
EOF
readers=$! pids+=($!)
until_true 5 bash -c "[ \$(ss -tn state established '( sport = :$port )' | grep -c .) -ge 33 ]"
read -r code ms <<<"$(press_esc)"
check "ESC ends with 0 within 1.5 s with 32 clients: $code after $ms ms" [ "$code" = 0 -a "$ms" -le 1500 ]
kill $readers
start_rxmon --serve "$port" 1 0
check "the next run binds the port at once" wait_for 5 "Page: $url/"
keys Escape
wait_exit 5 >/dev/null
stop_sim
finish
