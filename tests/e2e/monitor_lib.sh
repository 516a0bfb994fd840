# Sourced by the monitor's end-to-end tests: rxmon in a tmux session of its
# own, against rxmon-sim on a pseudo-terminal, with helpers to wait for the
# screen and to check results.
build=${RXMON_LINUX_BUILD:-$1}
rxmon=$build/rxmon
sim=$build/sim/rxmon-sim
work=$(mktemp -d)
socket=
sockets=()
sim_pid=
failures=0
passes=0
export RXMON_COM1="$work/no-such-port"

cleanup() {
    for s in "${sockets[@]}"; do tmux -L "$s" kill-server 2>/dev/null; done
    stop_sim
    rm -rf "$work"
}
trap cleanup EXIT

check() {  # check NAME COMMAND...
    local name=$1
    shift
    if "$@"; then passes=$((passes + 1)); else echo "FAILED: $name"; failures=$((failures + 1)); fi
}

finish() {
    echo "$passes passed, $failures failed"
    [ "$failures" -eq 0 ]
}

start_sim() {  # start_sim OPTIONS...: COM 1 becomes the simulator
    rm -f "$work/sim.path"
    "$sim" --path-file "$work/sim.path" "$@" >/dev/null 2>"$work/sim.err" &
    sim_pid=$!
    for _ in $(seq 100); do
        [ -s "$work/sim.path" ] && break
        sleep 0.05
    done
    export RXMON_COM1
    RXMON_COM1=$(cat "$work/sim.path")
}

stop_sim() {
    if [ -n "$sim_pid" ]; then
        kill -TERM "$sim_pid" 2>/dev/null
        wait "$sim_pid" 2>/dev/null
        sim_pid=
    fi
}

# Runs rxmon with these arguments in a fresh 80 × 25 terminal; its exit code
# lands in $work/exit.
start_rxmon() { start_in_terminal "env RXMON_COM1='$RXMON_COM1' $rxmon $*"; }

start_in_terminal() {
    rm -f "$work/exit"
    [ -n "$socket" ] && tmux -L "$socket" kill-server 2>/dev/null
    # A fresh server each time: one being shut down may still hold the old name.
    socket=rxmon-e2e-$$-${#sockets[@]}
    sockets+=("$socket")
    tmux -L "$socket" new-session -d -x 80 -y 25 \
        "$1; echo \$? >$work/exit; echo 'rxmon ended'; sleep 600"
}

screen() { tmux -L "$socket" capture-pane -p -t 0; }
screen_row() { screen | sed -n "$1p"; }
title() { tmux -L "$socket" display -p -t 0 '#{pane_title}'; }
keys() { tmux -L "$socket" send-keys -t 0 "$@"; }

# wait_for SECONDS TEXT: true once TEXT is on the screen.
wait_for() {
    local deadline=$((SECONDS + $1))
    while [ $SECONDS -le $deadline ]; do
        screen | grep -qF -- "$2" && return 0
        sleep 0.1
    done
    echo "--- screen while waiting for '$2':"
    screen
    return 1
}

# until_true SECONDS COMMAND...: true once COMMAND is.
until_true() { local end=$((SECONDS + $1)); shift; until "$@"; do [ $SECONDS -le $end ] || return 1; sleep 0.1; done; }
strip_moved() { [ "$(screen_row 18 | cut -c13-32)" != "$1" ]; }

# wait_exit SECONDS: prints the exit code once rxmon has ended.
wait_exit() {
    local deadline=$((SECONDS + $1))
    while [ $SECONDS -le $deadline ]; do
        [ -s "$work/exit" ] && { cat "$work/exit"; return 0; }
        sleep 0.05
    done
    echo "still running"
    return 1
}

# press_esc: ESC, then the exit code and the milliseconds it took.
press_esc() {
    keys Escape
    local start code
    start=$(date +%s%N)
    code=$(wait_exit 3)
    echo "$code $((($(date +%s%N) - start) / 1000000))"
}
