# rxmon-sim by hand: it answers only at its own rate, with CR or CR LF line
# ends, faults on request, and bytes paced as on a wire.
set -u
. "$(dirname "$0")/monitor_lib.sh"
reader_pid=
trap 'close_line; cleanup' EXIT
# The simulator's line is written through fd 3 and read through a pipe (fd
# 4): bash's read would change the terminal's own settings while it waits.
open_line() {  # open_line OPTIONS...
    start_sim "$@"
    slave=$RXMON_COM1
    stty -F "$slave" raw -echo 9600
    rm -f "$work/from_sim" && mkfifo "$work/from_sim"
    exec 4<>"$work/from_sim" 3>"$slave"
    cat "$slave" >"$work/from_sim" 2>/dev/null &
    reader_pid=$!
}
close_line() {
    [ -n "$reader_pid" ] && kill "$reader_pid" 2>/dev/null && wait "$reader_pid" 2>/dev/null
    stop_sim
    reader_pid=
    exec 3>&- 4<&- 2>/dev/null
}
ask() {  # ask COMMAND: the reply line, without CR and LF, or nothing within 1 s
    local line
    printf '%s\r' "$1" >&3
    IFS= read -r -d $'\r' -t 1 line <&4 || return 0
    printf '%s' "${line//$'\n'/}"
}

open_line --baud 38400 --model B --level 600 --tuning 90 --freq 1234567 --signal fixed:300
check "no answer at another rate" [ -z "$(ask IDN)" ]
stty -F "$slave" 38400
for pair in IDN=IDN,SR-B20 LVL=LVL,600 TUN=TUN,90,1234567 SIG=SIG,300 "VER=VER,Firmware 2.07" XYZ=ERR; do
    check "$pair at the scanner's rate" [ "$(ask "${pair%%=*}")" = "${pair#*=}" ]
done
close_line

# Faults and line ends, at 9600 baud, where a byte takes 1.04 ms.
open_line --crlf --drop 3 --info-differ 2 --overlong 5
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
close_line

open_line --silent 0:2
check "silent from the start" [ -z "$(ask IDN)" ]
for _ in 1 2 3; do reply=$(ask IDN); [ -z "$reply" ] || break; done  # each unanswered ask takes 1 s
check "answering after its silent spell" [ "$reply" = IDN,SR-A10 ]
close_line
finish
