# The simulator's line served by Debian's ser2net over RFC 2217 (its device
# path directly: monitor.sh). Through the network the baud-rate search must
# set the remote line's rate; a server that stops ends rxmon as an unplugged
# scanner does (under --reconnect: reconnect.sh). (Bytes, rates, and
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
ser2net -n -u -c "$work/ser2net.yaml" -P "$work/ser2net.pid" >"$work/ser2net.log" 2>&1 &
server=$!
until_true 5 grep -qF "$(printf ':%04X 00000000:0000 0A' "$port")" /proc/net/tcp
# The host looked up once for the whole run, by a resolver that never
# answers again, while the search connects anew at each rate.
url=rfc2217://scanner.test:$port
start_in_terminal "env LD_PRELOAD=$build/tests/libtest_resolver.so RESOLVER_ONCE=1 RESOLVER_LOG=$work/lookups $rxmon $url 0"
check "rfc2217: the rate found through ser2net" wait_for 20 "38400 baud"
check "rfc2217: readings drawn" wait_for 5 "Model: SR-B20"
check "the host looked up once" [ "$(cat "$work/lookups")" = scanner.test ]

kill -TERM "$server" && wait "$server" 2>/dev/null
set -- $(exit_in 5)
check "server stopped: ends with 1 within 3 s ($2 ms)" [ "$1" = 1 -a "$2" -le 3000 ]
check "server stopped: the open-failure message" wait_for 1 "$url cannot be opened"
check "server stopped: terminal given back" [ "$(tmux -L "$socket" display -p -t 0 '#{alternate_on}')" = 0 ]
finish
