# Start-up as a user meets it: bad arguments, the port prompt, a port that
# is missing, and ESC giving the terminal back.
set -u
. "$(dirname "$0")/monitor-lib"

for bad in 12 0 -3; do
    start_rxmon "$bad"
    check "argument $bad ends with 1" [ "$(wait_exit 5)" = 1 ]
    check "argument $bad is named" wait_for 2 "COM$bad?"
    check "argument $bad: no prompt" bash -c "! tmux -L $socket capture-pane -p -t 0 | grep -q 'Press its number'"
done

# A missing port: the message names it, on a terminal given back.
start_rxmon 1
check "missing port ends with 1" [ "$(wait_exit 5)" = 1 ]
check "missing port is named" wait_for 2 "COM1 cannot be opened"
check "banner still on the restored terminal" wait_for 1 "radio scanner monitor"

# The prompt: x and 0 change nothing, 5 takes COM 5 (missing here).
start_rxmon
check "prompt shown" wait_for 5 "Press its number"
keys x 0
sleep 0.5
check "x and 0 ignored" [ ! -s "$work/exit" ]
keys 5
check "5 chooses COM 5, which is missing" [ "$(wait_exit 5)" = 1 ]
check "echo of COM5" wait_for 2 "COM5"
check "COM5 named in the failure" wait_for 2 "COM5 cannot be opened"

start_rxmon abc
check "abc is no port: prompt" wait_for 5 "Press its number"
keys Escape
check "ESC at the prompt ends with 1" [ "$(wait_exit 5)" = 1 ]

start_sim --baud 115200 --model A
# Nothing to draw on, or no keyboard to ask for the port: one line saying
# why, exit code 1 at once, the terminal's settings as they were.
while IFS='|' read -r run says; do
    start_in_terminal "export RXMON_COM1='$RXMON_COM1'; s=\$(stty -g); timeout 3 env $run 2>$work/err; c=\$?
                       [ \"\$s\" = \"\$(stty -g)\" ] || c=stty; (exit \$c)"
    check "${run/$rxmon/rxmon} ends with 1" [ "$(wait_exit 5)" = 1 ]
    check "${run/$rxmon/rxmon} says why" bash -c "[ \$(wc -l <$work/err) = 1 ] && grep -qF '$says' $work/err"
done <<END
TERM=dumb $rxmon 1|TERM=dumb cannot move the cursor
TERM=nonesuch $rxmon 1|TERM=nonesuch is not in the terminfo database
-u TERM $rxmon 1|TERM is not set
$rxmon 1 >$work/out|standard output is not a terminal
$rxmon </dev/null|give the COM port (1-9) as the first argument
END

# Monitoring, then ESC: exit 0 within a second, the screen given back. The
# terminal's padding marks ($<5>) are terminfo's to deal with, never shown.
start_in_terminal "env TERM=vt100 RXMON_COM1='$RXMON_COM1' $rxmon 1 0"
check "monitor shows the model" wait_for 10 "SR-A10"
check "no padding marks" bash -c "! tmux -L $socket capture-pane -p -t 0 | grep -qF '\$<'"
# press_esc: ESC, then the exit code and the milliseconds it took.
press_esc() {
    keys Escape
    local start=$(date +%s%N) code=$(wait_exit 3)
    echo "$code $(( ($(date +%s%N) - start) / 1000000 ))"
}
set -- $(press_esc)
check "ESC ends with 0" [ "$1" = 0 ]
check "ESC ends within a second ($2 ms)" [ "$2" -lt 1000 ]
check "terminal given back" wait_for 2 "rxmon ended"
check "screen gone, no marks left" bash -c "! tmux -L $socket capture-pane -p -t 0 | grep -qe 'scanner view' -e '\$<'"

# A silent scanner: the search looks at the keys about once a second, and
# still ESC ends rxmon within 1.5 s, wherever in that second it comes.
stop_sim
start_sim --drop 1
for delay in 0.2 0.7; do
    start_rxmon 1 0
    wait_for 5 Autobaud >/dev/null && sleep $delay
    set -- $(press_esc)
    check "silent port: ESC ends with 0 within 1.5 s ($2 ms)" [ "$1" = 0 -a "$2" -lt 1500 ]
done
finish
