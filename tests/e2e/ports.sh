# Ports a user can trust: each open failure names its cause, with exit code 1
# within 3 s; a searched line keeps its settings; the search through ser2net;
# ESC ends rxmon within 1.5 s against misbehaving RFC 2217 servers and a slow
# resolver. (Names refused at start-up: monitor.sh; a port that comes back:
# reconnect.sh; bytes and rates through ser2net: tests/backend/serial.)
set -u
. "$(dirname "$0")/monitor_lib.sh"
hostile() {  # hostile MODE: a misbehaving server (tests/e2e/hostile_rfc2217.py) on port $port
    python3 "$(dirname "$0")/hostile_rfc2217.py" "$1" "$work/$1.port" >/dev/null 2>&1 &
    pids+=($!)
    until_true 5 test -s "$work/$1.port"
    port=$(cat "$work/$1.port")
}
said() { tmux -L "$socket" capture-pane -pJ -t 0 | grep -qF -- "$1" || { screen; return 1; }; }  # lines joined

start_sim --baud 38400
line=$RXMON_COM1
tmux -L "holder-$$" new-session -d -x 80 -y 25 "exec $rxmon $line 0"
sockets+=("holder-$$")
holder=$(tmux -L "holder-$$" display -p -t 0 '#{pane_pid}')
until_true 5 grep -q "FLOCK.* $holder " /proc/locks
as_nobody=
if [ "$(id -u)" = 0 ]; then  # a line of the group dialout, tried by a user outside it
    first_sim=$sim_pid
    start_sim --baud 38400 && pids+=("$sim_pid") && sim_pid=$first_sim
    chgrp dialout "$RXMON_COM1" && chmod 660 "$RXMON_COM1" && chmod 755 "$work"
    as_nobody="setpriv --reuid=65534 --regid=65534 --clear-groups $rxmon $RXMON_COM1 0|group dialout: add yourself with 'sudo usermod -aG dialout nobody', then log in again."
fi
hostile silent
while IFS='|' read -r run says; do
    [ -n "$run" ] || continue
    start_in_terminal "$run"
    set -- $(exit_in 5)
    check "$run: exit 1 within 3 s ($2 ms)" [ "$1" = 1 -a "$2" -le 3000 ]
    check "$run: says why" said "$says"
done <<END
$as_nobody
$rxmon $line 0|$line cannot be opened: it is in use by another program (pid $holder, rxmon).
$rxmon --reconnect /dev/null 0|/dev/null cannot be opened: it is not a serial device.
$rxmon rfc2217://127.0.0.1:1 0|127.0.0.1 refused the connection: no port server listens on its port 1.
$rxmon rfc2217://nosuchhost.invalid:2217 0|the host nosuchhost.invalid is not known.
$rxmon rfc2217://127.0.0.1:$port 0|did not report the line within 2 s: it is not an RFC 2217 port server.
$rxmon /dev/ttyNONE 0|/dev/ttyNONE cannot be opened: it does not exist.
END
check "a missing device: the serial devices listed" bash -c "tmux -L $socket capture-pane -pJ -t 0 |
    grep -qE 'exist\. (Serial devices here: /dev/|No serial device is to be found here\.)'"
tmux -L "holder-$$" send-keys -t 0 Escape
until_true 5 eval '! kill -0 "$holder" 2>/dev/null'

# The line as it was found (1200 baud, CR read as LF), after a search.
stty -F "$line" 1200 icrnl
before=$(stty -g -F "$line")
start_rxmon "$line" 0
check "found at 38400" wait_for 10 "38400 baud"
set -- $(press_esc)
check "line settings put back" [ "$(stty -g -F "$line")" = "$before" ]

# The line served by Debian's ser2net over RFC 2217: the search sets the
# remote line's rate, and the host is looked up once for the whole run (by
# a resolver that never answers again) while the search connects anew at
# each rate; a server that stops ends rxmon as an unplugged scanner does.
net_port=$(free_port)
printf 'connection: &scanner\n  accepter: telnet(rfc2217),tcp,127.0.0.1,%s\n  connector: serialdev,%s,9600n81,local\n' \
    "$net_port" "$line" >"$work/ser2net.yaml"
ser2net -n -u -c "$work/ser2net.yaml" -P "$work/ser2net.pid" >"$work/ser2net.log" 2>&1 &
server=$! pids+=($!)
until_true 5 grep -qF "$(printf ':%04X 00000000:0000 0A' "$net_port")" /proc/net/tcp
url=rfc2217://scanner.test:$net_port
start_in_terminal "env LD_PRELOAD=$build/tests/libtest_resolver.so RESOLVER_ONCE=1 RESOLVER_LOG=$work/lookups $rxmon $url 0"
check "rfc2217: the rate found through ser2net" wait_for 20 "38400 baud"
check "rfc2217: readings drawn" wait_for 5 "Model: SR-A10"
check "the host looked up once" [ "$(cat "$work/lookups")" = scanner.test ]
kill -TERM "$server" && wait "$server" 2>/dev/null
set -- $(exit_in 5)
check "server stopped: ends with 1 within 3 s ($2 ms)" [ "$1" = 1 -a "$2" -le 3000 ]
check "server stopped: the open-failure message" wait_for 1 "$url cannot be opened"
check "server stopped: terminal given back" [ "$(tmux -L "$socket" display -p -t 0 '#{alternate_on}')" = 0 ]

# ESC at a random moment against each misbehaving server and a slow resolver;
# first as rxmon awaits a change's confirmation: quitting then closes a line.
resolver="LD_PRELOAD=$build/tests/libtest_resolver.so RESOLVER_SLOW_MS=4000"
for mode in ignore slow parity9 resolver; do
    if [ $mode = resolver ]; then env=$resolver url=rfc2217://scanner.test:$(cat "$work/ignore.port")
    else hostile $mode && env= url=rfc2217://127.0.0.1:$port; fi
    for try in 1 2; do
        start_in_terminal "env $env $rxmon $url 0"
        [ $mode = resolver ] || wait_for 5 "scanner view" >/dev/null
        [ $mode$try = ignore1 ] && until_true 5 test -e "$work/ignore.port.change" || sleep "$((RANDOM % 3)).$((RANDOM % 10))"
        set -- $(press_esc)
        check "$mode, try $try: ESC ends with 0 within 1.5 s ($2 ms)" [ "$1" = 0 -a "$2" -le 1500 ]
    done
done
finish
