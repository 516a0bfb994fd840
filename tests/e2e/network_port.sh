# The simulator's line served by Debian's ser2net over RFC 2217 (its device
# path directly: monitor.sh). Through the network the baud-rate search must
# set the remote line's rate; a server that stops ends rxmon as an unplugged
# scanner does, or under --reconnect is waited for. (Bytes, rates, and
# servers that refuse or stay silent: tests/backend/serial; servers that
# misbehave: ports.sh.)
set -u
. "$(dirname "$0")/monitor_lib.sh"

start_sim --baud 38400 --model B
port=$(free_port)
cat >"$work/ser2net.yaml" <<EOF
connection: &scanner
  accepter: telnet(rfc2217),tcp,127.0.0.1,$port
  connector: serialdev,$RXMON_COM1,9600n81,local
EOF
start_server() {
    ser2net -n -u -c "$work/ser2net.yaml" -P "$work/ser2net.pid" >"$work/ser2net.log" 2>&1 &
    server=$!
    listening=$(printf ':%04X 00000000:0000 0A' "$port")
    until_true 5 grep -qF "$listening" /proc/net/tcp
}
stop_server() { kill -TERM "$server" && wait "$server" 2>/dev/null; }
# The host looked up once for the whole run, by a resolver that never
# answers again, while the search connects anew at each rate.
start_server
url=rfc2217://scanner.test:$port
start_in_terminal "env LD_PRELOAD=$build/tests/libtest_resolver.so RESOLVER_ONCE=1 RESOLVER_LOG=$work/lookups $rxmon $url 0"
check "rfc2217: the rate found through ser2net" wait_for 20 "38400 baud"
check "rfc2217: readings drawn" wait_for 5 "Model: SR-B20"
check "the host looked up once" [ "$(cat "$work/lookups")" = scanner.test ]

stop_server
set -- $(exit_in 5)
check "server stopped: ends with 1 within 3 s ($2 ms)" [ "$1" = 1 -a "$2" -le 3000 ]
check "server stopped: the open-failure message" wait_for 1 "$url cannot be opened"
check "server stopped: terminal given back" [ "$(tmux -L "$socket" display -p -t 0 '#{alternate_on}')" = 0 ]

# Under --reconnect: waited for, and found again within 5 s of its return.
start_server
start_rxmon --reconnect "rfc2217://127.0.0.1:$port" 0
check "--reconnect: found" wait_for 20 "38400 baud"
for round in 1 2; do
    stop_server
    check "--reconnect, round $round: waits" wait_for 5 "[waiting for the port]"
    sleep $((round * 3))
    start_server
    start=$(now_ms)
    wait_for 10 "38400 baud, scanner answers" >/dev/null
    took_ms=$(($(now_ms) - start))
    echo "round $round: found again $took_ms ms after ser2net listened"
    check "--reconnect, round $round: found again within 5 s ($took_ms ms)" [ "$took_ms" -le 5000 ]
done
stop_server
finish
