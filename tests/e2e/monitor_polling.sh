# The baud-rate search and the polling cycle against the simulated scanner:
# finding it at 38400, no scanner at all, a scanner that goes silent and
# comes back at another rate, a change of model while running, and a port
# that never falls silent.
set -u
. "$(dirname "$0")/monitor-lib"

# 38400: 115200 and 57600 each get two unanswered model queries first.
start_sim --baud 38400 --model B --freq 1462500 --signal fixed:512 --log-file "$work/sim.log"
start_rxmon 1 0
check "found at 38400" wait_for 15 "38400 baud"
check "status on row 3" bash -c "tmux -L $socket capture-pane -p -t 0 | sed -n 3p | grep -q '38400 baud'"
check "frequency in the title" bash -c "tmux -L $socket display -p -t 0 '#{pane_title}' | grep -q '146.2500'"
check "frequency on row 9" wait_for 2 "146.2500 MHz"
check "signal reading" wait_for 2 " 512/1023"
check "model B level judged" wait_for 2 "in range"
# What the simulator heard before it answered: every command sent while the
# line was set to 115200 and 57600 went unanswered.
check "simulator log kept" [ -s "$work/sim.log" ]
keys Escape
check "ESC ends with 0" [ "$(wait_exit 3)" = 0 ]
stop_sim

# No scanner: "[Autobaud]" through the first five rates, then the
# no-communication text, blinking (it vanishes in the alternate phase).
start_sim --baud 9600 --drop 1
start_rxmon 1 0
check "autobaud first" wait_for 3 "[Autobaud]"
sleep 3
check "still autobaud after 3 s" bash -c "tmux -L $socket capture-pane -p -t 0 | grep -qF '[Autobaud]'"
check "no communication from the sixth rate on" wait_for 6 "[no communication with scanner]"
check "its title" bash -c "tmux -L $socket display -p -t 0 '#{pane_title}' | grep -q 'no response'"
# Blinking: bright red on blue, and for 300 ms a second blue on blue.
phases=
for _ in $(seq 30); do
    phases+=$(tmux -L "$socket" capture-pane -e -p -t 0 | sed -n 3p | grep -o '\[[0-9;]*m\[no comm' | sort -u)
    sleep 0.05
done
check "the status shows in red" grep -qF '[91m[no comm' <<<"$phases"
check "and vanishes into the blue" grep -qF '[34m[no comm' <<<"$phases"
keys Escape
check "ESC ends the search with 0" [ "$(wait_exit 3)" = 0 ]
stop_sim

# Silent for 3 s after 2 s, then back at 19200: lost, searched, found again.
start_sim --baud 57600 --model A --silent 2:3:19200
start_rxmon 1 0
check "found at 57600" wait_for 10 "57600 baud"
check "lost while silent" wait_for 8 "[no communication with scanner]"
check "found again at 19200" wait_for 20 "19200 baud"
keys Escape
check "ends with 0" [ "$(wait_exit 3)" = 0 ]
stop_sim

# A cable swap to the other model: the model row and the level verdict follow.
start_sim --baud 115200 --model A --switch-model 3
start_rxmon 1 0
check "model A first" wait_for 5 "SR-A10"
check "model B after the swap" wait_for 10 "SR-B20"
keys Escape
check "ends with 0" [ "$(wait_exit 3)" = 0 ]
stop_sim

# A device that sends without pause: rxmon must still take the screen and
# answer ESC.
start_sim --flood
start_rxmon 1 0
check "flooded: screen drawn" wait_for 5 "scanner view"
sleep 2
keys Escape
start=$(date +%s%N)
code=$(wait_exit 3)
ms=$(( ($(date +%s%N) - start) / 1000000 ))
check "flooded: ESC ends with 0" [ "$code" = 0 ]
check "flooded: ESC answered within 1.5 s (${ms} ms)" [ "$ms" -lt 1500 ]
finish
