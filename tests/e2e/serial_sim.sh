# rxmon-sim as a user meets it: its help, a session by hand over its
# pseudo-terminal (answers only at its own rate, CR or CR LF line ends,
# faults on request, bytes paced as on a wire), and a clean stop.
set -u
sim=$1/sim/rxmon-sim
work=$(mktemp -d)
sim_pid= reader_pid= failures=0 passes=0
check() {  # check NAME CONDITION...
    local name=$1
    shift
    if "$@"; then passes=$((passes + 1)); else echo "FAILED: $name"; failures=$((failures + 1)); fi
}
stop_sim() {
    if [ -n "$reader_pid" ]; then kill "$reader_pid" 2>/dev/null; wait "$reader_pid" 2>/dev/null; reader_pid=; fi
    if [ -n "$sim_pid" ]; then kill -TERM "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; sim_pid=; fi
    exec 3>&- 4<&- 2>/dev/null
}
trap 'stop_sim; rm -rf "$work"' EXIT
[ -x "$sim" ] || { echo "rxmon-sim not built in $1"; exit 1; }

help=$("$sim" --help)
check "help exits 0" [ $? -eq 0 ]
for opt in --baud --device --path-file --link --crlf --delay --model --level --tuning --tuning-drift --freq \
    --firmware --signal --drop --garble --overlong --info-differ --switch-model --silent --random-faults --unplug \
    --log --log-file --flood --version; do
    check "help names $opt" grep -q -- "$opt" <<<"$help"
done
"$sim" --baud 12345 >/dev/null 2>"$work/err"
check "a rate the scanner cannot run at is refused" [ $? -eq 2 ]
check "... saying why" grep -q 115200 "$work/err"
"$sim" --signal wobble >/dev/null 2>&1
check "an unknown signal course is refused" [ $? -eq 2 ]

# The slave is written through fd 3 and read through a pipe (fd 4): bash's
# read would change the terminal's own settings while it waits.
start_sim() {  # start_sim OPTIONS...
    rm -f "$work/path" "$work/from_sim"
    "$sim" --path-file "$work/path" --log-file "$work/log" "$@" >"$work/out" 2>"$work/err" &
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
check "the slave path is printed on standard output" [ "$(head -1 "$work/out")" = "$slave" ]
check "no answer at another rate" [ -z "$(ask IDN)" ]
stty -F "$slave" 38400
for pair in IDN=IDN,SR-B20 LVL=LVL,600 TUN=TUN,90,1234567 SIG=SIG,300 "VER=VER,Firmware 2.07" XYZ=ERR; do
    check "$pair at the scanner's rate" [ "$(ask "${pair%%=*}")" = "${pair#*=}" ]
done
check "the log shows what came and went, with times" grep -Eq '^ *[0-9]+\.[0-9]{3} -> IDN,SR-B20\\r$' "$work/log"
check "the log shows the ignored command" grep -q 'ignored: the line is at 9600 baud' "$work/log"
kill -INT "$sim_pid"
wait "$sim_pid"
check "SIGINT stops it with status 0" [ $? -eq 0 ]
sim_pid=
check "its path file is removed" [ ! -e "$work/path" ]
stop_sim

# Faults and line ends, at 9600 baud, where a byte takes 1.04 ms.
start_sim --crlf --drop 3 --info-differ 2 --overlong 5
printf 'IDN\r' >&3
IFS= read -r -d $'\n' -t 1 line <&4
check "CR LF line ends" [ "$line" = $'IDN,SR-A10\r' ]
v1=$(ask VER)
check "every third command goes unanswered" [ -z "$(ask VER)" ]
v2=$(ask VER)
check "every second info reply differs" [ -n "$v1" ] && [ -n "$v2" ] && [ "$v1" != "$v2" ]
long=$(ask IDN)
check "every fifth reply is overlong" [ ${#long} -eq 200 ]
t0=$(date +%s%N)
ask VER >/dev/null
t1=$(date +%s%N)
# "VER,Firmware 2.07" CR LF: 19 bytes, at least 19 ms on a 9600-baud wire.
check "replies are paced as on a wire" [ $(((t1 - t0) / 1000000)) -ge 18 ]
stop_sim

echo "$passes passed, $failures failed"
[ $failures -eq 0 ]
