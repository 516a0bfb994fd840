# rxmon-sim by hand: it answers only at its own rate, with CR or CR LF line
# ends, faults on request, and bytes paced as on a wire.
set -u
sim=$1/sim/rxmon-sim
work=$(mktemp -d)
sim_pid= reader_pid= failures=0
check() {  # check NAME CONDITION...
    "${@:2}" || { echo "FAILED: $1"; failures=$((failures + 1)); }
}
stop_sim() {
    [ -n "$reader_pid" ] && kill "$reader_pid" 2>/dev/null && wait "$reader_pid" 2>/dev/null
    [ -n "$sim_pid" ] && kill -TERM "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    sim_pid= reader_pid=
    exec 3>&- 4<&- 2>/dev/null
}
trap 'stop_sim; rm -rf "$work"' EXIT

# The slave is written through fd 3 and read through a pipe (fd 4): bash's
# read would change the terminal's own settings while it waits.
start_sim() {  # start_sim OPTIONS...
    rm -f "$work/path" "$work/from_sim"
    "$sim" --path-file "$work/path" "$@" >/dev/null 2>&1 &
    sim_pid=$!
    for _ in $(seq 50); do [ -s "$work/path" ] && break; sleep 0.05; done
    slave=$(cat "$work/path")
    stty -F "$slave" raw -echo 9600
    mkfifo "$work/from_sim"
    exec 4<>"$work/from_sim" 3>"$slave"
    cat "$slave" >"$work/from_sim" 2>/dev/null &
    reader_pid=$!
}
ask() {  # ask COMMAND: the reply line, without CR and LF, or nothing within 1 s
    local line
    printf '%s\r' "$1" >&3
    IFS= read -r -d $'\r' -t 1 line <&4 || return 0
    printf '%s' "${line//$'\n'/}"
}

start_sim --baud 38400 --model B --level 600 --tuning 90 --freq 1234567 --signal fixed:300
check "no answer at another rate" [ -z "$(ask IDN)" ]
stty -F "$slave" 38400
for pair in IDN=IDN,SR-B20 LVL=LVL,600 TUN=TUN,90,1234567 SIG=SIG,300 "VER=VER,Firmware 2.07" XYZ=ERR; do
    check "$pair at the scanner's rate" [ "$(ask "${pair%%=*}")" = "${pair#*=}" ]
done
stop_sim

# Faults and line ends, at 9600 baud, where a byte takes 1.04 ms.
start_sim --crlf --drop 3 --info-differ 2 --overlong 5
printf 'IDN\r' >&3
IFS= read -r -d $'\n' -t 1 line <&4
check "CR LF line ends" [ "$line" = $'IDN,SR-A10\r' ]
v1=$(ask VER)
check "every third command goes unanswered" [ -z "$(ask VER)" ]
v2=$(ask VER)
check "every second info reply differs" [ -n "$v1" -a -n "$v2" -a "$v1" != "$v2" ]
long=$(ask IDN)
check "every fifth reply is overlong" [ ${#long} -eq 200 ]
t0=$(date +%s%N) && ask VER >/dev/null  # "VER,Firmware 2.07" CR LF: 19 bytes, 19 ms at 9600 baud
check "replies are paced as on a wire" [ $((($(date +%s%N) - t0) / 1000000)) -ge 18 ]
stop_sim

start_sim --silent 0:2
check "silent from the start" [ -z "$(ask IDN)" ]
for _ in 1 2 3; do reply=$(ask IDN); [ -z "$reply" ] || break; done  # each unanswered ask takes 1 s
check "answering after its silent spell" [ "$reply" = IDN,SR-A10 ]
stop_sim
echo "$failures failed"
[ $failures -eq 0 ]
