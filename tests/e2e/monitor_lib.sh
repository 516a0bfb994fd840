# Sourced by the monitor's end-to-end tests: rxmon in a tmux session of its
# own, against rxmon-sim on a pseudo-terminal, with helpers to wait for the
# screen and to check results.
build=${RXMON_LINUX_BUILD:-$1}
rxmon=$build/rxmon
sim=$build/sim/rxmon-sim
work=$(mktemp -d)
socket=
sockets=() pids=()  # tmux servers, and what a script started in the background
sim_pid=
failures=0
passes=0
export RXMON_COM1="$work/no-such-port"

cleanup() { for s in "${sockets[@]}"; do tmux -L "$s" kill-server 2>/dev/null; done
    kill "${pids[@]}" 2>/dev/null; stop_sim; rm -rf "$work"; }
trap cleanup EXIT

# check NAME COMMAND...; with RXMON_E2E_FAIL_FAST set (scripts/mutate sets
# it), the first failure ends the test; a file named by RXMON_E2E_FAILURES
# collects the failed checks of every script.
check() {
    local name=$1
    shift
    if "$@"; then passes=$((passes + 1)); else
        echo "FAILED: $name" && echo "${0##*/}: $name" >>"${RXMON_E2E_FAILURES:-/dev/null}"
        failures=$((failures + 1))
    fi
    [ "$failures" = 0 ] || [ -z "${RXMON_E2E_FAIL_FAST-}" ] || exit 1
}

finish() { echo "$passes passed, $failures failed" && [ "$failures" -eq 0 ]; }

start_sim() {  # start_sim OPTIONS...: COM 1 becomes the simulator
    rm -f "$work/sim.path"
    "$sim" --path-file "$work/sim.path" "$@" >/dev/null 2>"$work/sim.err" &
    sim_pid=$!
    until_true 5 test -s "$work/sim.path"
    export RXMON_COM1
    RXMON_COM1=$(cat "$work/sim.path")
}
stop_sim() { [ -z "$sim_pid" ] || { kill -TERM "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; sim_pid=; }; }

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

# until_true SECONDS COMMAND...: true once COMMAND is, within SECONDS (a
# fraction too).
until_true() {
    local end=$((${EPOCHREALTIME/./} + $(printf '%.0f' "${1}e6")))
    shift
    until "$@"; do [ "${EPOCHREALTIME/./}" -le $end ] || return 1; sleep 0.05; done
}
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
now_ms() { echo $((${EPOCHREALTIME/./} / 1000)); }
on_screen() { screen | grep -qF -- "$1"; }

# wait_for SECONDS TEXT: true once TEXT is on the screen.
wait_for() { until_true "$1" on_screen "$2" || { echo "--- screen while waiting for '$2':"; screen; return 1; }; }

strip_moved() { [ "$(screen_row 18 | cut -c13-32)" != "$1" ]; }

# wait_exit SECONDS: prints the exit code once rxmon has ended.
wait_exit() { until_true "$1" test -s "$work/exit" && cat "$work/exit" || { echo "still running"; return 1; }; }

# exit_in SECONDS: the exit code and the milliseconds until rxmon ended;
# press_esc [SECONDS]: the same after ESC; esc_ends SECONDS: ESC ends rxmon
# with 0 within them.
exit_in() {
    local start code
    start=$(now_ms) && code=$(wait_exit "$1")
    echo "$code $(($(now_ms) - start))"
}
press_esc() { keys Escape && exit_in "${1:-3}"; }
esc_ends() { set -- $(press_esc "$1") && [ "$1" = 0 ]; }
